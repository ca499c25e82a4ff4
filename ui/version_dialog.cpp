#include "ui/version_dialog.h"

#include <cwchar>

#include "ui/home_page.h"

// Set by the build (RIVAK_HOME_PAGE, RIVAK_MAIL); these are the fallbacks.
#ifndef RIVAK_HOME_PAGE
#define RIVAK_HOME_PAGE "https://rivak.example.com/"
#endif
#ifndef RIVAK_MAIL
#define RIVAK_MAIL "rivak@example.com"
#endif

namespace rivak::ui {
namespace {

constexpr COLORREF kLinkColour = RGB(0, 0, 255);
constexpr TwipsRect kImage1Rect{480, 240, 480, 480};
// The fonts of the table below, by slot.
enum FontSlot : int { kLabelFont, kLinkFont, kButtonFont, kNoFont = -1 };

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

// Creation order is the keyboard focus order; only Command1 takes the focus.
constexpr ControlSpec kControls[] = {
    {kVersionLabel1, L"STATIC", nullptr, SS_CENTER | SS_NOPREFIX, {840, 360, 3255, 255}, kLabelFont},
    {kVersionCommand1, L"BUTTON", L"OK", BS_PUSHBUTTON | WS_TABSTOP, {2160, 1440, 500, 350}, kButtonFont},
    {kVersionLabel3, L"STATIC", nullptr, SS_LEFT | SS_NOPREFIX, {1320, 720, 2775, 255}, kLabelFont},
    // SS_NOTIFY: the whole rectangle answers the mouse, not only the text.
    {kVersionLabel2, L"STATIC", nullptr, SS_CENTER | SS_NOPREFIX | SS_NOTIFY, {120, 1080, 4455, 255}, kLinkFont},
    {kVersionImage1, L"STATIC", nullptr, SS_ICON | SS_CENTERIMAGE, kImage1Rect, kNoFont},
};

}  // namespace

const DialogDesign VersionDialog::kDesign{L"RIVAK version情報", 4665, 1995, kControls, kVersionCommand1};

void VersionDialog::OnCreated(HINSTANCE instance) {
    instance_ = instance;
    SetDlgItemTextW(hwnd(), kVersionLabel1, mainCaption_.c_str());
    SetDlgItemTextW(hwnd(), kVersionLabel3, (L"mail: " + MailAddress()).c_str());
    SetDlgItemTextW(hwnd(), kVersionLabel2, HomePageUrl().c_str());
}

std::vector<win::UniqueFont> VersionDialog::MakeFonts(UINT dpi) {
    std::vector<win::UniqueFont> fonts;
    fonts.emplace_back(CreateLabelFont(dpi, false));
    fonts.emplace_back(CreateLabelFont(dpi, true));
    fonts.push_back(CreateMessageFont(dpi));
    return fonts;
}

// The picture fills Image1's box at every dpi: the program icon at that
// size, the new one in place before the old one goes.
void VersionDialog::OnDpi(UINT dpi) {
    win::UniqueIcon icon = LoadProgramIcon(instance_, TwipsToPixels(kImage1Rect.width, dpi));
    if (!icon) return;
    SendDlgItemMessageW(hwnd(), kVersionImage1, STM_SETICON, reinterpret_cast<WPARAM>(icon.get()), 0);
    icon_ = std::move(icon);
}

void VersionDialog::Show(HINSTANCE instance) {
    if (!EnsureCreated(instance)) return;
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

LRESULT VersionDialog::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
        // IDOK and IDCANCEL (Enter and Escape) are not controls of this dialog.
        if (LOWORD(wp) == kVersionCommand1 && HIWORD(wp) == BN_CLICKED) ShowWindow(hwnd(), SW_HIDE);
        if (LOWORD(wp) == kVersionLabel2 && HIWORD(wp) == STN_CLICKED) OnLink();
        return 0;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lp) == item(kVersionLabel2)) {
            HDC dc = reinterpret_cast<HDC>(wp);
            SetTextColor(dc, kLinkColour);
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        return Default(msg, wp, lp);
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wp) == item(kVersionLabel2)) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        return Default(msg, wp, lp);
    case WM_NCDESTROY:
        // The picture's control is gone with the window.
        icon_.reset();
        return Default(msg, wp, lp);
    default:
        return Default(msg, wp, lp);
    }
}

const std::wstring& HomePageUrl() {
    static const std::wstring url = L"" RIVAK_HOME_PAGE;
    return url;
}

const std::wstring& MailAddress() {
    static const std::wstring mail = L"" RIVAK_MAIL;
    return mail;
}

void SetHomePageOpener(HomePageOpener opener) { g_opener = opener ? opener : &OpenHomePage; }

}  // namespace rivak::ui
