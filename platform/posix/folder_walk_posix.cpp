// The walk's side of the POSIX file system: folders held open, listed once,
// their entries looked up and changed through them.
//
// A folder of the walk is opened by its name in its parent's descriptor,
// never following a link, and must be the folder its parent's listing
// showed (device and inode). Only the folders used last keep a descriptor:
// one that lost it is opened again the same way, from the nearest ancestor
// that has one, and checked again at every level.
//
// An entry is taken with O_PATH, which opens nothing, so a FIFO or a device
// swapped in is never opened; the stores read and change it through that
// descriptor (entry_calls.h), and only a store that needs the entry open
// (an ioctl) gets it opened, through the same descriptor.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <thread>

#include "platform/posix/entry_calls.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/path_names.h"

namespace rivak::posix {

namespace {

constexpr unsigned kEntryStatx = STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_UID | STATX_INO | STATX_SIZE;

// An entry's slot: its index in the listing (from 1), above what the
// listing said it is.
constexpr std::uint32_t kSaysFile = 1, kSaysFolder = 2, kSaysMask = 3;
constexpr unsigned kSlotShift = 2;

dev_t DevOf(const struct statx& sx) { return makedev(sx.stx_dev_major, sx.stx_dev_minor); }

}  // namespace

// What the calls on one entry had to tell, kept in order until the engine
// tells the entry: the calls may run on any worker.
class PosixFileSystem::Recorder final : public Report {
public:
    void Changed(const Path& path, AttributeWord before, AttributeWord after) override {
        calls_.push_back(Call{Call::Kind::Changed, path, before, after, Problem::Access, 0, std::nullopt, {}});
    }
    void Failed(const Path& path, Problem problem, int error) override {
        calls_.push_back(Call{Call::Kind::Failed, path, 0, 0, problem, error, std::nullopt, {}});
    }
    void KeptReadOnly(const Path& path) override {
        calls_.push_back(Call{Call::Kind::KeptReadOnly, path, 0, 0, Problem::Access, 0, std::nullopt, {}});
    }
    void Listed(const Path& path, std::optional<AttributeWord> word) override {
        calls_.push_back(Call{Call::Kind::Listed, path, 0, 0, Problem::Access, 0, word, {}});
    }
    void Refused(const Path& path, Problem problem, const std::string& detail) override {
        calls_.push_back(Call{Call::Kind::Refused, path, 0, 0, problem, 0, std::nullopt, detail});
    }
    // `firstOfMount`: whether a mount with no known place for attributes is
    // told in full here (the first entry told of it), whichever worker met
    // it first.
    void Replay(Report& to, const std::function<bool()>& firstOfMount) const {
        for (const Call& c : calls_) {
            switch (c.kind) {
            case Call::Kind::Changed: to.Changed(c.path, c.before, c.after); break;
            case Call::Kind::KeptReadOnly: to.KeptReadOnly(c.path); break;
            case Call::Kind::Listed: to.Listed(c.path, c.word); break;
            case Call::Kind::Refused: to.Refused(c.path, c.problem, c.detail); break;
            case Call::Kind::Failed: {
                Problem p = c.problem;
                if (p == Problem::NotStorable || p == Problem::NotStorableAgain)
                    p = firstOfMount() ? Problem::NotStorable : Problem::NotStorableAgain;
                to.Failed(c.path, p, c.error);
                break;
            }
            }
        }
    }

private:
    struct Call {
        enum class Kind { Changed, Failed, KeptReadOnly, Listed, Refused } kind;
        Path path;
        AttributeWord before = 0, after = 0;
        Problem problem = Problem::Access;
        int error = 0;
        std::optional<AttributeWord> word;
        std::string detail;
    };
    std::vector<Call> calls_;
};

namespace {
// Where the calls on this thread keep what they tell of the entry they are
// about, if any; the recorder is made when there is something to keep.
thread_local std::unique_ptr<PosixFileSystem::Recorder>* recording = nullptr;

class Recording {
public:
    explicit Recording(std::unique_ptr<PosixFileSystem::Recorder>& into) : before_(std::exchange(recording, &into)) {}
    ~Recording() { recording = before_; }

private:
    std::unique_ptr<PosixFileSystem::Recorder>* before_;
};
}  // namespace

// Each thread holds its own: threads that share one open file bump one
// count on every call, which costs them more than the call.
int ProcFdFolder() {
    thread_local const UniqueFd folder(open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC));
    return folder.get();
}

bool PosixFileSystem::OnWalkEntry() { return recording != nullptr; }

Report* PosixFileSystem::Reporter() const {
    if (!recording) return settings_.report;
    if (!*recording) *recording = std::make_unique<Recorder>();
    return recording->get();
}

PosixFileSystem::Looked::Looked() = default;
PosixFileSystem::Looked::Looked(Looked&&) noexcept = default;
PosixFileSystem::Looked& PosixFileSystem::Looked::operator=(Looked&&) noexcept = default;
PosixFileSystem::Looked::~Looked() = default;

namespace {
std::uint64_t NextSerial() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}
}  // namespace

struct PosixFileSystem::WalkFolder final : OpenFolder {
    WalkFolder* parent = nullptr;  // null for a folder reached by a path
    std::string name;              // in its parent; the whole path when reached by one
    dev_t dev = 0;
    ino_t ino = 0;
    UniqueFd fd;
    bool listed = false;       // fd has been read to its end once
    bool cached = false;       // counted in openWalk_ (fd open)
    bool visiting = false;     // listed, not yet visited: its descriptor stays
    std::unique_ptr<Recorder> listTold;  // what its listing had to tell
    std::size_t openSlot = 0;  // where openWalk_ holds it then
    Path shown;                // its path, once a report needed it during its visit
    std::vector<Looked> looked;
    // The store of the entries on the folder's own device, chosen by the
    // first of them: the same for all (the reader depends on the folder).
    std::atomic<AttributeStore*> mount{nullptr}, within{nullptr};
    // Which folder this is, for the workers' own descriptors of it.
    std::uint64_t serial = NextSerial();
    std::thread::id opener = std::this_thread::get_id();
    PosixFileSystem* owner = nullptr;
    ~WalkFolder() override {
        if (owner) owner->Forget(*this);
    }
};

// ---- the walk's folders ------------------------------------------------------

// A folder listed ahead may go without its visit: what it had to tell goes too.
void PosixFileSystem::Forget(WalkFolder& f) {
    Drop(f);
    std::lock_guard<std::mutex> lock(walkFolders_);
    f.fd.reset();
    if (!f.cached) return;
    f.cached = false;
    openWalk_[f.openSlot] = nullptr;
    --walkOpen_;
}

// Marks `f` used last; when too many folders hold a descriptor, the one
// used longest ago lets its go, unless it is listed and not yet visited
// (the entries' calls use its descriptor, unlocked). Under walkFolders_.
void PosixFileSystem::Touch(WalkFolder& f) {
    if (f.cached && f.openSlot + 1 == openWalk_.size()) return;
    if (f.cached) openWalk_[f.openSlot] = nullptr;
    else ++walkOpen_;
    f.cached = true;
    f.openSlot = openWalk_.size();
    openWalk_.push_back(&f);
    std::size_t i = 0;
    while (walkOpen_ > kOpenLevels && i < openWalk_.size()) {
        WalkFolder* old = openWalk_[i++];
        if (!old || old == &f || old->visiting) continue;
        openWalk_[i - 1] = nullptr;
        old->fd.reset();
        old->cached = false;
        --walkOpen_;
    }
    // Compact the order once the emptied slots outnumber the open ones.
    if (openWalk_.size() > 4 * kOpenLevels) {
        std::vector<WalkFolder*> kept;
        for (WalkFolder* w : openWalk_)
            if (w) kept.push_back(w);
        for (std::size_t n = 0; n < kept.size(); ++n) kept[n]->openSlot = n;
        openWalk_ = std::move(kept);
    }
}

// The folder's descriptor: opened again from the nearest ancestor that holds
// one, each level by name without following, each checked to be the folder
// it was. -1 (errno ELOOP for a folder replaced) when it cannot be.
int PosixFileSystem::Descriptor(WalkFolder& f) {
    if (f.fd) {
        Touch(f);
        return f.fd.get();
    }
    std::vector<WalkFolder*> down{&f};
    while (down.back()->parent && !down.back()->parent->fd) down.push_back(down.back()->parent);
    WalkFolder* top = down.back();
    int from = -1;
    UniqueFd fromPath;
    if (top->parent) {
        from = top->parent->fd.get();
    } else {
        from = FolderFd(top->name);  // a folder reached by a path, found again by it
        if (from == -1) return -1;
    }
    for (std::size_t i = down.size(); i-- > 0;) {
        WalkFolder& level = *down[i];
        const bool byPath = !level.parent;
        UniqueFd fd(byPath ? openat(from, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                           : openat(from, level.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd) {
            if (errno == ENOTDIR) errno = ELOOP;  // a link or a file stands where the folder was
            return -1;
        }
        struct statx sx;
        if (statx(fd.get(), "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO, &sx) != 0) return -1;
        if (DevOf(sx) != level.dev || sx.stx_ino != level.ino) {
            errno = ELOOP;
            return -1;
        }
        level.fd = std::move(fd);
        level.listed = false;
        Touch(level);
        from = level.fd.get();
    }
    return f.fd.get();
}

int PosixFileSystem::SharedDescriptor(WalkFolder& f) {
    std::lock_guard<std::mutex> lock(walkFolders_);
    return Descriptor(f);
}

// The listing opened the folder, and nothing lets its descriptor go while
// its entries are looked up and changed (Touch).
// A worker opens the folder for itself once (ProcFdFolder says why), from
// the folder's own descriptor.
int PosixFileSystem::WalkDescriptor(WalkFolder& f) {
    const int shared = f.fd ? f.fd.get() : SharedDescriptor(f);
    if (shared == -1 || std::this_thread::get_id() == f.opener) return shared;
    thread_local std::uint64_t folder = 0;
    thread_local UniqueFd own;
    if (folder != f.serial || !own) {
        own.reset(openat(shared, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
        folder = own ? f.serial : 0;
    }
    return own ? own.get() : shared;
}

// The folder's path, for what is told of it and its entries: the one the
// engine gave with the listing, else built from the names (a folder that
// could not be opened to be listed).
const Path& PosixFileSystem::Shown(WalkFolder& f) {
    if (!f.shown.empty()) return f.shown;
    std::vector<const WalkFolder*> up;
    for (const WalkFolder* w = &f; w; w = w->parent) up.push_back(w);
    Path path = up.back()->name;
    for (std::size_t i = up.size() - 1; i-- > 0;) {
        if (path.empty() || path.back() != '/') path += '/';
        path += up[i]->name;
    }
    f.shown = std::move(path);
    return f.shown;
}

std::unique_ptr<OpenFolder> PosixFileSystem::OpenFolderAt(const Path& path) {
    // Only the engine's thread, with no folder listed ahead.
    entry_ = Entry{};  // a path looked up before is read afresh after a walk
    const int fd = FolderFd(path);
    UniqueFd own(fd == -1 ? -1 : openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct statx sx;
    if (!own || statx(own.get(), "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO, &sx) != 0) {
        // ENOTDIR: a system file, which the engine takes for a folder.
        if (errno == ELOOP) Fail(path, Problem::SwappedForLink, errno);
        else if (errno != ENOTDIR && (errno != ENOENT || IsFollowed(path))) Fail(path, Problem::Listing, errno);
        return nullptr;
    }
    auto f = std::make_unique<WalkFolder>();
    f->owner = this;
    f->name = path;
    f->dev = DevOf(sx);
    f->ino = sx.stx_ino;
    f->fd = std::move(own);
    std::lock_guard<std::mutex> lock(walkFolders_);
    Touch(*f);
    return f;
}

std::unique_ptr<OpenFolder> PosixFileSystem::OpenSubfolder(OpenFolder& parent, const FolderEntry& sub) {
    entry_ = Entry{};  // a path looked up before is read afresh after this walk changed it
    auto f = std::make_unique<WalkFolder>();
    f->owner = this;
    f->parent = &static_cast<WalkFolder&>(parent);
    f->name = sub.name;
    f->dev = static_cast<dev_t>(sub.key.volume);
    f->ino = static_cast<ino_t>(sub.key.object);
    return f;
}

std::optional<FolderKey> PosixFileSystem::Identity(OpenFolder& folder) {
    const auto& f = static_cast<WalkFolder&>(folder);
    return FolderKey{static_cast<std::uint64_t>(f.dev), static_cast<std::uint64_t>(f.ino)};
}

// Every name is read first and sorted as bytes, as `LC_ALL=C ls` sorts, so
// that two runs over one tree tell it in the same order; then each entry is
// looked up, in that order. On any thread (a folder listed ahead): what it
// has to tell waits for the engine to tell the folder's entries.
bool PosixFileSystem::List(OpenFolder& folder, const Path& path, std::vector<FolderEntry>& entries) {
    auto& f = static_cast<WalkFolder&>(folder);
    Drop(f);  // a folder listed again (a linked folder) reads afresh
    const Recording into(f.listTold);
    f.shown = path;
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(walkFolders_);
        fd = Descriptor(f);
        f.visiting = fd != -1;
    }
    if (fd == -1 || (f.listed && lseek(fd, 0, SEEK_SET) != 0)) {
        if (errno == ELOOP) Fail(Shown(f), Problem::SwappedForLink, errno);
        else Fail(Shown(f), Problem::Listing, errno);
        return false;
    }
    f.listed = true;
    const std::size_t first = entries.size();
    bool complete = true;
    alignas(8) char buffer[32768];
    for (;;) {
        const long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (n < 0) {
            Fail(Shown(f), Problem::Listing, errno);
            complete = false;
            break;
        }
        if (n == 0) break;
        for (long at = 0; at < n;) {
            const auto* d = reinterpret_cast<const struct dirent64*>(buffer + at);
            at += d->d_reclen;
            if (IsDotOrDotDot(d->d_name)) continue;
            // Links, FIFOs, sockets and devices are never touched.
            if (d->d_type != DT_UNKNOWN && d->d_type != DT_REG && d->d_type != DT_DIR) continue;
            FolderEntry entry;
            entry.name = d->d_name;
            entry.folder = d->d_type == DT_DIR;
            entry.looked = false;
            entry.slot = d->d_type == DT_REG ? kSaysFile : d->d_type == DT_DIR ? kSaysFolder : 0;
            entries.push_back(std::move(entry));
        }
    }
    std::sort(entries.begin() + static_cast<std::ptrdiff_t>(first), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    // Only the entries between their look-up and their telling need a
    // place: a ring as long as the engine looks ahead.
    f.looked.resize(std::min(entries.size() - first, lookAhead_));
    for (std::size_t i = first; i < entries.size(); ++i)
        entries[i].slot |= static_cast<std::uint32_t>(i - first + 1) << kSlotShift;
    return complete;
}

// The place of an entry of the last listing, emptied for it when another
// entry had it before.
PosixFileSystem::Looked* PosixFileSystem::PlaceOf(WalkFolder& f, const FolderEntry& entry) {
    const std::size_t index = entry.slot >> kSlotShift;
    if (index == 0 || f.looked.empty()) return nullptr;
    Looked& place = f.looked[(index - 1) % f.looked.size()];
    if (place.index == index) return &place;
    if (place.entry.fd) --keptEntries_;
    place.entry = Entry{};
    place.told.reset();
    place.index = index;
    return &place;
}

// Any worker: the entry is looked up through its folder's descriptor, which
// the listing opened; what goes wrong is kept for Tell.
bool PosixFileSystem::LookUp(OpenFolder& folder, FolderEntry& entry) {
    auto& f = static_cast<WalkFolder&>(folder);
    Looked* place = PlaceOf(f, entry);
    if (!place) return false;
    Looked& looked = *place;
    const Recording into(looked.told);
    const int dirfd = WalkDescriptor(f);
    if (dirfd == -1) {
        const int error = errno;
        Fail(Shown(f) + '/' + entry.name, error == ELOOP ? Problem::SwappedForLink : Problem::Access, error);
        return false;
    }
    if (looked.entry.fd) --keptEntries_;
    looked.entry = Entry{};
    const std::uint32_t says = entry.looked ? 0 : entry.slot & kSaysMask;
    const unsigned char type = says == kSaysFile ? DT_REG : says == kSaysFolder ? DT_DIR : DT_UNKNOWN;
    return LookUpIn(f, dirfd, entry.name, type, entry, looked);
}

void PosixFileSystem::Tell(OpenFolder& folder, FolderEntry& entry) {
    auto& f = static_cast<WalkFolder&>(folder);
    Looked* place = PlaceOf(f, entry);
    if (!place) return;
    Looked& looked = *place;
    if (!looked.told || !settings_.report) return;
    looked.told->Replay(*settings_.report, [&] { return notStorableTold_.insert(looked.entry.dev).second; });
    looked.told.reset();
}

// Entries looked up ahead hold a descriptor each until they are changed:
// half of what the process may open, after the folders and a margin.
std::size_t PosixFileSystem::LookAheadLimit() {
    struct rlimit limit;
    std::size_t most = 1024;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) most = limit.rlim_cur;
    const std::size_t reserve = 2 * kOpenLevels + 64;
    return std::clamp<std::size_t>(most > reserve ? (most - reserve) / 2 : 0, 16, 4096);
}

// One entry: its type, identity and mode from the descriptor O_PATH gave,
// its word from its mount's store. The descriptor is kept for the change
// while few are kept.
bool PosixFileSystem::LookUpIn(WalkFolder& f, int dirfd, const std::string& name, unsigned char type,
                               FolderEntry& out, Looked& looked) {
    const auto path = [&] { return Shown(f) + '/' + name; };
    UniqueFd fd(openat(dirfd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct statx sx;
    if (!fd || statx(fd.get(), "", AT_EMPTY_PATH, kEntryStatx, &sx) != 0) {
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR) Fail(path(), Problem::Access, error);
        return false;
    }
    if (!S_ISREG(sx.stx_mode) && !S_ISDIR(sx.stx_mode)) {
        // Listed as a file or folder, a link now: swapped meanwhile.
        if (S_ISLNK(sx.stx_mode) && type != DT_UNKNOWN) Fail(path(), Problem::SwappedForLink, ELOOP);
        return false;
    }
    Entry& e = looked.entry;
    FromStatx(e, sx);
    e.dotName = name[0] == '.';
    e.fd = std::move(fd);
    e.pathOnly = true;
    // The first entry of a device chooses its store (SelectStore takes
    // O_PATH) and names the mount by the entry's path.
    const bool own = e.dev == f.dev;
    AttributeStore* chosen = own ? f.mount.load(std::memory_order_acquire) : nullptr;
    if (!chosen) {
        e.path = path();
        chosen = &StoreFor(e);
        if (own) f.mount.store(chosen, std::memory_order_release);
    }
    AttributeStore& mount = *chosen;
    if (mount.Opens()) {
        UniqueFd opened = OpenThrough(e.fd.get(), sx.stx_mode);
        if (!opened) {
            const int error = errno;
            Fail(path(), Problem::Access, error);
            e = Entry{};
            return false;
        }
        e.fd = std::move(opened);
        e.pathOnly = false;
    }
    const StoreFolder holder{dirfd, f.dev, f.ino};
    AttributeStore* store = own ? f.within.load(std::memory_order_acquire) : nullptr;
    if (!store) {
        std::lock_guard<std::mutex> lock(sharedState_);
        store = &mount.Within(View(e), holder);
        if (own) f.within.store(store, std::memory_order_release);
    }
    const auto fail = [&](Problem p, int error) { Fail(path(), p, error); };
    e.store = store;
    const std::optional<AttributeWord> word = StoredWord(e, View(e), fail, settings_.save ? &e.saved : nullptr);
    e.path = Path();

    out.folder = e.folder;
    out.word = word;
    out.looked = true;
    out.shared = !e.folder && e.links > 1;
    out.key = FolderKey{static_cast<std::uint64_t>(e.dev), static_cast<std::uint64_t>(e.ino)};
    if (keptEntries_.fetch_add(1) >= lookAhead_ + 2 * kOpenLevels) {
        --keptEntries_;
        e.fd.reset();
    }
    return true;
}

// The entry as the path calls know it, its descriptor again if it let it
// go: by its name, which must still give the entry listed.
bool PosixFileSystem::Take(WalkFolder& f, const FolderEntry& entry, Entry& e) {
    Looked* place = PlaceOf(f, entry);
    if (!place || !place->entry.store) return false;
    e = std::move(place->entry);
    place->entry.store = nullptr;  // taken
    e.path = Shown(f) + '/' + entry.name;
    const int dirfd = WalkDescriptor(f);
    if (dirfd == -1) {
        const int error = errno;
        Fail(e.path, error == ELOOP ? Problem::SwappedForLink : Problem::Access, error);
        return false;
    }
    if (e.fd) {
        --keptEntries_;
    } else {
        UniqueFd fd(openat(dirfd, entry.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct statx sx;
        if (!fd || statx(fd.get(), "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO, &sx) != 0) {
            if (errno != ENOENT) Fail(e.path, Problem::Access, errno);
            return false;
        }
        if (DevOf(sx) != e.dev || sx.stx_ino != e.ino) {
            Fail(e.path, Problem::SwappedForLink, ELOOP);
            return false;
        }
        e.fd = e.pathOnly ? std::move(fd) : OpenThrough(fd.get(), sx.stx_mode);
        if (!e.fd) {
            Fail(e.path, Problem::Access, errno);
            return false;
        }
    }
    e.readable = entry.word.has_value();
    e.word = entry.word.value_or(0);
    e.holder = StoreFolder{dirfd, f.dev, f.ino};
    return true;
}

bool PosixFileSystem::Change(OpenFolder& folder, const FolderEntry& entry, AttributeWord word) {
    auto& f = static_cast<WalkFolder&>(folder);
    Looked* place = PlaceOf(f, entry);
    if (!place) return false;
    Looked& looked = *place;
    const Recording into(looked.told);
    Entry e;
    if (!entry.word || !Take(f, entry, e)) return false;
    return Apply(e, word);
}

// What SetAttributes does with an entry once it is found.
bool PosixFileSystem::Apply(Entry& e, AttributeWord word) {
    if (settings_.list) {
        if (Report* r = Reporter()) r->Listed(e.path, e.store->Knows() ? e.KnownWord() : std::nullopt);
        if (settings_.save) SaveListed(e);
        return true;
    }
    if (settings_.save) return Defer(e, word);
    return Write(e, word);
}

bool PosixFileSystem::SubfolderHolds(OpenFolder& folder, const FolderEntry& sub, const Path& name) {
    auto& f = static_cast<WalkFolder&>(folder);
    Looked* place = PlaceOf(f, sub);
    if (!place) return false;
    const Recording into(place->told);
    const int dirfd = SharedDescriptor(f);
    if (dirfd == -1) return false;
    UniqueFd fd(openat(dirfd, sub.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct statx sx;
    if (!fd || statx(fd.get(), "", AT_EMPTY_PATH, STATX_INO, &sx) != 0) return false;
    if (DevOf(sx) != static_cast<dev_t>(sub.key.volume) || sx.stx_ino != sub.key.object) return false;
    const bool holds = FolderHolds(fd.get(), name);
    if (holds && !settings_.list)
        if (Report* r = Reporter()) r->KeptReadOnly(Shown(f) + '/' + sub.name);
    return holds;
}

void PosixFileSystem::TellListing(OpenFolder& folder) {
    auto& f = static_cast<WalkFolder&>(folder);
    if (!f.listTold) return;
    if (settings_.report) f.listTold->Replay(*settings_.report, [] { return true; });
    f.listTold.reset();
}

void PosixFileSystem::Visited(OpenFolder& folder) {
    auto& f = static_cast<WalkFolder&>(folder);
    Drop(f);
    std::lock_guard<std::mutex> lock(walkFolders_);
    f.visiting = false;
}

void PosixFileSystem::Drop(WalkFolder& f) {
    f.listTold.reset();
    for (Looked& l : f.looked)
        if (l.entry.fd) --keptEntries_;
    std::vector<Looked>().swap(f.looked);
    Path().swap(f.shown);
}

}  // namespace rivak::posix
