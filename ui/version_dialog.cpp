#include "ui/version_dialog.h"

#include <cwchar>

#include "platform/win32/unique_handle.h"
#include "ui/home_page.h"
#include "ui/layout.h"
#include "ui/res/resource.h"
#include "ui/window_base.h"

// Set by the build (RIVAK_HOME_PAGE, RIVAK_MAIL); these are the fallbacks.
#ifndef RIVAK_HOME_PAGE
#define RIVAK_HOME_PAGE "https://rivak.example.com/"
#endif
#ifndef RIVAK_MAIL
#define RIVAK_MAIL "rivak@example.com"
#endif

namespace rivak::ui {
namespace {

constexpr int kClientWidth = 4665, kClientHeight = 1995;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
// A modal frame shows no caption icon when the class has none.
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
constexpr COLORREF kLinkColour = RGB(0, 0, 255);

struct ControlSpec {
    int id;
    const wchar_t* className;
    DWORD style;
    TwipsRect rect;
};

// Creation order is the keyboard focus order; only Command1 takes the focus.
constexpr ControlSpec kControls[] = {
    {kVersionLabel1, L"STATIC", SS_CENTER | SS_NOPREFIX, {840, 360, 3255, 255}},
    {kVersionCommand1, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, {2160, 1440, 500, 350}},
    {kVersionLabel3, L"STATIC", SS_LEFT | SS_NOPREFIX, {1320, 720, 2775, 255}},
    // SS_NOTIFY: the whole rectangle answers the mouse, not only the text.
    {kVersionLabel2, L"STATIC", SS_CENTER | SS_NOPREFIX | SS_NOTIFY, {120, 1080, 4455, 255}},
    {kVersionImage1, L"STATIC", SS_ICON | SS_CENTERIMAGE, {480, 240, 480, 480}},
};

HFONT CreateLabelFont(UINT dpi, bool underline) {
    LOGFONTW lf{};
    lf.lfHeight = -MulDiv(9, static_cast<int>(dpi), 72);
    lf.lfWeight = FW_BOLD;
    lf.lfUnderline = underline ? TRUE : FALSE;
    lf.lfCharSet = SHIFTJIS_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    wcscpy_s(lf.lfFaceName, L"ＭＳ Ｐゴシック");
    return CreateFontIndirectW(&lf);
}

HomePageOpener g_opener = &OpenHomePage;

class VersionDialog final : public BaseWindow<VersionDialog> {
public:
    static constexpr const wchar_t* kClassName = L"RivakForm6";

    bool Create(HINSTANCE instance, const std::wstring& mainCaption);
    void Show();

    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);

private:
    void Layout(UINT dpi);
    void LoadProgramIcon(HINSTANCE instance);
    void OnLink();

    win::UniqueGdi labelFont_, linkFont_, buttonFont_;
    win::UniqueIcon ownIcon_;
    HICON icon_ = nullptr;
    UINT dpi_ = 0;
    HWND lastFocus_ = nullptr;
};

void VersionDialog::LoadProgramIcon(HINSTANCE instance) {
    ownIcon_.reset(static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_RIVAK), IMAGE_ICON, 32, 32, 0)));
    icon_ = ownIcon_ ? ownIcon_.get()
                     : static_cast<HICON>(LoadImageW(nullptr, IDI_APPLICATION, IMAGE_ICON, 32, 32, LR_SHARED));
}

bool VersionDialog::Create(HINSTANCE instance, const std::wstring& mainCaption) {
    if (!Register(instance)) return false;
    const UINT dpi = DpiOf(nullptr);
    const SIZE size = WindowSizeForClient(kClientWidth, kClientHeight, kStyle, kExStyle, false, dpi);
    const POINT at = CentredOnScreen(size);
    if (!CreateTopLevel(instance, L"RIVAK version情報", kStyle, kExStyle, at.x, at.y, size.cx, size.cy))
        return false;
    const std::wstring mail = L"mail: " + MailAddress();
    for (const auto& c : kControls) {
        const wchar_t* text = L"";
        if (c.id == kVersionLabel1) text = mainCaption.c_str();
        if (c.id == kVersionCommand1) text = L"OK";
        if (c.id == kVersionLabel3) text = mail.c_str();
        if (c.id == kVersionLabel2) text = HomePageUrl().c_str();
        CreateWindowExW(0, c.className, text, WS_CHILD | WS_VISIBLE | c.style, 0, 0, 0, 0, hwnd(),
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
    }
    LoadProgramIcon(instance);
    SendDlgItemMessageW(hwnd(), kVersionImage1, STM_SETICON, reinterpret_cast<WPARAM>(icon_), 0);
    Layout(DpiOf(hwnd()));
    return true;
}

void VersionDialog::Layout(UINT dpi) {
    if (dpi != dpi_) {
        labelFont_.reset(CreateLabelFont(dpi, false));
        linkFont_.reset(CreateLabelFont(dpi, true));
        buttonFont_.reset(CreateMessageFont(dpi));
        dpi_ = dpi;
    }
    const SIZE size = WindowSizeForClient(kClientWidth, kClientHeight, kStyle, kExStyle, false, dpi);
    SetWindowPos(hwnd(), nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (const auto& c : kControls) {
        HWND control = GetDlgItem(hwnd(), c.id);
        const RECT r = ToPixels(c.rect, dpi);
        SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        HGDIOBJ font = c.id == kVersionLabel2    ? linkFont_.get()
                       : c.id == kVersionCommand1 ? buttonFont_.get()
                                                  : labelFont_.get();
        if (c.id != kVersionImage1) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
}

void VersionDialog::Show() {
    ShowWindow(hwnd(), SW_SHOW);
    SetForegroundWindow(hwnd());
}

void VersionDialog::OnLink() {
    const std::wstring& url = HomePageUrl();
    if (!g_opener(url)) {
        // The dialog stays, so the user can try again or read the address.
        const std::wstring message = L"ホームページを開けませんでした。\n" + url;
        MessageBoxW(hwnd(), message.c_str(), L"rivak", MB_ICONERROR | MB_OK);
        return;
    }
    ShowWindow(hwnd(), SW_HIDE);
}

LRESULT VersionDialog::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
        // IDOK and IDCANCEL (Enter and Escape) are not controls of this dialog.
        if (LOWORD(wp) == kVersionCommand1 && HIWORD(wp) == BN_CLICKED) ShowWindow(hwnd(), SW_HIDE);
        if (LOWORD(wp) == kVersionLabel2 && HIWORD(wp) == STN_CLICKED) OnLink();
        return 0;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lp) == GetDlgItem(hwnd(), kVersionLabel2)) {
            HDC dc = reinterpret_cast<HDC>(wp);
            SetTextColor(dc, kLinkColour);
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        return Default(msg, wp, lp);
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wp) == GetDlgItem(hwnd(), kVersionLabel2)) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        return Default(msg, wp, lp);
    case WM_ACTIVATE:
        if (LOWORD(wp) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(hwnd(), focus)) lastFocus_ = focus;
        } else {
            SetFocus(lastFocus_ && IsChild(hwnd(), lastFocus_) ? lastFocus_ : GetDlgItem(hwnd(), kVersionCommand1));
        }
        return 0;
    case WM_DPICHANGED: {
        const auto* suggested = reinterpret_cast<const RECT*>(lp);
        SetWindowPos(hwnd(), nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        Layout(HIWORD(wp));
        return 0;
    }
    case WM_NCDESTROY:
        // Closed from its title bar: the next opening builds it anew.
        lastFocus_ = nullptr;
        labelFont_.reset();
        linkFont_.reset();
        buttonFont_.reset();
        ownIcon_.reset();
        icon_ = nullptr;
        dpi_ = 0;
        return Default(msg, wp, lp);
    default:
        return Default(msg, wp, lp);
    }
}

VersionDialog& Dialog() {
    static VersionDialog dialog;
    return dialog;
}

}  // namespace

const std::wstring& HomePageUrl() {
    static const std::wstring url = L"" RIVAK_HOME_PAGE;
    return url;
}

const std::wstring& MailAddress() {
    static const std::wstring mail = L"" RIVAK_MAIL;
    return mail;
}

void ShowVersionDialog(HINSTANCE instance, const std::wstring& mainCaption) {
    VersionDialog& dialog = Dialog();
    if (!dialog.hwnd() && !dialog.Create(instance, mainCaption)) return;
    dialog.Show();
}

HWND VersionDialogWindow() { return Dialog().hwnd(); }

void SetHomePageOpener(HomePageOpener opener) { g_opener = opener ? opener : &OpenHomePage; }

}  // namespace rivak::ui
