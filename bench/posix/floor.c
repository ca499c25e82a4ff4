/* floor [--write-only|--cifs] set|clear DIR [THREADS]: the least work the job
 * needs on Linux, for the benchmarks to measure rivak against. One listing
 * per folder (getdents64 on a descriptor opened with openat); THREADS
 * threads (default 1) take folders from one shared stack.
 *
 * Each entry, by default (a Samba/Wine store on Linux's own file systems):
 * looked up once without following (openat O_PATH|O_NOFOLLOW), its mode
 * and its user.DOSATTRIB record read, then written through the descriptor's
 * /proc/self/fd link: chmod (files only; set takes every write bit away,
 * clear gives the owner's back) and setxattr "0x3", or removexattr to clear.
 * --write-only: only the writes, fchmod 0444/0644 and fsetxattr or
 * fremovexattr on a descriptor opened for reading; reads nothing.
 * --cifs (the kernel's SMB client): the word in user.cifs.dosattrib (4
 * bytes, host order) read, written with read-only and hidden set or
 * cleared, and read back.
 * Decides nothing beyond that; exit 1 if a call failed. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

enum Store { kSamba, kWriteOnly, kCifs };
enum { kReadOnly = 0x1, kHidden = 0x2, kNormal = 0x80 };

static const char kDosAttrib[] = "user.DOSATTRIB";
static const char kCifsAttrib[] = "user.cifs.dosattrib";

static int set;
static enum Store store = kSamba;

/* Folders waiting to be listed (descriptors open for reading), and how many
 * are waiting or being listed: the work ends when that reaches 0. */
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
static int* stack;
static size_t depth, room, pending;
static int failed;

/* The first failure is told; the rest only change the exit status. */
static void fail(const char* what) {
    if (!__atomic_exchange_n(&failed, 1, __ATOMIC_RELAXED)) perror(what);
}

static void push(int fd) {
    pthread_mutex_lock(&lock);
    if (depth == room) {
        room = room ? 2 * room : 256;
        stack = realloc(stack, room * sizeof *stack);
        if (!stack) abort();
    }
    stack[depth++] = fd;
    ++pending;
    pthread_cond_signal(&changed);
    pthread_mutex_unlock(&lock);
}

/* The next folder, or -1 once none is left anywhere. */
static int pop(int finished) {
    pthread_mutex_lock(&lock);
    if (finished && --pending == 0) pthread_cond_broadcast(&changed);
    while (depth == 0 && pending > 0) pthread_cond_wait(&changed, &lock);
    const int fd = depth ? stack[--depth] : -1;
    pthread_mutex_unlock(&lock);
    return fd;
}

static void samba(int dirfd, const char* name, int folder) {
    const int fd = openat(dirfd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return fail("openat");
    char self[32], record[256];
    struct stat st;
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (fstat(fd, &st) != 0) fail("fstat");
    else if (getxattr(self, kDosAttrib, record, sizeof record) < 0 && errno != ENODATA) fail("getxattr");
    else if (!folder && chmod(self, set ? st.st_mode & 07555 : st.st_mode | S_IWUSR) != 0) fail("chmod");
    else if (set ? setxattr(self, kDosAttrib, "0x3", 3, 0) != 0
                 : removexattr(self, kDosAttrib) != 0 && errno != ENODATA)
        fail(set ? "setxattr" : "removexattr");
    if (folder) {
        const int list = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (list < 0) fail("openat .");
        else push(list);
    }
    close(fd);
}

static void write_only(int dirfd, const char* name, int folder) {
    const int fd = openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
    if (fd < 0) return fail("openat");
    if (!folder && fchmod(fd, set ? 0444 : 0644) != 0) fail("fchmod");
    if (set ? fsetxattr(fd, kDosAttrib, "0x3", 3, 0) != 0 : fremovexattr(fd, kDosAttrib) != 0 && errno != ENODATA)
        fail(set ? "fsetxattr" : "fremovexattr");
    if (folder) push(fd);
    else close(fd);
}

static int read_word(const char* self, uint32_t* word) {
    if (getxattr(self, kCifsAttrib, word, sizeof *word) == sizeof *word) return 1;
    fail("getxattr");
    return 0;
}

static void cifs(int dirfd, const char* name, int folder) {
    const int fd = openat(dirfd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return fail("openat");
    char self[32];
    uint32_t word, back;
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (read_word(self, &word)) {
        word = set ? (word & ~kNormal) | kReadOnly | kHidden : word & ~(kReadOnly | kHidden);
        if (!word) word = kNormal;
        if (setxattr(self, kCifsAttrib, &word, sizeof word, 0) != 0) fail("setxattr");
        else if (read_word(self, &back) && back != word) fail("read back");
    }
    if (folder) {
        const int list = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (list < 0) fail("openat .");
        else push(list);
    }
    close(fd);
}

static void entry(int dirfd, const char* name, int folder) {
    if (store == kSamba) samba(dirfd, name, folder);
    else if (store == kWriteOnly) write_only(dirfd, name, folder);
    else cifs(dirfd, name, folder);
}

static void list(int dirfd) {
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
    if (n < 0) fail("getdents64");
}

static void* worker(void* unused) {
    (void)unused;
    for (int fd = pop(0); fd >= 0; fd = pop(1)) {
        list(fd);
        close(fd);
    }
    return NULL;
}

int main(int argc, char** argv) {
    int at = 1;
    if (at < argc && !strcmp(argv[at], "--write-only")) store = kWriteOnly, ++at;
    else if (at < argc && !strcmp(argv[at], "--cifs")) store = kCifs, ++at;
    const int threads = argc - at == 3 ? atoi(argv[at + 2]) : 1;
    if ((argc - at != 2 && argc - at != 3) || (strcmp(argv[at], "set") && strcmp(argv[at], "clear")) || threads < 1) {
        fprintf(stderr, "usage: floor [--write-only|--cifs] set|clear DIR [THREADS]\n");
        return 2;
    }
    set = !strcmp(argv[at], "set");
    /* The stack holds open folders: a wide tree needs many descriptors. */
    struct rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    entry(AT_FDCWD, argv[at + 1], 1);
    pthread_t* others = calloc((size_t)threads, sizeof *others);
    int started = 0;
    if (!others) return 1;
    while (started < threads - 1 && pthread_create(&others[started], NULL, worker, NULL) == 0) ++started;
    if (started < threads - 1) fail("pthread_create");
    worker(NULL);
    while (started > 0) pthread_join(others[--started], NULL);
    free(others);
    return failed ? 1 : 0;
}
