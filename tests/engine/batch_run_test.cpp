#include <gtest/gtest.h>

#include <stdexcept>

#include "test_support.h"

namespace rivak {
namespace {

using namespace testing_support;

constexpr AttributeWord RO = attr::kReadOnly, H = attr::kHidden, D = attr::kDirectory;

TEST(BatchRun, EmptyListShowsAndHidesAndCountsNothing) {
    Rig rig;
    rig.Run({});
    EXPECT_EQ(rig.progress.shows, 1);
    EXPECT_EQ(rig.progress.hides, 1);
    EXPECT_FALSE(rig.progress.visible);
    EXPECT_EQ(rig.engine.ProcessedCount(), 0);
    EXPECT_EQ(rig.progress.sets, 0);
    EXPECT_EQ(rig.fs.counters().opened, 1u);
    EXPECT_EQ(rig.fs.counters().released, 1u);
}

TEST(BatchRun, ListedPathsInOrderEachFolderWalkedBeforeTheNextPath) {
    Rig rig;
    rig.fs.AddFile(P("first.txt"), RO);
    rig.fs.AddFolder(P("dir"), H);
    rig.fs.AddFile(P("dir", N("inner")), RO);
    rig.fs.AddFile(P("last.txt"), H);
    rig.fs.RecordWrites(true);
    const std::vector<Path> list = {P("first.txt"), P("dir"), Path(), P("missing"), P("last.txt")};
    rig.Run(list);
    const std::vector<Path> want = {P("first.txt"), P("dir"), P("dir", N("inner")), P("last.txt")};
    EXPECT_EQ(rig.fs.writeLog(), want);
    EXPECT_EQ(rig.engine.paths, list) << "the batch leaves the path list as it was";
    EXPECT_EQ(rig.W(P("dir")), D);
    EXPECT_EQ(rig.engine.ProcessedCount(), 4);
}

TEST(BatchRun, EveryBatchCountsFromZero) {
    Rig rig;
    rig.fs.AddFile(P("a"), RO);
    rig.fs.AddFile(P("b"), RO);
    rig.Run({P("a"), P("b")});
    EXPECT_EQ(rig.progress.counter, N("2"));
    rig.progress.drawn.clear();
    rig.Run({P("a"), P("b")});
    EXPECT_EQ(rig.engine.ProcessedCount(), 2);
    EXPECT_EQ(rig.progress.sets, 4);
    ASSERT_FALSE(rig.progress.drawn.empty());
    EXPECT_EQ(rig.progress.drawn.front(), N("1")) << "the second batch starts again at 1";
    EXPECT_EQ(rig.fs.counters().opened, 2u) << "a new file-system object for each batch";
    EXPECT_EQ(rig.fs.counters().released, 2u);
}

TEST(BatchRun, HundredThousandRowsAreAllHandled) {
    Rig rig;
    const int n = 100000;
    std::vector<Path> list;
    for (int i = 0; i < n; ++i) {
        list.push_back(P(N("f") + Num(i)));
        rig.fs.AddFile(list.back(), RO | H);
    }
    rig.Run(list);
    EXPECT_EQ(rig.engine.ProcessedCount(), n);
    EXPECT_EQ(rig.W(list.back()), 0u);
}

// A file system whose listings fail with an exception, as an allocation
// failure deep in a walk would.
class ThrowingListing final : public testing_support::ForwardingFileSystem {
public:
    using ForwardingFileSystem::ForwardingFileSystem;
    bool List(OpenFolder&, const Path&, std::vector<FolderEntry>&) override { throw std::runtime_error("listing failed"); }
};

TEST(BatchRun, ErrorEndsTheBatchButHidesTheProgressAndReleasesTheFileSystem) {
    MemoryFileSystem fs;
    fs.AddFolder(P("dir"), RO);
    fs.AddFile(P("after"), RO);
    TestOptions options;
    RecordingProgress progress;
    AttributeEngine engine(options, fs.Shortcuts(), progress,
                           [&fs] { return std::make_unique<ThrowingListing>(fs.Open()); });
    engine.paths = {P("dir"), P("after")};
    EXPECT_THROW(engine.RunBatch(), std::runtime_error);
    EXPECT_FALSE(progress.visible);
    EXPECT_EQ(progress.hides, 1);
    EXPECT_EQ(fs.counters().released, fs.counters().opened);
    EXPECT_EQ(fs.Word(P("after")), RO) << "nothing after the error is handled";

    // The next batch starts afresh.
    engine.paths = {P("after")};
    engine.RunBatch();
    EXPECT_EQ(engine.ProcessedCount(), 1);
    EXPECT_EQ(fs.Word(P("after")), 0u);
}

// ---- the counter at display speed ---------------------------------------------

std::vector<Path> Files(Rig& rig, int n, AttributeWord word = RO | H) {
    std::vector<Path> list;
    for (int i = 0; i < n; ++i) {
        list.push_back(P(N("f") + Num(i)));
        rig.fs.AddFile(list.back(), word);
    }
    return list;
}

TEST(BatchRun, EveryCountOfABatchOf1234GoesToTheDisplay) {
    Rig rig;
    rig.progress.engine = &rig.engine;
    rig.Run(Files(rig, 1234));
    EXPECT_EQ(rig.progress.counterAtHide, N("1234"));
    ASSERT_EQ(rig.progress.drawn.size(), 1234u) << "the display paces the drawing, not the engine";
    for (std::size_t i = 0; i < rig.progress.drawn.size(); ++i)
        EXPECT_EQ(rig.progress.drawn[i], Num(rig.progress.countAtDraw[i])) << "count " << i + 1;
}

// Reads of the options, and the boxes turned over in the middle of a batch.
class CountingOptions final : public OptionSource {
public:
    int Value(Option o) const override {
        ++reads;
        return values.Value(o);
    }
    TestOptions values;
    mutable int reads = 0;
};

TEST(BatchRun, OptionsAreReadOnceWhenTheBatchStarts) {
    MemoryFileSystem fs;
    CountingOptions options;
    RecordingProgress progress;
    AttributeEngine engine(options, fs.Shortcuts(), progress, [&] {
        return std::make_unique<HookedWrites>(fs.Open(), [&] {
            // Nothing would take input during a batch; were it read, this
            // would stop clearing read-only and start setting it.
            options.values.Set(Option::ClearReadOnly, 0);
            options.values.Set(Option::SetReadOnly, 1);
        });
    });
    int readsFor[2] = {};
    for (int round = 0; round < 2; ++round) {
        const int n = round ? 500 : 1;
        engine.paths.clear();
        for (int i = 0; i < n; ++i) {
            engine.paths.push_back(P(N("r") + Num(round) + N("-") + Num(i)));
            fs.AddFile(engine.paths.back(), RO | H);
        }
        options.values = TestOptions();
        options.reads = 0;
        engine.RunBatch();
        readsFor[round] = options.reads;
        for (const Path& p : engine.paths) EXPECT_EQ(fs.Word(p), 0u);
    }
    EXPECT_LE(readsFor[0], 6);
    EXPECT_EQ(readsFor[1], readsFor[0]) << "as many reads for 500 entries as for one";
}

TEST(BatchRun, CommandLineBatchUsesTheDefaults) {
    MemoryFileSystem fs;
    fs.AddFile(P("a"), RO | H);
    fs.AddFolder(P("d"), RO | H);
    DefaultOptions defaults;
    RecordingProgress progress;
    AttributeEngine engine(defaults, fs.Shortcuts(), progress, fs.Factory());
    engine.paths = {P("a"), P("d")};
    engine.RunBatch();
    EXPECT_EQ(fs.Word(P("a")), 0u);
    EXPECT_EQ(fs.Word(P("d")), D);
}

}  // namespace
}  // namespace rivak
