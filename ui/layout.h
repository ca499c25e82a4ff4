#pragma once
// Window layouts are designed in twips (1/1440 inch) relative to the client
// area; they are converted at the window's own dpi, so at 96 dpi 15 twips
// make one pixel.
#include <windows.h>

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

// The system's message font at `dpi`; the caller owns it (DeleteObject).
HFONT CreateMessageFont(UINT dpi);

}  // namespace rivak::ui
