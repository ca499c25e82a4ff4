#pragma once
// Form2, the shortcut installer: writes rivak.lnk into the user's SendTo
// folder and onto the desktop, both pointing at rivak.exe in the program
// folder.
#include <windows.h>

namespace rivak::ui {

// Child ids of Form2, in keyboard focus order. None is IDOK or IDCANCEL, so
// Enter and Escape reach no button.
enum ShortcutDialogControl : int {
    kShortcutCheck1 = 101,  // add to the SendTo menu
    kShortcutCheck2,        // create on the desktop
    kShortcutCommand1,      // create
    kShortcutCommand2,      // cancel
};

// Shows Form2 modally (creating it on first use, or after it was closed from
// its title bar) and returns when it is hidden or closed. The main window
// takes no input meanwhile and is active again afterwards.
void ShowShortcutDialog(HINSTANCE instance, HWND mainWindow);

// Form2's window while it exists, shown or hidden; nullptr otherwise.
HWND ShortcutDialogWindow();

}  // namespace rivak::ui
