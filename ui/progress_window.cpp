#include "ui/progress_window.h"

#include <array>
#include <vector>

#include "ui/layout.h"

namespace rivak::ui {

namespace {

constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;
constexpr DWORD kExStyle = 0;
constexpr int kClientWidth = 2130, kClientHeight = 450;
constexpr DWORD kLabel = SS_LEFT | SS_NOPREFIX;
const std::array<ControlSpec, 2> kControls{{
    {ProgressWindow::kLabel1, L"STATIC", ProgressWindow::kLabel1Text, kLabel, {240, 120, 855, 255}},
    {ProgressWindow::kLabel2, L"STATIC", L"", kLabel, {1200, 120, 975, 255}},
}};

// A batch gives the thread back to the system only here; checking the queue
// this often keeps the window from being taken for hung (the system does so
// after 5 s without a check).
constexpr auto kQueueCheckInterval = std::chrono::milliseconds(200);
// A screen shows about 60 pictures a second: a count drawn more often is
// never seen, and each drawing costs far more than handling an entry.
constexpr auto kFrame = std::chrono::milliseconds(16);

}  // namespace

ProgressWindow::ProgressWindow(HINSTANCE instance) : instance_(instance) {}

bool ProgressWindow::EnsureCreated() {
    if (hwnd()) return true;
    if (!Register(instance_)) return false;
    if (!CreateCentred(instance_, kCaption, kStyle, kExStyle, kClientWidth, kClientHeight)) return false;
    CreateControls(hwnd(), instance_, kControls);
    Layout(DpiOf(hwnd()));
    return true;
}

void ProgressWindow::Layout(UINT dpi) {
    dpi_ = dpi;
    PlaceControls(hwnd(), kControls, dpi);
    std::vector<win::UniqueFont> fonts;
    fonts.push_back(CreateMessageFont(dpi));
    fonts_.Apply(hwnd(), kControls, std::move(fonts));
}

void ProgressWindow::Show() {
    if (!EnsureCreated()) return;
    drawnSinceShow_ = false;
    ShowWindow(hwnd(), SW_SHOW);
}

void ProgressWindow::Hide() {
    if (!hwnd()) return;
    // The label keeps the exact final count across batches.
    if (pending_) DrawCounter();
    ShowWindow(hwnd(), SW_HIDE);
}

void ProgressWindow::SetCounter(const NativeString& text) {
    if (!EnsureCreated()) return;
    counter_ = text;
    pending_ = true;
    // Hidden, there is nothing to pace.
    if (!IsWindowVisible(hwnd())) DrawCounter();
}

void ProgressWindow::RepaintCounter() {
    if (!hwnd()) return;
    const Clock::time_point now = Clock::now();
    const bool checkQueue = now - lastQueueCheck_ >= kQueueCheckInterval;
    if (pending_ && (!drawnSinceShow_ || now - lastDraw_ >= kFrame || checkQueue)) DrawCounter();
    if (checkQueue) {
        lastQueueCheck_ = now;
        // Removes nothing and dispatches no input: only messages sent by other
        // threads are delivered, and the system sees the thread is alive.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
}

// The label's new text and anything of the window not drawn yet (it was
// just shown, or uncovered) are painted now, not at the next message loop.
void ProgressWindow::DrawCounter() {
    SetWindowTextW(label(kLabel2), counter_.c_str());
    pending_ = false;
    drawnSinceShow_ = true;
    lastDraw_ = Clock::now();
    RedrawWindow(hwnd(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
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
        case WM_DPICHANGED:
            Layout(FollowDpiChange(hwnd(), wp, lp));
            return 0;
        default:
            return Default(msg, wp, lp);
    }
}

}  // namespace rivak::ui
