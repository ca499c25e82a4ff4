// Form5 as the batch drives it, on a real (virtual) display.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/win32/unique_handle.h"
#include "ui/layout.h"
#include "ui/progress_window.h"

namespace rivak::ui {
namespace {

class ProgressWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no DISPLAY: the window needs an X server (Xvfb)";
    }
    HWND Created() {
        progress_.SetCounter(L"");
        if (!progress_.window()) ADD_FAILURE() << "the window was not created";
        return progress_.window();
    }
    static RECT ClientRectOf(HWND child) {
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    static std::wstring TextOf(HWND w) {
        wchar_t buffer[256] = {};
        GetWindowTextW(w, buffer, 256);
        return buffer;
    }
    // Pixels of `w` that differ from the button-face background.
    static int InkIn(HWND w) {
        RECT r;
        GetClientRect(w, &r);
        const win::WindowDc dc(w);
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        int ink = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) {
                const COLORREF c = GetPixel(dc.get(), x, y);
                if (c != CLR_INVALID && c != face) ++ink;
            }
        return ink;
    }

    ProgressWindow progress_{GetModuleHandleW(nullptr)};
};

TEST_F(ProgressWindowTest, MadeHiddenOnFirstUseOnly) {
    progress_.Hide();
    progress_.RepaintCounter();
    EXPECT_EQ(progress_.window(), nullptr) << "neither hide nor repaint makes the window";
    progress_.SetCounter(L"1");
    ASSERT_NE(progress_.window(), nullptr);
    EXPECT_FALSE(IsWindowVisible(progress_.window()));
    EXPECT_EQ(progress_.CounterText(), L"1");

    ProgressWindow shownFirst(GetModuleHandleW(nullptr));
    shownFirst.Show();
    ASSERT_NE(shownFirst.window(), nullptr);
    EXPECT_TRUE(IsWindowVisible(shownFirst.window()));
    EXPECT_EQ(shownFirst.CounterText(), L"") << "Label2 starts blank";
}

TEST_F(ProgressWindowTest, CaptionFrameAndLayout) {
    HWND w = Created();
    ASSERT_TRUE(w);
    EXPECT_EQ(TextOf(w), L"RIVAK 処理中．．．");
    const LONG style = GetWindowLongW(w, GWL_STYLE);
    for (LONG bit : {WS_CAPTION, WS_SYSMENU, WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX})
        EXPECT_EQ(style & bit, bit) << std::hex << bit;
    EXPECT_EQ(GetMenu(w), nullptr);
    EXPECT_EQ(GetParent(w), nullptr);
    EXPECT_EQ(GetWindow(w, GW_OWNER), nullptr);
    EXPECT_EQ(GetClassLongPtrW(w, GCLP_HICON), 0);
    EXPECT_EQ(SendMessageW(w, WM_GETICON, ICON_BIG, 0), 0);

    const UINT dpi = DpiOf(w);
    RECT client;
    GetClientRect(w, &client);
    EXPECT_NEAR(client.right, TwipsToPixels(2130, dpi), 1);
    EXPECT_NEAR(client.bottom, TwipsToPixels(450, dpi), 1);

    struct Row { ProgressWindow::ControlId id; TwipsRect at; const wchar_t* text; };
    const Row rows[] = {{ProgressWindow::kLabel1, {240, 120, 855, 255}, L"処理状況："},
                        {ProgressWindow::kLabel2, {1200, 120, 975, 255}, L""}};
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
    for (const Row& r : rows) {
        HWND label = progress_.label(r.id);
        ASSERT_TRUE(label) << r.id;
        wchar_t cls[32];
        GetClassNameW(label, cls, 32);
        EXPECT_STREQ(cls, L"Static");
        const LONG ls = GetWindowLongW(label, GWL_STYLE);
        EXPECT_EQ(ls & SS_TYPEMASK, SS_LEFT);
        EXPECT_EQ(ls & WS_TABSTOP, 0);
        EXPECT_EQ(TextOf(label), r.text);
        const RECT want = ToPixels(r.at, dpi), got = ClientRectOf(label);
        EXPECT_EQ(got.left, want.left);
        EXPECT_EQ(got.top, want.top);
        EXPECT_EQ(got.right, want.right);
        EXPECT_EQ(got.bottom, want.bottom);
        LOGFONTW font{};
        ASSERT_TRUE(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)), sizeof font, &font));
        EXPECT_STREQ(font.lfFaceName, metrics.lfMessageFont.lfFaceName);
    }

    // Centred on the work area.
    RECT outer;
    GetWindowRect(w, &outer);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(w, MONITOR_DEFAULTTOPRIMARY), &info));
    EXPECT_NEAR((outer.left + outer.right) / 2, (info.rcWork.left + info.rcWork.right) / 2, 2);
    EXPECT_NEAR((outer.top + outer.bottom) / 2, (info.rcWork.top + info.rcWork.bottom) / 2, 2);
}

TEST_F(ProgressWindowTest, CounterKeepsItsTextAcrossShowAndHide) {
    progress_.Show();
    progress_.SetCounter(L"1234");
    progress_.RepaintCounter();
    progress_.Hide();
    EXPECT_FALSE(IsWindowVisible(progress_.window()));
    progress_.Show();
    EXPECT_TRUE(IsWindowVisible(progress_.window()));
    EXPECT_EQ(progress_.CounterText(), L"1234");
    EXPECT_EQ(TextOf(progress_.label(ProgressWindow::kLabel2)), L"1234");
}

TEST_F(ProgressWindowTest, CloseBoxHidesAndKeepsTheWindow) {
    progress_.Show();
    HWND w = progress_.window();
    SendMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(IsWindow(w));
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_EQ(progress_.window(), w);
}

// The batch never returns to a message loop: the repaint alone must draw.
TEST_F(ProgressWindowTest, RepaintDrawsWithoutAMessageLoop) {
    progress_.Show();
    HWND w = progress_.window();
    HWND label1 = progress_.label(ProgressWindow::kLabel1), label2 = progress_.label(ProgressWindow::kLabel2);
    EXPECT_TRUE(GetUpdateRect(w, nullptr, FALSE) || GetUpdateRect(label1, nullptr, FALSE))
        << "a window just shown waits to be drawn";
    progress_.SetCounter(L"");
    progress_.RepaintCounter();
    EXPECT_FALSE(GetUpdateRect(w, nullptr, FALSE)) << "the rest of the window is drawn too";
    EXPECT_FALSE(GetUpdateRect(label1, nullptr, FALSE));
    EXPECT_GT(InkIn(label1), 20) << "Label1 is on the screen";
    const int blank = InkIn(label2);
    progress_.SetCounter(L"88888");
    progress_.RepaintCounter();
    EXPECT_FALSE(GetUpdateRect(label2, nullptr, FALSE));
    EXPECT_GT(InkIn(label2), blank + 20) << "the digits are on the screen";
}

// A batch of more than 5 s: the system must not take the window for hung,
// and no input may be handled before the batch ends.
TEST_F(ProgressWindowTest, LongBatchKeepsTheWindowAliveWithoutTakingInput) {
    progress_.Show();
    HWND w = progress_.window();
    MSG flush;
    while (PeekMessageW(&flush, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&flush);
    // Input waiting in the queue: the close box, which would hide the window.
    PostMessageW(w, WM_CLOSE, 0, 0);
    const ULONGLONG start = GetTickCount64();
    int n = 0;
    while (GetTickCount64() - start < 6500) {
        progress_.SetCounter(std::to_wstring(++n));
        progress_.RepaintCounter();
        Sleep(5);
    }
    EXPECT_FALSE(IsHungAppWindow(w)) << "taken for hung during the batch";
    EXPECT_TRUE(IsWindowVisible(w)) << "the queued close was handled during the batch";

    // The same thread without repaints: the check above must be able to fail.
    Sleep(6500);
    const bool hungWithout = IsHungAppWindow(w);

    MSG msg;
    bool closeStillQueued = false;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.hwnd == w && msg.message == WM_CLOSE) closeStillQueued = true;
        DispatchMessageW(&msg);
    }
    EXPECT_TRUE(closeStillQueued) << "the repaint removed input from the queue";
    if (!hungWithout) GTEST_SKIP() << "this system never reports a thread as hung; the first check proves nothing";
}

}  // namespace
}  // namespace rivak::ui
