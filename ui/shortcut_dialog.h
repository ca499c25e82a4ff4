#pragma once
// Form2, the shortcut installer: writes rivak.lnk into the user's SendTo
// folder and onto the desktop, both pointing at rivak.exe in the program
// folder.
#include <windows.h>

#include <string>
#include <vector>

#include "ui/dialog_window.h"

namespace rivak::ui {

// Child ids of Form2, in keyboard focus order. None is IDOK or IDCANCEL, so
// Enter and Escape reach no button.
enum ShortcutDialogControl : int {
    kShortcutCheck1 = 101,  // add to the SendTo menu
    kShortcutCheck2,        // create on the desktop
    kShortcutCommand1,      // create
    kShortcutCommand2,      // cancel
};

class ShortcutDialog final : public DialogWindow<ShortcutDialog> {
public:
    static constexpr const wchar_t* kClassName = L"RivakForm2";
    static const DialogDesign kDesign;

    // Shows the dialog modally (creating it on first use, or after it was
    // closed from its title bar) and returns when it is hidden or closed.
    // `mainWindow` and every other open window of the program take no input
    // meanwhile; the main window is active again afterwards.
    void Show(HINSTANCE instance, HWND mainWindow);

private:
    friend class DialogWindow<ShortcutDialog>;
    void OnCreated(HINSTANCE instance);
    LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);

    void RunModal(HWND mainWindow);
    void Install();
    void Report(const std::wstring& message);
    void DisableOthers(HWND mainWindow);
    void EnableOthers();
    void Dismiss();

    bool modal_ = false;
    std::vector<HWND> disabled_;
};

}  // namespace rivak::ui
