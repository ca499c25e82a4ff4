#include "platform/posix/file_system_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace rivak::posix {

namespace {

constexpr AttributeWord kMaskable = attr::kHidden | attr::kSystem | attr::kVolume | attr::kDirectory;
constexpr char kPattern[] = "/*.*";

bool Admitted(AttributeWord word, unsigned mask) { return (word & kMaskable & ~mask) == 0; }

bool IsDotOrDotDot(const std::string& name) { return name == "." || name == ".."; }

// The last name of a path and the folder before it, split the way the walker
// joins them (folder + "/" + name), so the folder is the walker's own string.
struct Split {
    Path folder;
    std::string name;
    bool hasFolder;
};
Split SplitPath(const Path& path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    const Path trimmed = path.substr(0, end);
    const std::size_t slash = trimmed.rfind('/');
    if (slash == Path::npos) return {Path(), trimmed, false};
    if (trimmed.size() == 1) return {Path(), trimmed, false};  // "/" itself
    return {slash == 0 ? Path("/") : trimmed.substr(0, slash), trimmed.substr(slash + 1), true};
}

bool IsDotName(const std::string& name) { return !name.empty() && name[0] == '.' && !IsDotOrDotDot(name); }

bool IsPattern(const Path& path) {
    const std::size_t n = sizeof kPattern - 1;
    return path.size() >= n && path.compare(path.size() - n, n, kPattern) == 0;
}

// O_DIRECTORY | O_NOFOLLOW on a symbolic link fails with ENOTDIR, as on a
// file: tell a folder swapped for a link (ELOOP) from a file.
int OpenFolderAt(int dirfd, const char* name) {
    const int fd = openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd == -1 && errno == ENOTDIR) {
        struct statx sx;
        if (statx(dirfd, name, AT_SYMLINK_NOFOLLOW, STATX_TYPE, &sx) == 0 && S_ISLNK(sx.stx_mode)) errno = ELOOP;
        else errno = ENOTDIR;
    }
    return fd;
}

int StatxFd(int fd, struct statx& sx) {
    return statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_INO | STATX_SIZE, &sx);
}

bool IsFileOrFolder(mode_t mode) { return S_ISREG(mode) || S_ISDIR(mode); }

}  // namespace

PosixFileSystem::PosixFileSystem(PosixSettings settings) : settings_(settings) {}
PosixFileSystem::~PosixFileSystem() = default;

void PosixFileSystem::Follow(const Path& path) { followed_.insert(path); }

void PosixFileSystem::Fail(const Path& path, Problem problem, int error) {
    if (settings_.report) settings_.report->Failed(path, problem, error);
}

// ---- the folder chain ----------------------------------------------------

// A descriptor of `folder`, from the chain of folders being walked: the
// folder itself or its parent is normally on top, so this costs at most one
// openat. Below a followed path every step is opened without following.
int PosixFileSystem::FolderFd(const Path& folder) {
    if (folder.empty()) return AT_FDCWD;
    for (std::size_t i = chain_.size(); i-- > 0;) {
        if (chain_[i].path == folder) {
            chain_.resize(i + 1);
            return chain_[i].fd.get();
        }
    }
    if (IsFollowed(folder)) {
        UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd) return -1;
        chain_.clear();
        chain_.push_back(Level{folder, std::move(fd)});
        return chain_.back().fd.get();
    }
    const Split split = SplitPath(folder);
    if (split.hasFolder && !IsDotOrDotDot(split.name)) {
        for (std::size_t i = chain_.size(); i-- > 0;) {
            if (chain_[i].path != split.folder) continue;
            chain_.resize(i + 1);
            UniqueFd fd(OpenFolderAt(chain_[i].fd.get(), split.name.c_str()));
            if (!fd) return -1;
            chain_.push_back(Level{folder, std::move(fd)});
            return chain_.back().fd.get();
        }
    }
    return RebuildChain(folder);
}

// The chain lost the folder (a walk through a shortcut's target replaced it):
// open it again from the nearest followed path above it, one name at a time.
int PosixFileSystem::RebuildChain(const Path& folder) {
    std::size_t anchor = Path::npos;
    for (std::size_t slash = folder.rfind('/'); slash != Path::npos && slash > 0; slash = folder.rfind('/', slash - 1)) {
        if (IsFollowed(folder.substr(0, slash))) {
            anchor = slash;
            break;
        }
    }
    if (anchor == Path::npos && folder[0] == '/' && IsFollowed("/")) anchor = 0;
    if (anchor == Path::npos) {
        // Nothing was given to follow: a caller that names full paths itself
        // (tests); the path is taken as it stands.
        if (!followed_.empty()) {
            errno = EACCES;
            return -1;
        }
        UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd) return -1;
        chain_.clear();
        chain_.push_back(Level{folder, std::move(fd)});
        return chain_.back().fd.get();
    }
    const Path root = anchor == 0 ? Path("/") : folder.substr(0, anchor);
    UniqueFd fd(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return -1;
    chain_.clear();
    chain_.push_back(Level{root, std::move(fd)});
    std::size_t pos = anchor + 1;
    while (pos <= folder.size()) {
        std::size_t end = folder.find('/', pos);
        if (end == Path::npos) end = folder.size();
        const std::string name = folder.substr(pos, end - pos);
        pos = end + 1;
        if (name.empty()) continue;
        if (IsDotOrDotDot(name)) {  // would climb out of the followed path
            errno = EACCES;
            return -1;
        }
        UniqueFd next(OpenFolderAt(chain_.back().fd.get(), name.c_str()));
        if (!next) return -1;
        chain_.push_back(Level{folder.substr(0, end), std::move(next)});
    }
    return chain_.back().fd.get();
}

// The type the folder's listing gave for `name`: entries are looked up in
// listing order, so the next slot is nearly always the one.
unsigned char PosixFileSystem::TypeHint(const Path& folder, const std::string& name) {
    if (folder != listedFolder_ || listing_.empty()) return DT_UNKNOWN;
    for (std::size_t n = 0; n < listing_.size(); ++n) {
        const std::size_t i = (hint_ + n) % listing_.size();
        if (listing_[i].name == name) {
            hint_ = i + 1;
            return listing_[i].type;
        }
        if (n == 2) break;  // out of order: not worth a scan of a large folder
    }
    return DT_UNKNOWN;
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
    const Split split = SplitPath(path);
    if (IsDotOrDotDot(split.name)) return entry_;
    const int dirfd = FolderFd(split.folder);
    if (dirfd == -1) {
        if (errno == ELOOP) Fail(path, Problem::SwappedForLink, errno);
        else if (errno != ENOENT && errno != ENOTDIR) Fail(path, Problem::Access, errno);
        return entry_;
    }
    if (Open(entry_, dirfd, split.name, TypeHint(split.folder, split.name))) ReadRecord(entry_);
    return entry_;
}

// Opens the entry itself, never following a link and never opening anything
// but a regular file or a folder. The listing's type decides before the open;
// should the entry be swapped for a FIFO in between, O_NONBLOCK keeps the
// open from waiting and the check after it drops the entry.
bool PosixFileSystem::Open(Entry& e, int dirfd, const std::string& name, unsigned char typeHint) {
    if (typeHint == DT_UNKNOWN) {
        struct statx sx;
        if (statx(dirfd, name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE, &sx) != 0) {
            if (errno != ENOENT) Fail(e.path, Problem::Access, errno);
            return false;
        }
        typeHint = S_ISREG(sx.stx_mode) ? DT_REG : S_ISDIR(sx.stx_mode) ? DT_DIR : DT_LNK;
    }
    if (typeHint != DT_REG && typeHint != DT_DIR) return false;  // links and special files stay as they are
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    // Without read permission the open fails, and so would reading the
    // value (a user attribute needs it too): the entry is reported.
    e.fd.reset(typeHint == DT_DIR ? OpenFolderAt(dirfd, name.c_str()) : openat(dirfd, name.c_str(), flags));
    if (!e.fd) {
        if (errno == ELOOP) Fail(e.path, Problem::SwappedForLink, errno);
        else if (errno != ENOENT && errno != ENOTDIR) Fail(e.path, Problem::Access, errno);
        return false;
    }
    e.dotName = IsDotName(name);
    return Inspect(e);
}

bool PosixFileSystem::OpenFollowed(Entry& e) {
    struct statx sx;
    if (statx(AT_FDCWD, e.path.c_str(), 0, STATX_TYPE, &sx) != 0) {
        Fail(e.path, Problem::Access, errno);
        return false;
    }
    if (!IsFileOrFolder(sx.stx_mode)) {
        Fail(e.path, Problem::Special, 0);
        return false;
    }
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (S_ISDIR(sx.stx_mode) ? O_DIRECTORY : 0);
    e.fd.reset(open(e.path.c_str(), flags));
    if (!e.fd) {
        Fail(e.path, Problem::Access, errno);
        return false;
    }
    e.dotName = IsDotName(SplitPath(e.path).name);
    return Inspect(e);
}

bool PosixFileSystem::Inspect(Entry& e) {
    struct statx sx;
    if (StatxFd(e.fd.get(), sx) != 0) {
        Fail(e.path, Problem::Access, errno);
        return false;
    }
    if (!IsFileOrFolder(sx.stx_mode)) return false;
    e.found = true;
    e.folder = S_ISDIR(sx.stx_mode);
    e.dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    e.ino = sx.stx_ino;
    e.mode = sx.stx_mode & 07777;
    e.links = sx.stx_nlink;
    e.size = sx.stx_size;
    e.mountRoot = (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    return true;
}

// The word as the entry's mount keeps it, by the store chosen for the mount.
void PosixFileSystem::ReadRecord(Entry& e) {
    e.store = &StoreFor(e);
    const auto fail = [&](Problem p, int error) { Fail(e.path, p, error); };
    const std::optional<AttributeWord> word = e.store->Read(View(e), fail);
    e.readable = word.has_value();
    // ntfs3 keeps no directory bit in a folder's word: without it the
    // engine's file probe would admit the folder as a file and never walk it.
    e.word = word.value_or(0) | (e.folder ? attr::kDirectory : 0);
}

// A mount's store is chosen at the first entry met on it; an entry of
// another device (a mount below, a btrfs subvolume) may need another.
AttributeStore& PosixFileSystem::StoreFor(const Entry& e) {
    auto it = stores_.find(e.dev);
    if (it != stores_.end()) return *it->second;
    const StoreSettings settings{settings_.dryRun, settings_.umask, settings_.changeReadOnly, settings_.changeHidden};
    ChosenStore chosen = SelectStore(e.fd.get(), settings);
    if (settings_.report)
        settings_.report->Volume(chosen.mountPoint.empty() ? e.path : chosen.mountPoint, chosen.type,
                                 chosen.store->Describe());
    return *(stores_[e.dev] = std::move(chosen.store));
}

StoreEntry PosixFileSystem::View(const Entry& e) {
    return StoreEntry{e.fd.get(), e.folder, e.dotName, e.ino, e.mode, e.links};
}

// A listing shows system files too, which the engine's plain-file probe
// would leave out (nothing is changed in a listing).
unsigned PosixFileSystem::Admits(unsigned mask) const { return settings_.list ? mask | attr::kSystem : mask; }

std::optional<std::vector<unsigned char>> PosixFileSystem::ReadFile(const Path& path, std::size_t limit) {
    Entry& e = Locate(path);
    if (!e.found || e.folder || e.size > limit) return std::nullopt;
    std::vector<unsigned char> data(static_cast<std::size_t>(e.size));
    std::size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = pread(e.fd.get(), data.data() + got, data.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    data.resize(got);
    return data;
}

// ---- the engine's calls ----------------------------------------------------

Path PosixFileSystem::Dir(const Path& path, unsigned mask) {
    next_ = listing_.size();  // a probe abandons the enumeration; the types stay for the look-ups
    if (!IsPattern(path)) {
        Entry& e = Locate(path);
        if (!e.found || !Admitted(e.word, Admits(mask))) return Path();
        const Split split = SplitPath(path);
        return split.name;
    }

    listedFolder_ = path.substr(0, path.size() - (sizeof kPattern - 1));
    entry_ = Entry{};  // a new listing: whatever is looked up next is read afresh
    listing_.clear();
    next_ = hint_ = 0;
    listMask_ = mask;
    const int fd = FolderFd(listedFolder_);
    if (fd == -1) {
        // ENOTDIR: a system file, which the engine takes for a folder and walks.
        if (errno == ELOOP) Fail(listedFolder_, Problem::SwappedForLink, errno);
        else if (errno != ENOTDIR && (errno != ENOENT || IsFollowed(listedFolder_)))
            Fail(listedFolder_, Problem::Listing, errno);
        return Path();
    }
    // The folder may have been listed before (a linked folder walked again).
    Level* level = fd == AT_FDCWD ? nullptr : &chain_.back();
    if (level && level->listed) lseek(fd, 0, SEEK_SET);
    if (level) level->listed = true;
    UniqueFd cwd;
    const int listFd = fd == AT_FDCWD ? (cwd.reset(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)), cwd.get()) : fd;
    alignas(8) char buffer[32768];
    for (;;) {
        const long n = syscall(SYS_getdents64, listFd, buffer, sizeof buffer);
        if (n < 0) {
            Fail(listedFolder_, Problem::Listing, errno);
            break;
        }
        if (n == 0) break;
        for (long at = 0; at < n;) {
            const auto* d = reinterpret_cast<const struct dirent64*>(buffer + at);
            listing_.push_back(Name{d->d_name, d->d_type});
            at += d->d_reclen;
        }
    }
    return Dir();
}

Path PosixFileSystem::Dir() {
    while (next_ < listing_.size()) {
        const Name& n = listing_[next_++];
        if (listMask_ == probe::kAnything || IsDotOrDotDot(n.name)) return n.name;
        const Entry& e = Locate(listedFolder_ + '/' + n.name);
        if (e.found && Admitted(e.word, Admits(listMask_))) return n.name;
    }
    return Path();
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
    if (settings_.list) {
        if (settings_.report) settings_.report->Listed(object.path, e.store->Knows() ? e.KnownWord() : std::nullopt);
        return true;
    }
    const auto fail = [&](Problem p, int error) { Fail(object.path, p, error); };
    const AttributeWord before = e.word;
    StoreEntry view = View(e);
    const StoreOutcome out = e.store->Write(view, before, word, fail);
    AttributeWord after = out.planned;
    if (out.touched && !settings_.dryRun) {
        // What the volume holds now, not what was meant: a driver or a
        // server may keep less than it was given.
        struct statx sx;
        if (StatxFd(e.fd.get(), sx) == 0) view.mode = sx.stx_mode & 07777;
        after = e.store->Read(view, fail).value_or(before);
    }
    if ((out.touched || after != before) && settings_.report) settings_.report->Changed(object.path, before, after);
    entry_ = Entry{};  // what is on disk now is read again when asked
    return out.ok;
}

// ---- folder identity -------------------------------------------------------

bool PosixFileSystem::StatFolder(const Path& folder, struct statx& sx) {
    const unsigned mask = STATX_TYPE | STATX_INO;
    if (IsFollowed(folder)) return statx(AT_FDCWD, folder.c_str(), 0, mask, &sx) == 0 && S_ISDIR(sx.stx_mode);
    const Split split = SplitPath(folder);
    if (IsDotOrDotDot(split.name)) return false;
    const int dirfd = FolderFd(split.folder);
    if (dirfd == -1) return false;
    return statx(dirfd, split.name.c_str(), AT_SYMLINK_NOFOLLOW, mask, &sx) == 0 && S_ISDIR(sx.stx_mode);
}

// Bind mounts can bring a folder back below itself; the walker then keeps
// track of where it has been. Links are never walked, so no other case.
bool PosixFileSystem::IsLinkedFolder(const Path& folder) {
    struct statx sx;
    if (!StatFolder(folder, sx)) return false;
    return (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
}

std::optional<FolderKey> PosixFileSystem::FolderIdentity(const Path& folder) {
    struct statx sx;
    if (!StatFolder(folder, sx)) return std::nullopt;
    FolderKey key;
    key.volume = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    key.object = sx.stx_ino;
    return key;
}

FileSystemFactory PosixFileSystemFactory(PosixSettings settings) {
    return [settings] { return std::make_unique<PosixFileSystem>(settings); };
}

}  // namespace rivak::posix
