// --save and --restore in the file system: a change run writes each entry's
// state down before it changes it, in batches, and --restore puts a saved
// state back on the entry reached as any entry is.
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/posix/file_system_posix.h"
#include "platform/posix/save_file.h"

namespace rivak::posix {

namespace {

// A batch holds the descriptors of its entries until its changes are made;
// two are under way at once (one on its way to the disk, one gathering).
// Fewer than kFewest are handed over only at the end (each hand-over wakes
// the writing thread), more than kBatch never.
constexpr std::size_t kBatch = 4096;
constexpr std::size_t kFewest = 256;
constexpr rlim_t kSpareDescriptors = 64;

}  // namespace

void PosixFileSystem::StartSaving() {
    if (!settings_.save) return;
    struct rlimit limit;
    rlim_t files = 1024;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        // The soft limit may rise to the hard one: this program neither
        // uses select() nor starts any other.
        const rlim_t wanted = std::min<rlim_t>(limit.rlim_max, 2 * kBatch + kOpenLevels + kSpareDescriptors);
        if (limit.rlim_cur < wanted) {
            limit.rlim_cur = wanted;
            if (setrlimit(RLIMIT_NOFILE, &limit) != 0) getrlimit(RLIMIT_NOFILE, &limit);
        }
        files = limit.rlim_cur;
    }
    const rlim_t kept = kOpenLevels + kSpareDescriptors;
    batchLimit_ = std::clamp<rlim_t>(files > kept ? (files - kept) / 2 : 1, 1, kBatch);
    std::size_t slots = 16;
    while (slots < 8 * batchLimit_) slots *= 2;  // two batches, a quarter full at most
    waiting_.assign(slots, {0, 0});
}

// Where (dev, ino) is or would go: linear probing from a mixed hash. No
// entry has inode 0, so {0, 0} is a free slot.
std::size_t PosixFileSystem::Slot(dev_t dev, ino_t ino) const {
    std::uint64_t h = (static_cast<std::uint64_t>(dev) << 32 ^ ino) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
    const std::size_t mask = waiting_.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
        const auto& slot = waiting_[i];
        if ((slot.first == dev && slot.second == ino) || (slot.first == 0 && slot.second == 0)) return i;
    }
}

void PosixFileSystem::MarkWaiting(const Entry& e) { waiting_[Slot(e.dev, e.ino)] = {e.dev, e.ino}; }

// A batch left: the set holds those still waiting.
void PosixFileSystem::Rewait() {
    std::fill(waiting_.begin(), waiting_.end(), std::pair<dev_t, ino_t>{0, 0});
    for (const std::vector<Deferred>* batch : {&sealed_, &gathering_})
        for (const Deferred& d : *batch) MarkWaiting(d.entry);
}

// A change the store plans to make waits in the batch; one that changes
// nothing (its word is already right, and the store would leave every place
// as it is) needs no line, and is told at once as a dry run tells it.
bool PosixFileSystem::Defer(Entry& e, AttributeWord want) {
    if (saveError_) {
        Fail(e.path, Problem::NotSaved, saveError_);
        entry_ = Entry{};
        return false;
    }
    // A second link to an entry waiting: its change is made first, and the
    // entry read again as the run without a save file would read it.
    if (waiting_[Slot(e.dev, e.ino)].second != 0) {
        const Path path = e.path;
        Flush();
        entry_ = Entry{};
        Entry& again = Locate(path);
        if (!again.found || !again.KnownWord() || !again.store) return false;
        return Defer(again, want);
    }
    if (!e.saved) {  // a store that never changes anything
        const bool ok = Write(e, want);
        entry_ = Entry{};
        return ok;
    }
    if (want == e.word) {
        std::vector<std::pair<Problem, int>> told;
        StoreEntry view = View(e);
        const StoreOutcome plan =
            Planner(e).Write(view, e.word, want, [&](Problem p, int error) { told.emplace_back(p, error); });
        if (!plan.touched) {
            const auto fail = [&](Problem p, int error) { Fail(e.path, p, error); };
            for (const auto& [problem, error] : told) fail(problem, error);
            TellChange(e, view, plan, fail);
            entry_ = Entry{};
            return plan.ok;
        }
    }
    if (!Journal(e)) {
        Fail(e.path, Problem::NotSaved, EINVAL);
        entry_ = Entry{};
        return false;
    }
    MarkWaiting(e);
    gathering_.push_back(Deferred{std::move(e), want, 0});
    entry_ = Entry{};
    // A batch goes to the disk as soon as the one before is done: the
    // fewer entries between a look-up and its change, the less the kernel
    // has to find again.
    if (gathering_.size() >= batchLimit_ || (gathering_.size() >= kFewest && settings_.save->Idle())) Rotate();
    return true;
}

void PosixFileSystem::SaveListed(Entry& e) {
    if (saveError_) return Fail(e.path, Problem::NotSaved, saveError_);
    if (!e.saved) return;  // the volume keeps nothing rivak could give back
    if (!Journal(e)) return Fail(e.path, Problem::NotSaved, EINVAL);
    if (settings_.save->Gathered() >= kBatch && !settings_.save->Seal()) SaveFailed(errno);
}

// The entry's line: its path below the path the run followed to reach it,
// which --restore opens again as a named path.
bool PosixFileSystem::Journal(const Entry& e) {
    // Below its root, an entry was reached through the chain, whose root is
    // always a followed path.
    std::size_t length = 0;
    if (IsFollowed(e.path)) length = e.path.size();
    else if (!chain_.empty() && e.path.compare(0, chain_[0].end, chainPath_, 0, chain_[0].end) == 0)
        length = chain_[0].end;
    if (length == 0) return false;
    const std::string_view root(e.path.data(), length);
    std::size_t from = length;
    while (from < e.path.size() && e.path[from] == '/') ++from;
    const std::string_view below(e.path.data() + from, e.path.size() - from);
    if (!below.empty() && !IsPlainBelow(below)) return false;
    SaveWriter& save = *settings_.save;
    const std::uint32_t number = save.Root(root);
    if (!save.HasMount(e.dev)) {
        const auto& [type, point] = mountNames_[e.dev];
        save.Mount(e.dev, e.store->Kind(), type, point);
    }
    save.Entry(number, e.dev, e.ino, e.folder, *e.saved, below);
    return true;
}

// Once the batch before is done (on disk, changed), what it did is told, and
// the batch gathered goes: its changes are made once it is on disk.
void PosixFileSystem::Rotate() {
    if (!Done()) return;
    std::swap(sealed_, gathering_);
    Rewait();
    changing_.emplace();
    if (!settings_.save->Seal([this] { ApplySealed(); })) SaveFailed(errno);
}

void PosixFileSystem::Flush() {
    if (!settings_.save || (gathering_.empty() && sealed_.empty())) return;
    Rotate();
    if (Done()) Rewait();
}

// Waits for the batch handed over, then tells what it did; a Ctrl-C that
// came meanwhile ends the run here, between two batches.
bool PosixFileSystem::Done() {
    const bool written = settings_.save->Wait();
    const int error = errno;
    changing_.reset();
    if (!written) {
        SaveFailed(error);
        return false;
    }
    TellSealed();
    return true;
}

// On the save file's thread: the batch's changes, in order, each entry's
// descriptor closed once it is done.
void PosixFileSystem::ApplySealed() {
    for (Deferred& d : sealed_) {
        Write(d.entry, d.want, &told_);
        d.toldEnd = told_.size();
        d.entry.fd.reset();
    }
}

void PosixFileSystem::TellSealed() {
    std::size_t next = 0;
    for (const Deferred& d : sealed_) {
        for (; next < d.toldEnd; ++next) {
            const Told& t = told_[next];
            if (!t.changed) Fail(d.entry.path, t.problem, t.error);
            else if (settings_.report) settings_.report->Changed(d.entry.path, t.before, t.after);
        }
    }
    sealed_.clear();
    told_.clear();
}

// Nothing that waits is changed: its line may not be on disk.
void PosixFileSystem::SaveFailed(int error) {
    saveError_ = error ? error : EIO;
    for (std::vector<Deferred>* batch : {&sealed_, &gathering_}) {
        for (const Deferred& d : *batch) Fail(d.entry.path, Problem::NotSaved, saveError_);
        batch->clear();
    }
    told_.clear();
    changing_.reset();
    Rewait();
}

// The entry's store in a dry run: what it would do, without doing it.
AttributeStore& PosixFileSystem::Planner(const Entry& e) {
    std::unique_ptr<AttributeStore>& planner = planners_[e.dev];
    if (!planner) {
        const StoreSettings settings{true, settings_.umask, settings_.changeReadOnly, settings_.changeHidden,
                                     settings_.readers};
        planner = SelectStore(e.fd.get(), settings).store;
    }
    return planner->Within(View(e), e.holder);
}

bool PosixFileSystem::PutBack(const Path& path, const SavedEntry& saved, const std::string& kind) {
    const std::size_t failures = failures_;
    Entry& e = Locate(path);
    Problem problem = Problem::Gone;
    if (e.found && (e.dev != saved.dev || e.ino != saved.ino || e.folder != saved.folder)) {
        problem = Problem::Replaced;
    } else if (e.found && e.store && e.store->Kind() != kind) {
        problem = Problem::OtherStore;
    } else if (e.found && e.store) {
        const auto fail = [&](Problem p, int error) { Fail(path, p, error); };
        StoreEntry view = View(e);
        const StoreOutcome out = e.store->Restore(view, saved.state, fail);
        TellChange(e, view, out, fail);
        entry_ = Entry{};
        return out.ok;
    }
    if (failures_ == failures) Fail(path, problem, 0);  // unless the look-up told why already
    entry_ = Entry{};
    return false;
}

}  // namespace rivak::posix
