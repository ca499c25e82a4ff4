#pragma once
// The calls a store makes on an entry. The walk holds most entries by an
// O_PATH descriptor, which opens nothing: the f* calls refuse it, but the
// path calls on its /proc/self/fd link reach that very inode without
// resolving a name again (the link is the descriptor's own object).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstring>

#include "platform/posix/unique_fd.h"

namespace rivak::posix {

// A descriptor's number as text, written out by hand: the walk makes one
// for every call on every entry.
inline char* Decimal(char* end, int n) {
    *--end = 0;
    unsigned u = n < 0 ? 0u : static_cast<unsigned>(n);
    do {
        *--end = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u);
    return end;
}

class ProcFdPath {
public:
    explicit ProcFdPath(int fd) {
        char digits[16];
        const char* number = Decimal(digits + sizeof digits, fd);
        std::memcpy(text_, kPrefix, sizeof kPrefix - 1);
        std::memcpy(text_ + sizeof kPrefix - 1, number, digits + sizeof digits - number);
    }
    const char* c_str() const { return text_; }

private:
    static constexpr char kPrefix[] = "/proc/self/fd/";
    char text_[32];
};

inline ssize_t GetAttr(int fd, bool pathOnly, const char* name, void* value, std::size_t size) {
    return pathOnly ? getxattr(ProcFdPath(fd).c_str(), name, value, size) : fgetxattr(fd, name, value, size);
}
inline int SetAttr(int fd, bool pathOnly, const char* name, const void* value, std::size_t size) {
    return pathOnly ? setxattr(ProcFdPath(fd).c_str(), name, value, size, 0) : fsetxattr(fd, name, value, size, 0);
}
inline int RemoveAttr(int fd, bool pathOnly, const char* name) {
    return pathOnly ? removexattr(ProcFdPath(fd).c_str(), name) : fremovexattr(fd, name);
}
// The object an O_PATH descriptor holds, opened for reading: a folder as
// "." below it, a file through its /proc/self/fd link, which reopens that
// very inode and never resolves a name again.
inline UniqueFd OpenThrough(int pathFd, mode_t mode) {
    if (S_ISDIR(mode)) return UniqueFd(openat(pathFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return UniqueFd(open(ProcFdPath(pathFd).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

// /proc/self/fd, opened once: a mode is changed by the descriptor's one
// name there, not by the whole path looked up again each time.
int ProcFdFolder();

inline int ChangeMode(int fd, bool pathOnly, mode_t mode) {
    if (!pathOnly) return fchmod(fd, mode);
    char digits[16];
    const int folder = ProcFdFolder();
    return folder == -1 ? chmod(ProcFdPath(fd).c_str(), mode)
                        : fchmodat(folder, Decimal(digits + sizeof digits, fd), mode, 0);
}

}  // namespace rivak::posix
