// Form5 as the batch drives it, on a real (virtual) display.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/unique_handle.h"
#include "tests/engine/test_support.h"
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
    Sleep(20);  // a frame later: the counter is drawn at display speed
    progress_.SetCounter(L"88888");
    progress_.RepaintCounter();
    EXPECT_FALSE(GetUpdateRect(label2, nullptr, FALSE));
    EXPECT_GT(InkIn(label2), blank + 20) << "the digits are on the screen";
}

// ---- the counter as a batch draws it -------------------------------------------

// The engine and the shipped window over an in-memory tree whose writes can
// be slowed down. Label2 is watched: every text it is given, every paint, and
// every question another thread asks it (answered only when the batch checks
// its queue) is logged with the engine's count at that moment. (Wine's label
// draws a new text at once, inside WM_SETTEXT; Windows' paints it later.)
class CounterTest : public ProgressWindowTest {
protected:
    static constexpr UINT kAsk = WM_APP + 7;
    struct Seen {
        std::wstring text;
        std::int64_t count;
    };

    void SetUp() override {
        ProgressWindowTest::SetUp();
        if (IsSkipped()) return;
        progress_.SetCounter(L"");
        ASSERT_TRUE(SetWindowSubclass(progress_.label(ProgressWindow::kLabel2), &Watch, 1,
                                      reinterpret_cast<DWORD_PTR>(this)));
    }
    void TearDown() override {
        if (progress_.window()) RemoveWindowSubclass(progress_.label(ProgressWindow::kLabel2), &Watch, 1);
    }

    static LRESULT CALLBACK Watch(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR self) {
        auto* test = reinterpret_cast<CounterTest*>(self);
        if (msg == WM_SETTEXT && lp)
            test->texts.push_back({reinterpret_cast<const wchar_t*>(lp), test->engine_.ProcessedCount()});
        if (msg == WM_PAINT) test->paints.push_back({TextOf(hwnd), test->engine_.ProcessedCount()});
        if (msg == kAsk) {
            test->answers.push_back({TextOf(hwnd), test->engine_.ProcessedCount()});
            return 1;
        }
        return DefSubclassProc(hwnd, msg, wp, lp);
    }

    std::vector<Path> Files(int n) {
        std::vector<Path> list;
        for (int i = 0; i < n; ++i) {
            list.push_back(testing_support::P(L"f" + std::to_wstring(serial_++)));
            fs_.AddFile(list.back(), attr::kReadOnly | attr::kHidden);
        }
        return list;
    }
    void Run(std::vector<Path> list) {
        engine_.paths = std::move(list);
        engine_.RunBatch();
    }

    MemoryFileSystem fs_;
    DefaultOptions options_;
    std::function<void()> onWrite_ = [] {};
    AttributeEngine engine_{options_, fs_.Shortcuts(), progress_, [this] {
                                return std::make_unique<testing_support::HookedWrites>(fs_.Open(),
                                                                                       [this] { onWrite_(); });
                            }};
    std::vector<Seen> texts, paints, answers;
    int serial_ = 0;
};

TEST_F(CounterTest, BatchOf1234LeavesExactly1234AndTheNextStartsAt1) {
    Run(Files(1234));
    EXPECT_EQ(progress_.CounterText(), L"1234");
    EXPECT_FALSE(IsWindowVisible(progress_.window()));
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front().text, L"1");
    EXPECT_EQ(texts.back().text, L"1234");
    EXPECT_LT(texts.size(), 1234u / 2) << "not one drawing per entry";

    texts.clear();
    Run(Files(10));
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front().text, L"1") << "the second batch starts again at 1";
    EXPECT_EQ(progress_.CounterText(), L"10");
}

// A batch of a second and a half: every paint of the counter, and every
// answer it gives while the batch checks its queue, shows the count of that
// moment; the first count is on the screen before the second entry.
TEST_F(CounterTest, LongBatchShowsTheCurrentCountAtEveryPaintAndQueueCheck) {
    const HWND label2 = progress_.label(ProgressWindow::kLabel2);
    bool firstPainted = false;
    int writes = 0;
    onWrite_ = [&] {
        // Entry 1 is written once counted, before entry 2 is looked at.
        if (++writes == 1)
            firstPainted = !texts.empty() && texts.back().text == L"1" && !GetUpdateRect(label2, nullptr, FALSE);
        Sleep(1);
    };
    std::atomic<bool> done{false};
    std::thread asker([&] {
        while (!done) {
            DWORD_PTR answer = 0;
            SendMessageTimeoutW(label2, kAsk, 0, 0, SMTO_NORMAL, 5000, &answer);
            Sleep(20);
        }
    });
    const auto start = std::chrono::steady_clock::now();
    std::vector<Path> list = Files(600);
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(100)) Sleep(1);
    Run(std::move(list));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    done = true;
    asker.join();

    EXPECT_TRUE(firstPainted) << "the first count waited for a later drawing";
    EXPECT_GT(texts.size(), 3u);
    EXPECT_LT(texts.size(), 2 + static_cast<std::size_t>(elapsed / std::chrono::milliseconds(16)));
    for (const Seen& t : texts) EXPECT_EQ(t.text, std::to_wstring(t.count)) << "given";
    EXPECT_FALSE(paints.empty());
    for (const Seen& p : paints) EXPECT_EQ(p.text, std::to_wstring(p.count)) << "painted";
    EXPECT_GE(answers.size(), 2u) << "the batch checks its queue a few times a second";
    for (const Seen& a : answers) EXPECT_EQ(a.text, std::to_wstring(a.count)) << "answered during the batch";
    EXPECT_EQ(progress_.CounterText(), L"600");
}

// A batch of more than 5 s: the system must not take the window for hung,
// and no input may be handled before the batch ends.
TEST_F(CounterTest, LongBatchKeepsTheWindowAliveWithoutTakingInput) {
    progress_.Show();
    HWND w = progress_.window();
    MSG flush;
    while (PeekMessageW(&flush, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&flush);
    // Input waiting in the queue: the close box, which would hide the window.
    PostMessageW(w, WM_CLOSE, 0, 0);
    const ULONGLONG start = GetTickCount64();
    bool checked = false, hungDuring = true, visibleDuring = false;
    onWrite_ = [&] {
        if (checked) return;
        Sleep(5);
        if (GetTickCount64() - start < 6000) return;
        checked = true;
        hungDuring = IsHungAppWindow(w);
        visibleDuring = IsWindowVisible(w);
    };
    std::vector<Path> list = Files(3000);
    Run(std::move(list));
    ASSERT_TRUE(checked) << "the batch ended within 6 s";
    EXPECT_FALSE(hungDuring) << "taken for hung during the batch";
    EXPECT_TRUE(visibleDuring) << "the queued close was handled during the batch";

    // The same thread without a batch: the check above must be able to fail.
    Sleep(6500);
    const bool hungWithout = IsHungAppWindow(w);

    MSG msg;
    bool closeStillQueued = false;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.hwnd == w && msg.message == WM_CLOSE) closeStillQueued = true;
        DispatchMessageW(&msg);
    }
    EXPECT_TRUE(closeStillQueued) << "the batch removed input from the queue";
    if (!hungWithout) GTEST_SKIP() << "this system never reports a thread as hung; the first check proves nothing";
}

}  // namespace
}  // namespace rivak::ui
