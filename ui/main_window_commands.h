#pragma once
// The dialogs and the help file reached from the main window's menus.
#include <windows.h>

#include <string>

namespace rivak::ui {

void ShowShortcutDialogFromMenu(HINSTANCE instance, HWND mainWindow);
void ShowVersionDialogFromMenu(HINSTANCE instance, const std::wstring& mainCaption);
void OpenHelpFromMenu(HWND mainWindow);

}  // namespace rivak::ui
