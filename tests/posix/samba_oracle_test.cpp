// Samba as the judge: an smbd of our own on 127.0.0.1 serves a temporary
// folder; smbclient's "allinfo" shows what a Windows client would see of the
// attributes rivak wrote, and rivak reads what Samba wrote for a client.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "posix_test_support.h"

namespace rivak::posix {
namespace {

using namespace rivak::posix::testing;

constexpr char kSmbd[] = "/usr/sbin/smbd";
constexpr char kSmbclient[] = "/usr/bin/smbclient";

int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(s);
    return port;
}

bool Listening(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

class Samba : public ::testing::Test {
protected:
    static inline TempFolder* dir = nullptr;
    static inline pid_t smbd = 0;
    static inline int port = 0;
    static inline std::string skip;

    static void SetUpTestSuite() {
        if (geteuid() != 0) {
            skip = "smbd needs root to serve files as their owner";
            return;
        }
        if (access(kSmbd, X_OK) != 0 || access(kSmbclient, X_OK) != 0) {
            skip = "samba and smbclient are not installed";
            return;
        }
        dir = new TempFolder;
        MakeFolder(*dir / "share");
        MakeFolder(*dir / "state");
        port = FreePort();
        const std::string state = *dir / "state";
        std::ofstream(*dir / "smb.conf") << "[global]\n"
            "server role = standalone server\nmap to guest = Bad User\nguest account = root\n"
            "smb ports = " << port << "\ninterfaces = 127.0.0.1\nbind interfaces only = yes\n"
            "lock directory = " << state << "\nstate directory = " << state << "\ncache directory = " << state
            << "\nprivate dir = " << state << "\npid directory = " << state << "\nlog file = " << state
            << "/log\nload printers = no\nprintcap name = /dev/null\ndisable spoolss = yes\n"
            "[share]\npath = " << (*dir / "share") << "\nread only = no\nguest ok = yes\nforce user = root\n";
        smbd = fork();
        if (smbd == 0) {
            // Without --no-process-group smbd starts a session of its own
            // (it signals its whole group when it ends, which must not be ours).
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0), dup2(null, 1), dup2(null, 2);
            execl(kSmbd, kSmbd, "--foreground", ("--configfile=" + (*dir / "smb.conf")).c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 100 && !Listening(port); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!Listening(port)) skip = "smbd did not start listening on 127.0.0.1";
    }
    static void TearDownTestSuite() {
        if (smbd > 0) {
            // smbd and the helpers it started, all in its session's group.
            if (kill(-smbd, SIGTERM) != 0) kill(smbd, SIGTERM);
            waitpid(smbd, nullptr, 0);
        }
        delete dir;
        dir = nullptr;
    }
    void SetUp() override {
        if (!skip.empty()) GTEST_SKIP() << skip;
    }

    std::string Share(const std::string& name) const { return *dir / ("share/" + name); }
    ProgramResult Client(const std::string& command) const {
        return RunProgram(kSmbclient, {"//127.0.0.1/share", "-p", std::to_string(port), "-N", "-s", *dir / "smb.conf",
                                       "-c", command});
    }
    // The attribute word and creation time a Windows client is shown.
    std::pair<std::uint32_t, std::string> Seen(const std::string& name) const {
        const ProgramResult r = Client("allinfo \"" + name + "\"");
        std::smatch m, c;
        std::uint32_t word = 0xFFFFFFFF;
        if (std::regex_search(r.out, m, std::regex(R"(attributes: \S* \(([0-9a-f]+)\))")))
            word = static_cast<std::uint32_t>(std::stoul(m[1], nullptr, 16));
        std::regex_search(r.out, c, std::regex(R"(create_time:\s+(.*))"));
        return {word, c.size() > 1 ? c[1].str() : std::string()};
    }
    ProgramResult Rivak(std::vector<std::string> args) const {
        return RunProgram(RIVAK_CLI, args, "", {{"HOME", "/nonexistent"}, {"LANG", "C.UTF-8"}});
    }
};

TEST_F(Samba, ClientSeesWhatRivakWrote) {
    MakeFile(Share("f.txt"));
    MakeFolder(Share("d"));
    ProgramResult r = Rivak({"--readonly=set", "--hidden=set", Share("f.txt"), Share("d")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Seen("f.txt").first & 3u, 3u) << "read-only and hidden";
    EXPECT_EQ(Seen("d").first & 0x13u, 0x13u) << "a folder: read-only and hidden in the value";

    r = Rivak({Share("f.txt"), Share("d")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Seen("f.txt").first & 3u, 0u);
    EXPECT_EQ(Seen("d").first & 3u, 0u);
}

TEST_F(Samba, RivakReadsWhatSambaWroteAndKeepsItsRecord) {
    MakeFile(Share("g.txt"));
    ProgramResult c = Client("setmode g.txt +rh");
    ASSERT_EQ(c.status, 0) << c.out << c.err;
    const auto [before, created] = Seen("g.txt");
    ASSERT_EQ(before & 3u, 3u);
    ASSERT_EQ(ModeOf(Share("g.txt")), 0644u) << "Samba keeps read-only in its value only";
    const std::optional<std::string> record = RecordOf(Share("g.txt"));
    ASSERT_TRUE(record && record->size() > 4) << "Samba writes its NDR record";

    // Read-only in Samba's value alone is not read-only to Wine (the mode is
    // writable): rivak counts it only where both agree, and clears the value.
    ProgramResult r = Rivak({"-n", Share("g.txt")});
    EXPECT_NE(r.out.find("-H-- -> ----"), std::string::npos) << "read from Samba's record: " << r.out;

    r = Rivak({Share("g.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto [after, createdAfter] = Seen("g.txt");
    EXPECT_EQ(after & 3u, 0u);
    // 0x80 (normal) is how Samba shows a word with nothing else in it.
    EXPECT_EQ(after & ~0x83u, before & ~0x83u) << "archive and the rest kept";
    EXPECT_EQ(createdAfter, created) << "the creation time Samba keeps in the record survives";
    EXPECT_EQ(RecordOf(Share("g.txt"))->size(), record->size());
}

// Where Samba (the value) and Wine (the mode) disagree, rivak brings both to
// what was asked; a dot name stays hidden to Samba, and rivak says so (no failure).
TEST_F(Samba, BothPlacesAgreeAfterwards) {
    struct Row {
        const char* name;
        bool folder;
        mode_t mode;
        const char* value;  // nullptr: none
        std::vector<std::string> options;
        std::uint32_t seen;  // read-only, hidden and directory as a client sees them
        mode_t modeAfter;
        const char* told;              // on standard error, "" for nothing
        const char* inside = nullptr;  // a file made in the folder first
    };
    const Row rows[] = {
        {"ro-mode-only", false, 0444, nullptr, {}, 0, 0644, ""},
        {"ro-mode-set", false, 0444, nullptr, {"--readonly=set", "--hidden=keep"}, 0x1, 0444, ""},
        {"ro-mode-kept", false, 0444, nullptr, {"--readonly=keep", "--hidden=keep"}, 0, 0444, ""},
        {".dot-kept", false, 0644, nullptr, {"--readonly=set", "--hidden=keep"}, 0x3, 0444, ""},
        {"ro-value-only", false, 0644, "0x1", {"--readonly=set", "--hidden=keep"}, 0x1, 0444, ""},
        {"ro-value-clear", false, 0644, "0x21", {}, 0, 0644, ""},
        {".dotfile", false, 0644, nullptr, {}, 0x2, 0644, "stay hidden by their names"},
        {"folder", true, 0755, nullptr, {"--hidden=set", "--readonly=keep"}, 0x12, 0755, ""},
        // A client's Explorer reads the desktop.ini of a read-only folder only.
        {"customised", true, 0755, "0x13", {}, 0x11, 0755, "", "Desktop.ini"},
        {"plain-ro-folder", true, 0755, "0x13", {}, 0x10, 0755, "", "desktop.txt"},
    };
    for (const Row& row : rows) {
        if (row.folder) MakeFolder(Share(row.name), row.mode);
        else MakeFile(Share(row.name), row.mode);
        if (row.value) SetRecord(Share(row.name), row.value);
        if (row.inside) MakeFile(Share(row.name) + "/" + row.inside, 0644);
        std::vector<std::string> args = row.options;
        args.push_back(Share(row.name));
        const ProgramResult r = Rivak(args);
        EXPECT_EQ(r.status, 0) << row.name << r.err;
        EXPECT_EQ(Seen(row.name).first & 0x13u, row.seen) << row.name;
        EXPECT_EQ(ModeOf(Share(row.name)), row.modeAfter) << row.name;
        EXPECT_NE(r.err.find(row.told), std::string::npos) << row.name << r.err;
    }
    EXPECT_EQ(RecordOf(Share("folder")), "0x12") << "the directory bit, as Samba writes a folder's value";
}

}  // namespace
}  // namespace rivak::posix
