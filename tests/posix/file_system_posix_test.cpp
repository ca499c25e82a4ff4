// The POSIX backend on the real file system of the machine: the contract
// every backend keeps, then what only this one has to get right (Samba's and
// Wine's conventions, links, modes, other users, a folder swapped mid-batch).
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "engine/attribute_engine.h"
#include "fs_contract.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/readers.h"
#include "platform/posix/samba_config.h"
#include "posix_test_support.h"

namespace rivak::posix {
namespace {

using namespace rivak::posix::testing;

// ---- the contract ----------------------------------------------------------

class PosixFixture {
public:
    Path Root() const { return tmp_.path(); }
    void MakeFolder(const Path& rel, AttributeWord extra) {
        testing::MakeFolder(tmp_ / rel);
        if (extra) SetRecord(tmp_ / rel, DosAttribHex(extra));  // a folder's read-only lives in the value
    }
    void MakeFile(const Path& rel, AttributeWord extra) {
        // Read-only where both Samba (the value) and Wine (the mode) see it.
        testing::MakeFile(tmp_ / rel, extra & attr::kReadOnly ? 0444 : 0644);
        if (extra) SetRecord(tmp_ / rel, DosAttribHex(extra));
    }
    AttributeWord WordOf(const Path& rel) const { return WordOnDisk(tmp_ / rel); }
    std::unique_ptr<FileSystem> Open() { return std::make_unique<PosixFileSystem>(PosixSettings{}); }

private:
    TempFolder tmp_;
};

}  // namespace
}  // namespace rivak::posix

namespace rivak::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, FsContract, ::rivak::posix::PosixFixture);
}

namespace rivak::posix {
namespace {

struct Recorder final : Report {
    std::map<Path, std::pair<AttributeWord, AttributeWord>> changed;
    std::vector<std::pair<Path, Problem>> failed;
    void Changed(const Path& p, AttributeWord before, AttributeWord after) override { changed[p] = {before, after}; }
    void Failed(const Path& p, Problem problem, int) override { failed.emplace_back(p, problem); }
    bool FailedWith(const Path& p, Problem problem) const {
        for (const auto& f : failed)
            if (f.first == p && f.second == problem) return true;
        return false;
    }
};

class Options final : public OptionSource {
public:
    std::map<Option, int> values;
    int Value(Option o) const override {
        auto it = values.find(o);
        return it == values.end() ? DefaultValue(o) : it->second;
    }
};

struct NoShortcuts final : ShortcutReader {
    std::optional<Path> Target(const Path&) override { return std::nullopt; }
};

// Calls `at` once, when the count reaches `when`: the swap is timed by the
// engine's own progress, so it falls between the same two calls every run.
struct Trigger final : ProgressDisplay {
    long when = -1;
    std::function<void()> at;
    void Show() override {}
    void SetCounter(const NativeString& text) override {
        if (std::stol(text) == when && at) at();
    }
    void RepaintCounter() override {}
    void Hide() override {}
};

// One batch over `paths`, each followed as the command line does.
struct Batch {
    Options options;
    NoShortcuts shortcuts;
    Trigger progress;
    Recorder report;
    mode_t umask = 022;
    bool dryRun = false;
    Readers* readers = nullptr;
    std::int64_t Run(const PathList& paths) {
        AttributeEngine engine(options, shortcuts, progress, [&] {
            PosixSettings settings{dryRun, umask, &report};
            settings.readers = readers;
            auto fs = std::make_unique<PosixFileSystem>(settings);
            for (const Path& p : paths) fs->Follow(p);
            return fs;
        });
        engine.paths = paths;
        engine.RunBatch();
        return engine.ProcessedCount();
    }
};

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Fixture(const std::string& name) { return ReadBytes(std::string(RIVAK_FIXTURES) + "/dosattrib/" + name); }

class PosixBackend : public ::testing::Test {
protected:
    TempFolder tmp;
    std::string At(const std::string& rel) const { return tmp / rel; }
};

TEST_F(PosixBackend, DefaultsClearReadOnlyAndHiddenOfFilesAndFolders) {
    MakeFolder(At("d"));
    MakeFile(At("d/ro"), 0444);
    MakeFile(At("d/hid"), 0644);
    SetRecord(At("d/hid"), "0x22");
    MakeFile(At("d/both"), 0400);
    SetRecord(At("d/both"), "0x3");
    MakeFolder(At("d/sub"), 0555);
    SetRecord(At("d/sub"), "0x13");
    MakeFolder(At("d/hidden"));
    SetRecord(At("d/hidden"), "0x2");
    MakeFile(At("d/system"), 0444);
    SetRecord(At("d/system"), "0x6");
    Batch batch;
    EXPECT_EQ(batch.Run({At("d")}), 7);
    EXPECT_EQ(RecordOf(At("d/hidden")), std::nullopt) << "a folder's second link is no reason to keep 0x0";
    EXPECT_EQ(RecordOf(At("d/system")), "0x6") << "system files are left alone, as rivak.exe leaves them";
    EXPECT_EQ(ModeOf(At("d/system")), 0444u);
    EXPECT_EQ(ModeOf(At("d/ro")), 0644u);
    EXPECT_EQ(RecordOf(At("d/ro")), std::nullopt) << "nothing stored where nothing is needed";
    EXPECT_EQ(RecordOf(At("d/hid")), "0x20") << "archive kept";
    EXPECT_EQ(ModeOf(At("d/both")), 0600u) << "owner write back; group and others could not read";
    EXPECT_EQ(RecordOf(At("d/both")), std::nullopt) << "a value that becomes 0 is removed";
    EXPECT_EQ(ModeOf(At("d/sub")), 0555u) << "a folder's mode is never changed";
    EXPECT_EQ(RecordOf(At("d/sub")), "0x10");
    EXPECT_TRUE(batch.report.failed.empty()) << "the engine walks a system file as a folder: no failure";
}

// Clearing read-only gives the owner's write bit back, never more: a umask
// of 000 once made 0444 into 0666.
TEST_F(PosixBackend, ClearingReadOnlyGivesTheOwnerWriteBitWhateverTheUmask) {
    struct Row { mode_t umask; mode_t before; mode_t after; };
    for (const Row& r : {Row{022, 0444, 0644}, Row{002, 0444, 0644}, Row{022, 0440, 0640}, Row{077, 0444, 0644},
                         Row{002, 0555, 0755}, Row{000, 0444, 0644}}) {
        TempFolder t;
        MakeFile(t / "f", r.before);
        Batch batch;
        batch.umask = r.umask;
        batch.Run({t / "f"});
        EXPECT_EQ(ModeOf(t / "f"), r.after) << std::oct << "umask " << r.umask << " mode " << r.before;
    }
}

TEST_F(PosixBackend, SettingReadOnlyReachesModeAndValue) {
    MakeFile(At("f"), 0664);
    MakeFolder(At("d"));
    Batch batch;
    batch.options.values = {{Option::ClearReadOnly, 0}, {Option::SetReadOnly, 1}, {Option::ClearHidden, 0}, {Option::SetHidden, 1}};
    batch.Run({At("f"), At("d")});
    EXPECT_EQ(ModeOf(At("f")), 0444u);
    EXPECT_EQ(RecordOf(At("f")), "0x3") << "Samba reads read-only from the value only";
    EXPECT_EQ(ModeOf(At("d")), 0755u);
    EXPECT_EQ(RecordOf(At("d")), "0x13") << "a folder's new value carries the directory bit, as Samba writes it";
    EXPECT_EQ(batch.report.changed[At("f")], std::make_pair(AttributeWord{0}, AttributeWord{3}));
}

TEST_F(PosixBackend, SambaRecordsArePatchedInPlace) {
    for (const char* file : {"samba-v1-0x22.bin", "samba-v3-0x22.bin", "samba-v5-0x02.bin"}) {
        TempFolder t;
        MakeFile(t / "f");
        const std::string before = Fixture(file);
        SetRecord(t / "f", before);
        Batch batch;
        batch.Run({t / "f"});
        const std::optional<std::string> after = RecordOf(t / "f");
        ASSERT_TRUE(after) << file << ": the record must stay, it holds the creation time";
        ASSERT_EQ(after->size(), before.size()) << file;
        const auto parsed = ParseDosAttrib(std::vector<unsigned char>(after->begin(), after->end()));
        ASSERT_TRUE(parsed) << file;
        EXPECT_EQ(parsed->attributes & 3u, 0u) << file;
        EXPECT_EQ(parsed->attributes & ~3u, ParseDosAttrib(std::vector<unsigned char>(before.begin(), before.end()))->attributes & ~3u);
        EXPECT_EQ(after->substr(after->size() - 8), before.substr(before.size() - 8)) << file;
    }
}

TEST_F(PosixBackend, DotNamesAndHardLinksKeepAZeroValue) {
    MakeFile(At(".dot"));                   // hidden by its name alone
    MakeFile(At("linked"));
    SetRecord(At("linked"), "0x2");
    ASSERT_EQ(link(At("linked").c_str(), At("second").c_str()), 0);
    MakeFile(At("plain"));
    SetRecord(At("plain"), "0x2");
    Batch batch;
    batch.Run({At(".dot"), At("linked"), At("plain")});
    EXPECT_EQ(RecordOf(At(".dot")), "0x0");
    EXPECT_EQ(RecordOf(At("linked")), "0x0");
    EXPECT_EQ(RecordOf(At("plain")), std::nullopt);
    // "0x0" unhides it for newer Wine; Samba and Wine 8 still hide it by its name: said so.
    EXPECT_TRUE(batch.report.FailedWith(At(".dot"), Problem::HiddenByName));
    EXPECT_FALSE(batch.report.FailedWith(At("linked"), Problem::HiddenByName));
}

TEST_F(PosixBackend, DotNameHiddenByNameStaysHiddenWhenOnlyReadOnlyChanges) {
    MakeFile(At(".cfg"), 0644);
    Batch batch;
    batch.options.values = {{Option::ClearReadOnly, 0}, {Option::SetReadOnly, 1}, {Option::ClearHidden, 0}};
    batch.Run({At(".cfg")});
    EXPECT_EQ(RecordOf(At(".cfg")), "0x3") << "a value replaces the name rule, so it must say hidden";
    EXPECT_EQ(ModeOf(At(".cfg")), 0444u);
}

TEST_F(PosixBackend, LinksInsideAreNeitherFollowedNorChanged) {
    TempFolder outside;
    MakeFile(outside / "secret", 0444);
    SetRecord(outside / "secret", "0x2");
    MakeFolder(outside / "dir", 0755);
    MakeFile(outside / "dir/inner", 0444);
    MakeFolder(At("tree"));
    MakeLink(outside / "secret", At("tree/to-file"));
    MakeLink(outside / "dir", At("tree/to-dir"));
    MakeFile(At("tree/own"), 0444);
    Batch batch;
    EXPECT_EQ(batch.Run({At("tree")}), 2) << "the folder and its one file";
    EXPECT_EQ(ModeOf(outside / "secret"), 0444u);
    EXPECT_EQ(RecordOf(outside / "secret"), "0x2");
    EXPECT_EQ(ModeOf(outside / "dir/inner"), 0444u);
    EXPECT_TRUE(IsLink(At("tree/to-file")));
    EXPECT_EQ(ModeOf(At("tree/own")), 0644u);
}

TEST_F(PosixBackend, LinkNamedByTheUserIsFollowed) {
    MakeFolder(At("real"));
    MakeFile(At("real/f"), 0444);
    MakeFile(At("target"), 0444);
    MakeLink(At("real"), At("dir-link"));
    MakeLink(At("target"), At("file-link"));
    Batch batch;
    batch.Run({At("dir-link"), At("file-link")});
    EXPECT_EQ(ModeOf(At("real/f")), 0644u);
    EXPECT_EQ(ModeOf(At("target")), 0644u);
    EXPECT_TRUE(batch.report.failed.empty());
}

TEST_F(PosixBackend, SpecialFilesAreNeverOpened) {
    MakeFolder(At("d"));
    ASSERT_EQ(mkfifo(At("d/fifo").c_str(), 0644), 0);
    MakeFile(At("d/f"), 0444);
    Batch batch;
    // A FIFO opened for reading without O_NONBLOCK would hang the batch here.
    EXPECT_EQ(batch.Run({At("d")}), 2);
    EXPECT_EQ(ModeOf(At("d/fifo")), 0644u);
}

TEST_F(PosixBackend, UnreadableValueIsReportedAndLeftAlone) {
    MakeFile(At("f"), 0444);
    SetRecord(At("f"), "garbage");
    Batch batch;
    EXPECT_EQ(batch.Run({At("f")}), 1);
    EXPECT_EQ(ModeOf(At("f")), 0444u);
    EXPECT_EQ(RecordOf(At("f")), "garbage");
    EXPECT_TRUE(batch.report.FailedWith(At("f"), Problem::UnreadableRecord));
}

TEST_F(PosixBackend, DryRunReportsAndChangesNothing) {
    MakeFile(At("f"), 0444);
    SetRecord(At("f"), "0x3");
    Batch batch;
    batch.dryRun = true;
    batch.Run({At("f")});
    EXPECT_EQ(ModeOf(At("f")), 0444u);
    EXPECT_EQ(RecordOf(At("f")), "0x3");
    EXPECT_EQ(batch.report.changed[At("f")], std::make_pair(AttributeWord{3}, AttributeWord{0}));
}

// Counts the folders the backend holds open at every entry.
struct ChainWatch final : ProgressDisplay {
    PosixFileSystem* fs = nullptr;
    std::size_t deepest = 0;
    void Show() override {}
    void SetCounter(const NativeString&) override { deepest = std::max(deepest, fs ? fs->OpenFolders() : 0); }
    void RepaintCounter() override {}
    void Hide() override {}
};

TEST_F(PosixBackend, FolderChainStaysAsDeepAsTheWalk) {
    std::string p = At("t");
    MakeFolder(p);
    for (int i = 0; i < 30; ++i) {
        p += "/d";
        MakeFolder(p);
        MakeFile(p + "/f", 0444);
    }
    Options options;
    NoShortcuts shortcuts;
    ChainWatch watch;
    AttributeEngine engine(options, shortcuts, watch, [&] {
        auto fs = std::make_unique<PosixFileSystem>(PosixSettings{});
        fs->Follow(At("t"));
        watch.fs = fs.get();
        return fs;
    });
    engine.paths = {At("t")};
    engine.RunBatch();
    // 25 levels are walked: the listed folder, then a folder and a file on each.
    EXPECT_EQ(engine.ProcessedCount(), 1 + 2 * 25 - 1);
    EXPECT_EQ(ModeOf(At("t/d/f")), 0644u);
    EXPECT_EQ(ModeOf(p + "/f"), 0444u) << "below the depth limit";
    EXPECT_GE(watch.deepest, 20u);
    EXPECT_LE(watch.deepest, 26u);
}

// A shortcut reader that knows its targets by name and, as the real one
// does, tells the batch's file system to follow them.
struct KnownTargets final : ShortcutReader {
    std::map<Path, Path> targets;
    PosixFileSystem* fs = nullptr;
    std::optional<Path> Target(const Path& shortcut) override {
        auto it = targets.find(shortcut);
        if (it == targets.end() || !fs) return std::nullopt;
        fs->Follow(it->second);
        return it->second;
    }
};

TEST_F(PosixBackend, WalkGoesOnAfterAShortcutLedElsewhere) {
    TempFolder outside;
    MakeFolder(outside / "target");
    MakeFile(outside / "target/t", 0444);
    MakeFolder(At("root"));
    MakeFile(At("root/jump.lnk"));
    for (const char* d : {"b", "c", "d"}) {
        MakeFolder(At("root/") + d);
        MakeFolder(At("root/") + d + "/deeper");
        MakeFile(At("root/") + d + "/deeper/f", 0444);
    }
    Options options;
    KnownTargets shortcuts;
    shortcuts.targets[At("root/jump.lnk")] = outside / "target";
    ChainWatch watch;
    Recorder report;
    AttributeEngine engine(options, shortcuts, watch, [&] {
        auto fs = std::make_unique<PosixFileSystem>(PosixSettings{false, 022, &report});
        fs->Follow(At("root"));
        shortcuts.fs = watch.fs = fs.get();
        return fs;
    });
    engine.paths = {At("root")};
    engine.RunBatch();
    EXPECT_EQ(ModeOf(outside / "target/t"), 0644u);
    // Whatever the listing order, the folders after the shortcut's target are
    // reached again from the listed path, one name at a time.
    for (const char* d : {"b", "c", "d"}) EXPECT_EQ(ModeOf(At("root/") + d + "/deeper/f"), 0644u) << d;
    EXPECT_TRUE(report.failed.empty());
    EXPECT_LE(watch.deepest, 4u);
}

TEST_F(PosixBackend, ChainIsRebuiltFromTheFollowedPathWithoutFollowing) {
    TempFolder outside;
    MakeFolder(outside / "deeper");
    MakeFile(outside / "deeper/f", 0444);
    MakeFolder(At("root"));
    MakeFolder(At("root/b"));
    MakeFolder(At("root/b/deeper"));
    MakeFile(At("root/b/deeper/f"), 0444);
    PosixFileSystem fs(PosixSettings{});
    fs.Follow(At("root"));
    fs.Follow(outside.path());
    EXPECT_TRUE(fs.OpenFolderAt(At("root/b")));
    EXPECT_TRUE(fs.OpenFolderAt(outside.path())) << "a followed path starts a chain of its own";
    EXPECT_EQ(fs.OpenFolders(), 1u);
    ASSERT_TRUE(fs.GetFile(At("root/b/deeper/f"))) << "reached again from root, one name at a time";
    EXPECT_EQ(fs.OpenFolders(), 3u);

    EXPECT_TRUE(fs.OpenFolderAt(outside.path()));
    ASSERT_EQ(rename(At("root/b").c_str(), At("root/moved").c_str()), 0);
    MakeLink(outside.path(), At("root/b"));
    EXPECT_FALSE(fs.GetFile(At("root/b/deeper/f"))) << "a link on the way is not followed";
    PosixFileSystem strict(PosixSettings{});
    strict.Follow(At("root/moved"));
    EXPECT_FALSE(strict.GetFile(outside / "deeper/f")) << "below no followed path, nothing is reached";

    // The followed path itself, looked up again by its name, is the folder it was or nothing.
    ASSERT_EQ(rename(At("root").c_str(), At("root-moved").c_str()), 0);
    MakeLink(outside.path(), At("root"));
    EXPECT_TRUE(fs.OpenFolderAt(outside.path()));
    EXPECT_FALSE(fs.GetFile(At("root/deeper/f")));
}

TEST_F(PosixBackend, FolderListedAgainListsEverythingAgain) {
    MakeFolder(At("d"));
    for (const char* n : {"1", "2", "3"}) MakeFile(At("d/") + n);
    PosixFileSystem fs(PosixSettings{});
    fs.Follow(At("d"));
    auto d = fs.OpenFolderAt(At("d"));
    ASSERT_TRUE(d);
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<FolderEntry> entries;
        EXPECT_TRUE(fs.List(*d, At("d"), entries));
        EXPECT_EQ(entries.size(), 3u) << "pass " << pass;
    }
}

// A chain deeper than the descriptor cache: a level that lost its descriptor
// is reached again through ".." from below, or by name from the root when
// the way up was moved, and only if it is still the folder it was.
TEST_F(PosixBackend, EvictedLevelsAreReachedAgainAsTheSameFolder) {
    constexpr int kOpen = static_cast<int>(PosixFileSystem::kOpenLevels);
    constexpr int kDepth = kOpen * 3, kShallow = 20;
    constexpr int kFirstOpen = kDepth - kOpen + 1;  // the shallowest level still holding its descriptor
    struct Row {
        const char* name;
        std::vector<int> moved;  // levels renamed away after the descent, in this order
        bool replaced;           // a new folder stands where the last one moved was
        bool found;
    };
    const Row rows[] = {
        {"through .. from below", {}, false, true},
        {"by name when the way up moved", {kFirstOpen}, false, true},
        {"never another folder in its place", {kFirstOpen, kShallow}, true, false},
    };
    for (const Row& row : rows) {
        TempFolder t;
        std::vector<std::string> level = {t / "r"};
        MakeFolder(level[0]);
        for (int i = 1; i <= kDepth; ++i) {
            level.push_back(level.back() + "/d");
            MakeFolder(level.back());
        }
        MakeFolder(level[kShallow] + "/s");
        MakeFile(level[kShallow] + "/s/f", 0444);
        PosixFileSystem fs(PosixSettings{});
        fs.Follow(level[0]);
        ASSERT_TRUE(fs.OpenFolderAt(level[kDepth])) << row.name;
        EXPECT_LE(fs.OpenFolders(), PosixFileSystem::kOpenLevels + 1) << row.name;
        for (std::size_t i = 0; i < row.moved.size(); ++i) {
            const std::string away = t / ("away" + std::to_string(i));
            ASSERT_EQ(rename(level[row.moved[i]].c_str(), away.c_str()), 0) << row.name;
        }
        if (row.replaced) {
            MakeFolder(level[row.moved.back()]);
            MakeFolder(level[row.moved.back()] + "/s");
            MakeFile(level[row.moved.back()] + "/s/f", 0444);
        }
        EXPECT_EQ(fs.GetFile(level[kShallow] + "/s/f").has_value(), row.found) << row.name;
    }
}

// ---- the swap --------------------------------------------------------------

class Swap : public PosixBackend {
protected:
    TempFolder outside;
    void SetUp() override {
        MakeFolder(At("root"));
        MakeFolder(At("root/a"));
        for (const char* n : {"f1", "f2", "f3", "f4"}) {
            MakeFile(At("root/a/") + n, 0444);
            MakeFile(outside / n, 0444);
            SetRecord(outside / n, "0x2");
        }
        MakeFolder(At("root/a/sub"));
        MakeFile(At("root/a/sub/g"), 0444);
        MakeFolder(outside / "sub");
        MakeFile(outside / "sub/g", 0444);
    }
    void SwapForLink() {
        ASSERT_EQ(rename(At("root/a").c_str(), At("root/moved").c_str()), 0);
        MakeLink(outside.path(), At("root/a"));
    }
    void ExpectOutsideUntouched() {
        for (const char* n : {"f1", "f2", "f3", "f4"}) {
            EXPECT_EQ(ModeOf(outside / n), 0444u) << n;
            EXPECT_EQ(RecordOf(outside / n), "0x2") << n;
        }
        EXPECT_EQ(ModeOf(outside / "sub/g"), 0444u);
    }
};

TEST_F(Swap, BeforeTheFolderIsListed) {
    Batch batch;
    batch.progress.when = 2;  // root, then a: a is rewritten, not yet listed
    batch.progress.at = [&] { SwapForLink(); };
    batch.Run({At("root")});
    ExpectOutsideUntouched();
    EXPECT_EQ(ModeOf(At("root/moved/f1")), 0444u) << "the moved folder is not reached either";
    EXPECT_FALSE(batch.report.failed.empty()) << "the swap is reported";
}

TEST_F(Swap, WhileItsEntriesAreRewritten) {
    Batch batch;
    batch.progress.when = 3;  // a is listed and its first entry rewritten
    batch.progress.at = [&] { SwapForLink(); };
    batch.Run({At("root")});
    ExpectOutsideUntouched();
    // The rest of the folder is finished through the descriptor it was listed with.
    for (const char* n : {"f1", "f2", "f3", "f4", "sub/g"}) EXPECT_EQ(ModeOf(At("root/moved/") + n), 0644u) << n;
}

// The named folder swapped once its own word is read: its walk, and a
// shortcut in it that leads back to it, go on in the folder first opened.
TEST_F(Swap, TheNamedFolderOnceItIsRead) {
    MakeFile(At("root/a/back.lnk"));
    for (const bool shortcut : {false, true}) {
        Options options;
        KnownTargets shortcuts;
        if (shortcut) shortcuts.targets[At("root/a/back.lnk")] = At("root/a");
        Trigger progress;
        progress.when = shortcut ? 3 : 1;  // a rewritten; with the shortcut, a few of its entries too
        progress.at = [&] { SwapForLink(); };
        AttributeEngine engine(options, shortcuts, progress, [&] {
            auto fs = std::make_unique<PosixFileSystem>(PosixSettings{});
            fs->Follow(At("root/a"));
            shortcuts.fs = fs.get();
            return fs;
        });
        engine.paths = {At("root/a")};
        engine.RunBatch();
        ExpectOutsideUntouched();
        EXPECT_EQ(ModeOf(At("root/moved/sub/g")), 0644u) << shortcut;
        ASSERT_EQ(unlink(At("root/a").c_str()), 0);
        ASSERT_EQ(rename(At("root/moved").c_str(), At("root/a").c_str()), 0);
        ASSERT_EQ(chmod(At("root/a/sub/g").c_str(), 0444), 0);
    }
}

// ---- other users, other file systems ----------------------------------------

constexpr uid_t kNobody = 65534;

struct OwnerJob {
    std::string path;
    AttributeWord word;
};

int ClearHiddenAsOwner(void* arg) {
    auto* job = static_cast<OwnerJob*>(arg);
    PosixFileSystem fs(PosixSettings{});
    fs.Follow(job->path);
    auto object = fs.GetFile(job->path);
    if (!object || !object->word) return 10;
    return fs.SetAttributes(*object, job->word) ? 0 : 11;
}

TEST_F(PosixBackend, OwnerWhoIsNotRootChangesHiddenOfAReadOnlyFile) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to hand the file to another user";
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    MakeFile(At("mine"), 0444);
    SetRecord(At("mine"), "0x3");
    ASSERT_EQ(chown(At("mine").c_str(), kNobody, kNobody), 0);
    OwnerJob job{At("mine"), attr::kReadOnly};  // hidden cleared, read-only kept
    EXPECT_EQ(RunAs(kNobody, kNobody, ClearHiddenAsOwner, &job), 0);
    EXPECT_EQ(RecordOf(At("mine")), "0x1");
    EXPECT_EQ(ModeOf(At("mine")), 0444u) << "the write bit lent for the value is taken back";

    MakeFile(At("theirs"), 0444);  // root's file: refused, and said so
    OwnerJob refused{At("theirs"), 0};
    EXPECT_EQ(RunAs(kNobody, kNobody, ClearHiddenAsOwner, &refused), 11);
    EXPECT_EQ(ModeOf(At("theirs")), 0444u);
}

// The owner's write bit is lent to store the value; should taking it back
// fail, the file is left writable, and that must not pass for success.
int ClearHiddenWhileTheRestoreIsRefused(void* arg) {
    // From here on, a chmod back to 0444 is refused with EPERM.
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_fchmod, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[1])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0444, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        return 20;
    auto* job = static_cast<OwnerJob*>(arg);
    Recorder report;
    PosixFileSystem fs(PosixSettings{false, 022, &report});
    fs.Follow(job->path);
    auto object = fs.GetFile(job->path);
    if (!object || !object->word) return 10;
    if (fs.SetAttributes(*object, job->word)) return 11;
    return report.FailedWith(job->path, Problem::ModeNotRestored) ? 0 : 12;
}

TEST_F(PosixBackend, WriteBitLentAndNotTakenBackIsReported) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to hand the file to another user";
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    MakeFile(At("mine"), 0444);
    SetRecord(At("mine"), "0x3");
    ASSERT_EQ(chown(At("mine").c_str(), kNobody, kNobody), 0);
    OwnerJob job{At("mine"), attr::kReadOnly};
    EXPECT_EQ(RunAs(kNobody, kNobody, ClearHiddenWhileTheRestoreIsRefused, &job), 0);
    EXPECT_EQ(ModeOf(At("mine")), 0644u) << "the refusal really happened";
    EXPECT_EQ(RecordOf(At("mine")), "0x1");
}

TEST_F(PosixBackend, FileSystemWithoutUserAttributes) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting ramfs needs root";
    MakeFolder(At("mnt"));
    if (mount("rivak-test", At("mnt").c_str(), "ramfs", 0, nullptr) != 0)
        GTEST_SKIP() << "cannot mount ramfs here: " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{At("mnt")};
    MakeFile(At("mnt/ro"), 0444);
    MakeFile(At("mnt/.dot"), 0644);
    MakeFolder(At("mnt/d"));
    Batch batch;
    batch.Run({At("mnt/ro"), At("mnt/.dot")});
    EXPECT_EQ(ModeOf(At("mnt/ro")), 0644u) << "read-only still goes through the write bits";
    EXPECT_TRUE(batch.report.FailedWith(At("mnt/.dot"), Problem::HiddenNotStorable));

    Batch setRo;
    setRo.options.values = {{Option::ClearReadOnly, 0}, {Option::SetReadOnly, 1}};
    setRo.Run({At("mnt/d")});
    EXPECT_TRUE(setRo.report.FailedWith(At("mnt/d"), Problem::FolderReadOnlyNotStorable));
}

TEST_F(PosixBackend, FolderMountedTwiceIsWalkedOnceThroughItsMounts) {
    if (geteuid() != 0) GTEST_SKIP() << "bind mounts need root";
    MakeFolder(At("t"));
    MakeFolder(At("t/a"));
    for (const char* n : {"1", "2", "3"}) MakeFile(At("t/a/") + n, 0444);
    MakeFolder(At("t/m1"));
    MakeFolder(At("t/m2"));
    if (mount(At("t/a").c_str(), At("t/m1").c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
    struct Unmount {
        std::vector<std::string> paths;
        ~Unmount() {
            for (const std::string& p : paths) umount2(p.c_str(), MNT_DETACH);
        }
    } unmount{{At("t/m1")}};
    ASSERT_EQ(mount(At("t/a").c_str(), At("t/m2").c_str(), nullptr, MS_BIND, nullptr), 0);
    unmount.paths.push_back(At("t/m2"));
    Batch batch;
    // t, its three folders, a's files; m1 and m2 are a again at the same
    // level: not walked a second time.
    EXPECT_EQ(batch.Run({At("t")}), 1 + 3 + 3);
    EXPECT_EQ(ModeOf(At("t/a/1")), 0644u);
}

// Each tree as its reader keeps read-only: a Wine prefix's drives by the
// write bits alone (the value's read-only is Wine's to ignore, Z: is no
// tree), a Samba share by the value alone, elsewhere both. Reached by a
// walk from above the trees, and named one by one.
TEST_F(PosixBackend, EachTreeAsItsReaderKeepsReadOnly) {
    struct Row {
        const char* path;
        bool folder;
        mode_t mode;
        const char* value;
        bool set;  // --readonly=set, else the defaults
        mode_t modeAfter;
        std::optional<std::string> valueAfter;
    };
    const Row rows[] = {
        {"prefix/drive_c/ro", false, 0444, nullptr, false, 0644, std::nullopt},
        {"prefix/drive_c/in-value", false, 0644, "0x1", false, 0644, "0x1"},
        {"prefix/drive_c/set", false, 0664, nullptr, true, 0444, std::nullopt},
        {"prefix/drive_c/folder", true, 0555, nullptr, false, 0755, std::nullopt},
        {"d-drive/ro", false, 0444, nullptr, false, 0644, std::nullopt},
        {"share/set", false, 0644, nullptr, true, 0644, "0x1"},
        {"share/mode-only", false, 0444, nullptr, false, 0444, std::nullopt},
        {"share/folder", true, 0555, "0x11", false, 0555, "0x10"},
        {"elsewhere/in-value", false, 0644, "0x1", false, 0644, std::nullopt},
        {"elsewhere/set", false, 0664, nullptr, true, 0444, "0x1"},
    };
    for (const bool walk : {true, false}) {
        TempFolder t;
        for (const char* folder : {"prefix", "prefix/drive_c", "prefix/dosdevices", "d-drive", "share", "elsewhere"})
            MakeFolder(t / folder);
        MakeLink("../drive_c", t / "prefix/dosdevices/c:");
        MakeLink(t / "d-drive", t / "prefix/dosdevices/d:");
        MakeLink("/", t / "prefix/dosdevices/z:");
        for (const Row& row : rows) {
            if (row.folder) MakeFolder(t / row.path, row.mode);
            else MakeFile(t / row.path, row.mode);
            if (row.value) SetRecord(t / row.path, row.value);
        }
        Readers readers;
        std::vector<std::string> told;
        readers.OnFirstEntry([&](const Reader& r) { told.push_back(r.root); });
        EXPECT_TRUE(readers.AddShares({SambaShare{"share", t / "share", false, {}}}).empty());
        readers.AddWinePrefix(t / "prefix");
        // The walk, from above every tree, clears; the rows that set are named.
        for (const bool set : {false, true}) {
            Batch batch;
            batch.readers = &readers;
            if (set) batch.options.values = {{Option::ClearReadOnly, 0}, {Option::SetReadOnly, 1}, {Option::ClearHidden, 0}};
            PathList paths;
            for (const Row& row : rows)
                if (row.set == set && !walk) paths.push_back(t / row.path);
            if (walk && !set) paths.push_back(t.path());
            batch.Run(paths);
        }
        for (const Row& row : rows) {
            if (walk && row.set) continue;
            const std::string label = row.path + std::string(walk ? " (walked)" : " (named)");
            EXPECT_EQ(ModeOf(t / row.path), row.modeAfter) << label;
            EXPECT_EQ(RecordOf(t / row.path), row.valueAfter) << label;
        }
        std::sort(told.begin(), told.end());
        EXPECT_EQ(told.size(), std::size_t{3}) << "each tree told once (C:, D:, the share), Z: none";
        EXPECT_TRUE(std::adjacent_find(told.begin(), told.end()) == told.end());
    }
}

// smb.conf as smbd reads it.
TEST(SambaConfigReader, ReadsSharesAsSmbdDoes) {
    // name(path) and the rule: the value or not, map readonly n/y/p, then
    // archive, system, hidden mapped, dot files hidden, printable.
    const auto summary = [](const SambaConfig& c) {
        std::string out;
        for (const SambaShare& s : c.shares) {
            const ShareRule& r = s.rule;
            out += s.name + "(" + s.path + ")" + (r.storeDosAttributes ? "V" : "-") +
                   "nyp"[static_cast<int>(r.mapReadOnly)] + (r.mapArchive ? "A" : "-") + (r.mapSystem ? "S" : "-") +
                   (r.mapHidden ? "H" : "-") + (r.hideDotFiles ? "D" : "-") + (s.printable ? "P" : "-") + " ";
        }
        for (const SambaNote& n : c.notes) out += "!" + std::to_string(static_cast<int>(n.kind)) + n.what + " ";
        return out;
    };
    TempFolder t;
    struct Row {
        std::string conf, included, expected;
    };
    const Row rows[] = {
        {"[a]\npath = /srv/a\n", "", "a(/srv/a)VnA--D- "},
        {"[global]\n  Map ReadOnly = Yes\nSTOREDOSATTRIBUTES=no\n[a]\npath=/x\n", "", "a(/x)-yA--D- "},
        {"store dos attributes = 0\n[a]\n", "", "a()-nA--D- "},  // before any section: global
        {"[a]\n[global]\nhide dot files = false\n[b]\nmap hidden = on\n", "", "a()VnA--D- b()VnA-H-- "},
        {"[global]\nmap system = yes\n[a]\nmap system = no\nmap archive = no\n", "", "a()Vn---D- "},
        {"; note\n# note\n[a]\npath = /sr\\\nv\r\n", "", "a(/srv)VnA--D- "},
        {"[a]\nmap readonly = maybe\n[b]\nmap readonly = permissions\n", "", "a()VnA--D- b()VpA--D- "},
        {"[a]\npath=/x\n[b]\n[ A ]\nmap system = yes\n", "", "a(/x)VnAS-D- b()VnA--D- "},
        {"[printers]\npath = /var/tmp\n[p]\nprintable = yes\n", "", "printers(/var/tmp)VnA--DP p()VnA--DP "},
        {"[a]\ninclude = " + (t / "inc.conf") + "\n[b]\n", "store dos attributes = false\n[c]\n",
         "a()-nA--D- c()VnA--D- b()VnA--D- "},
        {"[a]\ninclude = /etc/samba/%m.conf\ninclude = " + (t / "none.conf") + "\n", "",
         "a()VnA--D- !1/etc/samba/%m.conf !0" + (t / "none.conf") + " "},
    };
    for (const Row& row : rows) {
        std::ofstream(t / "smb.conf") << row.conf;
        std::ofstream(t / "inc.conf") << row.included;
        const SambaConfig config = ReadSambaConfig(t / "smb.conf");
        EXPECT_EQ(config.error, 0);
        EXPECT_EQ(summary(config), row.expected) << row.conf;
    }
    EXPECT_EQ(ReadSambaConfig(t / "missing.conf").error, ENOENT);

    // Shares rivak cannot match are told, not guessed at.
    MakeFolder(t / "served");
    const auto share = [](const std::string& name, const std::string& path) { return SambaShare{name, path, false, {}}; };
    SambaShare byUser = share("perm", t / "served");
    byUser.rule.storeDosAttributes = false;
    byUser.rule.mapReadOnly = ShareRule::MapReadOnly::Permissions;
    Readers readers;
    const std::vector<SambaNote> notes = readers.AddShares(
        {share("homes", ""), share("u", "/srv/%U"), share("gone", t / "gone"), byUser, share("ok", t / "served")});
    std::vector<std::pair<SambaNote::Kind, int>> told;
    for (const SambaNote& n : notes) told.emplace_back(n.kind, n.error);
    using K = SambaNote::Kind;
    EXPECT_EQ(told, (decltype(told){{K::PathPerUser, 0}, {K::PathPerUser, 0}, {K::PathMissing, ENOENT}, {K::RulePerUser, 0}}));
}

}  // namespace
}  // namespace rivak::posix
