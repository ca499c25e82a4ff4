#include <gtest/gtest.h>

#include "test_support.h"

namespace rivak {
namespace {

using namespace testing_support;

constexpr AttributeWord RO = attr::kReadOnly, H = attr::kHidden, S = attr::kSystem, D = attr::kDirectory,
                        A = attr::kArchive;

void SetUpTree(Rig& rig) {
        rig.fs.AddFile(P("f.txt"), RO | H | A);
        rig.fs.AddFolder(P("dir"), RO | H);
        rig.fs.AddFile(P("dir", "inner.txt"), RO);
        rig.fs.AddFile(P("sys.dat"), S | H | RO);
        rig.fs.AddFolder(P("elsewhere"), H);
        rig.fs.AddShortcut(P("link.lnk"), P("elsewhere"), RO | A);
        rig.fs.AddShortcut(P("filelink.LNK"), P("f.txt"), A);
        rig.fs.AddShortcut(P("broken.lnk"), P("f.txt"), H | A);
        rig.fs.FailShortcut(P("broken.lnk"));
        rig.fs.AddShortcut(P("nothing.lnk"), N(""), A);
        rig.fs.AddFile(P("locked.txt"), RO | H);
        rig.fs.FailWriting(P("locked.txt"));
        rig.fs.AddFile(P("unreadable.txt"), RO | H | A);
        rig.fs.FailReading(P("unreadable.txt"));
        // A customised folder: Explorer reads its desktop.ini only while the
        // folder is read-only (or system). A folder of that name is no mark.
        rig.fs.AddFolder(P("custom"), D | RO | H);
        rig.fs.AddFile(P("custom", "Desktop.INI"), S | H | A);
        rig.fs.AddFolder(P("nomark"), D | RO);
        rig.fs.AddFolder(P("nomark", "desktop.ini"));
}

class EntryProcessor : public ::testing::Test {
protected:
    Rig rig;
    void SetUp() override {
        SetUpTree(rig);
        rig.engine.OpenFileSystem();
    }
    void TearDown() override { rig.engine.ReleaseFileSystem(); }
};

TEST_F(EntryProcessor, ClassifiesRewritesAndCounts) {
    struct Row {
        const char* name;
        Path path;
        int check5, check6;
        Path returned;
        long long counted;
        Path changed;  // the entry whose word is checked, "" for none
        AttributeWord word;
    };
    const Row rows[] = {
        {"file", P("f.txt"), 1, 0, Path(), 1, P("f.txt"), A},
        {"folder", P("dir"), 1, 0, P("dir"), 1, P("dir"), D},
        {"folder, Check6", P("dir"), 1, 1, P("dir"), 0, P("dir"), D | RO | H},
        {"missing", P("nope"), 1, 0, Path(), 0, Path(), 0},
        {"empty path", Path(), 1, 0, Path(), 0, Path(), 0},
        {"dot", P("dir", "."), 1, 0, Path(), 0, P("dir"), D | RO | H},
        {"dot dot", P("dir", ".."), 1, 0, Path(), 0, P("dir"), D | RO | H},
        {"system file", P("sys.dat"), 1, 0, P("sys.dat"), 1, P("sys.dat"), S | H | RO},
        {"shortcut to folder, Check5 on", P("link.lnk"), 1, 0, P("elsewhere"), 1, P("elsewhere"), D},
        {"shortcut, Check5 off", P("link.lnk"), 0, 0, Path(), 1, P("link.lnk"), A},
        {"shortcut to file", P("filelink.LNK"), 1, 0, Path(), 1, P("f.txt"), A},
        {"unreadable shortcut keeps its path", P("broken.lnk"), 1, 0, Path(), 1, P("broken.lnk"), A},
        {"shortcut to nothing", P("nothing.lnk"), 1, 0, Path(), 0, P("nothing.lnk"), A},
        {"unwritable", P("locked.txt"), 1, 0, Path(), 1, P("locked.txt"), RO | H},
        {"unreadable word is not written", P("unreadable.txt"), 1, 0, Path(), 1, P("unreadable.txt"), RO | H | A},
        {"customised folder keeps read-only", P("custom"), 1, 0, P("custom"), 1, P("custom"), D | RO},
        {"a folder named desktop.ini is no mark", P("nomark"), 1, 0, P("nomark"), 1, P("nomark"), D},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Rig fresh;  // every row starts from the same tree
        SetUpTree(fresh);
        fresh.options.Set(Option::FollowShortcuts, r.check5);
        fresh.options.Set(Option::LeaveFoldersAlone, r.check6);
        fresh.engine.OpenFileSystem();
        EXPECT_EQ(fresh.engine.ProcessEntry(r.path), r.returned);
        EXPECT_EQ(fresh.engine.ProcessedCount(), r.counted);
        if (!r.changed.empty()) {
            EXPECT_EQ(fresh.W(r.changed), r.word);
        }
        if (r.counted) {
            EXPECT_EQ(fresh.progress.counter, Num(r.counted));
            EXPECT_TRUE(fresh.progress.repainted) << "the first count is drawn at once";
        }
        fresh.engine.ReleaseFileSystem();
    }
}

// The system setting: Keep leaves a system file as it is and tells the
// observer; Clear and Set change the bit and let the other options act.
TEST_F(EntryProcessor, SystemSettingAndWhatTheEngineTells) {
    struct Told final : WalkEvents {
        std::vector<Path> paths;
        void SystemFileLeftAlone(const Path& path) override { paths.push_back(path); }
    };
    struct Row {
        SystemBit system;
        Path path;
        Path returned;
        AttributeWord word;
        bool told;
    };
    const Row rows[] = {
        {SystemBit::Keep, P("sys.dat"), P("sys.dat"), S | H | RO, true},
        {SystemBit::Keep, P("custom", "Desktop.INI"), P("custom", "Desktop.INI"), S | H | A, true},
        {SystemBit::Keep, P("f.txt"), Path(), A, false},
        {SystemBit::Clear, P("sys.dat"), Path(), 0, false},
        {SystemBit::Clear, P("custom", "Desktop.INI"), Path(), A, false},
        {SystemBit::Set, P("f.txt"), Path(), S | A, false},
        {SystemBit::Set, P("dir"), P("dir"), D | S, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::PrintToString(r.path) + " " + std::to_string(static_cast<int>(r.system)));
        Rig fresh;
        SetUpTree(fresh);
        Told told;
        fresh.engine.system = r.system;
        fresh.engine.events = &told;
        fresh.engine.OpenFileSystem();
        EXPECT_EQ(fresh.engine.ProcessEntry(r.path), r.returned);
        EXPECT_EQ(fresh.engine.ProcessedCount(), 1);
        EXPECT_EQ(fresh.W(r.path), r.word);
        EXPECT_EQ(told.paths, r.told ? std::vector<Path>{r.path} : std::vector<Path>{});
        fresh.engine.ReleaseFileSystem();
    }
}

// The look-up for desktop.ini costs a call per folder on a real disk: only a
// folder about to lose its read-only bit is asked about.
TEST_F(EntryProcessor, OnlyFoldersLosingReadOnlyLookForDesktopIni) {
    rig.engine.ProcessEntry(P("elsewhere"));  // hidden, not read-only
    rig.engine.ProcessEntry(P("f.txt"));
    EXPECT_EQ(rig.fs.counters().fileLookups, 0u);
    rig.engine.ProcessEntry(P("dir"));
    rig.engine.ProcessEntry(P("dir"));  // read-only no more
    EXPECT_EQ(rig.fs.counters().fileLookups, 1u);
}

TEST_F(EntryProcessor, CallersStringIsLeftAlone) {
    const Path listed = P("link.lnk");
    const Path copy = listed;
    EXPECT_EQ(rig.engine.ProcessEntry(listed), P("elsewhere"));
    EXPECT_EQ(listed, copy);
}

TEST_F(EntryProcessor, OptionsAreReadAtTheMomentOfUse) {
    rig.engine.ProcessEntry(P("f.txt"));
    EXPECT_EQ(rig.W(P("f.txt")), A);
    rig.options.Set(Option::SetReadOnly, 1);
    rig.options.Set(Option::SetHidden, 1);
    rig.options.Set(Option::ClearReadOnly, 0);
    rig.options.Set(Option::ClearHidden, 0);
    rig.engine.ProcessEntry(P("f.txt"));
    EXPECT_EQ(rig.W(P("f.txt")), A | RO | H);
}

}  // namespace
}  // namespace rivak
