#pragma once
// Window layouts are designed in twips (1/1440 inch) relative to the client
// area; they are converted at the window's own dpi, so at 96 dpi 15 twips
// make one pixel. Every window of the program builds and lays out its
// controls from a table of ControlSpec with the functions here.
#include <windows.h>

#include <span>
#include <vector>

#include "platform/win32/unique_handle.h"

namespace rivak::ui {

inline int TwipsToPixels(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), 1440); }

struct TwipsRect {
    int left, top, width, height;
};

inline RECT ToPixels(const TwipsRect& r, UINT dpi) {
    const int l = TwipsToPixels(r.left, dpi), t = TwipsToPixels(r.top, dpi);
    return RECT{l, t, l + TwipsToPixels(r.width, dpi), t + TwipsToPixels(r.height, dpi)};
}

// The dpi a window is drawn at (per-monitor aware); the system dpi before the
// window exists.
UINT DpiOf(HWND window);

// The outer size of a window whose client area is `clientWidth` x
// `clientHeight` twips, for the given styles, at `dpi`.
SIZE WindowSizeForClient(int clientWidthTwips, int clientHeightTwips, DWORD style, DWORD exStyle,
                         bool hasMenu, UINT dpi);

// Top-left corner that centres a window of `size` on the work area of the
// monitor nearest to the cursor's (or the primary one).
POINT CentredOnScreen(SIZE size);

// WM_DPICHANGED: moves the window to the rectangle the system suggests and
// returns the new dpi, for the window to lay itself out again.
UINT FollowDpiChange(HWND window, WPARAM wp, LPARAM lp);

// The system's message font at `dpi`, always a font of the caller's own
// (a copy of the stock GUI font when the system gives no metrics).
win::UniqueFont CreateMessageFont(UINT dpi);

// The program icon at `size` pixels; the one 32 x 32 picture, scaled by the
// system where another size is asked for.
win::UniqueIcon LoadProgramIcon(HINSTANCE instance, int size);

// One control as designed.
struct ControlSpec {
    int id;
    const wchar_t* className;
    const wchar_t* caption;  // nullptr: the window fills it in after creation
    DWORD style;             // besides WS_CHILD | WS_VISIBLE
    TwipsRect rect;
    int font = 0;            // which of the window's fonts it uses
};

// Creates the controls in table order, which is their keyboard focus order.
void CreateControls(HWND parent, HINSTANCE instance, std::span<const ControlSpec> controls);

// Moves every control to its twips converted at `dpi`.
void PlaceControls(HWND parent, std::span<const ControlSpec> controls, UINT dpi);

// The fonts a window gives its controls. A new set is handed to every
// control before the old one is deleted: GDI reuses handle values at once,
// so a control must never hold a font that is gone, not even for a moment.
class ControlFonts {
public:
    void Apply(HWND parent, std::span<const ControlSpec> controls, std::vector<win::UniqueFont> fonts);
    HFONT get(std::size_t slot) const { return slot < fonts_.size() ? fonts_[slot].get() : nullptr; }
    // Only once the controls are gone (the window was destroyed).
    void Release() { fonts_.clear(); }

private:
    std::vector<win::UniqueFont> fonts_;
};

}  // namespace rivak::ui
