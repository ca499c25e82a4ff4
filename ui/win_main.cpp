// rivak.exe: paths on the command line run one batch and end the program;
// without them the main window opens and the message loop serves it.
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
#include "ui/dialog_window.h"
#include "ui/main_window.h"
#include "ui/progress_window.h"
#include "ui/start_up.h"

namespace {

using rivak::ui::ReportStartUpFailure;
using rivak::ui::StartUpFailure;

int RunCommandLineBatch(HINSTANCE instance, const std::wstring& argumentText) {
    rivak::win::ComApartment com;
    if (!com.ok()) return ReportStartUpFailure(StartUpFailure::kCom);
    const rivak::DefaultOptions options;
    rivak::win::Win32ShortcutReader shortcuts;
    rivak::ui::ProgressWindow progress(instance);
    rivak::AttributeEngine engine(options, shortcuts, progress, rivak::win::Win32FileSystemFactory());

    const wchar_t* failure = nullptr;
    try {
        rivak::RunBatchStart(argumentText, engine.paths, [&] { engine.RunBatch(); });
        return rivak::ui::kExitDone;
    } catch (const std::bad_alloc&) {
        failure = L"メモリが足りないため、ファイル属性の変更を途中で中止しました。";
    } catch (...) {
        failure = L"ファイル属性の変更中にエラーが起きたため、処理を途中で中止しました。";
    }
    // Not every file was handled: the user has to know, and nothing else would tell.
    progress.Hide();
    MessageBoxW(nullptr, failure, L"rivak", MB_ICONERROR | MB_OK);
    return rivak::ui::kExitBatchStopped;
}

// Interactive mode: shows the main window and serves it until it is closed.
int RunMainWindow(HINSTANCE instance, int nCmdShow) {
    // The drop frame needs OLE on this thread (it brings COM for shortcuts).
    // Declared first, it ends last: after every window and dialog is gone.
    rivak::win::OleApartment ole;
    if (!ole.ok()) return ReportStartUpFailure(StartUpFailure::kOle);
    rivak::win::Win32ShortcutReader shortcuts;
    rivak::ui::ProgressWindow progress(instance);
    rivak::ui::MainWindow window(shortcuts, progress, rivak::win::Win32FileSystemFactory());
    if (!window.Create(instance)) return ReportStartUpFailure(StartUpFailure::kMainWindow);
    window.Open(nCmdShow);

    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (rivak::ui::TakeDialogKeys(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : rivak::ui::kExitDone;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int nCmdShow) {
    // Nothing may leave here unexplained: the user would see the program
    // vanish, and the caller an exit status that means nothing.
    try {
        // The text as the runtime cuts it for WinMain, blanks after the
        // program's path skipped; taken from the process itself so nothing
        // depends on how the startup code was built.
        const std::wstring argumentText = rivak::win::ArgumentText(GetCommandLineW());
        if (!argumentText.empty()) return RunCommandLineBatch(instance, argumentText);
        return RunMainWindow(instance, nCmdShow);
    } catch (const std::bad_alloc&) {
        return ReportStartUpFailure(StartUpFailure::kOutOfMemory);
    } catch (...) {
        return ReportStartUpFailure(StartUpFailure::kUnexpected);
    }
}
