// The folder chain of the path calls (a named path, a shortcut's target,
// a shortcut file read): the folders from a named path down to the one a
// path names, each opened by name without following, only the deepest
// levels holding a descriptor (file_system_posix.h says why).
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

// O_DIRECTORY | O_NOFOLLOW on a symbolic link fails with ENOTDIR, as on a
// file: tell a folder swapped for a link (ELOOP) from a file.
int OpenFolderNamed(int dirfd, const char* name) {
    const int fd = openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd == -1 && errno == ENOTDIR) {
        struct statx sx;
        if (statx(dirfd, name, AT_SYMLINK_NOFOLLOW, STATX_TYPE, &sx) == 0 && S_ISLNK(sx.stx_mode)) errno = ELOOP;
        else errno = ENOTDIR;
    }
    return fd;
}

}  // namespace

// The deepest level of the chain whose path is `folder` or a folder above it;
// npos when the chain does not hold `folder` below its root. A level that
// holds it has every level above it holding it too: the deepest two are
// tried first (the walk asks about them nearly always), then by halves.
std::size_t PosixFileSystem::CoveredLevel(const Path& folder) const {
    const auto holds = [&](std::size_t i) {
        const std::size_t end = chain_[i].end;
        return end <= folder.size() && std::memcmp(folder.data(), chainPath_.data(), end) == 0 &&
               (end == folder.size() || folder[end] == '/' || (end > 0 && folder[end - 1] == '/'));
    };
    const std::size_t n = chain_.size();
    if (n == 0 || !holds(0)) return Path::npos;
    if (holds(n - 1)) return n - 1;
    if (n >= 2 && holds(n - 2)) return n - 2;
    std::size_t low = 0, high = n - 1;  // holds(low), not holds(high)
    while (high - low > 1) {
        const std::size_t mid = low + (high - low) / 2;
        (holds(mid) ? low : high) = mid;
    }
    return low;
}

// A descriptor of `folder`: from the chain when it holds the folder or one
// above it (each name below opened without following), else from the
// followed path nearest above it.
int PosixFileSystem::FolderFd(const Path& folder) {
    if (folder.empty()) return AT_FDCWD;
    const bool isRoot = !chain_.empty() && chain_[0].end == folder.size() && chainPath_.starts_with(folder);
    if (IsFollowed(folder) && !isRoot) return StartChain(folder);
    const std::size_t level = CoveredLevel(folder);
    if (level != Path::npos) {
        if (Reopen(level) == -1) return -1;
        Truncate(level + 1);
        return Descend(folder, chain_[level].end);
    }
    std::size_t anchor = Path::npos;
    for (std::size_t slash = folder.rfind('/'); slash != Path::npos && slash > 0; slash = folder.rfind('/', slash - 1)) {
        if (IsFollowed(folder.substr(0, slash))) {
            anchor = slash;
            break;
        }
    }
    if (anchor == Path::npos && folder[0] == '/' && IsFollowed("/")) anchor = 1;
    if (anchor == Path::npos) {
        // Nothing was given to follow: a caller that names full paths itself
        // (tests); the path is taken as it stands.
        if (!followed_.empty()) {
            errno = EACCES;
            return -1;
        }
        return StartChain(folder);
    }
    if (StartChain(folder.substr(0, anchor)) == -1) return -1;
    return Descend(folder, chain_[0].end);
}

// A followed path becomes the root of a new chain: its links are followed,
// but nothing other than a folder is opened.
int PosixFileSystem::StartChain(const Path& root) {
    Truncate(0);
    UniqueFd own;
    if (!IsFollowed(root)) own.reset(open(root.c_str(), O_PATH | O_CLOEXEC));
    const int path = own ? own.get() : NamedFd(root);
    if (path == -1) return -1;
    UniqueFd fd(openat(path, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return -1;
    chainPath_ = root;
    return PushLevel(std::move(fd), root.size()) ? chain_.back().fd.get() : -1;
}

// Opens the names of `folder` past its first `from` bytes, one at a time,
// below the deepest level of the chain, never following a link nor climbing.
int PosixFileSystem::Descend(const Path& folder, std::size_t from) {
    PathNames names(folder, from);
    for (std::string_view view; names.Next(view);) {
        if (view.empty()) continue;  // a doubled or trailing slash
        const std::string name(view);
        const std::size_t end = names.End();
        if (IsDotOrDotDot(name)) {  // would leave the chain's root
            errno = EACCES;
            return -1;
        }
        UniqueFd next(OpenFolderNamed(chain_.back().fd.get(), name.c_str()));
        if (!next) return -1;
        chainPath_.resize(chain_.back().end);
        chainPath_.append(folder, chain_.back().end, end - chain_.back().end);
        if (!PushLevel(std::move(next), end)) {
            chainPath_.resize(chain_.back().end);
            return -1;
        }
    }
    return chain_.back().fd.get();
}

bool PosixFileSystem::PushLevel(UniqueFd fd, std::size_t end) {
    struct statx sx;
    if (statx(fd.get(), "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO, &sx) != 0) return false;
    chain_.push_back(Level{end, std::move(fd), makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino});
    ++open_;
    // Only the deepest levels keep their descriptor (the root always does):
    // the walk goes on from the bottom and climbs back one level at a time.
    if (chain_.size() > kOpenLevels + 1) {
        Level& old = chain_[chain_.size() - 1 - kOpenLevels];
        if (old.fd) {
            old.fd.reset();
            --open_;
        }
    }
    return true;
}

void PosixFileSystem::Truncate(std::size_t levels) {
    while (chain_.size() > levels) {
        if (chain_.back().fd) --open_;
        chain_.pop_back();
    }
    chainPath_.resize(chain_.empty() ? 0 : chain_.back().end);
}

// The descriptor of a level that left the cache: through ".." from the
// nearest open level below it, or by name from the nearest one above it;
// either way it must be the very folder the level was.
int PosixFileSystem::Reopen(std::size_t level) {
    Level& target = chain_[level];
    if (target.fd) return target.fd.get();
    const auto same = [](const UniqueFd& fd, const Level& l) {
        struct statx sx;
        return fd && statx(fd.get(), "", AT_EMPTY_PATH, STATX_INO, &sx) == 0 &&
               makedev(sx.stx_dev_major, sx.stx_dev_minor) == l.dev && sx.stx_ino == l.ino;
    };
    std::size_t below = level + 1;
    while (below < chain_.size() && !chain_[below].fd) ++below;
    if (below < chain_.size()) {
        UniqueFd up;
        int from = chain_[below].fd.get();
        for (std::size_t i = below; i-- > level;) {
            up.reset(openat(from, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!same(up, chain_[i])) break;  // moved meanwhile: try by name from above
            from = up.get();
        }
        if (same(up, target)) {
            target.fd = std::move(up);
            ++open_;
            return target.fd.get();
        }
    }
    std::size_t above = level;
    while (above > 0 && !chain_[above].fd) --above;
    UniqueFd down;
    int from = chain_[above].fd.get();
    for (std::size_t i = above + 1; i <= level; ++i) {
        if (chain_[i].fd) {
            from = chain_[i].fd.get();
            continue;
        }
        std::size_t start = chain_[i - 1].end;
        while (start < chain_[i].end && chainPath_[start] == '/') ++start;
        const std::string name = chainPath_.substr(start, chain_[i].end - start);
        down.reset(OpenFolderNamed(from, name.c_str()));
        if (!down) return -1;
        if (!same(down, chain_[i])) {
            errno = ELOOP;  // another folder now stands where this one was
            return -1;
        }
        from = down.get();
        if (i == level) {
            target.fd = std::move(down);
            ++open_;
        }
    }
    return target.fd.get();
}

}  // namespace rivak::posix
