#pragma once
// What the window tests share: texts and places of controls, the message
// pump, message boxes caught on their way up, a queue of steps run from
// inside a modal loop, dpi changes, icons and temporary folders.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32/unique_handle.h"
#include "ui/dialog_window.h"
#include "ui/layout.h"

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

// The control stands at its designed twips converted at `dpi`.
inline void ExpectPlacedAt(HWND control, const TwipsRect& twips, UINT dpi) {
    const RECT r = RectInParent(control);
    const RECT want = ToPixels(twips, dpi);
    EXPECT_EQ(r.left, want.left) << "left";
    EXPECT_EQ(r.top, want.top) << "top";
    EXPECT_EQ(r.right - r.left, want.right - want.left) << "width";
    EXPECT_EQ(r.bottom - r.top, want.bottom - want.top) << "height";
}

// The client area has the designed twips at `dpi`.
inline void ExpectClientTwips(HWND window, int width, int height, UINT dpi) {
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, TwipsToPixels(width, dpi)) << "client width";
    EXPECT_EQ(client.bottom, TwipsToPixels(height, dpi)) << "client height";
}

// A dialog of the program laid out at `dpi`: its client area and every
// control at their twips.
template <class Dialog>
void ExpectLaidOutAt(const Dialog& dialog, UINT dpi) {
    ExpectClientTwips(dialog.hwnd(), Dialog::kDesign.clientWidth, Dialog::kDesign.clientHeight, dpi);
    for (const ControlSpec& c : Dialog::kDesign.controls) {
        SCOPED_TRACE(testing::Message() << "control " << c.id);
        ExpectPlacedAt(dialog.item(c.id), c.rect, dpi);
    }
}

// A dialog of the program as it opens: its caption, its client area in
// twips (and in pixels at 96 dpi), no owner and no icon of its own.
inline void ExpectDialogFrame(HWND dialog, const wchar_t* caption, int widthTwips, int heightTwips, SIZE at96) {
    const UINT dpi = DpiOf(dialog);
    std::printf("dialog dpi %u\n", dpi);
    EXPECT_EQ(TextOf(dialog), caption);
    ExpectClientTwips(dialog, widthTwips, heightTwips, dpi);
    RECT client{};
    GetClientRect(dialog, &client);
    if (dpi == 96) {
        EXPECT_EQ(client.right, at96.cx);
        EXPECT_EQ(client.bottom, at96.cy);
    }
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr);
    EXPECT_EQ(GetClassLongPtrW(dialog, GCLP_HICON), 0);
    EXPECT_EQ(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_EQ(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
}

// What the system sends when `window` moves to a monitor of `dpi`.
inline void SendDpiChange(HWND window, UINT dpi) {
    RECT suggested{};
    GetWindowRect(window, &suggested);
    const int to = static_cast<int>(dpi), from = static_cast<int>(DpiOf(window));
    suggested.right = suggested.left + MulDiv(suggested.right - suggested.left, to, from);
    suggested.bottom = suggested.top + MulDiv(suggested.bottom - suggested.top, to, from);
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

// The pixel size of an icon's picture.
inline SIZE IconSize(HICON icon) {
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info)) return SIZE{};
    const win::UniqueBitmap colour(info.hbmColor), mask(info.hbmMask);
    BITMAP bm{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
    return SIZE{bm.bmWidth, info.hbmColor ? bm.bmHeight : bm.bmHeight / 2};
}

// Watches the children of a window while it exists: each time one is given
// a font, the font it held until then must still exist. A window that
// deletes the old font first leaves its controls holding a dead handle,
// which GDI may hand out again at once.
class FontHandOverWatch {
public:
    explicit FontHandOverWatch(HWND parent) {
        for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            if (SetWindowSubclass(c, &Proc, kId, reinterpret_cast<DWORD_PTR>(this))) children_.push_back(c);
        }
    }
    FontHandOverWatch(const FontHandOverWatch&) = delete;
    FontHandOverWatch& operator=(const FontHandOverWatch&) = delete;
    ~FontHandOverWatch() {
        for (HWND c : children_)
            if (IsWindow(c)) RemoveWindowSubclass(c, &Proc, kId);
    }
    int handOvers() const { return handOvers_; }
    int deadFonts() const { return deadFonts_; }

private:
    static constexpr UINT_PTR kId = 0x7E57;
    static LRESULT CALLBACK Proc(HWND c, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
        if (msg == WM_SETFONT) {
            auto* self = reinterpret_cast<FontHandOverWatch*>(ref);
            if (const auto held = reinterpret_cast<HGDIOBJ>(DefSubclassProc(c, WM_GETFONT, 0, 0))) {
                ++self->handOvers_;
                if (GetObjectType(held) != OBJ_FONT) ++self->deadFonts_;
            }
        }
        return DefSubclassProc(c, msg, wp, lp);
    }
    std::vector<HWND> children_;
    int handOvers_ = 0, deadFonts_ = 0;
};

// The font a control draws with.
inline LOGFONTW FontOf(HWND control) {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font;
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

// Pumps the way the program's own loop does, handing dialog keys over.
inline void PumpWithDialogKeys() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (TakeDialogKeys(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// A quit request is waiting (and is taken off the queue).
inline bool QuitPosted() {
    MSG msg;
    return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
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
    MessageBoxCatcher() : hook_(SetWindowsHookExW(WH_CBT, &Hook, nullptr, GetCurrentThreadId())) {
        current_ = this;
    }
    MessageBoxCatcher(const MessageBoxCatcher&) = delete;
    MessageBoxCatcher& operator=(const MessageBoxCatcher&) = delete;
    ~MessageBoxCatcher() { current_ = nullptr; }
    bool installed() const { return static_cast<bool>(hook_); }
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

    // One catcher per thread: each test thread catches its own boxes.
    static inline thread_local MessageBoxCatcher* current_ = nullptr;
    win::UniqueHook hook_;
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
        // Read-only entries would refuse to go.
        std::error_code error;
        for (std::filesystem::recursive_directory_iterator it(path_, error), end; !error && it != end;
             it.increment(error))
            SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::filesystem::remove_all(path_, error);
    }
    const std::filesystem::path& path() const { return path_; }

    // An empty file `name` in the folder, with `attributes`; its full path.
    std::wstring AddFile(const std::wstring& name, DWORD attributes = FILE_ATTRIBUTE_NORMAL) const {
        const std::wstring file = (path_ / name).wstring();
        win::UniqueFile(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
        return file;
    }

private:
    static inline int counter_ = 0;
    std::filesystem::path path_;
};

}  // namespace rivak::ui::test
