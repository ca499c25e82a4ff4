#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>

#include "test_support.h"

namespace rivak {
namespace {

using namespace testing_support;

constexpr AttributeWord RO = attr::kReadOnly, H = attr::kHidden, D = attr::kDirectory, A = attr::kArchive;

class FolderWalker : public ::testing::Test {
protected:
    Rig rig;
    // WalkFolder as the batch calls it, with a file-system object open.
    void Walk(const Path& folder, std::int32_t level = 1) {
        rig.engine.OpenFileSystem();
        rig.engine.WalkFolder(folder, level);
        rig.engine.ReleaseFileSystem();
    }
    // A chain root/d1/d2/.../dN, each folder holding one file "f".
    Path Chain(const Path& root, int depth) {
        Path p = root;
        for (int i = 1; i <= depth; ++i) {
            p += kPathSeparator;
            p += N("d") + Num(i);
            rig.fs.AddFolder(p, RO | H);
            rig.fs.AddFile(p + kPathSeparator + N("f"), RO | H);
        }
        return p;
    }
    static Path Level(const Path& root, int depth) {  // folder d<depth> of a chain
        Path p = root;
        for (int i = 1; i <= depth; ++i) p += kPathSeparator + (N("d") + Num(i));
        return p;
    }
};

TEST_F(FolderWalker, EmptyFolderCountsNothing) {
    rig.fs.AddFolder(P("e"));
    Walk(P("e"));
    EXPECT_EQ(rig.engine.ProcessedCount(), 0);
    EXPECT_EQ(rig.fs.counters().listings, 1u);
}

TEST_F(FolderWalker, FilesOnlyAreAllRewrittenWithoutDescent) {
    rig.fs.AddFolder(P("d"), RO);
    for (int i = 0; i < 5; ++i) rig.fs.AddFile(P("d", N("f") + Num(i)), RO | H | A);
    Walk(P("d"));
    EXPECT_EQ(rig.engine.ProcessedCount(), 5);
    EXPECT_EQ(rig.fs.counters().listings, 1u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(rig.W(P("d", N("f") + Num(i))), A);
    EXPECT_EQ(rig.W(P("d")), D | RO) << "the walked folder's own word belongs to its parent's walk";
}

TEST_F(FolderWalker, StopsAfterTwentyFiveLevels) {
    rig.fs.AddFolder(P("top"));
    Chain(P("top"), 30);
    Walk(P("top"));
    for (int depth = 1; depth <= 30; ++depth) {
        SCOPED_TRACE(depth);
        const Path folder = Level(P("top"), depth);
        // d<k> lies on level k, its file on level k + 1.
        EXPECT_EQ(rig.W(folder), depth <= kMaxDepth ? D : (D | RO | H));
        EXPECT_EQ(rig.W(folder + kPathSeparator + N("f")), depth + 1 <= kMaxDepth ? 0u : (RO | H));
    }
    EXPECT_EQ(rig.engine.ProcessedCount(), 25 + 24);
}

TEST_F(FolderWalker, DepthLimitIsASetting) {
    struct Row { std::int32_t maxDepth; std::int64_t count; };
    for (const Row& r : {Row{0, 0}, Row{1, 1}, Row{3, 5}, Row{40, 60}}) {
        Rig fresh;
        fresh.fs.AddFolder(P("top"));
        Path p = P("top");
        for (int i = 1; i <= 30; ++i) {
            p += kPathSeparator + (N("d") + Num(i));
            fresh.fs.AddFolder(p, RO);
            fresh.fs.AddFile(p + kPathSeparator + N("f"), RO);
        }
        fresh.engine.maxDepth = r.maxDepth;
        fresh.engine.OpenFileSystem();
        fresh.engine.WalkFolder(P("top"), 1);
        fresh.engine.ReleaseFileSystem();
        EXPECT_EQ(fresh.engine.ProcessedCount(), r.count) << "max depth " << r.maxDepth;
    }
}

TEST_F(FolderWalker, LevelAboveTheLimitDoesNothing) {
    rig.fs.AddFolder(P("d"));
    rig.fs.AddFile(P("d", N("f")), RO);
    Walk(P("d"), kMaxDepth + 1);
    EXPECT_EQ(rig.W(P("d", N("f"))), RO);
    EXPECT_EQ(rig.fs.counters().listings, 0u);
}

TEST_F(FolderWalker, EveryEntryBeforeTheFirstDescentAndSubfoldersInListingOrder) {
    for (int subfolders : {60, 61, 200}) {
        SCOPED_TRACE(subfolders);
        Rig r;
        r.fs.AddFolder(P("d"));
        std::vector<Path> order;
        for (int i = 0; i < subfolders; ++i) {
            // Names that sort differently from the order they were made in.
            const Path sub = P("d", N("s") + Num((i * 37) % subfolders));
            r.fs.AddFolder(sub, RO);
            r.fs.AddFile(sub + kPathSeparator + N("x"), RO);
            r.fs.AddFile(P("d", N("file") + Num(i)), H);
            order.push_back(sub);
        }
        r.fs.RecordWrites(true);
        r.engine.OpenFileSystem();
        r.engine.WalkFolder(P("d"), 1);
        r.engine.ReleaseFileSystem();
        const std::vector<Path>& log = r.fs.writeLog();
        ASSERT_EQ(log.size(), static_cast<std::size_t>(3 * subfolders));
        // First the folder's own entries (2 per subfolder), then each subfolder's content.
        for (std::size_t i = 0; i < log.size() / 3 * 2; ++i)
            EXPECT_EQ(log[i].find(N("x")), Path::npos) << "descended before the listing was done";
        for (int i = 0; i < subfolders; ++i)
            EXPECT_EQ(log[2 * subfolders + i], order[i] + kPathSeparator + N("x"));
    }
}

TEST_F(FolderWalker, CheckSixEntersFoldersButLeavesTheirWords) {
    rig.options.Set(Option::LeaveFoldersAlone, 1);
    rig.fs.AddFolder(P("top"));
    Chain(P("top"), 3);
    Walk(P("top"));
    for (int depth = 1; depth <= 3; ++depth) {
        EXPECT_EQ(rig.W(Level(P("top"), depth)), D | RO | H);
        EXPECT_EQ(rig.W(Level(P("top"), depth) + kPathSeparator + N("f")), 0u);
    }
    EXPECT_EQ(rig.engine.ProcessedCount(), 3) << "only the files are counted";
}

TEST_F(FolderWalker, FolderThatCannotBeListedYieldsNothing) {
    rig.fs.AddFolder(P("d"));
    rig.fs.AddFile(P("d", N("f")), RO);
    rig.fs.FailListing(P("d"));
    Walk(P("d"));
    EXPECT_EQ(rig.engine.ProcessedCount(), 0);
    EXPECT_EQ(rig.W(P("d", N("f"))), RO);
}

TEST_F(FolderWalker, ShortcutsInsideFolders) {
    rig.fs.AddFolder(P("d"));
    rig.fs.AddFolder(P("far"), H);
    rig.fs.AddFile(P("far", N("g")), RO);
    rig.fs.AddShortcut(P("d", N("to-far.lnk")), P("far"), RO | A);
    rig.fs.AddShortcut(P("d", N("twice.lnk")), P("d", N("to-far.lnk")), RO | A);
    rig.fs.AddShortcut(P("d", N("broken.lnk")), P("far"), RO | A);
    rig.fs.FailShortcut(P("d", N("broken.lnk")));
    Walk(P("d"));
    EXPECT_EQ(rig.W(P("far")), D) << "the target folder is rewritten";
    EXPECT_EQ(rig.W(P("far", N("g"))), 0u) << "and walked";
    EXPECT_EQ(rig.W(P("d", N("to-far.lnk"))), RO | A) << "the shortcut itself is not touched";
    EXPECT_EQ(rig.W(P("d", N("twice.lnk"))), RO | A);
    EXPECT_EQ(rig.W(P("d", N("broken.lnk"))), A) << "an unreadable shortcut is taken as it is";
}

TEST_F(FolderWalker, ShortcutsOffRewriteTheShortcutFiles) {
    rig.options.Set(Option::FollowShortcuts, 0);
    rig.fs.AddFolder(P("d"));
    rig.fs.AddFolder(P("far"), H);
    rig.fs.AddShortcut(P("d", N("to-far.lnk")), P("far"), RO | A);
    Walk(P("d"));
    EXPECT_EQ(rig.W(P("d", N("to-far.lnk"))), A);
    EXPECT_EQ(rig.W(P("far")), D | H);
    EXPECT_EQ(rig.fs.counters().shortcutReads, 0u);
}

TEST_F(FolderWalker, SelfReferencesFinishAndRewriteEverything) {
    rig.fs.AddFolder(P("d"), RO);
    rig.fs.AddFile(P("d", N("f")), RO | H);
    rig.fs.AddFolder(P("d", N("sub")), H);
    rig.fs.AddFile(P("d", N("sub"), N("g")), RO);
    rig.fs.AddShortcut(P("d", N("me1.lnk")), P("d"));
    rig.fs.AddShortcut(P("d", N("me2.lnk")), P("d"));
    rig.fs.AddFolderLink(P("d", N("sub"), N("up")), P("d"));  // a junction back up
    rig.fs.AddFolderLink(P("d", N("sub"), N("up2")), P("d"));
    rig.Run({P("d")});
    EXPECT_EQ(rig.W(P("d")), D);
    EXPECT_EQ(rig.W(P("d", N("f"))), 0u);
    EXPECT_EQ(rig.W(P("d", N("sub"))), D);
    EXPECT_EQ(rig.W(P("d", N("sub"), N("g"))), 0u);
    // The naive walk lists 2^25 folders; this one a handful.
    EXPECT_LE(rig.fs.counters().listings, 10u);
}

// A folder first reached deep down and later from higher up must be walked
// again, or entries the naive walk reaches from there would stay untouched.
TEST_F(FolderWalker, ShallowerReachWalksAgainDeeperReachDoesNot) {
    for (bool deepFirst : {true, false}) {
        SCOPED_TRACE(deepFirst ? "deep reach first" : "shallow reach first");
        Rig r;
        r.fs.AddFolder(P("target"));
        Path t = P("target");
        for (int i = 1; i <= 25; ++i) {
            t += kPathSeparator + (N("t") + Num(i));
            r.fs.AddFolder(t);
            r.fs.AddFile(t + kPathSeparator + N("f"), RO);
        }
        r.fs.AddFolder(P("root"));
        const Path deepBranch = deepFirst ? N("a") : N("b");
        const Path shallowBranch = deepFirst ? N("b") : N("a");
        Path deep = P("root", deepBranch);
        r.fs.AddFolder(P("root", deepBranch));
        r.fs.AddFolder(P("root", shallowBranch));
        for (int i = 1; i <= 15; ++i) {
            deep += kPathSeparator + (N("a") + Num(i));
            r.fs.AddFolder(deep);
        }
        // Reached at level 17 (deep, target walked at 18) and at level 2 (target walked at 3).
        r.fs.AddShortcut(deep + kPathSeparator + N("deep.lnk"), P("target"));
        r.fs.AddShortcut(P("root", shallowBranch, N("shallow.lnk")), P("target"));
        r.Run({P("root")});
        // From the walk at level 3, t<k> is on level k + 2 and its file on k + 3.
        Path tk = P("target");
        for (int k = 1; k <= 25; ++k) {
            tk += kPathSeparator + (N("t") + Num(k));
            EXPECT_EQ(r.W(tk + kPathSeparator + N("f")), k + 3 <= kMaxDepth ? 0u : RO) << "t" << k;
        }
    }
}

// Links back up and several links to one folder: every entry ends as an
// unbounded walk down to the limit leaves it (its shortest reach decides),
// and the work stays within twice what the entries reached need.
TEST_F(FolderWalker, LinksGiveTheWordsOfTheShortestReachAtLinearCost) {
    using Levels = std::map<Path, int>;  // entry -> level of its shortest reach
    // root/d1/.../dN, each folder holding a file f, d1 on level `from`.
    const auto chain = [](Rig& r, Levels& levels, const Path& root, int depth, int from) {
        std::vector<Path> folders;
        Path p = root;
        for (int k = 1; k <= depth; ++k) {
            p += kPathSeparator + (N("d") + Num(k));
            r.fs.AddFolder(p, RO | H);
            r.fs.AddFile(p + kPathSeparator + N("f"), RO | H);
            levels[p] = from + k - 1;
            levels[p + kPathSeparator + N("f")] = from + k;
            folders.push_back(p);
        }
        return folders;
    };
    const auto parent = [](const Path& p) { return p.substr(0, p.rfind(kPathSeparator)); };
    struct Row {
        const char* name;
        std::function<void(Rig&, Levels&, const std::vector<Path>& chainFolders)> links;
    };
    // The same links added in every folder of the chain.
    const auto inEach = [](std::function<void(Rig&, const Path&)> add) {
        return [add](Rig& r, Levels&, const std::vector<Path>& ds) { for (const Path& d : ds) add(r, d); };
    };
    const Row rows[] = {
        {"a shortcut to its parent in each folder",
         inEach([&](Rig& r, const Path& d) { r.fs.AddShortcut(d + kPathSeparator + N("up.lnk"), parent(d)); })},
        {"a shortcut to the root in each folder",
         inEach([&](Rig& r, const Path& d) { r.fs.AddShortcut(d + kPathSeparator + N("top.lnk"), P("top")); })},
        {"a linked folder back to the root in each folder",
         inEach([&](Rig& r, const Path& d) { r.fs.AddFolderLink(d + kPathSeparator + N("up"), P("top")); })},
        {"two shortcuts to its parent in each folder", inEach([&](Rig& r, const Path& d) {
             r.fs.AddShortcut(d + kPathSeparator + N("a.lnk"), parent(d));
             r.fs.AddShortcut(d + kPathSeparator + N("b.lnk"), parent(d));
         })},
        // Reached at level 17 first (cut by the limit there), then at level 2.
        {"a shortcut to a folder first reached deep, then from higher up",
         [&](Rig& r, Levels& levels, const std::vector<Path>&) {
             r.fs.AddFolder(P("far"), RO | H);
             chain(r, levels, P("far"), 25, 3);
             levels[P("far")] = 2;
             Path deep = P("top", "a");
             r.fs.AddFolder(deep);
             for (int i = 1; i <= 15; ++i) r.fs.AddFolder(deep += kPathSeparator + (N("a") + Num(i)));
             r.fs.AddShortcut(deep + kPathSeparator + N("deep.lnk"), P("far"));
             r.fs.AddFolder(P("top", "b"));
             r.fs.AddShortcut(P("top", "b", "near.lnk"), P("far"));
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig r;
        Levels levels{{P("top"), 0}};
        r.fs.AddFolder(P("top"), RO | H);
        row.links(r, levels, chain(r, levels, P("top"), 30, 1));
        r.Run({P("top")});
        std::int64_t needed = 0;
        for (const auto& [path, level] : levels) {
            const bool folder = (*r.fs.Word(path) & D) != 0;
            const AttributeWord rewritten = folder ? D : 0u, untouched = rewritten | RO | H;
            EXPECT_EQ(r.W(path), level <= kMaxDepth ? rewritten : untouched) << "level " << level;
            needed += level <= kMaxDepth;
        }
        EXPECT_LE(r.engine.ProcessedCount(), 2 * needed);
    }
}

// The folders the limit keeps out, for the note at the end of a run: each
// counted once, only while no walk reaches them within the limit, never a
// system file (taken for a folder, but with nothing to walk).
TEST_F(FolderWalker, FoldersTheLimitKeepsOutAreCountedOnce) {
    struct Row {
        const char* name;
        std::function<void(Rig&)> build;
        std::int64_t count;
        Path first;
    };
    const auto chain = [](Rig& r, const Path& root, int depth, bool systemFiles) {
        Path p = root;
        for (int k = 1; k <= depth; ++k) {
            p += kPathSeparator + (N("d") + Num(k));
            r.fs.AddFolder(p);
            if (systemFiles) r.fs.AddFile(p + kPathSeparator + N("s.sys"), attr::kSystem | H);
        }
        return p;
    };
    const Path d24 = Level(P("top"), 24);
    const Row rows[] = {
        {"a chain deeper than the limit", [&](Rig& r) { chain(r, P("top"), 30, false); }, 1, Level(P("top"), 25)},
        {"a system file on every level", [&](Rig& r) { chain(r, P("top"), 30, true); }, 1, Level(P("top"), 25)},
        {"two shortcuts to one folder below the limit",
         [&](Rig& r) {
             chain(r, P("top"), 30, false);
             r.fs.AddFolder(P("far"));
             r.fs.AddShortcut(d24 + kPathSeparator + N("a.lnk"), P("far"));
             r.fs.AddShortcut(d24 + kPathSeparator + N("b.lnk"), P("far"));
         },
         2, Level(P("top"), 25)},
        {"a folder kept out deep, then walked from higher up",
         [&](Rig& r) {
             r.fs.AddFolder(P("far"));
             r.fs.AddFolder(P("far", "sub"));
             Path deep = chain(r, P("top"), 23, false);
             r.fs.AddShortcut(deep + kPathSeparator + N("deep.lnk"), P("far"));  // far's contents on level 26
             r.fs.AddFolder(P("top", "b"));
             r.fs.AddShortcut(P("top", "b", "near.lnk"), P("far"));
         },
         0, Path()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig r;
        r.fs.AddFolder(P("top"));
        row.build(r);
        r.Run({P("top")});
        EXPECT_EQ(r.engine.FoldersLeftOut(), row.count);
        EXPECT_EQ(r.engine.FirstLeftOut(), row.first);
    }
}

TEST_F(FolderWalker, LargeFolderIsProcessedWhole) {
    rig.fs.AddFolder(P("big"));
    const int n = 100000;
    for (int i = 0; i < n; ++i) rig.fs.AddFile(P("big", N("f") + Num(i)), RO | H);
    rig.Run({P("big")});
    EXPECT_EQ(rig.engine.ProcessedCount(), n + 1) << "the folder and every file in it";
    EXPECT_EQ(rig.W(P("big", N("f") + Num(n - 1))), 0u);
    EXPECT_EQ(rig.progress.counterAtHide, Num(n + 1));
}

// Lets four workers in, one call at a time, and looks three entries ahead:
// a walk's stretches and slices over the fake. Keeps the order in which
// the entries are told, and the words shortcuts' targets are found with.
class FourWorkers final : public ForwardingFileSystem {
public:
    FourWorkers(std::unique_ptr<FileSystem> inner, std::vector<Path>& told)
        : ForwardingFileSystem(std::move(inner)), told_(told) {}
    bool List(OpenFolder& f, const Path& p, std::vector<FolderEntry>& e) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return ForwardingFileSystem::List(f, p, e);
    }
    bool LookUp(OpenFolder& f, FolderEntry& e) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return ForwardingFileSystem::LookUp(f, e);
    }
    bool Change(OpenFolder& f, const FolderEntry& e, AttributeWord w) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return ForwardingFileSystem::Change(f, e, w);
    }
    bool SubfolderHolds(OpenFolder& f, const FolderEntry& e, const Path& n) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return ForwardingFileSystem::SubfolderHolds(f, e, n);
    }
    void Tell(OpenFolder& f, FolderEntry& e) override {
        told_.push_back(e.name);
        ForwardingFileSystem::Tell(f, e);
    }
    // A shortcut's target, as the path call finds it.
    bool SetAttributes(const FsObject& o, AttributeWord w) override {
        told_.push_back(o.path + N(" was ") + Num(static_cast<int>(o.word.value_or(0))));
        return ForwardingFileSystem::SetAttributes(o, w);
    }
    unsigned Workers() const override { return 4; }
    std::size_t LookAhead() const override { return 3; }
    bool ListsAhead() const override { return true; }

private:
    std::mutex mutex_;
    std::vector<Path>& told_;
};

// However many workers, a batch ends with the words, the count and the
// order of telling of one worker, and of the walk without stretches: a
// shortcut to an entry of its own folder (before and after it), one to a
// folder, a customised folder, system files, more entries than a stretch.
TEST(FolderWalkerJobs, WorkersChangeNothingButTheSpeed) {
    const auto build = [](MemoryFileSystem& fs) {
        fs.AddFolder(P("t"), RO | H);
        // Listed in this order; a stretch is three entries: each shortcut
        // shares one with its target, decided just before it.
        for (int i = 0; i < 9; ++i) {
            fs.AddFile(P("t", N("f") + Num(i)), i % 3 ? RO | H : attr::kSystem | H);
            if (i == 1) fs.AddShortcut(P("t", N("a.lnk")), P("t", N("f1")));
        }
        fs.AddShortcut(P("t", N("z.lnk")), P("t", N("f8")));
        fs.AddFolder(P("t", N("sub")), RO);
        fs.AddFile(P("t", N("sub"), N("desktop.ini")), H | attr::kSystem);
        fs.AddFolder(P("t", N("sub"), N("deep")), RO | H);
        fs.AddFile(P("t", N("sub"), N("deep"), N("g")), RO);
        fs.AddShortcut(P("t", N("to-deep.lnk")), P("t", N("sub"), N("deep")));
    };
    struct Run {
        std::map<Path, AttributeWord> words;
        std::int64_t count = 0;
        std::uint64_t writes = 0;
        std::vector<Path> told;
    };
    const auto run = [&](unsigned jobs, bool wrapped) {
        MemoryFileSystem fs;
        build(fs);
        Run r;
        TestOptions options;
        RecordingProgress progress;
        AttributeEngine engine(options, fs.Shortcuts(), progress, [&]() -> std::unique_ptr<FileSystem> {
            if (!wrapped) return fs.Open();
            return std::make_unique<FourWorkers>(fs.Open(), r.told);
        });
        engine.jobs = jobs;
        engine.paths = {P("t")};
        engine.RunBatch();
        r.count = engine.ProcessedCount();
        r.writes = fs.counters().writes;
        for (const Path& p : {P("t"), P("t", N("sub")), P("t", N("sub"), N("deep")), P("t", N("sub"), N("deep"), N("g"))})
            r.words[p] = fs.Word(p).value();
        for (int i = 0; i < 9; ++i) r.words[P("t", N("f") + Num(i))] = fs.Word(P("t", N("f") + Num(i))).value();
        return r;
    };
    const Run plain = run(1, false), one = run(1, true), four = run(4, true);
    EXPECT_EQ(one.words, plain.words);
    EXPECT_EQ(one.count, plain.count);
    EXPECT_EQ(four.words, plain.words);
    EXPECT_EQ(four.count, plain.count);
    EXPECT_EQ(four.told, one.told);
    EXPECT_EQ(four.writes, plain.writes);
    EXPECT_EQ(plain.words.at(P("t", N("sub"))), D | RO) << "desktop.ini keeps the mark";
}

}  // namespace
}  // namespace rivak
