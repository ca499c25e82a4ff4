// Samba as the judge: an smbd of our own on 127.0.0.1 serves a temporary
// folder; smbclient's "allinfo" shows what a Windows client would see of the
// attributes rivak wrote, and rivak reads what Samba wrote for a client.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
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
constexpr char kSmbpasswd[] = "/usr/bin/smbpasswd";
constexpr char kUser[] = "nobody";  // the Windows user of [users], owner of its files
constexpr char kPassword[] = "rivak-test";

// The shares smbd serves, each a folder of the same name: [share] as a
// guest, the rest as rivak reads them with --smb-conf.
struct ShareSetting {
    const char* name;
    const char* settings;
};
constexpr ShareSetting kShares[] = {
    {"share", ""},
    {"plain", ""},  // smbd's defaults
    {"mapro", "map readonly = yes\n"},
    {"nostore", "store dos attributes = no\n"},
    {"nostore-mapro", "Store DOS Attributes = no\nmapreadonly = Yes\n"},
    {"dots", "hide dot files = no\n"},
};

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
    static inline bool userAdded = false;

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
        MakeFolder(*dir / "state");
        port = FreePort();
        const std::string state = *dir / "state";
        std::ofstream conf(*dir / "smb.conf");
        conf << "[global]\n"
            "server role = standalone server\nmap to guest = Bad User\nguest account = root\n"
            "smb ports = " << port << "\ninterfaces = 127.0.0.1\nbind interfaces only = yes\n"
            "lock directory = " << state << "\nstate directory = " << state << "\ncache directory = " << state
            << "\nprivate dir = " << state << "\npid directory = " << state << "\nlog file = " << state
            << "/log\nload printers = no\nprintcap name = /dev/null\ndisable spoolss = yes\n";
        for (const ShareSetting& share : kShares) {
            MakeFolder(*dir / share.name);
            conf << "[" << share.name << "]\npath = " << (*dir / share.name) << "\nread only = no\nguest ok = yes\n"
                 << "force user = root\n" << share.settings;
        }
        // A Windows user of its own, who owns the files of [users] (and may pass through).
        MakeFolder(*dir / "users", 0777);
        chmod(dir->path().c_str(), 0711);
        conf << "[users]\npath = " << (*dir / "users") << "\nread only = no\nvalid users = " << kUser << "\n";
        conf.close();
        if (access(kSmbpasswd, X_OK) == 0)
            userAdded = RunProgram(kSmbpasswd, {"-c", *dir / "smb.conf", "-a", "-s", kUser}, std::string(kPassword) + "\n" +
                                   kPassword + "\n").status == 0;
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

    std::string Share(const std::string& name, const std::string& share = "share") const {
        return *dir / (share + "/" + name);
    }
    // A guest, or kUser for [users].
    ProgramResult Client(const std::string& command, const std::string& share = "share") const {
        std::vector<std::string> args = {"//127.0.0.1/" + share, "-p", std::to_string(port), "-s", *dir / "smb.conf"};
        if (share == "users") args.insert(args.end(), {"-U", std::string(kUser) + "%" + kPassword});
        else args.push_back("-N");
        args.insert(args.end(), {"-c", command});
        return RunProgram(kSmbclient, args);
    }
    // The attribute word and creation time a Windows client is shown.
    std::pair<std::uint32_t, std::string> Seen(const std::string& name, const std::string& share = "share") const {
        const ProgramResult r = Client("allinfo \"" + name + "\"", share);
        std::smatch m, c;
        std::uint32_t word = 0xFFFFFFFF;
        if (std::regex_search(r.out, m, std::regex(R"(attributes: \S* \(([0-9a-f]+)\))")))
            word = static_cast<std::uint32_t>(std::stoul(m[1], nullptr, 16));
        std::regex_search(r.out, c, std::regex(R"(create_time:\s+(.*))"));
        return {word, c.size() > 1 ? c[1].str() : std::string()};
    }
    // What "rivak -l" shows of `path`, as the bits of a client's word; a
    // lowercase "r" (read-only to one reader only) is none of them.
    std::uint32_t Listed(const std::string& path) const {
        const std::string out = Rivak({"-l", path}, true).out;
        const std::size_t at = out.find("  " + path + "\n");
        if (at < 4) return 0xFFFFFFFF;
        std::uint32_t word = 0;
        const char letters[] = "RHSA";
        const std::uint32_t bits[] = {0x1, 0x2, 0x4, 0x20};
        for (int i = 0; i < 4; ++i) word |= out[at - 4 + i] == letters[i] ? bits[i] : 0;
        return word;
    }
    // Without the shares, rivak reads every folder as both Samba and Wine do.
    ProgramResult Rivak(std::vector<std::string> args, bool knowsShares = false) const {
        args.insert(args.begin(), "--smb-conf=" + (knowsShares ? *dir / "smb.conf" : std::string("/dev/null")));
        return RunProgram(RIVAK_CLI, WithJobs(args), "", {{"HOME", "/nonexistent"}, {"LANG", "C.UTF-8"}});
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
    // writable): where rivak does not know the share it is read-only to one
    // of them ("r"), and a run clears the value.
    ProgramResult r = Rivak({"-n", Share("g.txt")});
    EXPECT_NE(r.out.find("rH-- -> ----"), std::string::npos) << "read from Samba's record: " << r.out;

    r = Rivak({"--save=" + (*dir / "g.rivak"), Share("g.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto [after, createdAfter] = Seen("g.txt");
    EXPECT_EQ(after & 3u, 0u);
    // 0x80 (normal) is how Samba shows a word with nothing else in it.
    EXPECT_EQ(after & ~0x83u, before & ~0x83u) << "archive and the rest kept";
    EXPECT_EQ(createdAfter, created) << "the creation time Samba keeps in the record survives";
    EXPECT_EQ(RecordOf(Share("g.txt"))->size(), record->size());

    // Undone, Samba's own record comes back byte for byte.
    r = Rivak({"--restore=" + (*dir / "g.rivak")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Seen("g.txt"), std::make_pair(before, created));
    EXPECT_EQ(RecordOf(Share("g.txt")), record);
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

// With the shares known (--smb-conf), each is read and written as its smbd
// does: what rivak lists is what a client is shown, before and after, and
// what rivak sets or clears is what the client then sees. Each change is
// saved, and its restore gives the client the word it was first shown.
TEST_F(Samba, EachShareAsItsSmbdKeepsIt) {
    constexpr std::uint32_t kLetters = 0x27;  // read-only, hidden, system, archive
    struct Row {
        const char* share;
        const char* name;
        mode_t mode;
        const char* value;  // nullptr: none
        std::vector<std::string> options;
        int status;
        std::uint32_t seen;  // read-only and hidden, as a client sees them after
        mode_t modeAfter;
    };
    const std::vector<std::string> setR = {"--readonly=set", "--hidden=keep"};
    const Row rows[] = {
        // smbd's defaults: read-only lives in the value alone, the write bits stay.
        {"plain", "set", 0644, nullptr, setR, 0, 0x1, 0644},
        {"plain", "mode-only", 0444, nullptr, {}, 0, 0, 0444},
        {"plain", "client-set", 0644, "0x21", {}, 0, 0, 0644},  // a client's "setmode +r"
        // While smbd keeps the value, map readonly = yes changes nothing.
        {"mapro", "set", 0644, nullptr, setR, 0, 0x1, 0644},
        {"mapro", "mode-only", 0444, nullptr, {}, 0, 0, 0444},
        // Without the value: no read-only at all, or the owner's write bit.
        {"nostore", "set", 0644, nullptr, setR, 1, 0, 0644},
        {"nostore", "hide", 0644, nullptr, {"--hidden=set", "--readonly=keep"}, 1, 0, 0644},
        {"nostore-mapro", "set", 0644, "0x1", setR, 0, 0x1, 0444},
        {"nostore-mapro", "clear", 0444, nullptr, {}, 0, 0, 0644},
        {"nostore-mapro", "group-write", 0464, nullptr, {}, 0, 0, 0664},
        // hide dot files = no: a dot name is hidden by the value alone.
        {"dots", ".dot", 0644, "0x2", {}, 0, 0, 0644},
    };
    for (const Row& row : rows) {
        const std::string path = Share(row.name, row.share), label = std::string(row.share) + "/" + row.name;
        MakeFile(path, row.mode);
        if (row.value) SetRecord(path, row.value);
        const std::uint32_t start = Seen(row.name, row.share).first;
        EXPECT_EQ(Listed(path), start & kLetters) << label << ": listed before";
        const std::string saved = *dir / (std::string(row.share) + "-" + row.name + ".rivak");
        std::vector<std::string> args = row.options;
        args.insert(args.end(), {"--save=" + saved, path});
        const ProgramResult r = Rivak(args, true);
        EXPECT_EQ(r.status, row.status) << label << r.err;
        if (row.status) {
            EXPECT_NE(r.err.find("keeps no such attribute"), std::string::npos) << label << r.err;
        }
        const std::uint32_t seen = Seen(row.name, row.share).first;
        EXPECT_EQ(seen & 3u, row.seen) << label;
        EXPECT_EQ(ModeOf(path), row.modeAfter) << label;
        EXPECT_EQ(Listed(path), seen & kLetters) << label << ": listed after";
        const ProgramResult undo = Rivak({"--restore=" + saved}, true);
        EXPECT_EQ(undo.status, 0) << label << undo.err;
        // (These values hold no creation time: smbd makes one from the
        // file's times, which any chmod moves. Samba's own record is undone
        // above, its creation time with it.)
        EXPECT_EQ(Seen(row.name, row.share).first, start) << label << ": restored";
        EXPECT_EQ(RecordOf(path), row.value ? std::optional<std::string>(row.value) : std::nullopt) << label;
        EXPECT_EQ(ModeOf(path), row.mode) << label << ": restored";
    }
}

// One walk over folders that hold shares: each entry is read by the rule of
// the share it lies in, or as both read it outside them; -v names each rule once.
TEST_F(Samba, AWalkTakesEachSharesRule) {
    MakeFolder(*dir / "loose");
    MakeFile(*dir / "loose/walk.txt", 0444);
    MakeFile(Share("walk.txt", "plain"), 0444);
    MakeFile(Share("walk.txt", "nostore-mapro"), 0444);
    const ProgramResult r = Rivak({"-l", "-v", dir->path()}, true);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("r---  " + (*dir / "loose/walk.txt") + "\n"), std::string::npos) << "read-only to Wine only";
    EXPECT_NE(r.out.find("----  " + Share("walk.txt", "plain") + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("R---  " + Share("walk.txt", "nostore-mapro") + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(Seen("walk.txt", "plain").first & 1u, 0u);
    EXPECT_EQ(Seen("walk.txt", "nostore-mapro").first & 1u, 1u);
    for (const std::string rule : {"Samba share [plain]: read-only in user.DOSATTRIB alone",
                                    "Samba share [nostore-mapro]: read-only as the owner's write bit"}) {
        const std::size_t first = r.out.find(rule);
        EXPECT_NE(first, std::string::npos) << rule << r.out;
        EXPECT_EQ(r.out.find(rule, first + 1), std::string::npos) << "named once: " << rule;
    }
}

// Read-only set by rivak in a share it knows is read-only to Windows users,
// who can clear it ("setmode -r" needs the write permission smbd leaves);
// where rivak does not know the share it takes the write bits as Wine does,
// and the owner is refused.
TEST_F(Samba, TheOwnerClearsFromWindowsWhatRivakSet) {
    if (!userAdded) GTEST_SKIP() << "smbpasswd could not add the test's Windows user " << kUser;
    const passwd* user = getpwnam(kUser);
    ASSERT_NE(user, nullptr);
    for (const bool knowsShares : {true, false}) {
        const std::string name = knowsShares ? "known.txt" : "unknown.txt", path = Share(name, "users");
        MakeFile(path, 0644);
        ASSERT_EQ(chown(path.c_str(), user->pw_uid, user->pw_gid), 0);
        const ProgramResult r = Rivak({"--readonly=set", "--hidden=keep", path}, knowsShares);
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(Seen(name, "users").first & 1u, 1u) << name;
        const ProgramResult c = Client("setmode " + name + " -r", "users");
        EXPECT_EQ(Seen(name, "users").first & 1u, knowsShares ? 0u : 1u) << "read-only once cleared: " << name << c.out << c.err;
    }
}

}  // namespace
}  // namespace rivak::posix
