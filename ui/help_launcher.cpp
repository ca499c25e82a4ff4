#include "ui/help_launcher.h"

#include <shellapi.h>

#include "ui/program_folder.h"

namespace rivak::ui {

std::wstring ShellOpenMessage(INT_PTR r) {
    if (r > 32) return {};
    switch (r) {
    case 0:
        return L"メモリ不足です。";
    case ERROR_FILE_NOT_FOUND:
        return L"ファイルが見つかりません。";
    case ERROR_PATH_NOT_FOUND:
        return L"ファイルのパスが見つかりません。";
    default:
        return std::to_wstring(r) + L"その他のエラー";
    }
}

void ShellOpen(HWND owner, const std::wstring& file, const std::wstring& parameters,
               const std::wstring& directory, int showCommand) {
    // The wide call, so a program folder outside the ANSI code page still works.
    const auto r = reinterpret_cast<INT_PTR>(ShellExecuteW(owner, L"Open", file.c_str(), parameters.c_str(),
                                                           directory.c_str(), showCommand));
    const std::wstring message = ShellOpenMessage(r);
    if (message.empty()) return;
    MessageBoxW(owner, message.c_str(), L"rivak", MB_ICONERROR | MB_OK);
}

void OpenHelp(HWND mainWindow) {
    const std::wstring folder = ProgramFolder();
    ShellOpen(mainWindow, folder + L"\\rivak.chm", L"", folder, SW_SHOWNORMAL);
}

}  // namespace rivak::ui
