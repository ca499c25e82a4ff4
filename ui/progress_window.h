#pragma once
// Form5: the small window that counts the entries of a running batch.
#include <windows.h>

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

    // The window is made, hidden, by whichever of these comes first.
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
    bool EnsureCreated();
    void Layout(UINT dpi);

    HINSTANCE instance_;
    ControlFonts fonts_;
    UINT dpi_ = 96;
    ULONGLONG lastQueueCheck_ = 0;
};

}  // namespace rivak::ui
