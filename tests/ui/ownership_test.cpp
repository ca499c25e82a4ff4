// The owners of handles and the boundary guard: what they give back and
// when, and that no exception gets past a window procedure.
#include <windows.h>

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "platform/win32/unique_handle.h"
#include "tests/ui/window_test_support.h"
#include "ui/callback_guard.h"
#include "ui/layout.h"
#include "ui/window_base.h"

namespace rivak::ui {
namespace {

TEST(GuardedTest, GivesTheBodysValueOrTheFallbackWhateverIsThrown) {
    EXPECT_EQ(Guarded([] { return 7; }, [] { return -1; }), 7);
    EXPECT_EQ(Guarded([]() -> int { throw std::bad_alloc(); }, [] { return -1; }), -1);
    EXPECT_EQ(Guarded([]() -> int { throw std::runtime_error("x"); }, [] { return -2; }), -2);
    EXPECT_EQ(Guarded([]() -> int { throw 42; }, [] { return -3; }), -3);
}

// A window whose handler throws on WM_APP and paints through PaintDc.
class Thrower final : public BaseWindow<Thrower> {
public:
    static constexpr const wchar_t* kClassName = L"RivakTestThrower";
    bool Create() {
        return Register(GetModuleHandleW(nullptr)) &&
               CreateCentred(GetModuleHandleW(nullptr), L"thrower", WS_OVERLAPPEDWINDOW, 0, 1500, 1500);
    }
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_APP) throw std::bad_alloc();
        if (msg == WM_NCDESTROY && throwOnDestroy) throw std::runtime_error("late");
        if (msg == WM_PAINT) {
            const win::PaintDc paint(hwnd());
            ++paints;
            if (throwInPaint) throw std::runtime_error("paint");
            return 0;
        }
        return Default(msg, wp, lp);
    }
    int paints = 0;
    bool throwInPaint = false, throwOnDestroy = false;
};

TEST(BaseWindowTest, ThrowingHandlersStopAtTheWindowProcedure) {
    if (!test::CanCreateWindows()) GTEST_SKIP() << "no window can be created here (no display?)";
    Thrower window;
    ASSERT_TRUE(window.Create());
    ShowWindow(window.hwnd(), SW_SHOW);
    // The system's default answer stands in for the handler's.
    EXPECT_EQ(SendMessageW(window.hwnd(), WM_APP, 0, 0), 0);

    // A paint that throws still ends its paint: nothing is left to repaint.
    window.throwInPaint = true;
    InvalidateRect(window.hwnd(), nullptr, FALSE);
    UpdateWindow(window.hwnd());
    EXPECT_GE(window.paints, 1);
    RECT left{};
    EXPECT_FALSE(GetUpdateRect(window.hwnd(), &left, FALSE)) << "EndPaint was skipped";

    // A throw on the last message still lets the object forget its window.
    window.throwOnDestroy = true;
    const HWND hwnd = window.hwnd();
    DestroyWindow(hwnd);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(window.hwnd(), nullptr);
}

TEST(OwnersTest, SelectedObjectPutsThePreviousObjectBack) {
    const win::UniqueDc dc(CreateCompatibleDC(nullptr));
    ASSERT_TRUE(dc);
    const HGDIOBJ before = GetCurrentObject(dc.get(), OBJ_FONT);
    const win::UniqueFont font = CreateMessageFont(96);
    ASSERT_TRUE(font);
    {
        const win::SelectedObject selected(dc.get(), font.get());
        EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_FONT), font.get());
    }
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_FONT), before);
}

TEST(OwnersTest, MessageFontIsAlwaysOurOwn) {
    for (UINT dpi : {96u, 144u}) {
        const win::UniqueFont font = CreateMessageFont(dpi);
        ASSERT_TRUE(font) << dpi;
        for (int stock : {DEFAULT_GUI_FONT, SYSTEM_FONT, ANSI_VAR_FONT})
            EXPECT_NE(font.get(), GetStockObject(stock)) << "a stock font would be deleted by its owner";
    }
}

TEST(OwnersTest, MenusAndMovesGiveBackOnce) {
    win::UniqueMenu menu(CreatePopupMenu());
    const HMENU raw = menu.get();
    ASSERT_TRUE(IsMenu(raw));
    win::UniqueMenu moved = std::move(menu);
    EXPECT_FALSE(menu);
    EXPECT_TRUE(IsMenu(raw)) << "a move destroyed the menu";
    moved.reset();
    EXPECT_FALSE(IsMenu(raw));

    win::UniqueMenu kept(CreatePopupMenu());
    const HMENU handedOver = kept.release();
    EXPECT_FALSE(kept);
    EXPECT_TRUE(IsMenu(handedOver));
    win::UniqueMenu taken(handedOver);
}

}  // namespace
}  // namespace rivak::ui
