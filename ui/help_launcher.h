#pragma once
// Opening the help file through the shell, with a message of the program's
// own when the shell cannot.
#include <windows.h>

#include <string>

namespace rivak::ui {

// The message for a ShellExecute result: "" for success (above 32).
std::wstring ShellOpenMessage(INT_PTR r);

// ShellExecuteW with the "Open" verb; a failure is shown in a critical
// message box titled "rivak", owned by `owner`.
void ShellOpen(HWND owner, const std::wstring& file, const std::wstring& parameters,
               const std::wstring& directory, int showCommand);

// Opens rivak.chm in the program folder.
void OpenHelp(HWND mainWindow);

}  // namespace rivak::ui
