// Where a shortcut's target lies, seen from the named path whose walk met
// the shortcut: the shortcut reader asks before it follows a target.
#include <limits.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/posix/file_system_posix.h"
#include "platform/posix/path_names.h"

namespace rivak::posix {

namespace {

// "a/./b/../c" as "a/c"; false when ".." would climb above the start.
bool Plain(const std::string& rest, std::string& out) {
    std::vector<std::string> names;
    PathNames split(rest);
    for (std::string_view view; split.Next(view);) {
        std::string name(view);
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (names.empty()) return false;
            names.pop_back();
            continue;
        }
        names.push_back(std::move(name));
    }
    out.clear();
    for (const std::string& name : names) out += (out.empty() ? "" : "/") + name;
    return true;
}

// The part of `target` below `root`, when the one names a place below the other.
std::optional<std::string> Below(const Path& root, const Path& target) {
    if (target == root) return std::string();
    const std::size_t n = root.size();
    if (target.compare(0, n, root) != 0) return std::nullopt;
    if (root.back() == '/') return target.substr(n);
    if (target[n] != '/') return std::nullopt;
    return target.substr(n + 1);
}

}  // namespace

// The root is the path named on the command line (or the followed target)
// that the chain of `shortcut`'s folder starts from. The target is resolved
// from the root's descriptor without following any link, and may not climb
// above it; the kernel checks it where it can (openat2).
PosixFileSystem::Reach PosixFileSystem::Beneath(const Path& shortcut, const Path& target, Path& inside) {
    const LastName split = SplitLast(shortcut);
    const Path folder = split.hasFolder ? split.folder : Path(".");
    if (IsFollowed(shortcut) && !HoldsNamed(folder, split.name, shortcut)) return Reach::Outside;
    if (FolderFd(folder) == -1 || chain_.empty()) return Reach::Outside;
    const Path root = chainPath_.substr(0, chain_[0].end);
    const int rootFd = chain_[0].fd.get();
    std::optional<std::string> rest = Below(root, target);
    if (!rest) {
        // The target may name the root as the kernel does (a drive folder
        // resolved, a named path through a link).
        char real[PATH_MAX];
        const std::string self = "/proc/self/fd/" + std::to_string(rootFd);
        const ssize_t n = readlink(self.c_str(), real, sizeof real - 1);
        if (n <= 0) return Reach::Outside;
        rest = Below(Path(real, static_cast<std::size_t>(n)), target);
        if (!rest) return Reach::Outside;
    }
    std::string plain;
    if (!Plain(*rest, plain)) return Reach::Outside;

    UniqueFd found;
    const Reach reach = OpenBeneath(rootFd, *rest, found);
    if (reach == Reach::Inside) inside = plain.empty() ? root : root + (root.back() == '/' ? "" : "/") + plain;
    return reach;
}

// A shortcut named itself leads, as root and of another user, only below
// the folder that holds it: the folder is followed from then on, and must
// hold the very file that was read, not a link to it.
bool PosixFileSystem::HoldsNamed(const Path& folder, const std::string& name, const Path& shortcut) {
    const Named named = followed_[shortcut];
    Follow(folder);
    const int fd = NamedFd(folder);
    struct statx sx;
    return named.known && fd != -1 && statx(fd, name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_INO, &sx) == 0 &&
           makedev(sx.stx_dev_major, sx.stx_dev_minor) == named.dev && sx.stx_ino == named.ino;
}

bool PosixFileSystem::LeadsAnywhere(const Path& shortcut) {
    if (!IsFollowed(shortcut)) return false;
    if (!owners_.guarded) return true;
    const Entry& e = Locate(shortcut);
    return e.found && owners_.Trusts(e.owner);
}

}  // namespace rivak::posix
