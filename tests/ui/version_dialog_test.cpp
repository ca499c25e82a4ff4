// Form6, the version dialog: what it shows and how, the link, and its life
// as a single modeless window that the title bar discards.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/unique_handle.h"
#include "tests/ui/window_test_support.h"
#include "ui/home_page.h"
#include "ui/layout.h"
#include "ui/res/resource.h"
#include "ui/version_dialog.h"

namespace rivak::ui {
namespace {

using test::MessageBoxCatcher;
using test::TextOf;

constexpr const wchar_t* kMainCaption = L"RIVAK ver 1.5";

// The colour pixels of an icon as 32-bit BGRA rows, and its size.
std::vector<DWORD> IconPixels(HICON icon, SIZE& size) {
    size = test::IconSize(icon);
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return {};
    const win::UniqueBitmap colour(info.hbmColor), mask(info.hbmMask);
    if (!info.hbmColor) return {};
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = size.cx;
    bi.bmiHeader.biHeight = -size.cy;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(static_cast<std::size_t>(size.cx * size.cy));
    const win::WindowDc screen(nullptr);
    GetDIBits(screen.get(), info.hbmColor, 0, size.cy, pixels.data(), &bi, DIB_RGB_COLORS);
    return pixels;
}

int CountDialogs() {
    int n = 0;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM lp) -> BOOL {
            wchar_t cls[64]{};
            GetClassNameW(window, cls, 64);
            if (std::wstring(cls) == L"RivakForm6") ++*reinterpret_cast<int*>(lp);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&n));
    return n;
}

std::vector<std::wstring> g_opened;
bool g_openSucceeds = true;
bool RecordingOpener(const std::wstring& url) {
    g_opened.push_back(url);
    return g_openSucceeds;
}

class VersionDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!com_.ok()) GTEST_SKIP() << "COM could not be started";
        if (!test::CanCreateWindows()) GTEST_SKIP() << "no window can be created here (no display?)";
        main_.reset(CreateWindowExW(0, L"STATIC", L"main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200,
                                    nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
        ASSERT_TRUE(main_);
        g_opened.clear();
        g_openSucceeds = true;
        SetHomePageOpener(&RecordingOpener);
    }
    void TearDown() override {
        if (HWND dialog = Dialog()) SendMessageW(dialog, WM_CLOSE, 0, 0);
        SetHomePageOpener(nullptr);
    }

    void Show() {
        dialog_.Show(GetModuleHandleW(nullptr));
        test::Pump();
    }
    HWND Dialog() const { return dialog_.hwnd(); }
    HWND Item(int id) const { return dialog_.item(id); }

    win::ComApartment com_;
    win::UniqueWindow main_;
    VersionDialog dialog_{kMainCaption};
};

TEST_F(VersionDialogTest, TextsAndLayout) {
    Show();
    HWND dialog = Dialog();
    ASSERT_TRUE(dialog);
    const UINT dpi = DpiOf(dialog);
    test::ExpectDialogFrame(dialog, L"RIVAK version情報", 4665, 1995, SIZE{311, 133});

    const struct {
        int id;
        std::wstring text;
        const wchar_t* cls;
        LONG type;
        int left, top, width, height;
    } controls[] = {
        {kVersionLabel1, kMainCaption, L"Static", SS_CENTER, 840, 360, 3255, 255},
        {kVersionImage1, L"", L"Static", SS_ICON, 480, 240, 480, 480},
        {kVersionLabel3, L"mail: " + MailAddress(), L"Static", SS_LEFT, 1320, 720, 2775, 255},
        {kVersionLabel2, HomePageUrl(), L"Static", SS_CENTER, 120, 1080, 4455, 255},
        {kVersionCommand1, L"OK", L"Button", BS_PUSHBUTTON, 2160, 1440, 500, 350},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(testing::Message() << "control " << c.id);
        HWND item = Item(c.id);
        ASSERT_TRUE(item);
        wchar_t cls[32]{};
        GetClassNameW(item, cls, 32);
        EXPECT_EQ(_wcsicmp(cls, c.cls), 0);
        if (c.id != kVersionImage1) {
            EXPECT_EQ(TextOf(item), c.text);
        }
        const LONG style = GetWindowLongW(item, GWL_STYLE);
        EXPECT_EQ(style & (c.id == kVersionCommand1 ? BS_TYPEMASK : SS_TYPEMASK), c.type);
        EXPECT_EQ((style & WS_TABSTOP) != 0, c.id == kVersionCommand1);
        test::ExpectPlacedAt(item, {c.left, c.top, c.width, c.height}, dpi);
    }
    EXPECT_NE(TextOf(Item(kVersionLabel1)), L"RIVAK ver 1.00");
    EXPECT_EQ(HomePageUrl().rfind(L"http", 0), 0u);
    EXPECT_NE(MailAddress().find(L'@'), std::wstring::npos);
    EXPECT_TRUE(GetWindowLongW(Item(kVersionLabel2), GWL_STYLE) & SS_NOTIFY);
    EXPECT_NE(HIWORD(SendMessageW(dialog, DM_GETDEFID, 0, 0)), DC_HASDEFID);
}

TEST_F(VersionDialogTest, FocusOrderLeavesTheLabelsOut) {
    Show();
    // Child order is the focus order: Label1, Command1, Label3, Label2.
    std::vector<int> order;
    for (HWND c = GetWindow(Dialog(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) order.push_back(GetDlgCtrlID(c));
    ASSERT_GE(order.size(), 4u);
    EXPECT_EQ(std::vector<int>(order.begin(), order.begin() + 4),
              (std::vector<int>{kVersionLabel1, kVersionCommand1, kVersionLabel3, kVersionLabel2}));
    HWND command1 = Item(kVersionCommand1);
    EXPECT_EQ(GetFocus(), command1);
    EXPECT_EQ(GetNextDlgTabItem(Dialog(), command1, FALSE), command1);
    SendMessageW(Item(kVersionLabel2), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    SendMessageW(Item(kVersionLabel2), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    EXPECT_NE(GetFocus(), Item(kVersionLabel2)) << "the link took the focus";
}

TEST_F(VersionDialogTest, LabelFontsAndLinkLook) {
    Show();
    const UINT dpi = DpiOf(Dialog());
    for (int id : {kVersionLabel1, kVersionLabel3, kVersionLabel2}) {
        SCOPED_TRACE(testing::Message() << "label " << id);
        const auto font = reinterpret_cast<HFONT>(SendMessageW(Item(id), WM_GETFONT, 0, 0));
        ASSERT_TRUE(font);
        LOGFONTW lf{};
        ASSERT_EQ(GetObjectW(font, sizeof lf, &lf), static_cast<int>(sizeof lf));
        EXPECT_STREQ(lf.lfFaceName, L"ＭＳ Ｐゴシック");
        EXPECT_EQ(lf.lfHeight, -MulDiv(9, static_cast<int>(dpi), 72));
        EXPECT_EQ(lf.lfWeight, 700);
        EXPECT_EQ(lf.lfCharSet, 128);
        EXPECT_EQ(lf.lfUnderline != 0, id == kVersionLabel2);
        wchar_t face[LF_FACESIZE]{};
        TEXTMETRICW tm{};
        {
            const win::WindowDc dc(Item(id));
            const win::SelectedObject selected(dc.get(), font);
            GetTextFaceW(dc.get(), LF_FACESIZE, face);
            GetTextMetricsW(dc.get(), &tm);
        }
        char utf8[LF_FACESIZE * 3]{};
        WideCharToMultiByte(CP_UTF8, 0, face, -1, utf8, sizeof utf8, nullptr, nullptr);
        std::printf("label %d drawn with \"%s\" (charset %d, weight %ld)\n", id, utf8, tm.tmCharSet, tm.tmWeight);
        EXPECT_EQ(tm.tmCharSet, SHIFTJIS_CHARSET);
    }
    // The link is drawn blue on the dialog's face; the other labels are not.
    const win::UniqueDc dc(CreateCompatibleDC(nullptr));
    SetTextColor(dc.get(), RGB(1, 2, 3));
    SendMessageW(Dialog(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.get()),
                 reinterpret_cast<LPARAM>(Item(kVersionLabel2)));
    EXPECT_EQ(GetTextColor(dc.get()), RGB(0, 0, 255));
    SendMessageW(Dialog(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.get()),
                 reinterpret_cast<LPARAM>(Item(kVersionLabel1)));
    EXPECT_NE(GetTextColor(dc.get()), RGB(0, 0, 255));
    // The hand over the link only.
    EXPECT_TRUE(SendMessageW(Dialog(), WM_SETCURSOR, reinterpret_cast<WPARAM>(Item(kVersionLabel2)),
                             MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
    SendMessageW(Dialog(), WM_SETCURSOR, reinterpret_cast<WPARAM>(Item(kVersionLabel1)),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_NE(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
}

TEST_F(VersionDialogTest, ShowsTheProgramIcon) {
    Show();
    const auto shown = reinterpret_cast<HICON>(SendMessageW(Item(kVersionImage1), STM_GETICON, 0, 0));
    ASSERT_TRUE(shown);
    win::UniqueIcon program(static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_RIVAK), IMAGE_ICON, 32, 32, 0)));
    ASSERT_TRUE(program) << "the program icon is not among this program's resources";
    SIZE shownSize{}, programSize{};
    const auto shownPixels = IconPixels(shown, shownSize);
    const auto programPixels = IconPixels(program.get(), programSize);
    // The picture fills Image1's box: 32 pixels at 96 dpi.
    const int box = TwipsToPixels(480, DpiOf(Dialog()));
    EXPECT_EQ(shownSize.cx, box);
    EXPECT_EQ(shownSize.cy, box);
    EXPECT_FALSE(shownPixels.empty());
    if (box == 32) {
        EXPECT_TRUE(shownPixels == programPixels) << "another picture than the program icon";
    }
}

// Moved to a monitor of another dpi: the twips are kept, the label fonts
// and the picture follow, and no control is left holding a deleted font.
TEST_F(VersionDialogTest, FollowsADpiChange) {
    Show();
    for (UINT dpi : {144u, 192u, 96u}) {
        SCOPED_TRACE(testing::Message() << dpi << " dpi");
        const test::FontHandOverWatch watch(Dialog());
        test::SendDpiChange(Dialog(), dpi);
        test::ExpectLaidOutAt(dialog_, dpi);
        EXPECT_EQ(watch.handOvers(), 4) << "three labels and the button";
        EXPECT_EQ(watch.deadFonts(), 0) << "a control held a deleted font when the new one came";
        EXPECT_EQ(test::FontOf(Item(kVersionLabel1)).lfHeight, -MulDiv(9, static_cast<int>(dpi), 72));
        const auto icon = reinterpret_cast<HICON>(SendMessageW(Item(kVersionImage1), STM_GETICON, 0, 0));
        EXPECT_EQ(test::IconSize(icon).cx, TwipsToPixels(480, dpi)) << "the picture fills its box";
    }
}

TEST_F(VersionDialogTest, SingleModelessInstanceHiddenByOk) {
    Show();
    HWND first = Dialog();
    ASSERT_TRUE(first);
    EXPECT_TRUE(IsWindowVisible(first));
    EXPECT_TRUE(IsWindowEnabled(main_.get())) << "the main window must stay usable";
    Show();
    EXPECT_EQ(Dialog(), first);
    EXPECT_EQ(CountDialogs(), 1);

    // Enter and Escape reach no button.
    SetFocus(Item(kVersionCommand1));
    for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
        PostMessageW(GetFocus(), WM_KEYDOWN, key, 1);
        PostMessageW(GetFocus(), WM_KEYUP, key, 0xC0000001);
        test::PumpWithDialogKeys();
        EXPECT_TRUE(IsWindowVisible(first)) << "key " << key << " dismissed the dialog";
    }

    SendMessageW(Item(kVersionCommand1), BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindowVisible(first));
    EXPECT_EQ(Dialog(), first) << "OK discards the dialog instead of hiding it";
    EXPECT_TRUE(g_opened.empty());

    // Shown again, it is the same dialog.
    Show();
    EXPECT_EQ(Dialog(), first);
    EXPECT_TRUE(IsWindowVisible(first));
    EXPECT_EQ(TextOf(Item(kVersionLabel1)), kMainCaption);
}

TEST_F(VersionDialogTest, TitleBarCloseDiscardsAndReopeningRecreates) {
    Show();
    ASSERT_TRUE(Dialog());
    SetWindowTextW(Item(kVersionLabel1), L"RIVAK ver 0.9");
    SendMessageW(Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
    test::Pump();
    EXPECT_EQ(Dialog(), nullptr);
    EXPECT_EQ(CountDialogs(), 0);
    Show();
    ASSERT_TRUE(Dialog());
    EXPECT_TRUE(IsWindowVisible(Dialog()));
    EXPECT_EQ(TextOf(Item(kVersionLabel1)), kMainCaption);
    EXPECT_EQ(CountDialogs(), 1);
}

TEST_F(VersionDialogTest, LinkClickOpensTheHomePageThenHides) {
    Show();
    HWND link = Item(kVersionLabel2);
    // Beside the centred text, near the rectangle's left end.
    SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    SendMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    test::Pump();
    ASSERT_EQ(g_opened.size(), 1u);
    EXPECT_EQ(g_opened[0], HomePageUrl());
    EXPECT_EQ(g_opened[0], TextOf(link));
    EXPECT_FALSE(IsWindowVisible(Dialog()));
    // Reopened, a second click opens another window.
    Show();
    SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 5));
    SendMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(100, 5));
    test::Pump();
    EXPECT_EQ(g_opened.size(), 2u);
    // Label1 and Label3 have no click handling.
    Show();
    for (int id : {kVersionLabel1, kVersionLabel3}) {
        SendMessageW(Item(id), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        SendMessageW(Item(id), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    }
    test::Pump();
    EXPECT_EQ(g_opened.size(), 2u);
    EXPECT_TRUE(IsWindowVisible(Dialog()));
}

TEST_F(VersionDialogTest, BrowserThatCannotStartKeepsTheDialog) {
    g_openSucceeds = false;
    Show();
    MessageBoxCatcher catcher;
    SendMessageW(Item(kVersionLabel2), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    SendMessageW(Item(kVersionLabel2), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    test::Pump();
    EXPECT_EQ(g_opened.size(), 1u);
    EXPECT_TRUE(IsWindowVisible(Dialog()));
    ASSERT_EQ(catcher.boxes().size(), 1u);
    EXPECT_EQ(catcher.boxes()[0].title, L"rivak");
    EXPECT_TRUE(catcher.boxes()[0].errorIcon);
    EXPECT_NE(catcher.boxes()[0].text.find(HomePageUrl()), std::wstring::npos);
}

// The real opener, with an address no browser takes: it says so.
TEST_F(VersionDialogTest, OpenHomePageReportsAnUnknownScheme) {
    EXPECT_FALSE(OpenHomePage(L"rivak-no-such-scheme:page"));
}

}  // namespace
}  // namespace rivak::ui
