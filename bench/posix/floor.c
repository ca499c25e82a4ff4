/* floor set|clear DIR: the least work the job needs on Linux, for the
 * benchmark to measure rivak against. One listing per folder (getdents64 on
 * a descriptor opened with openat), and each entry set once through a
 * descriptor of its own: fchmod (files only) and fsetxattr, or fremovexattr
 * to clear. Reads nothing, decides nothing. */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

static int set;

static void walk(int dirfd);

static void entry(int dirfd, const char* name, int folder) {
    int fd = openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
    if (fd < 0) return;
    if (!folder) fchmod(fd, set ? 0444 : 0644);
    if (set) fsetxattr(fd, "user.DOSATTRIB", "0x3", 3, 0);
    else fremovexattr(fd, "user.DOSATTRIB");
    if (folder) walk(fd);
    close(fd);
}

static void walk(int dirfd) {
    char buffer[32768];
    long n;
    while ((n = syscall(SYS_getdents64, dirfd, buffer, sizeof buffer)) > 0) {
        for (long at = 0; at < n;) {
            struct dirent64* d = (struct dirent64*)(buffer + at);
            at += d->d_reclen;
            if (!strcmp(d->d_name, ".") || !strcmp(d->d_name, "..")) continue;
            if (d->d_type == DT_DIR || d->d_type == DT_REG) entry(dirfd, d->d_name, d->d_type == DT_DIR);
        }
    }
}

int main(int argc, char** argv) {
    if (argc != 3 || (strcmp(argv[1], "set") && strcmp(argv[1], "clear"))) {
        fprintf(stderr, "usage: floor set|clear DIR\n");
        return 2;
    }
    set = !strcmp(argv[1], "set");
    entry(AT_FDCWD, argv[2], 1);
    return 0;
}
