#pragma once
// Helpers for the dialog tests: message boxes caught on their way up, a
// queue of steps run from inside a modal loop, and temporary folders.
#include <windows.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace rivak::ui::test {

inline std::wstring TextOf(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

inline RECT RectInParent(HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

inline void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Pumps messages until `done` holds or `timeout` passes; the final value of `done`.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        Pump();
        Sleep(10);
    }
    return true;
}

// A top-level window of this thread can be made (Wine needs a display).
inline bool CanCreateWindows() {
    HWND probe = CreateWindowExW(0, L"STATIC", L"probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    if (!probe) return false;
    DestroyWindow(probe);
    return true;
}

// What a message box showed. Caught through a thread-local CBT hook when it
// is activated, then dismissed with its OK button.
struct CaughtBox {
    std::wstring title, text;
    HWND owner = nullptr;
    bool errorIcon = false;  // shows the system's critical-stop icon
    bool onlyOk = false;     // an OK button and no Cancel, Yes or No
};

class MessageBoxCatcher {
public:
    MessageBoxCatcher() {
        current_ = this;
        hook_ = SetWindowsHookExW(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
    }
    MessageBoxCatcher(const MessageBoxCatcher&) = delete;
    MessageBoxCatcher& operator=(const MessageBoxCatcher&) = delete;
    ~MessageBoxCatcher() {
        if (hook_) UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    bool installed() const { return hook_ != nullptr; }
    const std::vector<CaughtBox>& boxes() const { return boxes_; }

private:
    static BOOL CALLBACK FindIcon(HWND child, LPARAM lp) {
        auto* box = reinterpret_cast<CaughtBox*>(lp);
        wchar_t cls[32]{};
        GetClassNameW(child, cls, 32);
        if (_wcsicmp(cls, L"Static") == 0 && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            const auto icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
            if (icon && icon == LoadIconW(nullptr, IDI_ERROR)) box->errorIcon = true;
        }
        return TRUE;
    }

    static LRESULT CALLBACK Hook(int code, WPARAM wp, LPARAM lp) {
        if (code == HCBT_ACTIVATE && current_) {
            HWND window = reinterpret_cast<HWND>(wp);
            wchar_t cls[32]{};
            GetClassNameW(window, cls, 32);
            if (std::wstring(cls) == L"#32770" && !current_->seen(window)) {
                CaughtBox box;
                box.title = TextOf(window);
                wchar_t text[1024]{};
                GetDlgItemTextW(window, 0xFFFF, text, 1024);
                box.text = text;
                box.owner = GetWindow(window, GW_OWNER);
                EnumChildWindows(window, &FindIcon, reinterpret_cast<LPARAM>(&box));
                box.onlyOk = GetDlgItem(window, IDOK) && !GetDlgItem(window, IDCANCEL) &&
                             !GetDlgItem(window, IDYES) && !GetDlgItem(window, IDNO);
                current_->boxes_.push_back(box);
                current_->windows_.push_back(window);
                PostMessageW(window, WM_COMMAND, IDOK, 0);
            }
        }
        return CallNextHookEx(nullptr, code, wp, lp);
    }
    bool seen(HWND window) const {
        for (HWND w : windows_)
            if (w == window && IsWindow(w)) return true;
        return false;
    }

    static inline MessageBoxCatcher* current_ = nullptr;
    HHOOK hook_ = nullptr;
    std::vector<CaughtBox> boxes_;
    std::vector<HWND> windows_;
};

// Runs one step per tick of a thread timer, so a test can act from inside a
// modal message loop that it cannot return from by itself.
class Steps {
public:
    explicit Steps(std::deque<std::function<void()>> steps, UINT periodMs = 50) : steps_(std::move(steps)) {
        current_ = this;
        timer_ = SetTimer(nullptr, 0, periodMs, &Tick);
    }
    Steps(const Steps&) = delete;
    Steps& operator=(const Steps&) = delete;
    ~Steps() {
        if (timer_) KillTimer(nullptr, timer_);
        current_ = nullptr;
    }
    bool finished() const { return steps_.empty(); }
    std::size_t remaining() const { return steps_.size(); }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        Steps* self = current_;
        if (!self || self->running_ || self->steps_.empty()) return;
        auto step = std::move(self->steps_.front());
        self->steps_.pop_front();
        // A step may open a message box, whose loop ticks the timer again.
        self->running_ = true;
        step();
        self->running_ = false;
    }
    static inline Steps* current_ = nullptr;
    UINT_PTR timer_ = 0;
    bool running_ = false;
    std::deque<std::function<void()>> steps_;
};

// A fresh folder under the temporary folder, removed with what it holds.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& name = L"rivak-test") {
        wchar_t base[MAX_PATH + 1]{};
        GetTempPathW(MAX_PATH + 1, base);
        path_ = std::filesystem::path(base) /
                (name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter_));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    static inline int counter_ = 0;
    std::filesystem::path path_;
};

}  // namespace rivak::ui::test
