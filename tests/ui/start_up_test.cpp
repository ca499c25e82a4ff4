// What rivak.exe says when it cannot start or go on, and the exit status
// that goes with it.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/ui/window_test_support.h"
#include "ui/start_up.h"

namespace rivak::ui {
namespace {

TEST(StartUpFailureTest, EachIsToldInACriticalBoxTitledRivakWithItsStatus) {
    if (!test::CanCreateWindows()) GTEST_SKIP() << "no window can be created here (no display?)";
    const struct {
        StartUpFailure failure;
        const wchar_t* mentions;  // what the user must learn from it
        int status;
    } cases[] = {
        {StartUpFailure::kCom, L"ショートカット", kExitCannotStart},
        {StartUpFailure::kOle, L"ドラッグ", kExitCannotStart},
        {StartUpFailure::kMainWindow, L"ウィンドウ", kExitCannotStart},
        {StartUpFailure::kOutOfMemory, L"メモリ", kExitUnexpected},
        {StartUpFailure::kUnexpected, L"エラー", kExitUnexpected},
    };
    std::set<std::wstring> texts;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "failure " << static_cast<int>(c.failure));
        test::MessageBoxCatcher catcher;
        ASSERT_TRUE(catcher.installed());
        EXPECT_EQ(ReportStartUpFailure(c.failure), c.status);
        ASSERT_EQ(catcher.boxes().size(), 1u);
        const test::CaughtBox& box = catcher.boxes()[0];
        EXPECT_EQ(box.title, L"rivak");
        EXPECT_TRUE(box.errorIcon);
        EXPECT_TRUE(box.onlyOk);
        EXPECT_NE(box.text.find(c.mentions), std::wstring::npos);
        texts.insert(box.text);
    }
    EXPECT_EQ(texts.size(), std::size(cases)) << "two failures read alike";
}

// A batch that cannot follow shortcuts does not start: it would rewrite the
// shortcut files themselves instead of their targets.
TEST(StartUpFailureTest, WithoutComTheBatchSaysNothingWasChanged) {
    if (!test::CanCreateWindows()) GTEST_SKIP() << "no window can be created here (no display?)";
    test::MessageBoxCatcher catcher;
    ReportStartUpFailure(StartUpFailure::kCom);
    ASSERT_EQ(catcher.boxes().size(), 1u);
    EXPECT_NE(catcher.boxes()[0].text.find(L"変更せず"), std::wstring::npos);
}

}  // namespace
}  // namespace rivak::ui
