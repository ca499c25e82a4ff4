#pragma once
// What the program's two dialogs (the shortcut installer and the version
// dialog) share: creation on first use and afresh after a close from the
// title bar, layout from a twips table at the window's dpi, the keyboard
// focus kept across activation, and the answer to a dpi change.
//
// T supplies kClassName and kDesign, and may hide any of the hooks below:
// OnCreated, MakeFonts, OnDpi, OnMessage.
#include <windows.h>

#include <span>
#include <vector>

#include "ui/layout.h"
#include "ui/window_base.h"

namespace rivak::ui {

// A dialog as designed.
struct DialogDesign {
    const wchar_t* caption;
    int clientWidth, clientHeight;  // twips
    std::span<const ControlSpec> controls;
    int firstFocus;  // the control that has the focus when the dialog opens
};

template <class T>
class DialogWindow : public BaseWindow<T> {
public:
    static constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    // A modal frame shows no caption icon when the class has none.
    static constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;

    // Creates the dialog, hidden, unless it exists; false when it cannot be made.
    bool EnsureCreated(HINSTANCE instance) {
        if (this->hwnd()) return true;
        if (!this->Register(instance)) return false;
        if (!this->CreateCentred(instance, T::kDesign.caption, kStyle, kExStyle, T::kDesign.clientWidth,
                                 T::kDesign.clientHeight))
            return false;
        CreateControls(this->hwnd(), instance, T::kDesign.controls);
        self().OnCreated(instance);
        Layout(DpiOf(this->hwnd()));
        return true;
    }

    HWND item(int id) const { return this->hwnd() ? GetDlgItem(this->hwnd(), id) : nullptr; }

    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp) {
        switch (msg) {
        case WM_ACTIVATE:
            // Back to the control that had the focus when the user left.
            if (LOWORD(wp) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus && IsChild(this->hwnd(), focus)) lastFocus_ = focus;
            } else {
                SetFocus(lastFocus_ && IsChild(this->hwnd(), lastFocus_) ? lastFocus_ : item(T::kDesign.firstFocus));
            }
            return 0;
        case WM_DPICHANGED:
            Layout(FollowDpiChange(this->hwnd(), wp, lp));
            return 0;
        case WM_NCDESTROY:
            // Discarded: the next opening builds everything anew.
            lastFocus_ = nullptr;
            fonts_.Release();
            break;
        default:
            break;
        }
        return self().OnMessage(msg, wp, lp);
    }

protected:
    // Hooks, hidden by T where it has something to do.
    void OnCreated(HINSTANCE) {}
    std::vector<win::UniqueFont> MakeFonts(UINT dpi) {
        std::vector<win::UniqueFont> fonts;
        fonts.push_back(CreateMessageFont(dpi));
        return fonts;
    }
    void OnDpi(UINT) {}
    LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) { return this->Default(msg, wp, lp); }

    HFONT font(std::size_t slot) const { return fonts_.get(slot); }

private:
    T& self() { return static_cast<T&>(*this); }

    // The client area keeps its twips at every dpi. The frame is measured
    // as it is drawn, not computed: the system may keep its own size.
    void Layout(UINT dpi) {
        RECT outer{}, client{};
        GetWindowRect(this->hwnd(), &outer);
        GetClientRect(this->hwnd(), &client);
        const int width = TwipsToPixels(T::kDesign.clientWidth, dpi) + (outer.right - outer.left) - client.right;
        const int height = TwipsToPixels(T::kDesign.clientHeight, dpi) + (outer.bottom - outer.top) - client.bottom;
        SetWindowPos(this->hwnd(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        PlaceControls(this->hwnd(), T::kDesign.controls, dpi);
        fonts_.Apply(this->hwnd(), T::kDesign.controls, self().MakeFonts(dpi));
        self().OnDpi(dpi);
    }

    ControlFonts fonts_;
    HWND lastFocus_ = nullptr;
};

// Keyboard navigation (Tab, Shift+Tab, Space) for the main window and the
// modeless windows of the program, as the message loop hands their keys
// over: true when the message was used up so.
inline bool TakeDialogKeys(MSG& msg) {
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    return root && IsDialogMessageW(root, &msg);
}

}  // namespace rivak::ui
