#pragma once
// Another process dragging onto rivak.exe, as Explorer does: starts the
// program with its window, drags a path onto its drop frame with OLE, and
// tells how long DoDragDrop held the source after the button went up. The
// drop test and bench/wine's drag_source.exe both use it. The calling
// thread must have called OleInitialize.
#include <windows.h>
#include <ole2.h>

#include <chrono>
#include <cwchar>
#include <optional>
#include <string>

#include "platform/win32/unique_handle.h"
#include "tests/ui/main_window_support.h"
#include "ui/main_window.h"

namespace rivak::test {

using ui::test::Clock;

// rivak.exe without arguments, from its shown window until it is closed.
class RivakWindowProcess {
public:
    // `why` says what went wrong when main() is null afterwards.
    explicit RivakWindowProcess(const std::wstring& exe) {
        std::wstring commandLine = L"\"" + exe + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi)) {
            why = "CreateProcessW failed, error " + std::to_string(GetLastError());
            return;
        }
        process_.reset(pi.hProcess);
        const win::UniqueFile thread(pi.hThread);
        WaitForInputIdle(process_.get(), 30000);
        for (int i = 0; i < 300 && !main_; ++i) {
            HWND w = FindWindowW(ui::MainWindow::kClassName, nullptr);
            DWORD pid = 0;
            if (w) GetWindowThreadProcessId(w, &pid);
            if (w && pid == pi.dwProcessId && IsWindowVisible(w))
                main_ = w;
            else
                Sleep(100);
        }
        if (!main_) why = "rivak.exe showed no main window";
    }
    RivakWindowProcess(const RivakWindowProcess&) = delete;
    RivakWindowProcess& operator=(const RivakWindowProcess&) = delete;
    ~RivakWindowProcess() { Close(); }

    HWND main() const { return main_; }
    // Closes the window and waits for the program's end; its exit status,
    // or none when it had to be stopped.
    std::optional<DWORD> Close() {
        if (!process_) return std::nullopt;
        if (main_) PostMessageW(main_, WM_CLOSE, 0, 0);
        std::optional<DWORD> status;
        DWORD code = 0;
        if (WaitForSingleObject(process_.get(), 30000) == WAIT_OBJECT_0 && GetExitCodeProcess(process_.get(), &code))
            status = code;
        else
            TerminateProcess(process_.get(), 99);
        process_.reset();
        return status;
    }

    std::string why;

private:
    win::UniqueFile process_;
    HWND main_ = nullptr;
};

struct DragTiming {
    HRESULT hr = E_FAIL;
    DWORD effect = DROPEFFECT_NONE;
    Clock::time_point released, returned;
};

// Drags `path` from this process onto the drop frame of `main`; empty, with
// `why` set, when the pointer cannot be put on the frame.
inline std::optional<DragTiming> DragOntoFrame(HWND main, const std::wstring& path, std::string& why) {
    HWND frame = GetDlgItem(main, ui::MainWindow::kFrame1);
    RECT r{};
    if (!frame || !GetWindowRect(frame, &r)) {
        why = "no drop frame";
        return std::nullopt;
    }
    const POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    SetCursorPos(centre.x, centre.y);
    POINT at{};
    GetCursorPos(&at);
    if (at.x != centre.x || at.y != centre.y) {
        why = "the pointer cannot be placed on this display";
        return std::nullopt;
    }
    if (WindowFromPoint(centre) != frame) {
        why = "something covers rivak's drop frame";
        return std::nullopt;
    }
    auto data = ui::test::MemoryDataObject::Files({path});
    ui::test::TimedDropSource source;
    DragTiming timing;
    timing.hr = DoDragDrop(data.get(), &source, DROPEFFECT_COPY | DROPEFFECT_LINK, &timing.effect);
    timing.returned = Clock::now();
    timing.released = source.released;
    return timing;
}

// Entries directly in `folder`, and how many of them are read-only or hidden.
struct Entries {
    unsigned long long all = 0, named = 0;
};
inline Entries CountEntries(const std::wstring& folder) {
    Entries entries;
    WIN32_FIND_DATAW d;
    win::UniqueFind find(FindFirstFileExW((L"\\\\?\\" + folder + L"\\*").c_str(), FindExInfoBasic, &d,
                                          FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) return entries;
    do {
        if (!std::wcscmp(d.cFileName, L".") || !std::wcscmp(d.cFileName, L"..")) continue;
        ++entries.all;
        if (d.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) ++entries.named;
    } while (FindNextFileW(find.get(), &d));
    return entries;
}

}  // namespace rivak::test
