#include "posix_test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <grp.h>

#include <cerrno>
#include <csignal>
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
    else if ((st.st_mode & 0222) != 0) word &= ~attr::kReadOnly;
    const std::string name = path.substr(path.rfind('/') + 1);
    if (name.size() > 1 && name[0] == '.' && name != "..") word |= attr::kHidden;
    return word;
}

TreeState StateOf(const std::string& tree) {
    static thread_local TreeState* state = nullptr;
    static thread_local std::size_t prefix = 0;
    TreeState found;
    state = &found;
    prefix = tree.size();
    nftw(tree.c_str(), [](const char* p, const struct stat* st, int, struct FTW*) {
        (*state)[std::string(p).substr(prefix)] = EntryState{st->st_mode & 07777, RecordOf(p)};
        return 0;
    }, 64, FTW_PHYS);
    return found;
}

std::size_t Differences(const TreeState& then, const TreeState& now) {
    std::size_t n = 0;
    for (const auto& [path, entry] : then) {
        const auto it = now.find(path);
        n += it == now.end() || !(it->second == entry);
    }
    for (const auto& [path, entry] : now) n += then.count(path) == 0;
    return n;
}

std::vector<std::string> WithJobs(std::vector<std::string> args) {
    if (const char* jobs = std::getenv("RIVAK_TEST_JOBS")) args.insert(args.begin(), std::string("--jobs=") + jobs);
    return args;
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, const std::map<std::string, std::string>& env) {
    std::signal(SIGPIPE, SIG_IGN);  // a program that does not read its input
    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err)) return {};
    std::vector<std::string> envs = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    for (const auto& [k, v] : env) envs.push_back(k + "=" + v);
    std::vector<char*> argv = {const_cast<char*>(program.c_str())}, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    for (const std::string& e : envs) envp.push_back(const_cast<char*>(e.c_str()));
    argv.push_back(nullptr), envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0), dup2(out[1], 1), dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]), close(out[1]), close(err[1]);
    if (!input.empty() && write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
        // The program may not read its input; what it printed still counts.
    }
    close(in[1]);
    ProgramResult r;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && poll(fds, 2, -1) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buffer, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    close(out[0]), close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
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
