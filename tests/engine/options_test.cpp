#include <gtest/gtest.h>

#include "engine/options.h"
#include "test_support.h"

namespace rivak {
namespace {

using testing_support::TestOptions;

TEST(Options, FreshStartClearsBothFollowsShortcutsAndRewritesFolders) {
    DefaultOptions defaults;
    const int want[] = {1, 0, 0, 1, 1, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(defaults.Value(static_cast<Option>(i)), want[i]) << "Check" << i + 1;
}

TEST(Options, RewriteRuleTable) {
    struct Row {
        std::array<int, 4> checks;  // Check1..Check4
        AttributeWord in, out;
    };
    const Row rows[] = {
        {{1, 0, 0, 1}, 3, 0},        // the defaults clear read-only and hidden
        {{1, 0, 0, 1}, 35, 32},      // archive passes
        {{1, 0, 0, 1}, 2049, 0},     // the six-bit masks drop 2048
        {{1, 0, 0, 1}, 16 | 4 | 2, 20},
        {{0, 1, 1, 0}, 32, 35},      // set both
        {{0, 1, 1, 0}, 2048 | 32, 2048 | 35},  // OR keeps high bits
        {{0, 0, 0, 0}, 2049 | 6, 2049 | 6},    // all four off: unchanged
        {{1, 1, 0, 0}, 0, 1},        // AND 62 comes before OR 1
        {{0, 0, 1, 1}, 0, 0},        // OR 2 comes before AND 61
        {{0, 0, 0, 1}, 128 | 2, 0},  // AND 61 alone also drops 128
        {{2, 0, 0, 2}, 3, 3},        // greyed is not on
    };
    for (const Row& r : rows) {
        TestOptions o;
        for (int i = 0; i < 4; ++i) o.Set(static_cast<Option>(i), r.checks[i]);
        EXPECT_EQ(RewriteWord(r.in, o), r.out) << "word " << r.in << " checks " << r.checks[0] << r.checks[1]
                                               << r.checks[2] << r.checks[3];
    }
}

TEST(Options, PairRuleClearsThePartnerOnlyWhenTheClickedBoxIsOn) {
    EXPECT_EQ(PartnerToClear(Option::ClearReadOnly, 1), Option::SetReadOnly);
    EXPECT_EQ(PartnerToClear(Option::SetReadOnly, 1), Option::ClearReadOnly);
    EXPECT_EQ(PartnerToClear(Option::SetHidden, 1), Option::ClearHidden);
    EXPECT_EQ(PartnerToClear(Option::ClearHidden, 1), Option::SetHidden);
    for (Option o : {Option::ClearReadOnly, Option::SetReadOnly, Option::SetHidden, Option::ClearHidden}) {
        EXPECT_FALSE(PartnerToClear(o, 0).has_value());
        EXPECT_FALSE(PartnerToClear(o, 2).has_value());
    }
    EXPECT_FALSE(PartnerToClear(Option::FollowShortcuts, 1).has_value());
    EXPECT_FALSE(PartnerToClear(Option::LeaveFoldersAlone, 1).has_value());
}

// Boxes driven the way the main window drives them: every change raises the
// changed box's own click handling, as a programmatic set does on Windows.
TEST(Options, PairRuleSettlesWithoutPingPong) {
    TestOptions o;
    int handled = 0;
    std::function<void(Option, int)> set = [&](Option box, int value) {
        o.Set(box, value);
        ++handled;
        if (auto partner = PartnerToClear(box, value)) set(*partner, 0);
    };
    set(Option::SetReadOnly, 1);  // Check1 was on
    EXPECT_EQ(o.Value(Option::ClearReadOnly), 0);
    EXPECT_EQ(o.Value(Option::SetReadOnly), 1);
    EXPECT_EQ(handled, 2);
    set(Option::SetReadOnly, 0);
    EXPECT_EQ(o.Value(Option::ClearReadOnly), 0) << "unchecking Check2 leaves Check1 unchecked";
    set(Option::SetHidden, 1);
    EXPECT_EQ(o.Value(Option::ClearHidden), 0);
    EXPECT_EQ(o.Value(Option::SetHidden), 1);
}

}  // namespace
}  // namespace rivak
