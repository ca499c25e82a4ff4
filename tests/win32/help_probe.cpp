// help_probe RIVAK_EXE: starts rivak.exe, chooses "ヘルプを見る" in its main
// window and waits for the help viewer to show rivak.chm (a viewer window
// titled with the help file's own title), then closes both. Exit status 0
// when the help opened from beside the program, 1 otherwise, with the reason.
// A test of the build tree, and of an unpacked release (scripts/package-check.sh).
#include <windows.h>

#include <cstdio>
#include <string>

#include "ui/main_window.h"

namespace {

constexpr const wchar_t* kHelpTitle = L"rivak ヘルプ";  // Title= of help/rivak.hhp

struct Found {
    DWORD pid;
    const wchar_t* className;
    const wchar_t* title;  // nullptr: any
    HWND window;
};

BOOL CALLBACK Match(HWND w, LPARAM p) {
    auto* f = reinterpret_cast<Found*>(p);
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    wchar_t cls[64], title[256];
    if (f->pid && owner != f->pid) return TRUE;
    if (!GetClassNameW(w, cls, 64) || wcscmp(cls, f->className) != 0) return TRUE;
    GetWindowTextW(w, title, 256);
    if (f->title && wcscmp(title, f->title) != 0) return TRUE;
    f->window = w;
    return FALSE;
}

HWND WaitFor(DWORD pid, const wchar_t* className, const wchar_t* title, DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited += 100) {
        Found f{pid, className, title, nullptr};
        EnumWindows(Match, reinterpret_cast<LPARAM>(&f));
        if (f.window && IsWindowVisible(f.window)) return f.window;
        Sleep(100);
    }
    return nullptr;
}

int Fail(const char* why) {
    std::printf("FAIL: %s\n", why);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return Fail("usage: help_probe RIVAK_EXE");
    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return Fail("rivak.exe could not be started");
    CloseHandle(pi.hThread);
    int status = 0;
    HWND main = WaitFor(pi.dwProcessId, rivak::ui::MainWindow::kClassName, nullptr, 30000);
    if (!main) {
        status = Fail("the main window did not open");
    } else {
        PostMessageW(main, WM_COMMAND, MAKEWPARAM(rivak::ui::MainWindow::kOpenHelp, 0), 0);
        HWND viewer = WaitFor(0, L"HH Parent", kHelpTitle, 30000);
        if (viewer) {
            std::printf("ok: the help viewer shows \"rivak ヘルプ\"\n");
            PostMessageW(viewer, WM_CLOSE, 0, 0);
        } else if (WaitFor(pi.dwProcessId, L"#32770", L"rivak", 1000)) {
            status = Fail("rivak.exe reported that it could not open its help file");
        } else {
            status = Fail("no help viewer showing rivak.chm appeared");
        }
        // A message box of rivak's would keep it from closing: end it regardless.
        PostMessageW(main, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 99);
        if (!status) status = Fail("rivak.exe did not end");
    }
    CloseHandle(pi.hProcess);
    return status;
}
