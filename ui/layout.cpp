#include "ui/layout.h"

#include "ui/res/resource.h"

namespace rivak::ui {

namespace {
// The per-monitor functions arrived with Windows 10 1607; look them up so the
// program still starts where they are missing.
template <class Fn>
Fn User32Function(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}
}  // namespace

UINT DpiOf(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto forWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (window && forWindow) {
        if (UINT dpi = forWindow(window)) return dpi;
    }
    const win::WindowDc screen(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

SIZE WindowSizeForClient(int clientWidthTwips, int clientHeightTwips, DWORD style, DWORD exStyle,
                         bool hasMenu, UINT dpi) {
    RECT r{0, 0, TwipsToPixels(clientWidthTwips, dpi), TwipsToPixels(clientHeightTwips, dpi)};
    using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
    if (!adjustForDpi || !adjustForDpi(&r, style, hasMenu, exStyle, dpi))
        AdjustWindowRectEx(&r, style, hasMenu, exStyle);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

POINT CentredOnScreen(SIZE size) {
    POINT cursor{};
    GetCursorPos(&cursor);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY), &info)) work = info.rcWork;
    return POINT{work.left + (work.right - work.left - size.cx) / 2,
                 work.top + (work.bottom - work.top - size.cy) / 2};
}

UINT FollowDpiChange(HWND window, WPARAM wp, LPARAM lp) {
    if (const auto* suggested = reinterpret_cast<const RECT*>(lp)) {
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    const UINT dpi = HIWORD(wp);
    return dpi ? dpi : DpiOf(window);
}

win::UniqueFont CreateMessageFont(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    using ParamsForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto forDpi = User32Function<ParamsForDpiFn>("SystemParametersInfoForDpi");
    if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
        return win::UniqueFont(CreateFontIndirectW(&metrics.lfMessageFont));
    LOGFONTW& font = metrics.lfMessageFont;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        // The stock font belongs to the system and must not reach an owner
        // (DeleteObject): make a font of our own from its description.
        if (!GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font)) return win::UniqueFont();
    }
    const UINT systemDpi = DpiOf(nullptr);
    if (systemDpi != dpi && font.lfHeight)
        font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(systemDpi));
    return win::UniqueFont(CreateFontIndirectW(&font));
}

win::UniqueIcon LoadProgramIcon(HINSTANCE instance, int size) {
    return win::UniqueIcon(static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_RIVAK), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
}

void CreateControls(HWND parent, HINSTANCE instance, std::span<const ControlSpec> controls) {
    for (const ControlSpec& c : controls) {
        CreateWindowExW(0, c.className, c.caption ? c.caption : L"", WS_CHILD | WS_VISIBLE | c.style, 0, 0, 0, 0,
                        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
    }
}

void PlaceControls(HWND parent, std::span<const ControlSpec> controls, UINT dpi) {
    for (const ControlSpec& c : controls) {
        const RECT r = ToPixels(c.rect, dpi);
        SetWindowPos(GetDlgItem(parent, c.id), nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void ControlFonts::Apply(HWND parent, std::span<const ControlSpec> controls, std::vector<win::UniqueFont> fonts) {
    for (const ControlSpec& c : controls) {
        if (c.font < 0 || static_cast<std::size_t>(c.font) >= fonts.size()) continue;
        SendDlgItemMessageW(parent, c.id, WM_SETFONT, reinterpret_cast<WPARAM>(fonts[c.font].get()), TRUE);
    }
    // Only now that no control holds them do the old fonts go.
    fonts_ = std::move(fonts);
}

}  // namespace rivak::ui
