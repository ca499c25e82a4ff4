#include "posix_test_support.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <grp.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace rivak::posix::testing {

namespace {

void Check(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(what + ": " + std::strerror(errno));
}

int RemoveOne(const char* path, const struct stat* st, int type, struct FTW*) {
    if (type == FTW_DP) return rmdir(path) == 0 ? 0 : (chmod(path, 0700), rmdir(path), 0);
    (void)st;
    unlink(path);
    return 0;
}

}  // namespace

TempFolder::TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/rivak-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    Check(mkdtemp(buffer.data()) != nullptr, "mkdtemp");
    path_ = buffer.data();
}

TempFolder::~TempFolder() {
    // Folders first made writable, so that a test leaving one read-only still cleans up.
    nftw(path_.c_str(), [](const char* p, const struct stat* st, int type, struct FTW*) {
        if (type == FTW_D) chmod(p, (st->st_mode & 07777) | 0700);
        return 0;
    }, 64, FTW_PHYS);
    nftw(path_.c_str(), RemoveOne, 64, FTW_DEPTH | FTW_PHYS);
}

void MakeFolder(const std::string& path, mode_t mode) {
    Check(mkdir(path.c_str(), mode) == 0, "mkdir " + path);
    Check(chmod(path.c_str(), mode) == 0, "chmod " + path);
}

void MakeFile(const std::string& path, mode_t mode, const std::string& content) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    Check(fd >= 0, "create " + path);
    Check(write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()), "write " + path);
    close(fd);
    Check(chmod(path.c_str(), mode) == 0, "chmod " + path);
}

void MakeLink(const std::string& target, const std::string& path) {
    Check(symlink(target.c_str(), path.c_str()) == 0, "symlink " + path);
}

void SetRecord(const std::string& path, const std::string& value) {
    Check(lsetxattr(path.c_str(), "user.DOSATTRIB", value.data(), value.size(), 0) == 0, "setxattr " + path);
}

std::optional<std::string> RecordOf(const std::string& path) {
    char buffer[512];
    const ssize_t n = lgetxattr(path.c_str(), "user.DOSATTRIB", buffer, sizeof buffer);
    if (n < 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(n));
}

mode_t ModeOf(const std::string& path) {
    struct stat st;
    Check(lstat(path.c_str(), &st) == 0, "lstat " + path);
    return st.st_mode & 07777;
}

bool IsLink(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

AttributeWord WordOnDisk(const std::string& path) {
    struct stat st;
    Check(lstat(path.c_str(), &st) == 0, "lstat " + path);
    const std::optional<std::string> record = RecordOf(path);
    AttributeWord word = record ? static_cast<AttributeWord>(std::strtoul(record->c_str(), nullptr, 16)) : 0;
    word &= 0x27;
    if (S_ISDIR(st.st_mode)) word |= attr::kDirectory;
    else if ((st.st_mode & 0222) == 0) word |= attr::kReadOnly;
    const std::string name = path.substr(path.rfind('/') + 1);
    if (!record && name.size() > 1 && name[0] == '.' && name != "..") word |= attr::kHidden;
    return word;
}

int RunAs(uid_t uid, gid_t gid, int (*body)(void*), void* arg) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(120);
        _exit(body(arg));
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace rivak::posix::testing
