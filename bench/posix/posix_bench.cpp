// posix_bench [ENTRIES...]: rivak for Linux against the floor program over
// trees of ENTRIES files (default 10000 100000 1000000), flat (one folder)
// and deep (ten files and two folders per folder), in a temporary folder.
// Each program sets read-only and hidden on every entry, then clears them,
// three rounds in turn; the best time of each is kept. "again" is rivak run
// over a tree where nothing needs changing, against the floor's clear.
// Prints time, ratio, cost per entry and peak memory (the programs are
// started from a small process, so their peak is their own). Then the cost
// of --save: the same change runs with and without it, in alternating
// rounds (each from the same starting tree), their median wall and CPU
// times and the save file's size per entry (trees up to 100000 files).
// posix_bench jobs [FILES [FOLDERS]]: the threads' figures over FILES files
// (default 100000) in FOLDERS folders (default 100): the floor on one and on
// two threads, rivak -j 1, rivak -j 2 and rivak --save -j 1, each setting
// read-only and hidden and clearing them again, every run from the same
// tree; the median of RIVAK_BENCH_RUNS rounds (default 3), the programs'
// order turning each round. RIVAK_NO_JOBS=1 leaves -j out, for a rivak
// without it.
// $RIVAK names the rivak to run instead of the one built with this.
// Not a test: it prints figures.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Run {
    double seconds = 1e30;
    long peakKb = 0;
    double cpu = 0;  // user and system
};

Run Time(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", args[0].c_str(), status);
        std::exit(1);
    }
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return Run{std::chrono::duration<double>(end - start).count(), usage.ru_maxrss,
               seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

std::string Cli() {
    const char* rivak = std::getenv("RIVAK");
    return rivak && *rivak ? rivak : RIVAK_CLI;
}

void RemoveTree(const std::string& tree) {
    if (std::system(("rm -rf '" + tree + "'").c_str()) != 0) std::fprintf(stderr, "cannot remove %s\n", tree.c_str());
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// --save against the same run without it: each round times both (their
// order alternating), for setting and for clearing, each from the tree the
// other operation leaves.
constexpr int kSaveRounds = 7;
constexpr long kSaveSize = 100000;  // larger trees are not compared: 28 runs each
void CompareSave(const std::string& root, const std::string& shape, const std::string& tree, long entries) {
    const std::string file = root + "/before.rivak";
    for (const bool set : {true, false}) {
        std::vector<std::string> change = {Cli()};
        if (set) change.insert(change.end(), {"--readonly=set", "--hidden=set"});
        std::vector<std::string> undo = {Cli()};
        if (!set) undo.insert(undo.end(), {"--readonly=set", "--hidden=set"});
        undo.push_back(tree);
        std::vector<double> wall[2], cpu[2];
        long bytes = 0;
        for (int round = 0; round < kSaveRounds; ++round) {
            for (int i = 0; i < 2; ++i) {
                const bool save = (i == 0) == (round % 2 == 1);
                Time(undo);
                std::vector<std::string> args = change;
                if (save) args.push_back("--save=" + file);
                args.push_back(tree);
                unlink(file.c_str());
                const Run r = Time(args);
                wall[save].push_back(r.seconds);
                cpu[save].push_back(r.cpu);
                struct stat st;
                if (save && stat(file.c_str(), &st) == 0) bytes = st.st_size;
            }
        }
        unlink(file.c_str());
        std::printf("%-5s %8ld %5s  %9.3f %9.3f %6.3f  %9.3f %9.3f %6.3f  %9.1f\n", shape.c_str(), entries,
                    set ? "set" : "clear", Median(wall[0]), Median(wall[1]), Median(wall[1]) / Median(wall[0]),
                    Median(cpu[0]), Median(cpu[1]), Median(cpu[1]) / Median(cpu[0]),
                    static_cast<double>(bytes) / entries);
        std::fflush(stdout);
    }
}

void Touch(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    close(fd);
}

// Ten files and two subfolders per folder, filled breadth first until
// `files` files exist: a binary tree of folders, 10 to 17 levels deep.
long Deep(const std::string& root, long files, int& depth) {
    long entries = 0;
    std::vector<std::pair<std::string, int>> queue = {{root, 1}};
    for (std::size_t next = 0; next < queue.size() && files > 0; ++next) {
        const auto [folder, level] = queue[next];
        depth = std::max(depth, level);
        for (int i = 0; i < 10 && files > 0; ++i, --files, ++entries) Touch(folder + "/f" + std::to_string(i));
        for (int i = 0; i < 2 && files > 0; ++i, ++entries) {
            queue.emplace_back(folder + "/d" + std::to_string(i), level + 1);
            mkdir(queue.back().first.c_str(), 0755);
        }
    }
    return entries;
}

// `files` files shared among `folders` folders of `tree`.
void Spread(const std::string& tree, long files, long folders) {
    for (long d = 0; d < folders; ++d) {
        const std::string folder = tree + "/d" + std::to_string(d);
        mkdir(folder.c_str(), 0755);
        for (long i = d; i < files; i += folders) Touch(folder + "/f" + std::to_string(i));
    }
}

// The threads' table (see the top of the file).
int Jobs(const std::string& root, long files, long folders) {
    const std::string tree = root + "/tree", save = root + "/before.rivak";
    mkdir(tree.c_str(), 0755);
    Spread(tree, files, folders);
    const long entries = files + folders + 1;
    const bool jobs = !std::getenv("RIVAK_NO_JOBS") || !*std::getenv("RIVAK_NO_JOBS");
    const char* runs = std::getenv("RIVAK_BENCH_RUNS");
    const int rounds = std::max(1, runs ? std::atoi(runs) : 3);
    struct Program {
        const char* name;
        std::vector<std::string> set, clear;
        bool saves;
    };
    const auto floor = [&](const char* op, const char* threads) {
        return std::vector<std::string>{RIVAK_FLOOR, op, tree, threads};
    };
    const auto rivak = [&](bool set, const char* threads, bool saves) {
        std::vector<std::string> args = {Cli()};
        if (jobs) args.insert(args.end(), {"-j", threads});
        if (saves) args.push_back("--save=" + save);
        if (set) args.insert(args.end(), {"--readonly=set", "--hidden=set"});
        args.push_back(tree);
        return args;
    };
    const std::vector<Program> programs = {
        {"floor, 1 thread", floor("set", "1"), floor("clear", "1"), false},
        {"floor, 2 threads", floor("set", "2"), floor("clear", "2"), false},
        {"rivak -j 1", rivak(true, "1", false), rivak(false, "1", false), false},
        {"rivak -j 2", rivak(true, "2", false), rivak(false, "2", false), false},
        {"rivak --save -j 1", rivak(true, "1", true), rivak(false, "1", true), true},
    };
    // [program][op]: wall seconds of each round; every set starts from the
    // plain tree, every clear from the floor's read-only hidden one.
    std::vector<std::vector<double>> wall[2];
    wall[0].resize(programs.size()), wall[1].resize(programs.size());
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < programs.size(); ++k) {
            const std::size_t p = round % 2 ? programs.size() - 1 - k : k;
            for (int op = 0; op < 2; ++op) {
                if (op == 1) Time(floor("set", "1"));
                unlink(save.c_str());
                wall[op][p].push_back(Time(op == 0 ? programs[p].set : programs[p].clear).seconds);
                if (op == 0) Time(floor("clear", "1"));
            }
        }
    }
    unlink(save.c_str());
    std::printf("%ld entries (%ld files in %ld folders), median of %d rounds%s; rivak %s\n", entries, files, folders,
                rounds, jobs ? "" : ", -j left out", Cli().c_str());
    std::printf("%-18s %9s %7s %9s %7s  %s\n", "", "set s", "ratio", "clear s", "ratio", "ratio to");
    for (std::size_t p = 0; p < programs.size(); ++p) {
        const std::size_t base = programs[p].saves ? 2 : 0;
        const double set = Median(wall[0][p]), clear = Median(wall[1][p]);
        std::printf("%-18s %9.3f %7.2f %9.3f %7.2f  %s\n", programs[p].name, set, set / Median(wall[0][base]), clear,
                    clear / Median(wall[1][base]), programs[base].name);
    }
    RemoveTree(tree);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool jobs = argc > 1 && !std::strcmp(argv[1], "jobs");
    std::vector<long> sizes;
    for (int i = jobs ? 2 : 1; i < argc; ++i) sizes.push_back(std::atol(argv[i]));
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/rivak-bench-XXXXXX";
    if (!mkdtemp(pattern.data())) return 1;
    const std::string root = pattern;
    if (jobs) {
        const int status = Jobs(root, sizes.size() > 0 ? sizes[0] : 100000, sizes.size() > 1 ? sizes[1] : 100);
        rmdir(root.c_str());
        return status;
    }
    if (sizes.empty()) sizes = {10000, 100000, 1000000};
    struct SaveRow {
        std::string shape, tree;
        long entries;
    };
    std::vector<SaveRow> saveRows;  // compared once the first table is printed

    std::printf("%-5s %8s %6s %5s  %9s %9s %6s  %9s %9s  %9s %9s\n", "shape", "entries", "depth", "op", "floor s",
                "rivak s", "ratio", "floor us", "rivak us", "floor MB", "rivak MB");
    for (const char* shape : {"flat", "deep"}) {
        for (long n : sizes) {
            const std::string tree = root + "/" + shape + std::to_string(n);
            mkdir(tree.c_str(), 0755);
            // Built in a child that exits, so this process stays small.
            int pipefd[2];
            if (pipe(pipefd) != 0) return 1;
            if (fork() == 0) {
                long made[2] = {1, 1};  // entries, depth
                int depth = 1;
                if (!std::strcmp(shape, "flat")) {
                    for (long i = 0; i < n; ++i) Touch(tree + "/f" + std::to_string(i));
                    made[0] += n;
                } else {
                    made[0] += Deep(tree, n, depth);
                }
                made[1] = depth;
                _exit(write(pipefd[1], made, sizeof made) == sizeof made ? 0 : 1);
            }
            long made[2] = {0, 0};
            if (read(pipefd[0], made, sizeof made) != sizeof made) return 1;
            wait(nullptr);
            close(pipefd[0]), close(pipefd[1]);
            const long entries = made[0];
            const int depth = static_cast<int>(made[1]);
            Run best[2][3];  // [program][op]: set, clear, again
            for (int round = 0; round < 3; ++round) {
                for (int program = 0; program < 2; ++program) {
                    for (int op = 0; op < 3; ++op) {
                        const bool set = op == 0;
                        const std::vector<std::string> args =
                            program == 0
                                ? std::vector<std::string>{RIVAK_FLOOR, "--write-only", set ? "set" : "clear", tree}
                            : set ? std::vector<std::string>{Cli(), "--readonly=set", "--hidden=set", tree}
                                  : std::vector<std::string>{Cli(), tree};
                        const Run r = Time(args);
                        best[program][op].seconds = std::min(best[program][op].seconds, r.seconds);
                        best[program][op].peakKb = std::max(best[program][op].peakKb, r.peakKb);
                    }
                }
            }
            for (int op = 0; op < 3; ++op) {
                const Run& f = best[0][op == 2 ? 1 : op];
                const Run& r = best[1][op];
                std::printf("%-5s %8ld %6d %5s  %9.3f %9.3f %6.2f  %9.2f %9.2f  %9.1f %9.1f\n", shape, entries, depth,
                            op == 0 ? "set" : op == 1 ? "clear" : "again", f.seconds, r.seconds, r.seconds / f.seconds,
                            1e6 * f.seconds / entries, 1e6 * r.seconds / entries, f.peakKb / 1024.0,
                            r.peakKb / 1024.0);
                std::fflush(stdout);
            }
            if (n <= kSaveSize) saveRows.push_back({shape, tree, entries});
            else RemoveTree(tree);
        }
    }
    std::printf("\n%-5s %8s %5s  %9s %9s %6s  %9s %9s %6s  %9s\n", "shape", "entries", "op", "plain s", "--save s",
                "ratio", "plain cpu", "save cpu", "ratio", "B/entry");
    for (const SaveRow& row : saveRows) {
        CompareSave(root, row.shape, row.tree, row.entries);
        RemoveTree(row.tree);
    }
    rmdir(root.c_str());
    return 0;
}
