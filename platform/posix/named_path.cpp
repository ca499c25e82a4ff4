#include "platform/posix/named_path.h"

#include "platform/posix/path_names.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace rivak::posix {

namespace {

constexpr int kMaxLinks = 40;  // the kernel's own limit on links in one lookup

int OpenAt2(int dirfd, const char* path, unsigned long long resolve) {
    struct open_how how = {};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = resolve;
    return static_cast<int>(syscall(SYS_openat2, dirfd, path, &how, sizeof how));
}

// The rule of RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS, for kernels older than 5.6.
Reach BeneathByNames(int root, const std::string& rest, UniqueFd& found) {
    std::vector<UniqueFd> folders;
    PathNames names(rest);
    for (std::string_view view; names.Next(view);) {
        const std::string name(view);
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (folders.empty()) return Reach::Outside;
            folders.pop_back();
            continue;
        }
        UniqueFd next(openat(folders.empty() ? root : folders.back().get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct statx sx;
        if (!next || statx(next.get(), "", AT_EMPTY_PATH, STATX_TYPE, &sx) != 0)
            return errno == ENOENT || errno == ENOTDIR ? Reach::Missing : Reach::Outside;
        if (S_ISLNK(sx.stx_mode)) return Reach::Outside;
        if (!S_ISDIR(sx.stx_mode) && !names.Last()) return Reach::Missing;  // a file used as a folder
        folders.push_back(std::move(next));
    }
    found = folders.empty() ? UniqueFd(openat(root, ".", O_PATH | O_CLOEXEC)) : std::move(folders.back());
    return found ? Reach::Inside : Reach::Outside;
}

// Name by name from the start, each link's owner read before it is followed.
UniqueFd OpenByNames(const std::string& path, const LinkOwners& owners) {
    if (path.empty()) {
        errno = ENOENT;
        return {};
    }
    std::string rest = path;
    std::size_t pos = 0;
    int links = 0;
    UniqueFd at(open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    while (at) {
        while (pos < rest.size() && rest[pos] == '/') ++pos;
        if (pos == rest.size()) break;
        std::size_t end = rest.find('/', pos);
        if (end == std::string::npos) end = rest.size();
        UniqueFd next(openat(at.get(), rest.substr(pos, end - pos).c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        pos = end;
        struct statx sx;
        if (!next || statx(next.get(), "", AT_EMPTY_PATH, STATX_TYPE | STATX_UID, &sx) != 0) return {};
        if (!S_ISLNK(sx.stx_mode)) {
            at = std::move(next);
            continue;
        }
        char target[PATH_MAX];
        const ssize_t n = readlinkat(next.get(), "", target, sizeof target);
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) == sizeof target || ++links > kMaxLinks) {
            errno = links > kMaxLinks ? ELOOP : ENAMETOOLONG;
            return {};
        }
        std::string after = std::string(target, static_cast<std::size_t>(n)) + rest.substr(pos);
        if (!owners.Trusts(sx.stx_uid)) {
            UniqueFd found;
            const Reach reach = OpenBeneath(at.get(), after, found);
            if (reach == Reach::Inside) return found;
            errno = reach == Reach::Missing ? ENOENT : EXDEV;
            return {};
        }
        if (target[0] == '/') at.reset(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        rest = std::move(after);
        pos = 0;
    }
    return at;
}

}  // namespace

Reach OpenBeneath(int root, const std::string& rest, UniqueFd& found) {
    if (!rest.empty() && rest[0] == '/') return Reach::Outside;
    found.reset(OpenAt2(root, rest.empty() ? "." : rest.c_str(), RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS));
    if (found) return Reach::Inside;
    if (errno == ENOENT || errno == ENOTDIR) return Reach::Missing;
    if (errno == ENOSYS || errno == EAGAIN) return BeneathByNames(root, rest, found);
    return Reach::Outside;
}

UniqueFd OpenNamed(const std::string& path, const LinkOwners& owners) {
    if (!owners.guarded) return UniqueFd(open(path.c_str(), O_PATH | O_CLOEXEC));
    // Nearly every path has no link on the way: one call settles it.
    UniqueFd fd(OpenAt2(AT_FDCWD, path.c_str(), RESOLVE_NO_SYMLINKS));
    if (fd || (errno != ELOOP && errno != ENOSYS)) return fd;
    return OpenByNames(path, owners);
}

}  // namespace rivak::posix
