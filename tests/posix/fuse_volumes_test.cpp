// rivak on Windows volumes mounted through FUSE on this machine: NTFS by
// ntfs-3g, FAT by fusefat, exFAT by exfat-fuse. Each volume is an image made
// here; after the run and the unmount, a reader that does not go through the
// driver says what the volume holds: ntfsinfo for NTFS, mattrib (mtools) for
// FAT, and the exFAT directory entries read from the image by this test.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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
    std::uint32_t start;  // the word the entry is given before the run
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
    return RunProgram(path, args, "", {{"HOME", "/nonexistent"}, {"LANG", "C.UTF-8"}});
}

// Waits for the FUSE daemon serving `image` to end: an image file's mount
// is a plain "fuse" one, which umount leaves to finish writing on its own.
void WaitForDaemon(const std::string& image) {
    for (int i = 0; i < 100; ++i) {
        bool running = false;
        for (const auto& p : std::filesystem::directory_iterator("/proc")) {
            std::ifstream in(p.path() / "cmdline", std::ios::binary);
            const std::string cmdline((std::istreambuf_iterator<char>(in)), {});
            running = running || cmdline.find(image) != std::string::npos;
        }
        if (!running) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

class FuseVolume : public ::testing::Test {
protected:
    TempFolder tmp;
    std::string image = tmp / "volume.img";
    std::string mnt = tmp / "mnt";
    std::string loop;  // the loop device, where the driver needs a block device
    bool mounted = false;

    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "mounting FUSE volumes of any kind needs root here";
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
        std::string source = image;
        if (blockDevice) {
            const ProgramResult r = Program("losetup", {"--find", "--show", image});
            ASSERT_EQ(r.status, 0) << "losetup: " << r.err;
            loop = source = r.out.substr(0, r.out.find('\n'));
        }
        args.push_back(source);
        args.push_back(mnt);
        Tool(driver, args);
        mounted = !HasFatalFailure();
    }
    void Unmount() {
        if (mounted) {
            if (umount(mnt.c_str()) != 0) ADD_FAILURE() << "umount " << mnt;
            mounted = false;
            WaitForDaemon(loop.empty() ? image : loop);
        }
        if (!loop.empty()) Program("losetup", {"-d", loop});
        loop.clear();
    }
    std::string At(const char* name) const { return mnt + "/" + name; }

    // rivak on each row's entry; the listing names the store once.
    void RunRows(const std::vector<Row>& rows, const std::string& store) {
        const ProgramResult list = Program(RIVAK_CLI, {"-l", "-v", mnt});
        EXPECT_NE(list.out.find(mnt + ": "), std::string::npos) << list.out;
        EXPECT_NE(list.out.find("(" + store + ")"), std::string::npos) << list.out;
        for (const Row& row : rows) {
            std::vector<std::string> args = row.options;
            args.push_back("--max-depth=0");
            args.push_back(At(row.name));
            const ProgramResult r = Program(RIVAK_CLI, args);
            EXPECT_EQ(r.status, row.status) << row.name << ": " << r.out << r.err;
            if (row.status == 1 && store.find("no known") == 0) {
                EXPECT_NE(r.err.find("keeps no DOS attributes"), std::string::npos) << r.err;
            }
        }
    }
};

std::uint32_t Hex(const std::string& text) { return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16)); }

// ---- NTFS through ntfs-3g ----------------------------------------------------

TEST_F(FuseVolume, Ntfs3gWordChangesAndNoStreamAppears) {
    const std::vector<Row> rows = {
        {"ro-hidden", false, A | R | H, {}, A, 0},
        {"plain", false, A, {"--readonly=set", "--hidden=set"}, A | R | H, 0},
        {"not-indexed", false, 0x2000 | A | H, {}, 0x2000 | A, 0},     // the high bits stay
        // System stays, so Windows shows it again. (A folder's standard
        // information holds no directory bit: ntfs-3g adds it to the word.)
        {"worm-folder", true, D | H | S, {}, S, 0},
        {"system-file", false, A | H | S, {}, A | H | S, 0},              // left alone, as rivak.exe does
        {"kept", false, A | H, {"--readonly=keep", "--hidden=keep"}, A | H, 0},
    };
    Tool("mkfs.ntfs", {"-F", "-q", "-f", image});
    ASSERT_NO_FATAL_FAILURE(Mount("ntfs-3g", {}, false));
    for (const Row& row : rows) {
        if (row.folder) MakeFolder(At(row.name));
        else MakeFile(At(row.name));
        char word[16];
        std::snprintf(word, sizeof word, "0x%08x", row.start);
        Tool("setfattr", {"-n", "system.ntfs_attrib_be", "-v", word, At(row.name)});
    }
    Unmount();
    const auto seen = [&](const std::string& ntfsPath) {
        const ProgramResult r = Program("ntfsinfo", {"-F", ntfsPath, image});
        EXPECT_EQ(r.out.find("DOSATTRIB"), std::string::npos) << ntfsPath << ": a stream Windows would carry as junk";
        std::smatch m;
        EXPECT_TRUE(std::regex_search(r.out, m, std::regex(R"(File attributes:\s+.*\(0x([0-9a-fA-F]+)\))"))) << r.out;
        return m.size() > 1 ? Hex(m[1]) : 0xFFFFFFFFu;
    };
    for (const Row& row : rows) ASSERT_EQ(seen(std::string("/") + row.name), row.start & ~D) << row.name << " before";
    ASSERT_NO_FATAL_FAILURE(Mount("ntfs-3g", {}, false));
    RunRows(rows, "NTFS attributes, ntfs-3g");
    Unmount();
    for (const Row& row : rows) EXPECT_EQ(seen(std::string("/") + row.name), row.after) << row.name;
    seen("/");
}

// ---- FAT through fusefat -------------------------------------------------------

// The attributes mattrib shows, read from the image itself.
std::uint32_t FatWord(const std::string& image, const std::string& name) {
    const ProgramResult r = Program("mattrib", {"-i", image, "::/" + name});
    const std::string letters = r.out.substr(0, r.out.find("::/"));
    std::uint32_t word = 0;
    for (char c : letters) word |= c == 'R' ? R : c == 'H' ? H : c == 'S' ? S : c == 'A' ? A : 0;
    return r.status == 0 ? word : 0xFFFFFFFFu;
}

TEST_F(FuseVolume, FusefatReportsNotStorableAndChangesNothing) {
    const std::vector<Row> rows = {
        {"RO.TXT", false, A | R | H, {}, A | R | H, 1},
        {"SET.TXT", false, A, {"--readonly=set", "--hidden=set"}, A, 1},
        {"DIR", true, H | S, {}, H | S, 1},
        {"KEPT.TXT", false, A | H, {"--readonly=keep", "--hidden=keep"}, A | H, 0},
    };
    Tool("mkfs.vfat", {image});
    const std::string content = tmp / "content";
    MakeFile(content);
    for (const Row& row : rows) {
        if (row.folder) Tool("mmd", {"-i", image, std::string("::/") + row.name});
        else Tool("mcopy", {"-i", image, content, std::string("::/") + row.name});
        std::vector<std::string> args = {"-i", image};
        for (const auto& [bit, flag] : {std::pair{R, "+r"}, {H, "+h"}, {S, "+s"}, {A, "+a"}})
            if (row.start & bit) args.push_back(flag);
        if (!(row.start & A)) args.push_back("-a");
        args.push_back(std::string("::/") + row.name);
        Tool("mattrib", args);
    }
    ASSERT_NO_FATAL_FAILURE(Mount("fusefat", {"-o", "rw+"}, false));
    RunRows(rows, "no known place for DOS attributes");
    Unmount();
    for (const Row& row : rows) EXPECT_EQ(FatWord(image, row.name), row.after) << row.name;
}

// ---- exFAT through exfat-fuse ----------------------------------------------------

// The attributes of a name in the root folder of an exFAT image: the file
// entry (0x85) of the entry set whose name entries (0xC1) spell it.
std::uint32_t ExfatWord(const std::string& image, const std::string& name) {
    std::ifstream in(image, std::ios::binary);
    std::string disk(std::filesystem::file_size(image), '\0');
    in.read(disk.data(), static_cast<std::streamsize>(disk.size()));
    const auto u32 = [&](std::size_t at) {
        return std::uint32_t(std::uint8_t(disk[at])) | std::uint32_t(std::uint8_t(disk[at + 1])) << 8 |
               std::uint32_t(std::uint8_t(disk[at + 2])) << 16 | std::uint32_t(std::uint8_t(disk[at + 3])) << 24;
    };
    if (disk.size() < 512) return 0xFFFFFFFFu;
    const std::size_t sector = std::size_t(1) << std::uint8_t(disk[108]);
    const std::size_t cluster = sector << std::uint8_t(disk[109]);
    const std::size_t root = u32(88) * sector + (u32(96) - 2) * cluster;  // heap offset, first root cluster
    for (std::size_t at = root; at + 32 <= root + cluster && at + 32 <= disk.size(); at += 32) {
        if (std::uint8_t(disk[at]) != 0x85) continue;
        const unsigned secondaries = std::uint8_t(disk[at + 1]);
        const std::uint32_t word = std::uint8_t(disk[at + 4]) | std::uint8_t(disk[at + 5]) << 8;
        std::string spelled;
        for (unsigned k = 2; k <= secondaries; ++k) {
            const std::size_t e = at + 32 * k;
            if (std::uint8_t(disk[e]) != 0xC1) break;
            for (std::size_t c = e + 2; c < e + 32; c += 2)
                if (disk[c] || disk[c + 1]) spelled += disk[c];  // ASCII names only
        }
        if (spelled == name) return word;
    }
    return 0xFFFFFFFFu;
}

TEST_F(FuseVolume, ExfatFuseReportsNotStorableAndChangesNothing) {
    // exfat-fuse gives new files the archive bit and folders the directory bit.
    const std::vector<Row> rows = {
        {"file", false, A, {"--hidden=set"}, A, 1},
        {"cleared", false, A, {}, A, 1},
        {"folder", true, D, {"--readonly=set"}, D, 1},
    };
    Tool("mkfs.exfat", {image});
    ASSERT_NO_FATAL_FAILURE(Mount("mount.exfat-fuse", {}, true));
    for (const Row& row : rows) {
        if (row.folder) MakeFolder(At(row.name));
        else MakeFile(At(row.name));
    }
    Unmount();
    for (const Row& row : rows) ASSERT_EQ(ExfatWord(image, row.name), row.start) << row.name << " before";
    ASSERT_NO_FATAL_FAILURE(Mount("mount.exfat-fuse", {}, true));
    RunRows(rows, "no known place for DOS attributes");
    Unmount();
    for (const Row& row : rows) EXPECT_EQ(ExfatWord(image, row.name), row.after) << row.name;
}

}  // namespace
}  // namespace rivak::posix
