#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

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
    EXPECT_EQ(rig.engine.list1, list) << "the batch leaves the path list as it was";
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
    EXPECT_EQ(rig.progress.sets, 4) << "the first and the last count of each batch";
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
class ThrowingListing final : public FileSystem {
public:
    explicit ThrowingListing(std::unique_ptr<FileSystem> inner) : inner_(std::move(inner)) {}
    Path Dir(const Path& path, unsigned mask) override {
        if (path.find(RIVAK_T('*')) != Path::npos) throw std::runtime_error("listing failed");
        return inner_->Dir(path, mask);
    }
    Path Dir() override { return inner_->Dir(); }
    std::optional<FsObject> GetFile(const Path& p) override { return inner_->GetFile(p); }
    std::optional<FsObject> GetFolder(const Path& p) override { return inner_->GetFolder(p); }
    bool SetAttributes(const FsObject& o, AttributeWord w) override { return inner_->SetAttributes(o, w); }
    bool IsLinkedFolder(const Path& p) override { return inner_->IsLinkedFolder(p); }
    std::optional<FolderKey> FolderIdentity(const Path& p) override { return inner_->FolderIdentity(p); }

private:
    std::unique_ptr<FileSystem> inner_;
};

TEST(BatchRun, ErrorEndsTheBatchButHidesTheProgressAndReleasesTheFileSystem) {
    MemoryFileSystem fs;
    fs.AddFolder(P("dir"), RO);
    fs.AddFile(P("after"), RO);
    TestOptions options;
    RecordingProgress progress;
    AttributeEngine engine(options, fs.Shortcuts(), progress,
                           [&fs] { return std::make_unique<ThrowingListing>(fs.Open()); });
    engine.list1 = {P("dir"), P("after")};
    EXPECT_THROW(engine.CngATr(), std::runtime_error);
    EXPECT_FALSE(progress.visible);
    EXPECT_EQ(progress.hides, 1);
    EXPECT_EQ(fs.counters().released, fs.counters().opened);
    EXPECT_EQ(fs.Word(P("after")), RO) << "nothing after the error is handled";

    // The next batch starts afresh.
    engine.list1 = {P("after")};
    engine.CngATr();
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

TEST(BatchRun, CounterOfABatchOf1234EndsAtExactly1234) {
    Rig rig;
    rig.progress.engine = &rig.engine;
    const std::vector<Path> list = Files(rig, 1234);
    const auto start = std::chrono::steady_clock::now();
    rig.Run(list);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(rig.progress.counterAtHide, N("1234")) << "the final count is drawn before the display hides";
    EXPECT_TRUE(rig.progress.repainted);
    ASSERT_FALSE(rig.progress.drawn.empty());
    EXPECT_EQ(rig.progress.drawn.front(), N("1")) << "the first count at once";
    for (std::size_t i = 0; i < rig.progress.drawn.size(); ++i)
        EXPECT_EQ(rig.progress.drawn[i], Num(rig.progress.countAtDraw[i])) << "drawing " << i;
    // The first, the last, and one a frame between them.
    EXPECT_LE(rig.progress.repaints, 2 + elapsed / std::chrono::milliseconds(16));
    EXPECT_EQ(rig.progress.sets, rig.progress.repaints) << "the text is set only to be drawn";
}

// Entries that take a millisecond or more each. The write of entry k follows
// its count, so the engine read its clock for count k between the writes of
// entries k - 1 and k: that bounds what it saw without timing it.
TEST(BatchRun, CounterIsDrawnOncePerFrameAndNoCountWaitsLonger) {
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    MemoryFileSystem fs;
    TestOptions options;
    RecordingProgress progress;
    std::vector<Clock::time_point> writes;  // writes[k - 1]: entry k written
    AttributeEngine engine(options, fs.Shortcuts(), progress, [&] {
        return std::make_unique<HookedWrites>(fs.Open(), [&] {
            writes.push_back(Clock::now());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    });
    progress.engine = &engine;
    std::vector<Path> list;
    for (int i = 0; i < 300; ++i) {
        list.push_back(P(N("f") + Num(i)));
        fs.AddFile(list.back(), RO);
    }
    engine.list1 = list;
    engine.CngATr();
    ASSERT_EQ(writes.size(), 300u);
    const auto& counts = progress.countAtDraw;
    ASSERT_GE(counts.size(), 3u) << "a batch of 300 ms draws more than its first and last count";
    EXPECT_EQ(counts.front(), 1);
    EXPECT_EQ(counts.back(), 300);
    for (std::size_t i = 0; i < counts.size(); ++i) EXPECT_EQ(progress.drawn[i], Num(counts[i]));
    // Two drawings while counting are at least a frame apart.
    for (std::size_t i = 2; i + 1 < counts.size(); ++i) {
        const std::int64_t a = counts[i - 1], b = counts[i];
        EXPECT_GE(writes[b - 1] - writes[a - 2], milliseconds(16)) << "counts " << a << " and " << b;
    }
    // A count that was not drawn came less than a frame after the last drawing.
    std::size_t next = 0;
    for (std::int64_t k = 1; k <= 300; ++k) {
        if (next < counts.size() && counts[next] == k) {
            ++next;
            continue;
        }
        ASSERT_GT(next, 0u);
        EXPECT_LT(writes[k - 2] - progress.drawTimes[next - 1], milliseconds(16)) << "count " << k << " not drawn";
    }
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
            options.values.Set(Option::Check1, 0);
            options.values.Set(Option::Check2, 1);
        });
    });
    int readsFor[2] = {};
    for (int round = 0; round < 2; ++round) {
        const int n = round ? 500 : 1;
        engine.list1.clear();
        for (int i = 0; i < n; ++i) {
            engine.list1.push_back(P(N("r") + Num(round) + N("-") + Num(i)));
            fs.AddFile(engine.list1.back(), RO | H);
        }
        options.values = TestOptions();
        options.reads = 0;
        engine.CngATr();
        readsFor[round] = options.reads;
        for (const Path& p : engine.list1) EXPECT_EQ(fs.Word(p), 0u);
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
    engine.list1 = {P("a"), P("d")};
    engine.CngATr();
    EXPECT_EQ(fs.Word(P("a")), 0u);
    EXPECT_EQ(fs.Word(P("d")), D);
}

}  // namespace
}  // namespace rivak
