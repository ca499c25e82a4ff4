#pragma once
// A top-level window class whose window procedure finds its C++ object
// through GWLP_USERDATA. No exception leaves the procedure: Windows calls it
// from code that cannot unwind C++ frames.
#include <windows.h>

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

    HWND CreateTopLevel(HINSTANCE instance, const wchar_t* caption, DWORD style, DWORD exStyle, int x, int y,
                        int width, int height, HMENU menu = nullptr) {
        return CreateWindowExW(exStyle, T::kClassName, caption, style, x, y, width, height, nullptr, menu,
                               instance, static_cast<T*>(this));
    }

    // The window was destroyed by the system (its close box with DestroyWindow,
    // say); the object stays and may create it again.
    void Forget() { hwnd_ = nullptr; }

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
        try {
            const LRESULT result = self->Handle(msg, wp, lp);
            if (msg == WM_NCDESTROY) {
                SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
                self->hwnd_ = nullptr;
            }
            return result;
        } catch (...) {
            return DefWindowProcW(hwnd, msg, wp, lp);
        }
    }

    HWND hwnd_ = nullptr;
};

}  // namespace rivak::ui
