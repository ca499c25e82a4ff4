#include "platform/posix/readers.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/posix/attribute_store.h"
#include "platform/posix/unique_fd.h"

namespace rivak::posix {

namespace {

// Folders whose reader is kept: a walk meets them top down, so a folder's
// parent is nearly always known and a new folder costs one look up.
constexpr std::size_t kFolderLimit = 1 << 16;

std::string Resolved(const std::string& path) {
    std::unique_ptr<char, void (*)(void*)> real(realpath(path.c_str(), nullptr), std::free);
    return real ? std::string(real.get()) : path;
}

// The folder that holds a file opened by a path the caller named: from the
// name the kernel gives the descriptor, taken only if that folder still holds
// this very file under that name.
UniqueFd FolderOfFile(const StoreEntry& e) {
    char name[PATH_MAX];
    const std::string self = "/proc/self/fd/" + std::to_string(e.fd);
    const ssize_t n = readlink(self.c_str(), name, sizeof name - 1);
    if (n <= 0 || name[0] != '/') return UniqueFd();
    const std::string path(name, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    UniqueFd folder(open(slash == 0 ? "/" : path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (!folder || fstatat(folder.get(), path.c_str() + slash + 1, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        st.st_dev != e.dev || st.st_ino != e.ino)
        return UniqueFd();
    return folder;
}

}  // namespace

bool Readers::AddRoot(const std::string& path, Reader reader, int& error) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        error = errno;
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = ENOTDIR;
        return false;
    }
    readers_.push_back(std::make_unique<Reader>(std::move(reader)));
    // Two trees at one folder: the first one named wins.
    roots_.emplace(Id{st.st_dev, st.st_ino}, readers_.back().get());
    return true;
}

std::vector<SambaNote> Readers::AddShares(const std::vector<SambaShare>& shares) {
    std::vector<SambaNote> notes;
    for (const SambaShare& share : shares) {
        if (share.printable) continue;  // a print queue shows clients no files
        const bool homes = share.path.empty() && share.name.size() == 5 &&
                           std::equal(share.name.begin(), share.name.end(), "homes",
                                      [](char a, char b) { return (a | 0x20) == b; });
        if (share.path.find('%') != std::string::npos || homes) {
            notes.push_back({SambaNote::Kind::PathPerUser, share.name});
            continue;
        }
        if (share.path.empty()) continue;  // smbd does not serve it either
        if (!share.rule.storeDosAttributes && share.rule.mapReadOnly == ShareRule::MapReadOnly::Permissions) {
            notes.push_back({SambaNote::Kind::RulePerUser, share.name});
            continue;
        }
        int error = 0;
        if (!AddRoot(share.path, Reader{Reader::Kind::Samba, share.name, share.path, share.rule}, error))
            notes.push_back({SambaNote::Kind::PathMissing, share.name, error});
    }
    return notes;
}

void Readers::AddWinePrefix(const std::string& prefix) {
    struct stat top;
    if (stat("/", &top) != 0) return;
    std::vector<std::string> drives = {prefix + "/drive_c"};
    for (char letter = 'a'; letter <= 'z'; ++letter) drives.push_back(prefix + "/dosdevices/" + letter + ':');
    for (const std::string& drive : drives) {
        struct stat st;
        // The drive of the whole machine (Z:) would make every folder Wine's alone.
        if (stat(drive.c_str(), &st) != 0 || (st.st_dev == top.st_dev && st.st_ino == top.st_ino)) continue;
        int error = 0;
        AddRoot(drive, Reader{Reader::Kind::Wine, prefix, Resolved(drive), ShareRule{}}, error);
    }
}

const Reader* Readers::Of(const StoreEntry& e, const StoreFolder& holder) {
    if (roots_.empty()) return nullptr;
    if (e.folder) {
        if (auto it = roots_.find(Id{e.dev, e.ino}); it != roots_.end()) return Tell(it->second);
    }
    if (holder.fd >= 0) return Tell(Above(holder.fd, Id{holder.dev, holder.ino}));
    UniqueFd folder = e.folder ? UniqueFd(openat(e.fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC)) : FolderOfFile(e);
    struct statx sx;
    if (!folder || statx(folder.get(), "", AT_EMPTY_PATH, STATX_INO, &sx) != 0) return nullptr;
    return Tell(Above(folder.get(), Id{makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino}));
}

// The reader of the folder `folderFd` (identity `folder`): its own tree's,
// or the nearest one above it; nullptr where none is, or where a folder
// above cannot be reached.
const Reader* Readers::Above(int folderFd, Id folder) {
    std::vector<Id> met;
    UniqueFd up;
    int at = folderFd;
    const Reader* found = nullptr;
    for (Id id = folder;;) {
        if (auto it = folders_.find(id); it != folders_.end()) {
            found = it->second;
            break;
        }
        met.push_back(id);
        if (auto it = roots_.find(id); it != roots_.end()) {
            found = it->second;
            break;
        }
        UniqueFd parent(openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct statx sx;
        if (!parent || statx(parent.get(), "", AT_EMPTY_PATH, STATX_INO, &sx) != 0) break;
        const Id next{makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino};
        if (next == id) break;  // the top of the file system
        up = std::move(parent);
        at = up.get();
        id = next;
    }
    if (folders_.size() + met.size() > kFolderLimit) folders_.clear();
    for (const Id& id : met) folders_[id] = found;
    return found;
}

const Reader* Readers::Tell(const Reader* reader) {
    if (!reader || std::find(toldOf_.begin(), toldOf_.end(), reader) != toldOf_.end()) return reader;
    toldOf_.push_back(reader);
    if (told_) told_(*reader);
    return reader;
}

}  // namespace rivak::posix
