#include <gtest/gtest.h>

#include "engine/shortcut.h"
#include "test_support.h"

namespace rivak {
namespace {

using testing_support::N;
using testing_support::P;

TEST(ShortcutName, OnlyADotLnkEndingInAnyCaseCounts) {
    struct Row {
        const char* path;
        bool shortcut;
    };
    const Row rows[] = {
        {"C:\\a.lnk", true}, {"C:\\a.LNK", true}, {"C:\\a.Lnk", true}, {".lnk", true},
        {"C:\\a.lnk2", false}, {"C:\\alnk", false}, {"lnk", false}, {"", false},
        {"C:\\a.lnk ", false}, {"C:\\a.ln", false}, {"C:\\a_lnk", false},
    };
    for (const Row& r : rows) EXPECT_EQ(IsShortcutName(N(r.path)), r.shortcut) << r.path;
}

TEST(ShortcutName, FullWidthLettersAreNotAShortcut) {
    // "．ＬＮＫ" upper-cases to itself, never to ".LNK".
    const NativeString fullWidth = {NativeChar('a'), static_cast<NativeChar>(0xFF0E), static_cast<NativeChar>(0xFF2C),
                                    static_cast<NativeChar>(0xFF2E), static_cast<NativeChar>(0xFF2B)};
    EXPECT_FALSE(IsShortcutName(fullWidth));
}

TEST(ResolveShortcut, FollowsOneLevelAndLeavesOtherNamesAlone) {
    MemoryFileSystem fs;
    fs.AddFolder(P("target"));
    fs.AddShortcut(P("to-folder.lnk"), P("target"));
    fs.AddShortcut(P("to-shortcut.LNK"), P("to-folder.lnk"));
    fs.AddShortcut(P("empty.lnk"), N(""));
    fs.AddShortcut(P("broken.lnk"), P("target"));
    fs.FailShortcut(P("broken.lnk"));
    ShortcutReader& reader = fs.Shortcuts();

    EXPECT_EQ(ResolveShortcut(P("to-folder.lnk"), reader), P("target"));
    EXPECT_EQ(ResolveShortcut(P("to-shortcut.LNK"), reader), P("to-folder.lnk")) << "one level only";
    EXPECT_EQ(ResolveShortcut(P("empty.lnk"), reader), Path());
    EXPECT_FALSE(ResolveShortcut(P("broken.lnk"), reader).has_value());
    EXPECT_FALSE(ResolveShortcut(P("missing.lnk"), reader).has_value());

    const auto reads = fs.counters().shortcutReads;
    EXPECT_EQ(ResolveShortcut(P("target"), reader), P("target"));
    EXPECT_EQ(ResolveShortcut(N("ab"), reader), N("ab"));
    EXPECT_EQ(fs.counters().shortcutReads, reads) << "names that are not shortcuts are never opened";
}

}  // namespace
}  // namespace rivak
