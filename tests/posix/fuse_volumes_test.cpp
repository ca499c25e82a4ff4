// rivak on Windows volumes mounted through FUSE on this machine, each an
// image made here. ntfs-3g: the word must change, and after the unmount
// ntfsinfo, which reads the image without the driver, must see it, and no
// stream. fusefat and exfat-fuse: every change asked for is reported as not
// storable, never claimed.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

#include "posix_test_support.h"

namespace rivak::posix {
namespace {

using namespace rivak::posix::testing;

constexpr std::uint32_t R = 1, H = 2, S = 4, D = 0x10, A = 0x20;

struct Row {
    const char* name;
    bool folder;
    std::uint32_t start;  // given before the run
    std::vector<std::string> options;
    std::uint32_t after;  // what the reader must see after the unmount
    int status;
};

// `program` by its name, from the folders a root shell searches.
ProgramResult Program(const std::string& program, const std::vector<std::string>& args) {
    std::string path = program;
    for (const char* folder : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"})
        if (program[0] != '/' && access((folder + program).c_str(), X_OK) == 0) {
            path = folder + program;
            break;
        }
    return RunProgram(path, program == RIVAK_CLI ? WithJobs(args) : args, "", {{"HOME", "/nonexistent"}, {"LANG", "C.UTF-8"}});
}

bool Running(const std::string& arg) {
    for (const auto& p : std::filesystem::directory_iterator("/proc")) {
        std::ifstream in(p.path() / "cmdline", std::ios::binary);
        if (std::string((std::istreambuf_iterator<char>(in)), {}).find(arg) != std::string::npos) return true;
    }
    return false;
}

class FuseVolume : public ::testing::Test {
protected:
    TempFolder tmp;
    std::string image = tmp / "volume.img";
    std::string mnt = tmp / "mnt";
    std::string daemonArg;  // how the driver's daemon names the volume
    std::string loop;       // where the driver wants a block device

    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "mounting FUSE volumes needs root here";
        MakeFolder(mnt);
        std::ofstream(image, std::ios::binary).close();
        std::filesystem::resize_file(image, 8 << 20);  // FAT12: fusefat damages the FAT of a FAT16 image
    }
    void TearDown() override { Unmount(); }

    void Tool(const std::string& program, const std::vector<std::string>& args) {
        const ProgramResult r = Program(program, args);
        ASSERT_EQ(r.status, 0) << program << ": " << r.out << r.err;
    }
    void Mount(const std::string& driver, std::vector<std::string> args, bool blockDevice) {
        daemonArg = image;
        if (blockDevice) {
            const ProgramResult r = Program("losetup", {"--find", "--show", image});
            ASSERT_EQ(r.status, 0) << "losetup: " << r.err;
            loop = daemonArg = r.out.substr(0, r.out.find('\n'));
        }
        args.insert(args.end(), {daemonArg, mnt});
        Tool(driver, args);
        if (HasFatalFailure()) daemonArg.clear();
    }
    // An image file's mount is a plain FUSE one: umount does not wait for
    // the daemon to finish writing, so wait for it to end.
    void Unmount() {
        if (!daemonArg.empty()) {
            EXPECT_EQ(umount(mnt.c_str()), 0) << mnt;
            for (int i = 0; i < 100 && Running(daemonArg); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            daemonArg.clear();
        }
        if (!loop.empty()) Program("losetup", {"-d", loop});
        loop.clear();
    }
    std::string At(const char* name) const { return mnt + "/" + name; }

    // rivak on each row's entry; the listing names the store once. With
    // `save`, each run saves to tmp/NAME.rivak.
    void RunRows(const std::vector<Row>& rows, const std::string& store, bool save = false) {
        const ProgramResult list = Program(RIVAK_CLI, {"-l", "-v", mnt});
        EXPECT_NE(list.out.find(mnt + ": "), std::string::npos) << list.out;
        EXPECT_NE(list.out.find("(" + store + ")"), std::string::npos) << list.out;
        for (const Row& row : rows) {
            std::vector<std::string> args = row.options;
            if (save) args.push_back("--save=" + tmp / (std::string(row.name) + ".rivak"));
            args.insert(args.end(), {"--max-depth=0", At(row.name)});
            const ProgramResult r = Program(RIVAK_CLI, args);
            EXPECT_EQ(r.status, row.status) << row.name << ": " << r.out << r.err;
        }
    }

    // An ntfs-3g volume holding the entries of `rows`, each with its start word.
    void MakeNtfs(const std::vector<Row>& rows) {
        Tool("mkfs.ntfs", {"-F", "-q", "-f", image});
        ASSERT_NO_FATAL_FAILURE(Mount("ntfs-3g", {}, false));
        for (const Row& row : rows) {
            row.folder ? MakeFolder(At(row.name)) : MakeFile(At(row.name));
            char word[16];
            std::snprintf(word, sizeof word, "0x%08x", row.start);
            Tool("setfattr", {"-n", "system.ntfs_attrib_be", "-v", word, At(row.name)});
        }
    }
    // The word ntfsinfo reads in the image, unmounted.
    std::uint32_t NtfsWord(const std::string& ntfsPath) {
        const ProgramResult r = Program("ntfsinfo", {"-F", ntfsPath, image});
        EXPECT_EQ(r.out.find("DOSATTRIB"), std::string::npos) << ntfsPath << ": a stream Windows would carry as junk";
        std::smatch m;
        EXPECT_TRUE(std::regex_search(r.out, m, std::regex(R"(File attributes:\s+.*\(0x([0-9a-fA-F]+)\))"))) << r.out;
        return m.size() > 1 ? static_cast<std::uint32_t>(std::stoul(m[1], nullptr, 16)) : 0xFFFFFFFFu;
    }
};

const std::vector<Row> kNtfsRows = {
    {"ro-hidden", false, A | R | H, {}, A, 0},
    {"plain", false, A, {"--readonly=set", "--hidden=set"}, A | R | H, 0},
    {"not-indexed", false, 0x2000 | A | H, {}, 0x2000 | A, 0},  // the high bits stay
    // System stays, so Windows shows it again. (A folder's standard
    // information holds no directory bit: ntfs-3g adds it to the word.)
    {"worm-folder", true, D | H | S, {}, S, 0},
    {"system-file", false, A | H | S, {}, A | H | S, 0},  // left alone, as rivak.exe does
    {"kept", false, A | H, {"--readonly=keep", "--hidden=keep"}, A | H, 0},
};

TEST_F(FuseVolume, Ntfs3gWordChangesAndNoStreamAppears) {
    const std::vector<Row>& rows = kNtfsRows;
    ASSERT_NO_FATAL_FAILURE(MakeNtfs(rows));
    Unmount();
    for (const Row& row : rows)
        ASSERT_EQ(NtfsWord(std::string("/") + row.name), row.start & ~D) << row.name << " before";
    ASSERT_NO_FATAL_FAILURE(Mount("ntfs-3g", {}, false));
    RunRows(rows, "NTFS attributes, ntfs-3g");
    Unmount();
    for (const Row& row : rows) EXPECT_EQ(NtfsWord(std::string("/") + row.name), row.after) << row.name;
    NtfsWord("/");
}

// Saved, changed and restored on the mounted volume: after the unmount
// ntfsinfo reads every starting word again.
TEST_F(FuseVolume, Ntfs3gWordsComeBackFromTheSaveFile) {
    ASSERT_NO_FATAL_FAILURE(MakeNtfs(kNtfsRows));
    RunRows(kNtfsRows, "NTFS attributes, ntfs-3g", true);
    const ProgramResult changed = Program(RIVAK_CLI, {"-l", mnt});
    EXPECT_NE(changed.out.find("RH-A  " + At("plain") + "\n"), std::string::npos) << changed.out;
    for (const Row& row : kNtfsRows) {
        const ProgramResult r = Program(RIVAK_CLI, {"--restore=" + tmp / (std::string(row.name) + ".rivak")});
        EXPECT_EQ(r.status, 0) << row.name << r.err;
    }
    Unmount();
    for (const Row& row : kNtfsRows) EXPECT_EQ(NtfsWord(std::string("/") + row.name), row.start & ~D) << row.name;
}

// fusefat and exfat-fuse keep no attributes rivak can change (exfat-fuse
// even answers chmod with success and changes nothing).
TEST_F(FuseVolume, OtherDriversReportEveryChangeAsNotStorable) {
    struct Driver {
        const char* mkfs;
        const char* mount;
        std::vector<std::string> options;
        bool blockDevice;  // exfat-fuse wants one
    };
    const std::vector<Row> rows = {
        {"FILE", false, 0, {"--hidden=set"}, 0, 1},
        {"CLEARED", false, 0, {}, 0, 1},
        {"DIR", true, 0, {"--readonly=set"}, 0, 1},
        {"KEPT", false, 0, {"--readonly=keep", "--hidden=keep"}, 0, 0},
    };
    for (const Driver& d : {Driver{"mkfs.vfat", "fusefat", {"-o", "rw+"}, false},
                            Driver{"mkfs.exfat", "mount.exfat-fuse", {}, true}}) {
        Tool(d.mkfs, {image});
        ASSERT_NO_FATAL_FAILURE(Mount(d.mount, d.options, d.blockDevice));
        for (const Row& row : rows) {  // fusefat has no chmod: no MakeFile here
            if (row.folder) std::filesystem::create_directory(At(row.name));
            else std::ofstream(At(row.name)) << "x";
        }
        RunRows(rows, "no known place for DOS attributes");
        const ProgramResult r = Program(RIVAK_CLI, {At("CLEARED")});
        EXPECT_NE(r.err.find("keeps no DOS attributes that rivak can change"), std::string::npos) << d.mount << r.err;
        EXPECT_NE(Program(RIVAK_CLI, {"-l", At("FILE")}).out.find("????  "), std::string::npos) << "nothing claimed";
        // The whole mount: told once, every entry counted.
        const ProgramResult all = Program(RIVAK_CLI, {mnt});
        EXPECT_EQ(all.status, 1);
        EXPECT_EQ(all.err.find("keeps no DOS"), all.err.rfind("keeps no DOS")) << all.err;
        EXPECT_NE(all.err.find("rivak: entries not changed: 5\n"), std::string::npos) << d.mount << all.err;
        Unmount();
    }
}

}  // namespace
}  // namespace rivak::posix
