// rivak.exe: paths on the command line run one batch and end the program;
// without them the main window opens.
#include <windows.h>

#include <exception>
#include <new>
#include <string>

#include "engine/attribute_engine.h"
#include "engine/options.h"
#include "intake/command_line.h"
#include "platform/win32/command_line_win.h"
#include "platform/win32/file_system_win.h"
#include "platform/win32/shortcut_reader_win.h"
#include "platform/win32/unique_handle.h"
#include "ui/main_window.h"
#include "ui/progress_window.h"

namespace {

constexpr int kBatchFailed = 1;

int RunCommandLineBatch(HINSTANCE instance, const std::wstring& argumentText) {
    rivak::win::ComApartment com;
    const rivak::DefaultOptions options;
    rivak::win::Win32ShortcutReader shortcuts;
    rivak::ui::ProgressWindow progress(instance);
    rivak::AttributeEngine engine(options, shortcuts, progress, rivak::win::Win32FileSystemFactory());

    const wchar_t* failure = nullptr;
    try {
        rivak::RunBatchStart(argumentText, engine.list1, [&] { engine.CngATr(); });
        return 0;
    } catch (const std::bad_alloc&) {
        failure = L"メモリが足りないため、ファイル属性の変更を途中で中止しました。";
    } catch (...) {
        failure = L"ファイル属性の変更中にエラーが起きたため、処理を途中で中止しました。";
    }
    // Not every file was handled: the user has to know, and nothing else would tell.
    progress.Hide();
    MessageBoxW(nullptr, failure, L"rivak", MB_ICONERROR | MB_OK);
    return kBatchFailed;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int nCmdShow) {
    // The text as the runtime cuts it for WinMain, blanks after the program's
    // path skipped; taken from the process itself so nothing depends on how
    // the startup code was built.
    const std::wstring argumentText = rivak::win::ArgumentText(GetCommandLineW());
    if (!argumentText.empty()) return RunCommandLineBatch(instance, argumentText);
    // The main window sets up OLE for its drop frame itself.
    return rivak::ui::RunMainWindow(instance, nCmdShow);
}
