#pragma once
// A top-level window class whose window procedure finds its C++ object
// through GWLP_USERDATA. No exception leaves the procedure: Windows calls it
// from code that cannot unwind C++ frames.
#include <windows.h>

#include "ui/callback_guard.h"
#include "ui/layout.h"

namespace rivak::ui {

template <class T>
class BaseWindow {
public:
    BaseWindow() = default;
    BaseWindow(const BaseWindow&) = delete;
    BaseWindow& operator=(const BaseWindow&) = delete;
    virtual ~BaseWindow() {
        if (hwnd_) {
            SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            DestroyWindow(hwnd_);
        }
    }

    HWND hwnd() const { return hwnd_; }

protected:
    // Registers the class once per process; T supplies `static constexpr
    // const wchar_t* kClassName` and `LRESULT Handle(UINT, WPARAM, LPARAM)`.
    static bool Register(HINSTANCE instance, HICON icon = nullptr, HBRUSH background = nullptr) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        if (GetClassInfoExW(instance, T::kClassName, &wc)) return true;
        wc.lpfnWndProc = &BaseWindow::Procedure;
        wc.hInstance = instance;
        wc.hIcon = icon;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = background ? background : GetSysColorBrush(COLOR_BTNFACE);
        wc.lpszClassName = T::kClassName;
        return RegisterClassExW(&wc) != 0;
    }

    // Creates the window hidden, with a client area of the given twips,
    // centred on the screen. Per-monitor aware: when the monitor it lands on
    // has another dpi than the system's, it is sized and centred again there.
    bool CreateCentred(HINSTANCE instance, const wchar_t* caption, DWORD style, DWORD exStyle, int clientWidthTwips,
                       int clientHeightTwips, HMENU menu = nullptr) {
        const bool hasMenu = menu != nullptr;
        const UINT systemDpi = DpiOf(nullptr);
        const SIZE size = WindowSizeForClient(clientWidthTwips, clientHeightTwips, style, exStyle, hasMenu, systemDpi);
        const POINT at = CentredOnScreen(size);
        if (!CreateWindowExW(exStyle, T::kClassName, caption, style, at.x, at.y, size.cx, size.cy, nullptr, menu,
                             instance, static_cast<T*>(this)))
            return false;
        if (const UINT dpi = DpiOf(hwnd_); dpi != systemDpi) {
            const SIZE scaled = WindowSizeForClient(clientWidthTwips, clientHeightTwips, style, exStyle, hasMenu, dpi);
            const POINT centred = CentredOnScreen(scaled);
            SetWindowPos(hwnd_, nullptr, centred.x, centred.y, scaled.cx, scaled.cy, SWP_NOZORDER | SWP_NOACTIVATE);
        }
        return true;
    }

    LRESULT Default(UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcW(hwnd_, msg, wp, lp); }

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        T* self = nullptr;
        if (msg == WM_NCCREATE) {
            self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
            self->hwnd_ = hwnd;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        } else {
            self = reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        }
        if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
        const LRESULT result = Guarded([&] { return self->Handle(msg, wp, lp); },
                                       [&] { return DefWindowProcW(hwnd, msg, wp, lp); });
        if (msg == WM_NCDESTROY) {
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            self->hwnd_ = nullptr;
        }
        return result;
    }

    HWND hwnd_ = nullptr;
};

}  // namespace rivak::ui
