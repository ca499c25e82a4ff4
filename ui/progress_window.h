#pragma once
// Form5: the small window that counts the entries of a running batch.
#include <windows.h>

#include <chrono>
#include <string>

#include "engine/progress.h"
#include "platform/win32/unique_handle.h"
#include "ui/layout.h"
#include "ui/window_base.h"

namespace rivak::ui {

class ProgressWindow final : public ProgressDisplay, public BaseWindow<ProgressWindow> {
public:
    static constexpr const wchar_t* kClassName = L"RivakForm5";
    static constexpr const wchar_t* kCaption = L"RIVAK 処理中．．．";
    static constexpr const wchar_t* kLabel1Text = L"処理状況：";
    enum ControlId : int { kLabel1 = 101, kLabel2 };

    explicit ProgressWindow(HINSTANCE instance);

    // The window is made, hidden, by whichever of these comes first. The
    // batch gives every count; the label shows them at display speed: the
    // first after Show at once, then at most one a frame, and always the
    // current one before the thread checks its queue and before Hide.
    void Show() override;
    void SetCounter(const NativeString& text) override;
    void RepaintCounter() override;
    void Hide() override;

    // For tests: the window (null before first use) and the counter's text.
    HWND window() const { return hwnd(); }
    HWND label(ControlId id) const { return hwnd() ? GetDlgItem(hwnd(), id) : nullptr; }
    std::wstring CounterText() const;

    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);

private:
    using Clock = std::chrono::steady_clock;
    bool EnsureCreated();
    void Layout(UINT dpi);
    void DrawCounter();

    HINSTANCE instance_;
    ControlFonts fonts_;
    UINT dpi_ = 96;
    // The count given last, and whether the label shows it yet.
    std::wstring counter_;
    bool pending_ = false;
    bool drawnSinceShow_ = false;
    Clock::time_point lastDraw_{}, lastQueueCheck_{};
};

}  // namespace rivak::ui
