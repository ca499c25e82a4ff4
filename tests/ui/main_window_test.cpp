// The main window as the user meets it: layout, focus order, menus, the pair
// rule through real clicks, the resize rule, the drop intake and the ways out.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/file_system_win.h"
#include "platform/win32/unique_handle.h"
#include "tests/ui/main_window_support.h"
#include "tests/ui/window_test_support.h"
#include "ui/dialog_window.h"
#include "ui/main_window.h"
#include "ui/progress_window.h"

namespace rivak::ui {
namespace {

using test::CountingProgress;
using test::MemoryDataObject;
using test::NoShortcuts;
using test::Pump;
using test::QuitPosted;
using test::RectInParent;
using test::TextOf;

class OleEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ok_ = SUCCEEDED(OleInitialize(nullptr)); }
    void TearDown() override {
        if (ok_) OleUninitialize();
    }

private:
    bool ok_ = false;
};
const auto* const kOle = ::testing::AddGlobalTestEnvironment(new OleEnvironment);


class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = std::make_unique<MainWindow>(shortcuts_, progress_, win::Win32FileSystemFactory());
        if (!window_->Create(GetModuleHandleW(nullptr)))
            GTEST_SKIP() << "the main window could not be created (no display?), error " << GetLastError();
        ShowWindow(window_->hwnd(), SW_SHOWNORMAL);
        UpdateWindow(window_->hwnd());
        Pump();
        dpi_ = GetDpiForWindow(window_->hwnd());
    }
    void TearDown() override {
        window_.reset();
        Pump();
        QuitPosted();
    }

    HWND Main() const { return window_->hwnd(); }
    HWND Ctl(MainWindow::ControlId id) const { return window_->control(id); }
    bool Checked(MainWindow::ControlId id) const {
        return SendMessageW(Ctl(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    void Click(MainWindow::ControlId id) {
        SendMessageW(Ctl(id), BM_CLICK, 0, 0);
        Pump();
    }

    NoShortcuts shortcuts_;
    CountingProgress progress_;
    std::unique_ptr<MainWindow> window_;
    UINT dpi_ = 96;
};

// ---- the window and its controls -------------------------------------------

TEST_F(MainWindowTest, WindowCaptionFrameClientSizeAndPlace) {
    EXPECT_EQ(TextOf(Main()), L"RIVAK ver 1.5");
    const LONG_PTR style = GetWindowLongPtrW(Main(), GWL_STYLE);
    for (LONG_PTR bit : {WS_CAPTION, WS_SYSMENU, WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX})
        EXPECT_EQ(style & bit, bit) << std::hex << bit;
    EXPECT_NE(GetMenu(Main()), nullptr);

    test::ExpectClientTwips(Main(), 3405, 2730, dpi_);
    RECT client{};
    GetClientRect(Main(), &client);
    if (dpi_ == 96) {
        EXPECT_EQ(client.right, 227);
        EXPECT_EQ(client.bottom, 182);
    }

    // Centred on the work area of its monitor (within a pixel of rounding).
    RECT outer{};
    GetWindowRect(Main(), &outer);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(Main(), MONITOR_DEFAULTTONEAREST), &monitor));
    const RECT& work = monitor.rcWork;
    EXPECT_NEAR(outer.left - work.left, work.right - outer.right, 1);
    EXPECT_NEAR(outer.top - work.top, work.bottom - outer.bottom, 1);
}

TEST_F(MainWindowTest, ProgramIconBigAndSmall) {
    for (WPARAM which : {ICON_BIG, ICON_SMALL}) {
        const auto icon = reinterpret_cast<HICON>(SendMessageW(Main(), WM_GETICON, which, 0));
        ASSERT_NE(icon, nullptr) << "icon " << which;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        const win::UniqueBitmap color(info.hbmColor), mask(info.hbmMask);
        const int expected = GetSystemMetricsForDpi(which == ICON_BIG ? SM_CXICON : SM_CXSMICON, dpi_);
        EXPECT_EQ(test::IconSize(icon).cx, expected);
        EXPECT_EQ(test::IconSize(icon).cy, expected);

        // The picture stands free: its top-left corner is transparent, its
        // middle is not.
        const win::UniqueDc dc(CreateCompatibleDC(nullptr));
        const win::SelectedObject selected(dc.get(), info.hbmMask);
        EXPECT_EQ(GetPixel(dc.get(), 0, 0), RGB(255, 255, 255)) << "corner under the mask";
        EXPECT_EQ(GetPixel(dc.get(), expected / 2, expected / 2), RGB(0, 0, 0)) << "middle drawn";
    }
}

// Icons at the new dpi after a move to another monitor, not those of the
// start-up dpi stretched by the system.
TEST_F(MainWindowTest, IconsAreLoadedAgainAtTheNewDpi) {
    for (UINT dpi : {144u, 192u, 96u}) {
        SCOPED_TRACE(testing::Message() << dpi << " dpi");
        test::SendDpiChange(Main(), dpi);
        for (auto [which, metric] : {std::pair{ICON_BIG, SM_CXICON}, std::pair{ICON_SMALL, SM_CXSMICON}}) {
            const auto icon = reinterpret_cast<HICON>(SendMessageW(Main(), WM_GETICON, which, 0));
            EXPECT_EQ(test::IconSize(icon).cx, GetSystemMetricsForDpi(metric, dpi)) << "icon " << which;
        }
    }
}

struct ControlCase {
    MainWindow::ControlId id;
    const wchar_t* className;
    const wchar_t* caption;
    int left, top, width, height;  // twips
    int pxLeft, pxTop, pxWidth, pxHeight;  // the same at 96 dpi
};

const ControlCase kControlCases[] = {
    {MainWindow::kCheck1, L"Button", L"読取専用解除", 120, 120, 1400, 300, 8, 8, 93, 20},
    {MainWindow::kCheck2, L"Button", L"読取専用設定", 1680, 120, 1400, 300, 112, 8, 93, 20},
    {MainWindow::kCheck4, L"Button", L"隠し属性解除", 120, 600, 1400, 300, 8, 40, 93, 20},
    {MainWindow::kCheck3, L"Button", L"隠し属性設定", 1680, 600, 1400, 300, 112, 40, 93, 20},
    {MainWindow::kCheck6, L"Button", L"フォルダの属性は変更しない", 120, 1080, 2535, 255, 8, 72, 169, 17},
    {MainWindow::kCheck5, L"Button", L"ショートカットファイルはリンク先を変更する", 120, 1440, 2535, 375, 8, 96, 169,
     25},
    {MainWindow::kLabel1, L"Static", L"ファイルは、ここへ Drop        \u2192", 120, 2040, 975, 495, 8, 136, 65, 33},
    {MainWindow::kFrame1, L"Button", L"", 1200, 1920, 1815, 615, 80, 128, 121, 41},
    {MainWindow::kLine1, L"Static", L"", -240, 0, 6120, 30, -16, 0, 408, 2},
};

TEST_F(MainWindowTest, EveryControlHasItsCaptionPlaceAndSize) {
    for (const ControlCase& c : kControlCases) {
        SCOPED_TRACE(testing::Message() << "control " << c.id);
        HWND child = Ctl(c.id);
        ASSERT_NE(child, nullptr);
        wchar_t className[64]{};
        GetClassNameW(child, className, 64);
        EXPECT_EQ(_wcsicmp(className, c.className), 0) << "class";
        EXPECT_EQ(TextOf(child), c.caption);
        EXPECT_TRUE(IsWindowVisible(child));

        test::ExpectPlacedAt(child, {c.left, c.top, c.width, c.height}, dpi_);
        const RECT r = RectInParent(child);
        if (dpi_ == 96) {
            EXPECT_EQ(r.left, c.pxLeft);
            EXPECT_EQ(r.top, c.pxTop);
            EXPECT_EQ(r.right - r.left, c.pxWidth);
            EXPECT_EQ(r.bottom - r.top, c.pxHeight);
        }
    }
}

TEST_F(MainWindowTest, MovingToAnotherDpiLaysTheControlsOutAgainInTwips) {
    // What the system sends when the window moves to a monitor of 144 dpi.
    const UINT dpi = 144;
    RECT before{};
    GetWindowRect(Main(), &before);
    const test::FontHandOverWatch watch(Main());
    test::SendDpiChange(Main(), dpi);
    for (const ControlCase& c : kControlCases) {
        SCOPED_TRACE(testing::Message() << "control " << c.id);
        test::ExpectPlacedAt(Ctl(c.id), {c.left, c.top, c.width, c.height}, dpi);
    }
    RECT now{};
    GetWindowRect(Main(), &now);
    EXPECT_EQ(now.right - now.left, MulDiv(before.right - before.left, 3, 2)) << "the suggested size";
    EXPECT_GE(watch.handOvers(), 8) << "every control with text was given the new font";
    EXPECT_EQ(watch.deadFonts(), 0) << "a control held a deleted font when the new one came";
    const LOGFONTW font = test::FontOf(Ctl(MainWindow::kCheck1));
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi));
    EXPECT_EQ(font.lfHeight, metrics.lfMessageFont.lfHeight) << "the message font of the new dpi";
}

TEST_F(MainWindowTest, ControlKindsAndEightBlanksBeforeTheArrow) {
    const auto style = [&](MainWindow::ControlId id) { return GetWindowLongPtrW(Ctl(id), GWL_STYLE); };
    for (auto id : {MainWindow::kCheck1, MainWindow::kCheck2, MainWindow::kCheck3, MainWindow::kCheck4,
                    MainWindow::kCheck5, MainWindow::kCheck6})
        EXPECT_EQ(style(id) & BS_TYPEMASK, BS_AUTOCHECKBOX) << id;
    EXPECT_EQ(style(MainWindow::kCheck5) & BS_MULTILINE, BS_MULTILINE);
    EXPECT_EQ(style(MainWindow::kFrame1) & BS_TYPEMASK, BS_GROUPBOX);
    EXPECT_EQ(style(MainWindow::kLabel1) & SS_TYPEMASK, SS_LEFT);
    EXPECT_EQ(style(MainWindow::kLine1) & SS_TYPEMASK, SS_ETCHEDHORZ);

    const std::wstring label = TextOf(Ctl(MainWindow::kLabel1));
    const auto drop = label.find(L"Drop");
    ASSERT_NE(drop, std::wstring::npos);
    EXPECT_EQ(label.substr(drop + 4), std::wstring(8, L' ') + L"\u2192");
}

TEST_F(MainWindowTest, EveryControlUsesTheMessageFont) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi_));
    HFONT first = nullptr;
    for (const ControlCase& c : kControlCases) {
        if (c.id == MainWindow::kLine1) continue;  // no text; an etched static keeps no font
        const auto font = reinterpret_cast<HFONT>(SendMessageW(Ctl(c.id), WM_GETFONT, 0, 0));
        ASSERT_NE(font, nullptr) << c.id;
        if (!first) first = font;
        EXPECT_EQ(font, first) << c.id;
    }
    LOGFONTW used{};
    ASSERT_TRUE(GetObjectW(first, sizeof used, &used));
    EXPECT_STREQ(used.lfFaceName, metrics.lfMessageFont.lfFaceName);
    EXPECT_EQ(used.lfHeight, metrics.lfMessageFont.lfHeight);
}

TEST_F(MainWindowTest, Check5CaptionWrapsOntoTwoLines) {
    // Measured the way the button draws it: the text box right of the glyph.
    HWND box = Ctl(MainWindow::kCheck5);
    const win::WindowDc windowDc(box);
    HDC dc = windowDc.get();
    const win::SelectedObject selected(dc, reinterpret_cast<HFONT>(SendMessageW(box, WM_GETFONT, 0, 0)));
    RECT client{};
    GetClientRect(box, &client);
    const int glyph = GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi_) + 4;
    RECT text{0, 0, client.right - glyph, 0};
    const std::wstring caption = TextOf(box);
    const int height = DrawTextW(dc, caption.c_str(), -1, &text, DT_CALCRECT | DT_WORDBREAK);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    EXPECT_EQ(height / tm.tmHeight, 2) << "line height " << tm.tmHeight << ", text height " << height;
}

TEST_F(MainWindowTest, InitialStatesAreTheDefaultOptions) {
    const struct {
        MainWindow::ControlId id;
        Option option;
        int value;
    } cases[] = {
        {MainWindow::kCheck1, Option::ClearReadOnly, 1}, {MainWindow::kCheck2, Option::SetReadOnly, 0},
        {MainWindow::kCheck3, Option::SetHidden, 0}, {MainWindow::kCheck4, Option::ClearHidden, 1},
        {MainWindow::kCheck5, Option::FollowShortcuts, 1}, {MainWindow::kCheck6, Option::LeaveFoldersAlone, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SendMessageW(Ctl(c.id), BM_GETCHECK, 0, 0), c.value) << c.id;
        EXPECT_EQ(window_->Value(c.option), c.value) << c.id;
    }
    EXPECT_TRUE(window_->engine().paths.empty());
}

TEST_F(MainWindowTest, OptionsAreReadFromTheBoxesAtTheMomentOfUse) {
    SendMessageW(Ctl(MainWindow::kCheck6), BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(window_->Value(Option::LeaveFoldersAlone), 1);
    SendMessageW(Ctl(MainWindow::kCheck6), BM_SETCHECK, BST_UNCHECKED, 0);
    EXPECT_EQ(window_->Value(Option::LeaveFoldersAlone), 0);
}

// ---- keyboard focus -----------------------------------------------------------

TEST_F(MainWindowTest, TabOrderCrossesTheLayout) {
    const MainWindow::ControlId order[] = {MainWindow::kCheck1, MainWindow::kCheck2, MainWindow::kCheck3,
                                           MainWindow::kCheck4, MainWindow::kCheck5, MainWindow::kCheck6,
                                           MainWindow::kCheck1};
    SetForegroundWindow(Main());
    SetFocus(Ctl(order[0]));
    for (std::size_t i = 1; i < std::size(order); ++i) {
        // The Tab key as the message loop hands it over.
        MSG down{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
        EXPECT_TRUE(TakeDialogKeys(down));
        MSG up{GetFocus(), WM_KEYUP, VK_TAB, 0, 0, {}};
        TakeDialogKeys(up);
        EXPECT_EQ(GetFocus(), Ctl(order[i])) << "after Tab number " << i;
        EXPECT_EQ(GetNextDlgTabItem(Main(), Ctl(order[i - 1]), FALSE), Ctl(order[i]));
    }
    for (auto id : {MainWindow::kLabel1, MainWindow::kFrame1, MainWindow::kLine1})
        EXPECT_EQ(GetWindowLongPtrW(Ctl(id), GWL_STYLE) & WS_TABSTOP, 0) << id;
}

TEST_F(MainWindowTest, TabAlsoWorksInTheModelessVersionDialog) {
    // The version dialog has no message loop of its own: the program's loop
    // hands its keys over, as it does the main window's.
    SendMessageW(Main(), WM_COMMAND, MAKEWPARAM(MainWindow::kVersion, 0), 0);
    Pump();
    HWND dialog = window_->versionDialogWindow();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(IsWindowVisible(dialog));
    EXPECT_TRUE(IsWindowEnabled(Main())) << "modeless: the main window stays usable";
    SetForegroundWindow(dialog);
    HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
    ASSERT_NE(first, nullptr);
    SetFocus(first);
    const HWND expected = GetNextDlgTabItem(dialog, first, FALSE);
    MSG down{first, WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_TRUE(TakeDialogKeys(down));
    EXPECT_EQ(GetFocus(), expected);
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    Pump();
}

// ---- menus --------------------------------------------------------------------

std::wstring MenuText(HMENU menu, UINT position) {
    wchar_t text[128]{};
    GetMenuStringW(menu, position, text, 128, MF_BYPOSITION);
    return text;
}

TEST_F(MainWindowTest, MenuBarMenusAndItems) {
    const struct {
        const wchar_t* caption;
        std::vector<std::pair<const wchar_t*, int>> items;
    } menus[] = {
        {L"ファイル", {{L"閉じる", MainWindow::kCloseForm}}},
        {L"その他", {{L"ショートカットの作成", MainWindow::kMakeLink}}},
        {L"ヘルプ", {{L"ヘルプを見る", MainWindow::kOpenHelp}, {L"バージョン情報", MainWindow::kVersion}}},
    };
    HMENU bar = GetMenu(Main());
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(GetMenuItemCount(bar), 3);
    for (UINT m = 0; m < 3; ++m) {
        EXPECT_EQ(MenuText(bar, m), menus[m].caption);
        HMENU sub = GetSubMenu(bar, static_cast<int>(m));
        ASSERT_NE(sub, nullptr);
        ASSERT_EQ(GetMenuItemCount(sub), static_cast<int>(menus[m].items.size()));
        for (UINT i = 0; i < menus[m].items.size(); ++i) {
            EXPECT_EQ(MenuText(sub, i), menus[m].items[i].first);
            EXPECT_EQ(GetMenuItemID(sub, static_cast<int>(i)), static_cast<UINT>(menus[m].items[i].second));
            const UINT state = GetMenuState(sub, i, MF_BYPOSITION);
            EXPECT_EQ(state & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED | MF_CHECKED), 0u) << MenuText(sub, i);
        }
    }
}

// ---- the pair rule --------------------------------------------------------------

TEST_F(MainWindowTest, PairRuleThroughClicks) {
    using W = MainWindow;
    const struct {
        const char* name;
        std::vector<W::ControlId> clicks;
        bool expected[6];  // Check1..Check6 afterwards
    } cases[] = {
        {"defaults", {}, {1, 0, 0, 1, 1, 0}},
        {"Check2 clears Check1", {W::kCheck2}, {0, 1, 0, 1, 1, 0}},
        {"unchecking Check2 leaves Check1 off", {W::kCheck2, W::kCheck2}, {0, 0, 0, 1, 1, 0}},
        {"Check1 back on clears Check2", {W::kCheck2, W::kCheck1}, {1, 0, 0, 1, 1, 0}},
        {"unchecking Check1 touches nothing", {W::kCheck1}, {0, 0, 0, 1, 1, 0}},
        {"Check3 clears Check4", {W::kCheck3}, {1, 0, 1, 0, 1, 0}},
        {"Check4 clears Check3, no ping-pong", {W::kCheck3, W::kCheck4}, {1, 0, 0, 1, 1, 0}},
        {"unchecking Check4 touches nothing", {W::kCheck4}, {1, 0, 0, 0, 1, 0}},
        {"pairs are independent", {W::kCheck2, W::kCheck3}, {0, 1, 1, 0, 1, 0}},
        {"Check5 has no partner", {W::kCheck5}, {1, 0, 0, 1, 0, 0}},
        {"Check6 has no partner", {W::kCheck6}, {1, 0, 0, 1, 1, 1}},
    };
    const W::ControlId boxes[] = {W::kCheck1, W::kCheck2, W::kCheck3, W::kCheck4, W::kCheck5, W::kCheck6};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (int i = 0; i < 6; ++i)
            SendMessageW(Ctl(boxes[i]), BM_SETCHECK, DefaultValue(static_cast<Option>(i)), 0);
        for (auto id : c.clicks) Click(id);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(Checked(boxes[i]), c.expected[i]) << "Check" << i + 1;
    }
}

TEST_F(MainWindowTest, PairRuleThroughMouseButtons) {
    // Press and release over the box, as the mouse does it.
    HWND box = Ctl(MainWindow::kCheck2);
    RECT r{};
    GetClientRect(box, &r);
    const LPARAM centre = MAKELPARAM(r.right / 2, r.bottom / 2);
    SendMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, centre);
    SendMessageW(box, WM_LBUTTONUP, 0, centre);
    Pump();
    EXPECT_TRUE(Checked(MainWindow::kCheck2));
    EXPECT_FALSE(Checked(MainWindow::kCheck1));
}

// ---- the resize rule -------------------------------------------------------------

TEST_F(MainWindowTest, MaximisingIsUndoneAtOnce) {
    RECT normal{};
    GetWindowRect(Main(), &normal);
    const struct {
        const char* how;
        void (*maximise)(HWND);
    } ways[] = {
        {"ShowWindow", [](HWND h) { ShowWindow(h, SW_MAXIMIZE); }},
        {"system command", [](HWND h) { SendMessageW(h, WM_SYSCOMMAND, SC_MAXIMIZE, 0); }},
        {"ShowWindow shown maximised", [](HWND h) { ShowWindow(h, SW_SHOWMAXIMIZED); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        way.maximise(Main());
        EXPECT_FALSE(IsZoomed(Main())) << "right after the call";
        Pump();
        EXPECT_FALSE(IsZoomed(Main()));
        RECT now{};
        GetWindowRect(Main(), &now);
        EXPECT_EQ(now.left, normal.left);
        EXPECT_EQ(now.top, normal.top);
        EXPECT_EQ(now.right, normal.right);
        EXPECT_EQ(now.bottom, normal.bottom);
    }
}

TEST_F(MainWindowTest, MinimiseAndRestoreWorkAsUsual) {
    RECT normal{};
    GetWindowRect(Main(), &normal);
    ShowWindow(Main(), SW_MINIMIZE);
    Pump();
    EXPECT_TRUE(IsIconic(Main()));
    ShowWindow(Main(), SW_RESTORE);
    Pump();
    EXPECT_FALSE(IsIconic(Main()));
    EXPECT_FALSE(IsZoomed(Main()));
    RECT now{};
    GetWindowRect(Main(), &now);
    EXPECT_EQ(now.right - now.left, normal.right - normal.left);
    EXPECT_EQ(now.bottom - now.top, normal.bottom - normal.top);

    // The frame still resizes, and the controls stay where they were.
    const RECT before = RectInParent(Ctl(MainWindow::kCheck5));
    SetWindowPos(Main(), nullptr, 0, 0, normal.right - normal.left + 80, normal.bottom - normal.top + 60,
                 SWP_NOMOVE | SWP_NOZORDER);
    Pump();
    GetWindowRect(Main(), &now);
    EXPECT_EQ(now.right - now.left, normal.right - normal.left + 80);
    const RECT after = RectInParent(Ctl(MainWindow::kCheck5));
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.right, before.right);
}

// ---- the ways out -----------------------------------------------------------------

TEST_F(MainWindowTest, EveryWayOfClosingEndsTheProgram) {
    const struct {
        const char* how;
        void (*close)(HWND);
    } ways[] = {
        {"menu Close", [](HWND h) { SendMessageW(h, WM_COMMAND, MAKEWPARAM(MainWindow::kCloseForm, 0), 0); }},
        {"close box", [](HWND h) { SendMessageW(h, WM_CLOSE, 0, 0); }},
        {"system menu Close", [](HWND h) { SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        window_ = std::make_unique<MainWindow>(shortcuts_, progress_, win::Win32FileSystemFactory());
        ASSERT_TRUE(window_->Create(GetModuleHandleW(nullptr)));
        ShowWindow(window_->hwnd(), SW_SHOWNORMAL);
        const HWND hwnd = window_->hwnd();
        // The version dialog is open: it goes with the main window.
        SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(MainWindow::kVersion, 0), 0);
        const HWND version = window_->versionDialogWindow();
        ASSERT_TRUE(IsWindowVisible(version));
        way.close(hwnd);
        EXPECT_FALSE(IsWindow(hwnd));
        EXPECT_FALSE(IsWindow(version)) << "the version dialog stayed";
        EXPECT_FALSE(window_->dropRegistered());
        EXPECT_TRUE(QuitPosted());
    }
}

// The dialogs are the main window's: made on first use, and gone with it,
// before the program's apartments end.
TEST_F(MainWindowTest, DialogsAreMadeOnFirstUseAndGoWithTheMainWindow) {
    EXPECT_EQ(window_->versionDialogWindow(), nullptr);
    EXPECT_EQ(window_->shortcutDialogWindow(), nullptr);
    SendMessageW(Main(), WM_COMMAND, MAKEWPARAM(MainWindow::kVersion, 0), 0);
    const HWND version = window_->versionDialogWindow();
    ASSERT_NE(version, nullptr);
    SendMessageW(Main(), WM_COMMAND, MAKEWPARAM(MainWindow::kVersion, 0), 0);
    EXPECT_EQ(window_->versionDialogWindow(), version) << "one dialog";
    window_.reset();
    EXPECT_FALSE(IsWindow(version));
}

// ---- the drop intake ---------------------------------------------------------------

// Files in a fresh folder under the temporary folder, gone afterwards.
class TempFiles {
public:
    explicit TempFiles(const std::vector<std::wstring>& names) {
        for (const auto& name : names) paths_.push_back(folder_.AddFile(name));
    }
    const std::vector<std::wstring>& paths() const { return paths_; }
    std::wstring folder() const { return folder_.path().wstring(); }
    void SetAll(DWORD attributes) const {
        for (const auto& p : paths_) SetFileAttributesW(p.c_str(), attributes);
    }

private:
    test::TempFolder folder_{L"rivak-mw"};
    std::vector<std::wstring> paths_;
};

constexpr DWORD RO = FILE_ATTRIBUTE_READONLY, H = FILE_ATTRIBUTE_HIDDEN;

// Long paths too.
DWORD ReadOnlyAndHidden(const std::wstring& path) {
    return GetFileAttributesW((L"\\\\?\\" + path).c_str()) & (RO | H);
}

TEST_F(MainWindowTest, DropEffectIsNeverMove) {
    const struct {
        DWORD allowed, told;
    } cases[] = {
        {DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK, DROPEFFECT_COPY},
        {DROPEFFECT_COPY, DROPEFFECT_COPY},
        {DROPEFFECT_MOVE | DROPEFFECT_LINK, DROPEFFECT_LINK},
        {DROPEFFECT_MOVE, DROPEFFECT_NONE},
        {DROPEFFECT_NONE, DROPEFFECT_NONE},
    };
    auto data = MemoryDataObject::Files({L"C:\\nowhere\\a.txt"});
    IDropTarget* target = window_->dropTarget();
    ASSERT_NE(target, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "allowed " << c.allowed);
        DWORD effect = c.allowed;
        ASSERT_EQ(target->DragEnter(data.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
        EXPECT_EQ(effect, c.told);
        effect = c.allowed;
        ASSERT_EQ(target->DragOver(MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
        EXPECT_EQ(effect, c.told);
        effect = c.allowed;
        ASSERT_EQ(target->Drop(data.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
        EXPECT_EQ(effect, c.told);
    }
}

TEST_F(MainWindowTest, DropOfThreeFilesReplacesTheListAndRunsOneBatch) {
    TempFiles files({L"A.txt", L"B.txt", L"C.txt"});
    files.SetAll(RO | H);
    // Reverse order in the drop data: the rows follow the data, not the names.
    const std::vector<std::wstring> dropped{files.paths()[2], files.paths()[0], files.paths()[1]};
    window_->engine().paths = {L"C:\\old\\one", L"", L"C:\\old\\two"};

    auto data = MemoryDataObject::Files(dropped);
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    IDropTarget* target = window_->dropTarget();
    ASSERT_EQ(target->DragEnter(data.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    ASSERT_EQ(target->Drop(data.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    EXPECT_EQ(progress_.shows, 0) << "Drop returns before its batch starts";
    for (const auto& p : files.paths()) EXPECT_EQ(ReadOnlyAndHidden(p), static_cast<DWORD>(RO | H));
    Pump();

    EXPECT_EQ(window_->engine().paths, dropped);
    EXPECT_EQ(progress_.shows, 1);
    EXPECT_EQ(progress_.hides, 1);
    EXPECT_EQ(window_->engine().ProcessedCount(), 3);
    for (const auto& p : files.paths()) {
        EXPECT_EQ(ReadOnlyAndHidden(p), 0u) << std::filesystem::path(p).filename().string();
        EXPECT_TRUE(std::filesystem::exists(p)) << "the drop left the file where it was";
    }
    EXPECT_EQ(progress_.lastCounter, L"3");
}

TEST_F(MainWindowTest, DropReturnsBeforeTheProgressWindowIsShown) {
    // The shipped progress window this time: not even made when Drop returns.
    ProgressWindow progress(GetModuleHandleW(nullptr));
    MainWindow window(shortcuts_, progress, win::Win32FileSystemFactory());
    ASSERT_TRUE(window.Create(GetModuleHandleW(nullptr)));
    TempFiles files({L"one.txt", L"two.txt", L"three.txt"});
    files.SetAll(RO | H);
    auto data = MemoryDataObject::Files(files.paths());
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
    ASSERT_EQ(window.dropTarget()->Drop(data.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
    EXPECT_TRUE(!progress.window() || !IsWindowVisible(progress.window())) << "shown before Drop returned";
    for (const auto& p : files.paths()) EXPECT_EQ(ReadOnlyAndHidden(p), static_cast<DWORD>(RO | H));

    Pump();
    ASSERT_NE(progress.window(), nullptr) << "the batch ran from the message loop";
    EXPECT_FALSE(IsWindowVisible(progress.window()));
    EXPECT_EQ(progress.CounterText(), L"3");
    for (const auto& p : files.paths()) EXPECT_EQ(ReadOnlyAndHidden(p), 0u);
}

// A drop from another process waits for its source to let go of the target
// (a release COM tells the window's filter of), 250 ms at most; a drop made
// on this thread runs at once.
TEST_F(MainWindowTest, DropFromAnotherProcessWaitsForItsSourceToLetGo) {
    IMessageFilter* calls = window_->incomingCalls();
    ASSERT_NE(calls, nullptr);
    constexpr GUID kRemUnknown = {0x00000131, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    INTERFACEINFO drop{window_->dropTarget(), IID_IDropTarget, 6}, release{nullptr, kRemUnknown, 5};
    const struct {
        const char* what;
        bool remote, letGo;
    } cases[] = {{"from this thread", false, false},
                 {"from another process, which lets go", true, true},
                 {"from another process, which holds on", true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFiles files({L"dropped.txt"});
        files.SetAll(RO | H);
        auto data = MemoryDataObject::Files(files.paths());
        const int before = progress_.shows;
        const auto start = std::chrono::steady_clock::now();
        if (c.remote) {
            EXPECT_EQ(calls->HandleInComingCall(CALLTYPE_TOPLEVEL, nullptr, 0, &drop), SERVERCALL_ISHANDLED);
        }
        DWORD effect = DROPEFFECT_COPY;
        ASSERT_EQ(window_->dropTarget()->Drop(data.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
        Pump();
        EXPECT_EQ(progress_.shows, before + (c.remote ? 0 : 1)) << "a held source would wait for this batch";
        if (c.letGo) {
            calls->HandleInComingCall(CALLTYPE_TOPLEVEL, nullptr, 0, &release);
            Pump();
            EXPECT_EQ(progress_.shows, before + 1) << "the batch runs once the release is served";
        }
        ASSERT_TRUE(test::PumpUntil([&] { return progress_.shows == before + 1; }, std::chrono::seconds(5)));
        if (c.remote && !c.letGo) {
            EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(MainWindow::kSourceWaitMs));
        }
        EXPECT_EQ(window_->engine().paths, files.paths());
        EXPECT_EQ(ReadOnlyAndHidden(files.paths()[0]), 0u);
    }
}

// Drops that come before the previous drop's batch has run, or while it
// runs: one batch each, in drop order, each over its own files, and the path
// list of a running batch never changes.
TEST_F(MainWindowTest, EveryDropRunsOneBatchOverItsOwnFiles) {
    TempFiles a({L"a1.txt", L"a2.txt"}), b({L"b.txt"}), c({L"c1.txt", L"c2.txt", L"c3.txt"});
    for (const TempFiles* f : {&a, &b, &c}) f->SetAll(RO | H);
    auto dropA = MemoryDataObject::Files(a.paths());
    auto dropB = MemoryDataObject::Files(b.paths());
    auto dropC = MemoryDataObject::Files(c.paths());
    IDropTarget* target = window_->dropTarget();
    std::vector<std::vector<std::wstring>> atShow, atHide;
    std::vector<std::int64_t> counts;
    progress_.onShow = [&] {
        atShow.push_back(window_->engine().paths);
        // A drop while the first batch runs.
        if (atShow.size() == 1) {
            DWORD effect = DROPEFFECT_COPY;
            EXPECT_EQ(target->Drop(dropC.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
        }
    };
    progress_.onHide = [&] {
        atHide.push_back(window_->engine().paths);
        counts.push_back(window_->engine().ProcessedCount());
    };
    DWORD effect = DROPEFFECT_COPY;
    ASSERT_EQ(target->Drop(dropA.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    ASSERT_EQ(target->Drop(dropB.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    EXPECT_EQ(progress_.shows, 0);
    Pump();

    const std::vector<std::vector<std::wstring>> want{a.paths(), b.paths(), c.paths()};
    EXPECT_EQ(progress_.shows, 3);
    EXPECT_EQ(progress_.hides, 3);
    EXPECT_EQ(atShow, want);
    EXPECT_EQ(atHide, want) << "a batch's list stays as it was while it runs";
    EXPECT_EQ(counts, (std::vector<std::int64_t>{2, 1, 3}));
    for (const TempFiles* f : {&a, &b, &c})
        for (const auto& p : f->paths()) EXPECT_EQ(ReadOnlyAndHidden(p), 0u);
    Pump();
    EXPECT_EQ(progress_.shows, 3) << "no batch without a drop";
}

TEST_F(MainWindowTest, DropOfTextRunsTheBatchAgainOverThePreviousRowsWithTodaysOptions) {
    TempFiles files({L"one.txt", L"two.txt"});
    files.SetAll(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    auto fileDrop = MemoryDataObject::Files(files.paths());
    DWORD effect = DROPEFFECT_COPY;
    ASSERT_EQ(window_->dropTarget()->Drop(fileDrop.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    Pump();
    ASSERT_EQ(progress_.shows, 1);

    // Back to read-only and hidden; now only the hidden bit is to go.
    files.SetAll(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    Click(MainWindow::kCheck1);
    ASSERT_FALSE(Checked(MainWindow::kCheck1));

    auto text = MemoryDataObject::Text(L"not a file list");
    effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    ASSERT_EQ(window_->dropTarget()->DragEnter(text.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
    ASSERT_EQ(window_->dropTarget()->Drop(text.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    Pump();

    EXPECT_EQ(window_->engine().paths, files.paths());
    EXPECT_EQ(progress_.shows, 2);
    EXPECT_EQ(progress_.hides, 2);
    EXPECT_EQ(window_->engine().ProcessedCount(), 2) << "each batch counts from 0";
    for (const auto& p : files.paths()) EXPECT_EQ(ReadOnlyAndHidden(p), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

TEST_F(MainWindowTest, DropOfTextRightAfterStartRunsAnEmptyBatch) {
    auto text = MemoryDataObject::Text(L"hello");
    DWORD effect = DROPEFFECT_COPY;
    ASSERT_EQ(window_->dropTarget()->Drop(text.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    Pump();
    EXPECT_TRUE(window_->engine().paths.empty());
    EXPECT_EQ(progress_.shows, 1);
    EXPECT_EQ(progress_.hides, 1);
    EXPECT_EQ(progress_.counters, 0);
}

TEST_F(MainWindowTest, DropKeepsLongPathsWholeAndEveryRowPastThe16BitLimit) {
    // Paths longer than MAX_PATH, and more rows than a 16-bit count holds.
    const std::wstring longPath = L"C:\\rivak-nowhere\\" + std::wstring(400, L'x') + L"\\end.txt";
    std::vector<std::wstring> dropped{longPath};
    for (int i = 0; i < 32800; ++i) dropped.push_back(L"C:\\rivak-nowhere\\f" + std::to_wstring(i));
    auto data = MemoryDataObject::Files(dropped);
    DWORD effect = DROPEFFECT_COPY;
    ASSERT_EQ(window_->dropTarget()->Drop(data.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    Pump();
    ASSERT_EQ(window_->engine().paths.size(), dropped.size());
    EXPECT_EQ(window_->engine().paths.front(), longPath);
    EXPECT_EQ(window_->engine().paths, dropped);
    EXPECT_EQ(progress_.shows, 1);
}

TEST_F(MainWindowTest, BatchThatThrowsIsReportedAndTheWindowCarriesOn) {
    progress_.throwOnShow = true;
    // Someone has to press OK on the message box: a watcher thread reads it.
    std::atomic<bool> found{false};
    std::wstring title, text;
    std::thread watcher([&] {
        for (int i = 0; i < 200 && !found; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            HWND box = FindWindowW(L"#32770", L"rivak");
            if (!box) continue;
            title = TextOf(box);
            text = TextOf(GetDlgItem(box, 0xFFFF));
            found = true;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    });
    auto data = MemoryDataObject::Text(L"x");
    DWORD effect = DROPEFFECT_COPY;
    const HRESULT hr = window_->dropTarget()->Drop(data.get(), MK_LBUTTON, POINTL{0, 0}, &effect);
    Pump();
    watcher.join();
    EXPECT_EQ(hr, S_OK);
    ASSERT_TRUE(found) << "no message box titled rivak";
    EXPECT_EQ(title, L"rivak");
    EXPECT_NE(text.find(L"中止"), std::wstring::npos) << "message: " << std::filesystem::path(text).string();
    EXPECT_EQ(progress_.hides, 1) << "the progress window went away";

    // The next drop runs normally.
    progress_.throwOnShow = false;
    ASSERT_EQ(window_->dropTarget()->Drop(data.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    Pump();
    EXPECT_EQ(progress_.shows, 2);
    EXPECT_TRUE(IsWindow(Main()));
}

// ---- drops of a Shell IDList Array ------------------------------------------------

using UniquePidl = win::UniqueCoTaskMem<ITEMIDLIST>;

UniquePidl PidlOf(const std::wstring& path) {
    PIDLIST_ABSOLUTE pidl = nullptr;
    SHParseDisplayName(path.c_str(), nullptr, &pidl, 0, nullptr);
    return UniquePidl(pidl);
}

// The items of a folder as the shell lists them (as Explorer puts them in a
// drop), by name: the way to an ID list for an item past MAX_PATH.
std::vector<std::pair<std::wstring, UniquePidl>> ItemsOf(PCIDLIST_ABSOLUTE folderPidl) {
    std::vector<std::pair<std::wstring, UniquePidl>> items;
    win::ComPtr<IShellFolder> folder;
    if (FAILED(SHBindToObject(nullptr, folderPidl, nullptr, IID_IShellFolder, folder.put_void()))) return items;
    win::ComPtr<IEnumIDList> list;
    if (folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, list.put()) != S_OK)
        return items;
    PITEMID_CHILD child = nullptr;
    while (list->Next(1, &child, nullptr) == S_OK) {
        UniquePidl owned(child);
        STRRET name{};
        PWSTR text = nullptr;
        if (SUCCEEDED(folder->GetDisplayNameOf(child, SHGDN_INFOLDER | SHGDN_FORPARSING, &name)) &&
            SUCCEEDED(StrRetToStrW(&name, child, &text))) {
            items.emplace_back(text, std::move(owned));
            CoTaskMemFree(text);
        }
    }
    return items;
}

TEST_F(MainWindowTest, ShellIdListDropTakesFullPathsInOrderPastMaxPath) {
    TempFiles base(std::vector<std::wstring>{});
    // A folder whose path is near MAX_PATH, so its items' paths go past it.
    const std::wstring folder = base.folder() + L"\\" + std::wstring(230 - base.folder().size(), L'p');
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const std::wstring longName = std::wstring(100, L'L') + L".txt";
    const std::wstring names[] = {L"third.txt", longName, L"first.txt"};
    std::vector<std::wstring> paths;
    for (const auto& name : names) {
        paths.push_back(folder + L"\\" + name);
        win::UniqueFile file(CreateFileW((L"\\\\?\\" + paths.back()).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         RO | H, nullptr));
        ASSERT_TRUE(file) << "file " << paths.size();
    }
    ASSERT_GT(paths[1].size(), 300u);
    struct Remove {
        const std::vector<std::wstring>& paths;
        ~Remove() {
            for (const auto& p : paths) {
                SetFileAttributesW((L"\\\\?\\" + p).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW((L"\\\\?\\" + p).c_str());
            }
        }
    } remove{paths};

    const UniquePidl parent = PidlOf(folder);
    ASSERT_TRUE(parent);
    auto items = ItemsOf(parent.get());
    std::vector<PCUIDLIST_RELATIVE> order;
    for (const auto& name : names)
        for (const auto& [itemName, pidl] : items)
            if (itemName == name) order.push_back(pidl.get());
    ASSERT_EQ(order.size(), 3u) << "the shell lists the folder's three files";

    auto data = MemoryDataObject::ShellIdList(parent.get(), order);
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    ASSERT_EQ(window_->dropTarget()->Drop(data.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
    Pump();
    EXPECT_EQ(window_->engine().paths, paths) << "whole paths, in the order of the drop";
    EXPECT_EQ(window_->engine().ProcessedCount(), 3);
    for (const auto& p : paths) EXPECT_EQ(ReadOnlyAndHidden(p), 0u) << p.size() << " characters";
}

// Items outside the file system (Control Panel) are left out; a drop of
// only such items is no file list, and the previous one is run again.
TEST_F(MainWindowTest, ShellIdListLeavesOutItemsWithoutAFileSystemPath) {
    TempFiles files({L"a.txt", L"b.txt"});
    files.SetAll(RO | H);
    PIDLIST_ABSOLUTE raw = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &raw), S_OK);
    const UniquePidl desktop(raw);
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_CONTROLS, &raw), S_OK);
    const UniquePidl controls(raw);
    const UniquePidl a = PidlOf(files.paths()[0]), b = PidlOf(files.paths()[1]);
    ASSERT_TRUE(a && b);

    // Items of the desktop: their lists are the absolute ones.
    auto mixed = MemoryDataObject::ShellIdList(desktop.get(), {a.get(), controls.get(), b.get()});
    DWORD effect = DROPEFFECT_COPY;
    ASSERT_EQ(window_->dropTarget()->Drop(mixed.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    Pump();
    EXPECT_EQ(window_->engine().paths, files.paths());
    EXPECT_EQ(progress_.shows, 1);
    for (const auto& p : files.paths()) EXPECT_EQ(ReadOnlyAndHidden(p), 0u);

    files.SetAll(RO | H);
    auto none = MemoryDataObject::ShellIdList(desktop.get(), {controls.get()});
    ASSERT_EQ(window_->dropTarget()->Drop(none.get(), MK_LBUTTON, POINTL{0, 0}, &effect), S_OK);
    Pump();
    EXPECT_EQ(window_->engine().paths, files.paths()) << "no file-system item: the list stays";
    EXPECT_EQ(progress_.shows, 2) << "and the batch runs again over it";
    for (const auto& p : files.paths()) EXPECT_EQ(ReadOnlyAndHidden(p), 0u);
}

// A thread without OLE: the frame cannot be registered, yet the window
// opens, and says that drops will not work.
TEST_F(MainWindowTest, RefusedDropRegistrationIsToldAndTheWindowStillOpens) {
    bool created = false, registered = true, visible = false;
    std::vector<test::CaughtBox> boxes;
    std::thread([&] {
        test::MessageBoxCatcher catcher;
        NoShortcuts shortcuts;
        CountingProgress progress;
        MainWindow window(shortcuts, progress, win::Win32FileSystemFactory());
        created = window.Create(GetModuleHandleW(nullptr));
        if (!created) return;
        registered = window.dropRegistered();
        window.Open(SW_SHOWNORMAL);
        visible = IsWindowVisible(window.hwnd()) != FALSE;
        boxes = catcher.boxes();
        Pump();
    }).join();
    ASSERT_TRUE(created);
    EXPECT_FALSE(registered);
    EXPECT_TRUE(visible);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, L"rivak");
    EXPECT_TRUE(boxes[0].onlyOk);
    EXPECT_NE(boxes[0].text.find(L"ドロップ"), std::wstring::npos);

    // Where OLE is ready, Open shows the window and says nothing.
    test::MessageBoxCatcher catcher;
    ASSERT_TRUE(window_->dropRegistered());
    window_->Open(SW_SHOWNORMAL);
    EXPECT_TRUE(catcher.boxes().empty());
}

// ---- a real drag and drop through OLE ----------------------------------------------

TEST_F(MainWindowTest, OleDragAndDropReachesFrame1Only) {
    ASSERT_TRUE(window_->dropRegistered());
    TempFiles files({L"dragged.txt"});
    files.SetAll(FILE_ATTRIBUTE_HIDDEN);
    SetForegroundWindow(Main());
    SetWindowPos(Main(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    Pump();

    const struct {
        const char* where;
        MainWindow::ControlId over;
        bool taken;
    } cases[] = {{"on Label1", MainWindow::kLabel1, false}, {"on Frame1", MainWindow::kFrame1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        RECT r{};
        GetWindowRect(Ctl(c.over), &r);
        SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        POINT at{};
        GetCursorPos(&at);
        if (at.x != (r.left + r.right) / 2) GTEST_SKIP() << "the pointer cannot be placed on this display";
        const int showsBefore = progress_.shows;
        auto data = MemoryDataObject::Files(files.paths());
        test::TimedDropSource source;
        DWORD effect = DROPEFFECT_NONE;
        const HRESULT hr = DoDragDrop(data.get(), &source, DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK,
                                      &effect);
        EXPECT_EQ(progress_.shows, showsBefore) << "no batch inside DoDragDrop";
        Pump();
        EXPECT_NE(effect, static_cast<DWORD>(DROPEFFECT_MOVE));
        if (c.taken) {
            EXPECT_EQ(hr, DRAGDROP_S_DROP);
            EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
            EXPECT_EQ(progress_.shows, showsBefore + 1);
            EXPECT_EQ(window_->engine().paths, files.paths());
            EXPECT_EQ(ReadOnlyAndHidden(files.paths()[0]), 0u);
        } else {
            EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
            EXPECT_EQ(progress_.shows, showsBefore) << "a drop beside the frame does nothing";
            EXPECT_TRUE(window_->engine().paths.empty());
        }
    }
}

}  // namespace
}  // namespace rivak::ui
