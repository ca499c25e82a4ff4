#include "platform/posix/file_system_posix.h"

#include "platform/posix/entry_calls.h"
#include "platform/posix/path_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

namespace rivak::posix {

namespace {

constexpr AttributeWord kMaskable = attr::kHidden | attr::kSystem | attr::kVolume | attr::kDirectory;

bool Admitted(AttributeWord word, unsigned mask) { return (word & kMaskable & ~mask) == 0; }

bool IsDotName(const std::string& name) { return !name.empty() && name[0] == '.' && !IsDotOrDotDot(name); }

int StatxFd(int fd, struct statx& sx) {
    return statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_UID | STATX_INO | STATX_SIZE, &sx);
}

bool IsFileOrFolder(mode_t mode) { return S_ISREG(mode) || S_ISDIR(mode); }


}  // namespace

PosixFileSystem::PosixFileSystem(PosixSettings settings)
    : settings_(settings), owners_{geteuid() == 0 && !settings.followOutside, settings.caller} {
    StartSaving();
}

// What still waits for the save file is done before the descriptors close;
// a failure that escapes leaves those entries as they are (the file names them).
PosixFileSystem::~PosixFileSystem() {
    try {
        Flush();
    } catch (...) {
    }
}

void PosixFileSystem::Follow(const Path& path, const Path& typed) {
    followed_.try_emplace(path, Named{typed});
    followedLengths_.insert(path.size());
}

bool PosixFileSystem::Reaches(const Path& path) { return NamedFd(path) != -1 || errno != ENOENT; }

// A followed path's descriptor (O_PATH). Its name is looked up once; should
// it be needed again after another path's, the name must still lead to the
// very same file, or another user could have swapped it meanwhile.
int PosixFileSystem::NamedFd(const Path& path) {
    if (namedFd_ && namedPath_ == path) return namedFd_.get();
    const auto it = followed_.find(path);
    if (it == followed_.end()) {
        errno = EACCES;
        return -1;
    }
    Named& named = it->second;
    UniqueFd fd = OpenNamed(named.typed.empty() ? path : named.typed, owners_);
    struct statx sx;
    if (!fd || statx(fd.get(), "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO, &sx) != 0) return -1;
    const dev_t dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    if (named.known && (named.dev != dev || named.ino != sx.stx_ino)) {
        errno = ELOOP;  // as for a folder of the chain found replaced
        return -1;
    }
    named.known = true;
    named.dev = dev;
    named.ino = sx.stx_ino;
    named.type = sx.stx_mode & S_IFMT;
    namedPath_ = path;
    namedFd_ = std::move(fd);
    return namedFd_.get();
}

void PosixFileSystem::Fail(const Path& path, Problem problem, int error) {
    ++failures_;
    if (Report* r = Reporter()) r->Failed(path, problem, error);
}

// A mount with no known place for attributes is told in full once; an
// entry's recorder leaves that to the moment the entry is told (Tell).
Problem PosixFileSystem::OnMount(Problem p, dev_t dev) {
    if (OnWalkEntry() || (p != Problem::NotStorable && p != Problem::NotStorableAgain)) return p;
    return notStorableTold_.insert(dev).second ? Problem::NotStorable : Problem::NotStorableAgain;
}

void PosixFileSystem::Refuse(const Path& path, Problem problem, const std::string& detail) {
    if (Report* r = Reporter()) r->Refused(path, problem, detail);
}

// ---- looking entries up ----------------------------------------------------

PosixFileSystem::Entry& PosixFileSystem::Locate(const Path& path) {
    if (!entry_.path.empty() && entry_.path == path) return entry_;
    entry_ = Entry{};
    entry_.path = path;
    if (path.empty()) {
        if (IsFollowed(path)) Fail(path, Problem::Access, ENOENT);  // an empty name typed or read with -0
        return entry_;
    }
    if (IsFollowed(path)) {
        if (OpenFollowed(entry_)) ReadRecord(entry_);
        return entry_;
    }
    const LastName split = SplitLast(path);
    if (IsDotOrDotDot(split.name)) return entry_;
    const int dirfd = FolderFd(split.folder);
    if (dirfd == -1) {
        if (errno == ELOOP) Fail(path, Problem::SwappedForLink, errno);
        else if (errno != ENOENT && errno != ENOTDIR) Fail(path, Problem::Access, errno);
        return entry_;
    }
    if (!Open(entry_, dirfd, split.name, DT_UNKNOWN)) return entry_;
    // The folder's descriptor is the chain's deepest level (the store's reader may depend on it).
    const Level* holder = dirfd == AT_FDCWD ? nullptr : &chain_.back();
    ReadRecord(entry_, holder ? StoreFolder{dirfd, holder->dev, holder->ino} : StoreFolder{});
    return entry_;
}

// Opens the entry itself, never following a link and never opening anything
// but a regular file or a folder: the name is taken with O_PATH, which opens
// nothing, and only once that descriptor shows a file or a folder is the
// object opened, through it, so a swap in between cannot bring a device in.
bool PosixFileSystem::Open(Entry& e, int dirfd, const std::string& name, unsigned char typeHint) {
    if (typeHint != DT_UNKNOWN && typeHint != DT_REG && typeHint != DT_DIR) return false;  // links, special files
    UniqueFd path(openat(dirfd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!path) {
        if (errno != ENOENT && errno != ENOTDIR) Fail(e.path, Problem::Access, errno);
        return false;
    }
    struct statx sx;
    if (StatxFd(path.get(), sx) != 0) {
        Fail(e.path, Problem::Access, errno);
        return false;
    }
    if (!IsFileOrFolder(sx.stx_mode)) {
        // An entry the listing showed as a file or folder that is a link now was swapped meanwhile.
        if (S_ISLNK(sx.stx_mode) && typeHint != DT_UNKNOWN) Fail(e.path, Problem::SwappedForLink, ELOOP);
        return false;
    }
    // Without read permission the open fails, and so would reading the
    // value (a user attribute needs it too): the entry is reported.
    e.fd = OpenThrough(path.get(), sx.stx_mode);
    if (!e.fd) {
        Fail(e.path, Problem::Access, errno);
        return false;
    }
    e.dotName = IsDotName(name);
    return Inspect(e);
}

// A path the user named (or a shortcut's target): its links are followed, as
// chmod does, but only a file or a folder is opened.
bool PosixFileSystem::OpenFollowed(Entry& e) {
    const int path = NamedFd(e.path);
    if (path == -1) {
        if (errno == EXDEV) Fail(e.path, Problem::Outside, 0);
        else if (errno == ELOOP && followed_[e.path].known) Fail(e.path, Problem::SwappedForLink, ELOOP);
        else Fail(e.path, Problem::Access, errno);
        return false;
    }
    const mode_t type = followed_.find(e.path)->second.type;  // NamedFd found it
    if (!IsFileOrFolder(type)) {
        Fail(e.path, Problem::Special, 0);
        return false;
    }
    e.fd = OpenThrough(path, type);
    if (!e.fd) {
        Fail(e.path, Problem::Access, errno);
        return false;
    }
    e.dotName = IsDotName(SplitLast(e.path).name);
    return Inspect(e);
}

bool PosixFileSystem::Inspect(Entry& e) {
    struct statx sx;
    if (StatxFd(e.fd.get(), sx) != 0) {
        Fail(e.path, Problem::Access, errno);
        return false;
    }
    if (!IsFileOrFolder(sx.stx_mode)) return false;
    FromStatx(e, sx);
    return true;
}

// A file or folder, as statx shows it.
void PosixFileSystem::FromStatx(Entry& e, const struct statx& sx) {
    e.found = true;
    e.folder = S_ISDIR(sx.stx_mode);
    e.dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    e.ino = sx.stx_ino;
    e.mode = sx.stx_mode & 07777;
    e.links = sx.stx_nlink;
    e.owner = sx.stx_uid;
    e.size = sx.stx_size;
}

// The word as the entry's mount keeps it, by the store chosen for the mount
// (and on Linux's own file systems for the tree in it that holds the entry).
void PosixFileSystem::ReadRecord(Entry& e, const StoreFolder& holder) {
    e.store = &StoreFor(e).Within(View(e), holder);
    e.holder = holder;
    const auto fail = [&](Problem p, int error) { Fail(e.path, OnMount(p, e.dev), error); };
    const std::optional<AttributeWord> word = StoredWord(e, View(e), fail, settings_.save ? &e.saved : nullptr);
    e.readable = word.has_value();
    e.word = word.value_or(0);
}

// ntfs3 keeps no directory bit in a folder's word: without it the engine's
// file probe would admit the folder as a file and never walk it.
std::optional<AttributeWord> PosixFileSystem::StoredWord(const Entry& e, const StoreEntry& view,
                                                        const StoreFailure& fail, std::optional<SavedState>* saved) {
    const std::optional<AttributeWord> word =
        saved ? e.store->ReadSaving(view, fail, *saved) : e.store->Read(view, fail);
    if (!word) return std::nullopt;
    return *word | (e.folder ? attr::kDirectory : 0);
}

// A mount's store is chosen at the first entry met on it; an entry of
// another device (a mount below, a btrfs subvolume) may need another.
AttributeStore& PosixFileSystem::StoreFor(const Entry& e) {
    std::lock_guard<std::mutex> lock(sharedState_);
    auto it = stores_.find(e.dev);
    if (it != stores_.end()) return *it->second;
    const StoreSettings settings{settings_.dryRun, settings_.umask, settings_.changeReadOnly, settings_.changeHidden,
                                 settings_.readers};
    ChosenStore chosen = SelectStore(e.fd.get(), settings);
    if (settings_.save) mountNames_[e.dev] = {chosen.type, chosen.mountPoint.empty() ? e.path : chosen.mountPoint};
    if (settings_.report)
        settings_.report->Volume(chosen.mountPoint.empty() ? e.path : chosen.mountPoint, chosen.type,
                                 chosen.store->Describe());
    return *(stores_[e.dev] = std::move(chosen.store));
}

StoreEntry PosixFileSystem::View(const Entry& e) {
    return StoreEntry{e.fd.get(), e.pathOnly, e.folder, e.dotName, e.ino, e.mode, e.links, e.dev,
                      &e.record};
}

// A listing shows system files too, which the engine's plain-file probe
// would leave out (nothing is changed in a listing).
unsigned PosixFileSystem::Admits(unsigned mask) const { return settings_.list ? mask | attr::kSystem : mask; }

std::optional<std::vector<unsigned char>> PosixFileSystem::ReadFile(const Path& path, std::size_t limit, bool* tooLarge) {
    Entry& e = Locate(path);
    if (!e.found || e.folder) return std::nullopt;
    if (e.size > limit) {
        if (tooLarge) *tooLarge = true;
        return std::nullopt;
    }
    // One byte more than the size: a file that changed meanwhile is refused.
    std::vector<unsigned char> data(static_cast<std::size_t>(e.size) + 1);
    std::size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = pread(e.fd.get(), data.data() + got, data.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            Fail(path, Problem::Access, errno);
            return std::nullopt;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got != e.size) return std::nullopt;
    data.resize(got);
    return data;
}

// ---- the engine's calls ----------------------------------------------------

Path PosixFileSystem::Dir(const Path& path, unsigned mask) {
    Entry& e = Locate(path);
    if (!e.found || !Admitted(e.word, Admits(mask))) return Path();
    return SplitLast(path).name;
}

std::optional<FsObject> PosixFileSystem::GetFile(const Path& path) {
    const Entry& e = Locate(path);
    if (!e.found || e.folder) return std::nullopt;
    return FsObject{path, false, e.KnownWord()};
}

std::optional<FsObject> PosixFileSystem::GetFolder(const Path& path) {
    const Entry& e = Locate(path);
    if (!e.found || !e.folder) return std::nullopt;
    return FsObject{path, true, e.KnownWord()};
}

// ---- writing ---------------------------------------------------------------

bool PosixFileSystem::SetAttributes(const FsObject& object, AttributeWord word) {
    Entry& e = Locate(object.path);
    if (!e.found || e.folder != object.folder || !e.KnownWord() || !e.store) return false;
    if (settings_.list || settings_.save) return Apply(e, word);
    const bool ok = Write(e, word);
    entry_ = Entry{};  // what is on disk now is read again when asked
    return ok;
}

// `told`: kept there instead of reported (a change made away from the walk).
bool PosixFileSystem::Write(Entry& e, AttributeWord word, std::vector<Told>* told) {
    const StoreFailure fail = [&](Problem p, int error) {
        if (told) told->push_back(Told{false, p, error, 0, 0});
        else Fail(e.path, OnMount(p, e.dev), error);
    };
    StoreEntry view = View(e);
    const StoreOutcome out = e.store->Write(view, e.word, word, fail);
    TellChange(e, view, out, fail, told);
    return out.ok;
}

void PosixFileSystem::TellChange(const Entry& e, StoreEntry& view, const StoreOutcome& out, const StoreFailure& fail,
                                 std::vector<Told>* told) {
    const AttributeWord before = e.word;
    AttributeWord after = out.planned | (e.folder ? attr::kDirectory : 0);
    if (out.touched && !settings_.dryRun && e.store->ReadsBack()) {
        // What the volume holds now, not what was meant: a server may keep
        // less than it was given (a local driver keeps what it takes).
        struct statx sx;
        if (StatxFd(e.fd.get(), sx) == 0) view.mode = sx.stx_mode & 07777;
        after = StoredWord(e, view, fail).value_or(before);
    }
    if (!out.touched && after == before) return;
    // A dry run changes nothing: an entry met again (a shortcut's target, a
    // bind mount) is told as the real run would tell it, once.
    if (settings_.dryRun) {
        std::lock_guard<std::mutex> lock(sharedState_);
        if (!dryRunChanged_.emplace(e.dev, e.ino).second) return;
    }
    if (told) told->push_back(Told{true, Problem::Access, 0, before, after});
    else if (Report* r = Reporter()) r->Changed(e.path, before, after);
}

// Windows matches the name without regard to case, and so does Samba on a
// disk that does not: a "Desktop.ini" counts. The name is tried as it is,
// and only when missing looked for in the folder's listing. Anything but a
// folder counts, since keeping the bit is the side that changes nothing.
bool PosixFileSystem::HoldsFile(const FsObject& folder, const Path& name) {
    const Entry& e = Locate(folder.path);
    if (!e.found || !e.folder) return false;
    const bool holds = FolderHolds(e.fd.get(), name);
    if (holds && !settings_.list)
        if (Report* r = Reporter()) r->KeptReadOnly(folder.path);
    return holds;
}

bool PosixFileSystem::FolderHolds(int dirfd, const Path& name) {
    if (name.find('/') != Path::npos) return false;
    struct stat st;
    if (fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return !S_ISDIR(st.st_mode);
    if (errno != ENOENT) return false;
    const auto sameName = [&](const char* other) {
        return std::equal(name.begin(), name.end(), other, other + std::strlen(other),
                          [](char a, char b) { return AsciiLower(a) == AsciiLower(b); });
    };
    UniqueFd own(openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::unique_ptr<DIR, int (*)(DIR*)> dir(own ? fdopendir(own.get()) : nullptr, closedir);
    if (dir) own.release();
    while (const dirent* d = dir ? readdir(dir.get()) : nullptr) {
        if (d->d_type != DT_DIR && sameName(d->d_name)) return true;
    }
    return false;
}

FileSystemFactory PosixFileSystemFactory(PosixSettings settings) {
    return [settings] { return std::make_unique<PosixFileSystem>(settings); };
}

}  // namespace rivak::posix
