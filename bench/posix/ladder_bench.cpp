// ladder_bench [--rounds=N] [--files=N] [--depths=N,...] [OTHER_RIVAK]: what a shortcut back up
// in each folder costs rivak for Linux, as the ratio of a run's time to the
// same program's --no-shortcuts run over the same tree in the same round.
// Trees: 24 levels of --files files each (default 3500; 0 for none), with a
// shortcut to the parent in each folder, then one to the root; chains of
// --depths levels (default 100,200,300,400; one file each, a shortcut to the
// parent) walked with --max-depth=1000000. With OTHER_RIVAK (an older build) both programs run,
// in turn, within each round. Medians of the rounds (default 5). Not a test:
// it prints figures.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/lnk/lnk_writer.h"

namespace {

double Seconds(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(stdout);  // or the child's freopen would write it a second time
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", args[0].c_str(), status);
        std::exit(1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Write(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

void Folder(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

std::vector<unsigned char> RelativeShortcut(const std::u16string& target) {
    rivak::test::lnk::LinkSpec fields;
    fields.relative = target;
    return rivak::test::lnk::Build(fields);
}

// top/d/d/..., each folder with `files` files and a shortcut "up.lnk" to its
// parent (or, with `toRoot`, to top).
void Ladder(const std::string& top, int levels, int files, bool toRoot) {
    Folder(top);
    std::string p = top;
    std::u16string up;
    for (int k = 1; k <= levels; ++k) {
        p += "/d";
        Folder(p);
        up += up.empty() ? u".." : u"\\..";
        Write(p + "/up.lnk", RelativeShortcut(toRoot ? up : u".."));
        for (int i = 0; i < files; ++i) Write(p + "/f" + std::to_string(i), {});
    }
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5, files = 3500;
    std::vector<int> depths = {100, 200, 300, 400};
    std::vector<std::string> programs = {RIVAK_CLI};
    for (int i = 1; i < argc; ++i) {
        if (!std::strncmp(argv[i], "--rounds=", 9)) {
            rounds = std::max(1, std::atoi(argv[i] + 9));
        } else if (!std::strncmp(argv[i], "--files=", 8)) {
            files = std::max(0, std::atoi(argv[i] + 8));
        } else if (!std::strncmp(argv[i], "--depths=", 9)) {
            depths.clear();
            for (char *p = argv[i] + 9, *end; *p; p = end + (*end == ',')) {
                depths.push_back(static_cast<int>(std::strtol(p, &end, 10)));
                if (end == p) return 2;
            }
        } else {
            programs.push_back(argv[i]);
        }
    }
    const char* base = std::getenv("TMPDIR");
    std::string root = std::string(base && *base ? base : "/tmp") + "/rivak-ladder-XXXXXX";
    if (!mkdtemp(root.data())) return 1;

    struct Tree {
        std::string name;
        int levels, files;
        bool toRoot;
        std::vector<std::string> options;
    };
    std::vector<Tree> trees;
    if (files > 0) trees = {{"parent", 24, files, false, {}}, {"root", 24, files, true, {}}};
    for (int levels : depths) trees.push_back({"parent", levels, 1, false, {"--max-depth=1000000"}});

    std::printf("%-6s %6s %6s  %-40s %10s %10s %7s\n", "links", "levels", "files", "program", "median s",
                "no-lnk s", "ratio");
    for (std::size_t t = 0; t < trees.size(); ++t) {
        const Tree& tree = trees[t];
        const std::string top = root + "/t" + std::to_string(t);
        Ladder(top, tree.levels, tree.files, tree.toRoot);
        // [program][with shortcuts?]: one time a round, the runs alternating.
        std::vector<std::vector<std::vector<double>>> times(programs.size(), std::vector<std::vector<double>>(2));
        for (int round = 0; round < rounds; ++round) {
            for (std::size_t p = 0; p < programs.size(); ++p) {
                for (int withLinks = 1; withLinks >= 0; --withLinks) {
                    std::vector<std::string> args = {programs[p]};
                    args.insert(args.end(), tree.options.begin(), tree.options.end());
                    if (!withLinks) args.push_back("--no-shortcuts");
                    args.push_back(top);
                    times[p][withLinks].push_back(Seconds(args));
                }
            }
        }
        for (std::size_t p = 0; p < programs.size(); ++p) {
            const double with = Median(times[p][1]), without = Median(times[p][0]);
            std::printf("%-6s %6d %6d  %-40s %10.3f %10.3f %7.2f\n", tree.name.c_str(), tree.levels, tree.files,
                        programs[p].c_str(), with, without, with / without);
            std::fflush(stdout);
        }
        if (std::system(("rm -rf '" + top + "'").c_str()) != 0)
            std::fprintf(stderr, "could not remove %s\n", top.c_str());
    }
    rmdir(root.c_str());
    return 0;
}
