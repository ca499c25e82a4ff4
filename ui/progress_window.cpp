#include "ui/progress_window.h"

#include <vector>

#include "ui/layout.h"

namespace rivak::ui {

namespace {

constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;
constexpr DWORD kExStyle = 0;
constexpr int kClientWidth = 2130, kClientHeight = 450;
constexpr TwipsRect kLabel1Rect{240, 120, 855, 255};
constexpr TwipsRect kLabel2Rect{1200, 120, 975, 255};

// A batch gives the thread back to the system only here; checking the queue
// this often keeps the window from being taken for hung (the system does so
// after 5 s without a check).
constexpr ULONGLONG kQueueCheckInterval = 200;

}  // namespace

ProgressWindow::ProgressWindow(HINSTANCE instance) : instance_(instance) {}

bool ProgressWindow::EnsureCreated() {
    if (hwnd()) return true;
    if (!Register(instance_)) return false;
    const UINT systemDpi = DpiOf(nullptr);
    const SIZE size = WindowSizeForClient(kClientWidth, kClientHeight, kStyle, kExStyle, false, systemDpi);
    const POINT at = CentredOnScreen(size);
    if (!CreateTopLevel(instance_, kCaption, kStyle, kExStyle, at.x, at.y, size.cx, size.cy)) return false;
    for (const auto& [id, text] : {std::pair{kLabel1, kLabel1Text}, std::pair{kLabel2, L""}}) {
        CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, hwnd(),
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    }
    // Per-monitor aware: the monitor it opened on may not have the system dpi.
    const UINT dpi = DpiOf(hwnd());
    if (dpi != systemDpi) {
        const SIZE scaled = WindowSizeForClient(kClientWidth, kClientHeight, kStyle, kExStyle, false, dpi);
        const POINT centred = CentredOnScreen(scaled);
        SetWindowPos(hwnd(), nullptr, centred.x, centred.y, scaled.cx, scaled.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    Layout(dpi);
    return true;
}

void ProgressWindow::Layout(UINT dpi) {
    dpi_ = dpi;
    // The labels let go of the old font before it is deleted.
    win::UniqueGdi font(CreateMessageFont(dpi));
    for (const auto& [id, rect] : {std::pair{kLabel1, kLabel1Rect}, std::pair{kLabel2, kLabel2Rect}}) {
        HWND control = label(id);
        const RECT r = ToPixels(rect, dpi);
        MoveWindow(control, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    }
    font_ = std::move(font);
}

void ProgressWindow::Show() {
    if (!EnsureCreated()) return;
    ShowWindow(hwnd(), SW_SHOW);
}

void ProgressWindow::Hide() {
    if (hwnd()) ShowWindow(hwnd(), SW_HIDE);
}

void ProgressWindow::SetCounter(const NativeString& text) {
    if (!EnsureCreated()) return;
    SetWindowTextW(label(kLabel2), text.c_str());
}

void ProgressWindow::RepaintCounter() {
    if (!hwnd()) return;
    // The label's new text and anything of the window not drawn yet (it was
    // just shown, or uncovered) are painted now, not at the next message loop.
    RedrawWindow(hwnd(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    const ULONGLONG now = GetTickCount64();
    if (now - lastQueueCheck_ >= kQueueCheckInterval) {
        lastQueueCheck_ = now;
        // Removes nothing and dispatches no input: only messages sent by other
        // threads are delivered, and the system sees the thread is alive.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
}

std::wstring ProgressWindow::CounterText() const {
    HWND control = label(kLabel2);
    if (!control) return std::wstring();
    const int length = GetWindowTextLengthW(control);
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(control, buffer.data(), length + 1);
    return std::wstring(buffer.data());
}

LRESULT ProgressWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_CLOSE:
            // The window lives as long as the program; its close box hides it.
            ShowWindow(hwnd(), SW_HIDE);
            return 0;
        case WM_DPICHANGED: {
            const RECT* suggested = reinterpret_cast<const RECT*>(lp);
            SetWindowPos(hwnd(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            Layout(HIWORD(wp));
            return 0;
        }
        default:
            return Default(msg, wp, lp);
    }
}

}  // namespace rivak::ui
