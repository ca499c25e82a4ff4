// The rivak program itself, started as a user starts it: every option, bad
// usage, -0, the dry run, the exit statuses, the texts in both languages.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <grp.h>
#include <limits.h>
#include <poll.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <clocale>
#include <cwchar>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "engine/shortcut.h"
#include "platform/lnk/shell_link.h"
#include "posix_test_support.h"
#include "rivak_version.h"
#include "tests/lnk/lnk_writer.h"

namespace rivak::cli {
namespace {

using namespace rivak::posix::testing;

using Result = ProgramResult;

// The built program with `args`; `env` is added to a minimal environment
// (no Wine prefix, C.UTF-8 unless LANG is given).
Result Rivak(const std::vector<std::string>& args, const std::string& input = "",
             const std::map<std::string, std::string>& env = {}) {
    std::map<std::string, std::string> full = {{"HOME", "/nonexistent"}, {"LANG", "C.UTF-8"}};
    for (const auto& [k, v] : env) full[k] = v;
    // No share of this machine's own smb.conf may decide how a test tree is read.
    std::vector<std::string> all = {"--smb-conf=/dev/null"};
    all.insert(all.end(), args.begin(), args.end());
    return RunProgram(RIVAK_CLI, WithJobs(all), input, full);
}

bool HasJapaneseLocale() {
    locale_t l = newlocale(LC_ALL_MASK, "ja_JP.UTF-8", nullptr);
    if (l) freelocale(l);
    return l != nullptr;
}

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A shortcut whose target is the relative path `relative` (UTF-16 in the file).
std::vector<unsigned char> RelativeShortcut(const std::u16string& relative) {
    rivak::test::lnk::LinkSpec fields;
    fields.relative = relative;
    return rivak::test::lnk::Build(fields);
}

// A shortcut whose LinkInfo holds `target` (ASCII) as a local path.
std::vector<unsigned char> Shortcut(const std::string& target) {
    using namespace rivak::test::lnk;
    LinkSpec fields;
    LinkInfoFields info;
    info.localBase = target;
    fields.linkInfo = LinkInfo(info);
    return Build(fields);
}

class Cli : public ::testing::Test {
protected:
    TempFolder tmp;
    std::string At(const std::string& rel) const { return tmp / rel; }
    // d/ (hidden, read-only in its value) holding f (read-only, hidden), sub/g (read-only).
    static void MakeTree(const TempFolder& t) {
        MakeFolder(t / "d");
        SetRecord(t / "d", "0x3");
        MakeFile(t / "d/f", 0444);
        SetRecord(t / "d/f", "0x3");
        MakeFolder(t / "d/sub");
        MakeFile(t / "d/sub/g", 0444);
        SetRecord(t / "d/sub/g", "0x1");
    }
    void MakeTree() { MakeTree(tmp); }
};

TEST_F(Cli, DefaultsClearEverythingQuietly) {
    MakeTree();
    const Result r = Rivak({At("d")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "") << "no count when standard error is not a terminal";
    EXPECT_EQ(WordOnDisk(At("d")), attr::kDirectory);
    EXPECT_EQ(WordOnDisk(At("d/f")), 0u);
    EXPECT_EQ(WordOnDisk(At("d/sub/g")), 0u);
}

TEST_F(Cli, EveryOptionDoesWhatItSays) {
    struct Row {
        std::vector<std::string> options;
        AttributeWord folder, file, deep;
    };
    const AttributeWord D = attr::kDirectory, R = attr::kReadOnly, H = attr::kHidden;
    const Row rows[] = {
        {{"--readonly=set", "--hidden=keep"}, D | R | H, R | H, R},
        {{"--readonly", "keep", "--hidden", "set"}, D | R | H, R | H, R | H},
        {{"--readonly=keep", "--hidden=keep"}, D | R | H, R | H, R},
        {{"--keep-folders"}, D | R | H, 0, 0},
        {{"--max-depth=1"}, D, 0, R},
        {{"--max-depth=0"}, D, R | H, R},
        {{"-n"}, D | R | H, R | H, R},
        {{"--dry-run", "--readonly=set"}, D | R | H, R | H, R},
    };
    for (const Row& row : rows) {
        TempFolder t;
        MakeTree(t);
        std::vector<std::string> args = row.options;
        args.push_back(t / "d");
        const Result r = Rivak(args);
        const std::string label = ::testing::PrintToString(row.options);
        EXPECT_EQ(r.status, 0) << label << r.err;
        EXPECT_EQ(WordOnDisk(t / "d"), row.folder) << label;
        EXPECT_EQ(WordOnDisk(t / "d/f"), row.file) << label;
        EXPECT_EQ(WordOnDisk(t / "d/sub/g"), row.deep) << label;
    }
}

TEST_F(Cli, VerboseAndDryRunListTheChangesWithQuotedPaths) {
    MakeFolder(At("d"));
    MakeFile(At("d/it's here"), 0444);
    SetRecord(At("d/it's here"), "0x1");
    MakeFile(At("d/line\nbreak"), 0444);
    SetRecord(At("d/line\nbreak"), "0x1");
    MakeFile(At("d/plain"), 0644);  // nothing to change: no line
    for (const char* option : {"-n", "-v"}) {  // the dry run first: it must leave the work to -v
        const Result r = Rivak({option, At("d")});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("R--- -> ----  '" + At("d/it") + "'\\''s here'\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("R--- -> ----  '" + At("d/line") + "'$'\\n''break'\n"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("plain"), std::string::npos);
        int lines = 0;  // the changes; -v names the mount too
        for (std::size_t at = 0; (at = r.out.find(" -> ", at)) != std::string::npos; ++at) ++lines;
        EXPECT_EQ(lines, 2) << option;
    }
}

TEST_F(Cli, NulSeparatedPathsFromStandardInput) {
    MakeFile(At("a b"), 0444);
    MakeFile(At("new\nline"), 0444);
    MakeFile(At("not listed"), 0444);
    const std::string input = At("a b") + '\0' + At("new\nline") + '\0';
    const Result r = Rivak({"-0"}, input);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ModeOf(At("a b")), 0644u);
    EXPECT_EQ(ModeOf(At("new\nline")), 0644u);
    EXPECT_EQ(ModeOf(At("not listed")), 0444u);
    // A find that found nothing: nothing to do. A closed input is an error.
    EXPECT_EQ(Rivak({"-0"}, "").status, 0);
    const Result closed = RunProgram("/bin/sh", {"-c", "exec \"$0\" -0 <&-", RIVAK_CLI}, "", {{"LANG", "C.UTF-8"}});
    EXPECT_EQ(closed.status, 2);
    EXPECT_NE(closed.err.find("cannot read standard input: Bad file descriptor"), std::string::npos) << closed.err;
}

TEST_F(Cli, BadUsageTouchesNothing) {
    MakeTree();
    const std::vector<std::vector<std::string>> rows = {
        {"--bogus"},          {"-x"},                 {"--readonly=maybe"}, {"--hidden"},
        {"--max-depth=-1"},   {"--max-depth=abc"},    {"--max-depth=2000000"},
        {"--map=nonsense"},   {"--map=Q=/srv"},       {"--map=\\\\server=/srv"},
        {"--codepage=NOPE"},  {"--dry-run=yes"},      {"--help=me"},        {"--system=off"},
        {"--smb-conf="},      {"--save"},             {"--save=x", "-n"},   {"--restore=x"},
        {"--jobs=0"},         {"-j", "65"},           {"--jobs=two"},
    };
    for (std::vector<std::string> args : rows) {
        const std::string label = ::testing::PrintToString(args);
        args.push_back(At("d"));
        const Result r = Rivak(args);
        EXPECT_EQ(r.status, 2) << label;
        EXPECT_NE(r.err.find("rivak: "), std::string::npos) << label;
        EXPECT_NE(r.err.find("--help"), std::string::npos) << label;
        EXPECT_EQ(r.out, "") << label;
    }
    const Result none = Rivak({});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("no path given"), std::string::npos);
    EXPECT_EQ(WordOnDisk(At("d/f")), attr::kReadOnly | attr::kHidden);
}

TEST_F(Cli, ListShowsEveryEntryAndChangesNothing) {
    MakeTree();
    MakeFile(At("d/system"), 0644);
    SetRecord(At("d/system"), "0x26");  // left out by a change run, shown by a listing
    WriteBytes(At("d/to-f.lnk"), Shortcut("X:\\f"));  // listed itself, not followed
    MakeFile(At("d/B"), 0644);  // before "f" as bytes, after it in a dictionary's order
    const Result r = Rivak({"--list", "-v", "--map=X:=" + At("d"), At("d")});
    EXPECT_EQ(r.status, 0) << r.err;
    // A folder's entries, sorted as bytes, then its subfolders'.
    const std::string expected[] = {
        ": ",  // the mount, before its first entry
        "RH--  " + At("d") + "\n", "----  " + At("d/B") + "\n", "RH--  " + At("d/f") + "\n",
        "----  " + At("d/sub") + "\n", "-HSA  " + At("d/system") + "\n", "----  " + At("d/to-f.lnk") + "\n",
        "R---  " + At("d/sub/g") + "\n",
    };
    std::size_t at = 0;
    for (const std::string& line : expected) {
        at = r.out.find(line, at);
        EXPECT_NE(at, std::string::npos) << line << r.out;
    }
    EXPECT_LT(r.out.find("(Samba/Wine user.DOSATTRIB)\n"), r.out.find(At("d") + "\n"));
    EXPECT_EQ(WordOnDisk(At("d/f")), attr::kReadOnly | attr::kHidden);
    EXPECT_EQ(RecordOf(At("d/system")), "0x26");
    const Result quiet = Rivak({"-l", At("d")});
    EXPECT_EQ(quiet.out.find("Samba/Wine"), std::string::npos) << "the store is named with -v only";
}

TEST_F(Cli, SomeEntriesFailedMeansStatusOneAndASummary) {
    MakeFile(At("ok"), 0444);
    MakeFile(At("bad"), 0444);
    SetRecord(At("bad"), "not hex");
    std::vector<std::string> args = {At("missing"), At("ok"), At("bad"), ""};
    for (int i = 0; i < 11; ++i) args.push_back(At("gone") + std::to_string(i));
    const Result r = Rivak(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ModeOf(At("ok")), 0644u) << "the rest is still done";
    // Each failure as it happens, every one of them, then the count.
    EXPECT_NE(r.err.find("rivak: cannot change '': No such file or directory\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("rivak: cannot change '" + At("missing") + "': No such file or directory\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("rivak: cannot change '" + At("bad") + "': user.DOSATTRIB"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("rivak: cannot change '" + At("gone10") + "'"), std::string::npos) << r.err;
    const std::string last = "rivak: entries not changed: 14\n";
    EXPECT_EQ(r.err.size() - r.err.rfind(last), last.size()) << r.err;
}

TEST_F(Cli, ListedFifoIsReportedNotOpened) {
    ASSERT_EQ(mkfifo(At("fifo").c_str(), 0644), 0);
    const Result r = Rivak({At("fifo")});  // an open for reading would wait for a writer forever
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(At("fifo") + "': neither a file nor a folder"), std::string::npos) << r.err;
}

TEST_F(Cli, ShortcutsAreFollowedThroughTheDriveMap) {
    MakeFolder(At("share"));
    MakeFile(At("share/Target.txt"), 0444);
    MakeFolder(At("links"));
    WriteBytes(At("links/t.lnk"), Shortcut("X:\\TARGET.TXT"));  // another case than on disk
    WriteBytes(At("links/elsewhere.lnk"), Shortcut("Q:\\nothing.txt"));
    ASSERT_EQ(chmod(At("links/t.lnk").c_str(), 0444), 0);
    ASSERT_EQ(chmod(At("links/elsewhere.lnk").c_str(), 0444), 0);

    // Named on the command line, a shortcut is followed wherever it points.
    const std::vector<std::string> named = {At("links/t.lnk"), At("links/elsewhere.lnk")};
    Result r = Rivak({"--no-shortcuts", "--map=x:=" + At("share"), named[0], named[1]});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ModeOf(At("links/t.lnk")), 0644u) << "the shortcut file itself";
    EXPECT_EQ(ModeOf(At("share/Target.txt")), 0444u);

    ASSERT_EQ(chmod(At("links/t.lnk").c_str(), 0444), 0);
    ASSERT_EQ(chmod(At("links/elsewhere.lnk").c_str(), 0444), 0);
    r = Rivak({"-v", "--map", "X:=" + At("share"), named[0], named[1]});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ModeOf(At("share/Target.txt")), 0644u) << r.out;
    EXPECT_EQ(ModeOf(At("links/t.lnk")), 0444u) << "followed, so the file itself stays";
    EXPECT_EQ(ModeOf(At("links/elsewhere.lnk")), 0644u) << "a target outside the map keeps the shortcut's own path";
}

TEST_F(Cli, CodePageDecodesTheAnsiPath) {
    MakeFolder(At("share"));
    MakeFile(At("share/café.txt"), 0444);
    SetRecord(At("share/café.txt"), "0x1");
    WriteBytes(At("a.lnk"), Shortcut("X:\\caf\xE9.txt"));
    Result r = Rivak({"--readonly=keep", "--hidden=set", "--map=X:=" + At("share"), At("a.lnk")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(WordOnDisk(At("share/café.txt")), attr::kReadOnly) << "code page 932 cannot read it: not followed";
    EXPECT_EQ(WordOnDisk(At("a.lnk")), attr::kHidden);
    WriteBytes(At("u.lnk"), Shortcut("X:\\caf\xC3\xA9.txt"));  // as Windows writes with the UTF-8 code page
    for (const auto& [codePage, shortcut] : {std::pair{"--codepage=1252", "a.lnk"}, std::pair{"--codepage=65001", "u.lnk"}}) {
        ASSERT_EQ(chmod(At("share/café.txt").c_str(), 0444), 0);
        r = Rivak({codePage, "--map=X:=" + At("share"), At(shortcut)});
        EXPECT_EQ(r.status, 0) << codePage << r.err;
        EXPECT_EQ(WordOnDisk(At("share/café.txt")), 0u) << codePage;
    }
}

TEST_F(Cli, WinePrefixGivesTheDriveLetters) {
    MakeFolder(At("prefix"));
    MakeFolder(At("prefix/drive_c"));
    MakeFolder(At("prefix/dosdevices"));
    MakeLink("../drive_c", At("prefix/dosdevices/c:"));
    MakeFile(At("prefix/drive_c/a.txt"), 0444);
    WriteBytes(At("a.lnk"), Shortcut("C:\\a.txt"));
    const Result r = Rivak({At("a.lnk")}, "", {{"WINEPREFIX", At("prefix")}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ModeOf(At("prefix/drive_c/a.txt")), 0644u);
}

TEST_F(Cli, TrailingSlashAndDotNameTheFolderItself) {
    MakeTree();
    Result r = Rivak({At("d") + "/"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(WordOnDisk(At("d/sub/g")), 0u);
    MakeFile(At("d/sub/h"), 0444);
    r = Rivak({At("d/sub") + "/."});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(WordOnDisk(At("d/sub/h")), 0u);
}

TEST_F(Cli, HelpVersionAndJapanese) {
    Result r = Rivak({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* option : {"--readonly=clear|set|keep", "--hidden", "--no-shortcuts", "--keep-folders",
                               "--max-depth", "--map", "--dry-run", "--verbose", "-0", "--version"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    r = Rivak({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("rivak ") + RIVAK_VERSION + "\n");

    if (!HasJapaneseLocale()) GTEST_SKIP() << "no ja_JP.UTF-8 locale on this machine";
    r = Rivak({"--help"}, "", {{"LANG", "ja_JP.UTF-8"}});
    EXPECT_NE(r.out.find("使い方"), std::string::npos) << r.out;
    // Each line within 80 columns of a terminal, as glibc counts them.
    locale_t ja = newlocale(LC_ALL_MASK, "ja_JP.UTF-8", nullptr);
    const locale_t before = uselocale(ja);
    for (std::size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = r.out.substr(at, end - at);
        std::wstring wide(line.size() + 1, L'\0');
        wide.resize(mbstowcs(wide.data(), line.c_str(), wide.size()));
        const int columns = wcswidth(wide.c_str(), wide.size());
        EXPECT_TRUE(columns >= 0 && columns <= 80) << columns << ": " << line;
    }
    uselocale(before);
    // The system's error in the language of the messages, whatever LANG's character set.
    const std::string noEntry = strerror_l(ENOENT, ja);
    freelocale(ja);
    r = Rivak({"-l", At("missing")}, "", {{"LANG", "C"}, {"LC_MESSAGES", "ja_JP.UTF-8"}, {"LANGUAGE", "en"}});
    EXPECT_NE(r.err.find("rivak: '" + At("missing") + "' の属性を表示できません: " + noEntry + "\n"), std::string::npos)
        << r.err;
    r = Rivak({At("missing")}, "", {{"LANG", "ja_JP.UTF-8"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("変更できなかった項目: 1 個"), std::string::npos) << r.err;
    r = Rivak({"--bogus"}, "", {{"LANG", "ja_JP.UTF-8"}});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("不明なオプション"), std::string::npos) << r.err;
}

// rivak -v on `tree`, standard output on `out`, standard error on `err`.
pid_t StartVerbose(int out, int err, const std::string& tree, const char* jobs = "--jobs=1") {
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out, 1), dup2(err, 2);
        char* envp[] = {const_cast<char*>("LANG=C.UTF-8"), const_cast<char*>("HOME=/nonexistent"), nullptr};
        char* argv[] = {const_cast<char*>(RIVAK_CLI), const_cast<char*>("--smb-conf=/dev/null"), const_cast<char*>("-v"),
                        const_cast<char*>(jobs), const_cast<char*>(tree.c_str()), nullptr};
        execve(RIVAK_CLI, argv, envp);
        _exit(127);
    }
    return pid;
}

// Standard error on a terminal: the count shows once the batch has run for
// a second, and is erased at the end and before every line of standard
// output on the same terminal. The batch is held still for more than a
// second as soon as its first changes are printed, so the second has passed
// on any machine, with entries still to do.
TEST_F(Cli, LiveCountOnATerminal) {
    MakeFolder(At("big"));
    for (int i = 0; i < 3000; ++i) MakeFile(At("big/f" + std::to_string(i)), 0444);
    for (const bool outOnTerminal : {false, true}) {
        int master = -1, slave = -1, out[2];
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) GTEST_SKIP() << "no pseudo-terminal here";
        ASSERT_EQ(pipe(out), 0);
        const auto started = std::chrono::steady_clock::now();
        const pid_t pid = StartVerbose(outOnTerminal ? slave : out[1], slave, At("big"));
        close(slave), close(out[1]);
        std::string shown, printed;
        char buffer[4096];
        bool held = false;
        pollfd fds[2] = {{out[0], POLLIN, 0}, {master, POLLIN, 0}};
        for (int open = 2; open > 0 && poll(fds, 2, -1) > 0;) {
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) {
                    fds[i].fd = -1;
                    --open;
                    continue;
                }
                (i == 0 ? printed : shown).append(buffer, static_cast<std::size_t>(n));
                if (i == (outOnTerminal ? 1 : 0) && !held) {
                    held = true;
                    kill(pid, SIGSTOP);
                    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
                    kill(pid, SIGCONT);
                }
            }
        }
        close(master), close(out[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(ModeOf(At("big/f2999")), 0644u);
        // The count is erased at the end, before the line that sums the run up.
        const std::string summary = "rivak: 3001 entries, 3000 changed, 0 failed\r\n";
        ASSERT_TRUE(shown.ends_with(summary)) << ::testing::PrintToString(shown);
        shown.resize(shown.size() - summary.size());
        std::size_t updates = 0;
        for (std::size_t at = 0; (at = shown.find(" entries", at)) != std::string::npos; ++at) {
            ++updates;
            EXPECT_EQ(shown.compare(at + 8, 4, "\r\033[K"), 0) << "erased before anything else: "
                                                               << ::testing::PrintToString(shown.substr(at, 40));
        }
        EXPECT_LE(updates, static_cast<std::size_t>(10 * seconds) + 1) << "at most ten a second over " << seconds << " s";
        ASSERT_TRUE(held);
        EXPECT_NE(updates, 0u);
        for (int i = 0; i < 3000; ++i) ASSERT_EQ(chmod(At("big/f" + std::to_string(i)).c_str(), 0444), 0);
        if (outOnTerminal) continue;
        EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K") << "erased at the end";
        EXPECT_NE(printed.size(), 0u);
        EXPECT_EQ(shown.compare(0, 4, "\r\033[K"), 0) << ::testing::PrintToString(shown.substr(0, 40));
        // The pseudo-terminal turns "\n" into "\r\n"; the count never writes one.
        EXPECT_EQ(shown.find('\n'), std::string::npos);
    }

    // Ctrl-C while the count shows, and the batch waits on standard output
    // that is left unread: it cannot reach the next entry, so after a moment
    // the count is erased and the program ends by the signal.
    int master = -1, slave = -1, out[2];
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = StartVerbose(out[1], slave, At("big"));
    close(slave), close(out[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    std::string shown;
    char buffer[4096];
    pollfd fds[2] = {{out[0], POLLIN, 0}, {master, POLLIN, 0}};
    while (shown.find(" entries") == std::string::npos && poll(fds, 2, 5000) > 0) {
        if (fds[1].revents & POLLIN) shown.append(buffer, std::max<ssize_t>(0, read(master, buffer, sizeof buffer)));
        else if (read(out[0], buffer, sizeof buffer) <= 0) break;
    }
    ASSERT_NE(shown.find(" entries"), std::string::npos) << "no count while the batch waits";
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) shown.append(buffer, static_cast<std::size_t>(n));
    close(master), close(out[0]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    // Erased as it ends, or, had the write given way, after the count so far.
    EXPECT_TRUE(shown.ends_with("\r\033[K") || shown.ends_with(" failed\r\n")) << ::testing::PrintToString(shown);
    int left = 0;
    for (int i = 0; i < 3000; ++i) left += ModeOf(At("big/f" + std::to_string(i))) == 0444u;
    EXPECT_GT(left, 0) << "stopped before the end";
}

// Ctrl-C that the batch can act on: every worker stops at an entry, the
// count so far is told, each change made is listed, and the program ends by
// the signal. The signal comes while the program is held still after its
// first line, so it lands in the middle of the batch on any machine.
TEST_F(Cli, CtrlCStopsEveryWorkerAtAnEntryAndTellsTheCount) {
    MakeFolder(At("big"));
    for (int i = 0; i < 3000; ++i) MakeFile(At("big/f" + std::to_string(i)), 0444);
    for (const char* jobs : {"--jobs=1", "--jobs=4"}) {
        int out[2], err[2];
        ASSERT_EQ(pipe(out), 0);
        ASSERT_EQ(pipe(err), 0);
        const pid_t pid = StartVerbose(out[1], err[1], At("big"), jobs);
        close(out[1]), close(err[1]);
        std::string printed, told;
        char buffer[4096];
        const ssize_t first = read(out[0], buffer, sizeof buffer);
        ASSERT_GT(first, 0) << jobs;
        printed.append(buffer, static_cast<std::size_t>(first));
        kill(pid, SIGSTOP), kill(pid, SIGINT), kill(pid, SIGCONT);
        for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) printed.append(buffer, static_cast<std::size_t>(n));
        for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;) told.append(buffer, static_cast<std::size_t>(n));
        close(out[0]), close(err[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << jobs << " " << status;
        int changed = 0;
        for (int i = 0; i < 3000; ++i) changed += ModeOf(At("big/f" + std::to_string(i))) == 0644u;
        std::size_t lines = 0;
        for (std::size_t at = 0; (at = printed.find(" -> ", at)) != std::string::npos; ++at) ++lines;
        EXPECT_EQ(lines, static_cast<std::size_t>(changed)) << jobs << ": each change made is listed";
        EXPECT_LT(changed, 3000) << jobs;
        EXPECT_NE(told.find(" entries, " + std::to_string(changed) + " changed, 0 failed\n"), std::string::npos)
            << jobs << ": " << told;
        for (int i = 0; i < 3000; ++i) ASSERT_EQ(chmod(At("big/f" + std::to_string(i)).c_str(), 0444), 0);
    }
}

// Shortcuts dropped inside the walked folder that lead out of it, each
// beside a file outside the tree that must stay as it is; one that stays
// inside is followed, and --follow-outside lifts the rule.
TEST_F(Cli, ShortcutsMetInAWalkStayInsideTheNamedPath) {
    struct Row {
        const char* name;
        std::vector<unsigned char> shortcut;
        const char* outside;  // the file it leads to, "" for a device
        bool followOutside;
    };
    MakeFolder(At("share"));
    MakeFolder(At("share/alice"));
    MakeFile(At("share/alice/in.txt"), 0444);
    MakeFolder(At("outside"));
    MakeLink(At("outside"), At("share/alice/e"));
    const Row rows[] = {
        {"relative ..", RelativeShortcut(u"..\\..\\outside\\v1"), "outside/v1", false},
        {"drive map", Shortcut("X:\\outside\\v2"), "outside/v2", false},
        {"link inside", RelativeShortcut(u".\\e\\v3"), "outside/v3", false},
        {"device", Shortcut("D:\\null"), "", false},
        {"--follow-outside", RelativeShortcut(u"..\\..\\outside\\v5"), "outside/v5", true},
    };
    struct stat null;
    ASSERT_EQ(stat("/dev/null", &null), 0);
    for (const Row& row : rows) {
        if (*row.outside) {
            MakeFile(At(row.outside), 0444);
            SetRecord(At(row.outside), "0x2");
        }
        WriteBytes(At("share/alice/x.lnk"), row.shortcut);
        ASSERT_EQ(chmod(At("share/alice/x.lnk").c_str(), 0444), 0);
        std::vector<std::string> args = {"--map=X:=" + tmp.path(), "--map=D:=/dev", At("share/alice")};
        if (row.followOutside) args.insert(args.begin(), "--follow-outside");
        const Result r = Rivak(args);
        if (row.followOutside) {
            EXPECT_EQ(r.status, 0) << row.name << r.err;
            EXPECT_EQ(WordOnDisk(At(row.outside)), 0u) << row.name;
            continue;
        }
        EXPECT_EQ(r.status, 1) << row.name;
        const std::string line = "rivak: cannot change '" + At("share/alice/x.lnk") +
                                 "': target outside the named folders: not followed\n";
        EXPECT_NE(r.err.find(line), std::string::npos) << row.name << r.err;
        EXPECT_EQ(r.err.find(line), r.err.rfind(line)) << row.name << ": reported once";
        EXPECT_EQ(ModeOf(At("share/alice/x.lnk")), 0644u) << row.name << ": the shortcut keeps its own path";
        if (*row.outside) {
            EXPECT_EQ(ModeOf(At(row.outside)), 0444u) << row.name;
            EXPECT_EQ(RecordOf(At(row.outside)), "0x2") << row.name;
        }
        struct stat after;
        ASSERT_EQ(stat("/dev/null", &after), 0);
        EXPECT_EQ(after.st_mode, null.st_mode) << row.name;
    }
    EXPECT_EQ(WordOnDisk(At("share/alice/in.txt")), 0u);

    // Inside: followed, through ".." that stays below the named path.
    unlink(At("share/alice/e").c_str());
    MakeFolder(At("share/alice/e"));
    WriteBytes(At("share/alice/x.lnk"), RelativeShortcut(u".\\e\\..\\in.txt"));
    ASSERT_EQ(chmod(At("share/alice/x.lnk").c_str(), 0444), 0);
    ASSERT_EQ(chmod(At("share/alice/in.txt").c_str(), 0444), 0);
    const Result r = Rivak({"-v", At("share/alice")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ModeOf(At("share/alice/x.lnk")), 0444u) << "followed, so the shortcut stays";
    EXPECT_EQ(ModeOf(At("share/alice/in.txt")), 0644u);
}

constexpr uid_t kNobody = 65534;

// The owner of a named folder, who may write in the folder above it, swaps
// it for a link to root's files the moment rivak opens it (inotify tells
// when): the walk goes on in the folder that was opened, never through the link.
TEST_F(Cli, NamedFolderSwappedAsItIsOpenedLeadsNowhereElse) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to hand the folder to another user";
    constexpr int kTries = 20;
    int swapped = 0, escaped = 0, walked = 0;
    for (int i = 0; i < kTries; ++i) {
        TempFolder t;
        ASSERT_EQ(chmod(t.path().c_str(), 0755), 0);
        MakeFolder(t / "share");
        MakeFolder(t / "share/u1");
        SetRecord(t / "share/u1", "0x1");
        MakeFile(t / "share/u1/mine", 0444);
        for (const char* p : {"share", "share/u1", "share/u1/mine"}) ASSERT_EQ(chown((t / p).c_str(), kNobody, kNobody), 0);
        MakeFolder(t / "outside");
        MakeFile(t / "outside/secret", 0444);
        SetRecord(t / "outside/secret", "0x2");
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t swapper = fork();
        if (swapper == 0) {
            close(ready[0]);
            const int watch = inotify_init1(IN_CLOEXEC);
            if (setgroups(0, nullptr) || setgid(kNobody) || setuid(kNobody) || watch < 0 ||
                inotify_add_watch(watch, (t / "share/u1").c_str(), IN_OPEN) < 0 || write(ready[1], "r", 1) != 1)
                _exit(2);
            pollfd event{watch, POLLIN, 0};
            alignas(inotify_event) char buffer[sizeof(inotify_event) + NAME_MAX + 1];
            if (poll(&event, 1, 10000) != 1 || read(watch, buffer, sizeof buffer) <= 0) _exit(3);
            if (rename((t / "share/u1").c_str(), (t / "share/old").c_str()) || symlink("../outside", (t / "share/u1").c_str()))
                _exit(4);
            _exit(0);
        }
        close(ready[1]);
        char c = 0;
        const bool started = read(ready[0], &c, 1) == 1;
        close(ready[0]);
        const Result r = started ? Rivak({"-v", t / "share/u1"}) : Result{};
        int status = 0;
        ASSERT_EQ(waitpid(swapper, &status, 0), swapper);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) continue;
        ++swapped;
        escaped += ModeOf(t / "outside/secret") != 0444u || RecordOf(t / "outside/secret") != "0x2" ||
                   r.out.find("secret") != std::string::npos;
        walked += ModeOf(t / "share/old/mine") == 0644u;
    }
    EXPECT_EQ(swapped, kTries) << "a try without its swap shows nothing";
    EXPECT_EQ(escaped, 0) << "runs that changed or named root's file, of " << swapped;
    EXPECT_EQ(walked, swapped) << "the folder opened is the one walked";
}

// As root, a link or shortcut another user left among the named paths
// leads only below the folder that holds it: one planted to lead elsewhere
// is reported as a shortcut of a walk is, and left alone (a shortcut keeps
// its own path). Root's own, the caller's (sudo), one that stays in its
// folder, and any under --follow-outside are followed.
TEST_F(Cli, PlantedNamesLeadNoFurtherThanTheirFolder) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to plant links as another user";
    enum How { Args, Glob, Find };
    struct Row {
        const char* label;
        const char* planted;  // in share/: a link, or a shortcut (.lnk) to X:\ (elsewhere/)
        std::string target;   // of the link (absolute: elsewhere/); of the shortcut, a file in X:
        How how;
        const char* named;    // with Args: the one path named, below the folder
        uid_t owner;
        std::vector<std::string> options;
        bool followed;
        const char* reported = "";  // the path the refusal names, when not the planted one
    };
    const std::vector<std::string> outside = {"--follow-outside"};
    const Row rows[] = {
        {"-0", "evil.doc", "/secret.doc", Find, "", kNobody, {}, false},
        {"share/*", "evil.doc", "/secret.doc", Glob, "", kNobody, {}, false},
        {"on the way", "u2", "", Args, "share/u2/secret.doc", kNobody, {}, false, "share/u2/secret.doc"},
        {"on the way, then ..", "u2", "/sub", Args, "share/u2/..", kNobody, {}, false, "elsewhere"},
        {"shortcut", "evil.lnk", "X:\\secret.doc", Args, "share/evil.lnk", kNobody, {}, false},
        {"--follow-outside", "evil.doc", "/secret.doc", Find, "", kNobody, outside, true},
        {"shortcut --follow-outside", "evil.lnk", "X:\\secret.doc", Args, "share/evil.lnk", kNobody, outside, true},
        {"root's", "evil.doc", "/secret.doc", Glob, "", 0, {}, true},
        {"the caller's", "evil.doc", "/secret.doc", Find, "", 1000, {}, true},
        // The two near ones lead to share/own.doc, the rest to elsewhere/secret.doc.
        {"in its folder", "near.doc", "own.doc", Find, "", kNobody, {}, true},
        {"shortcut in its folder", "near.lnk", "X:\\share\\own.doc", Args, "share/near.lnk", kNobody, {}, true},
    };
    for (const Row& row : rows) {
        TempFolder t;
        ASSERT_EQ(chmod(t.path().c_str(), 0755), 0);
        MakeFolder(t / "share", 0777);
        MakeFile(t / "share/own.doc", 0444);
        MakeFolder(t / "elsewhere");
        MakeFolder(t / "elsewhere/sub");
        MakeFile(t / "elsewhere/secret.doc", 0444);
        SetRecord(t / "elsewhere/secret.doc", "0x2");
        const std::string planted = t / ("share/" + std::string(row.planted));
        const std::string changed = t / (row.planted[0] == 'n' ? "share/own.doc" : "elsewhere/secret.doc");
        const bool shortcut = IsShortcutName(row.planted);
        if (shortcut) {
            WriteBytes(planted, Shortcut(row.target));
            ASSERT_EQ(chmod(planted.c_str(), 0444), 0);
        } else {
            MakeLink(row.target[0] == '/' || row.target.empty() ? t / "elsewhere" + row.target : row.target, planted);
        }
        ASSERT_EQ(lchown(planted.c_str(), row.owner, row.owner), 0);
        std::vector<std::string> options = row.options;
        options.push_back("--map=X:=" + (std::string(row.planted) == "near.lnk" ? t.path() : t / "elsewhere"));
        // As a shell runs it, "$d" the test's folder.
        const std::string named = row.how == Glob ? "\"$d\"/share/*" : "\"$d\"/" + std::string(row.named);
        const std::string command = row.how == Find ? "find \"$d\"/share -name '*.doc' -print0 | \"$0\" -0 \"$@\""
                                                    : "exec \"$0\" \"$@\" " + named;
        std::vector<std::string> args = {"-c", "d=$1; shift; " + command, RIVAK_CLI, t.path()};
        args.insert(args.end(), options.begin(), options.end());
        const Result r = RunProgram("/bin/sh", args, "", {{"LANG", "C.UTF-8"}, {"HOME", "/nonexistent"}, {"SUDO_UID", "1000"}});
        const std::string shown = *row.reported ? t / row.reported : planted;
        const std::string refusal = "rivak: cannot change '" + shown + "': target outside the named folders: not followed\n";
        EXPECT_EQ(r.status, row.followed ? 0 : 1) << row.label << r.err;
        EXPECT_EQ(r.err.find(refusal) != std::string::npos, !row.followed) << row.label << r.err;
        EXPECT_EQ(ModeOf(changed), row.followed ? 0644u : 0444u) << row.label;
        EXPECT_EQ(RecordOf(changed), row.followed ? std::nullopt : std::optional<std::string>("0x2")) << row.label;
        EXPECT_EQ(ModeOf(planted), shortcut && row.followed ? 0444u : shortcut ? 0644u : 0777u) << row.label;
    }
}

// Why a shortcut keeps its own path is shown with -v, its target quoted: a
// planted shortcut's bytes never reach the terminal raw. A shortcut of
// Windows XP (variables beside a LinkInfo path, PreferEnvironmentPath clear)
// is followed to the LinkInfo path, as Windows and rivak.exe follow it.
TEST_F(Cli, ShortcutsNotFollowedSayWhy) {
    using namespace rivak::test::lnk;
    MakeFile(At("xp.txt"), 0444);
    LinkSpec xp;
    LinkInfoFields info;
    info.localBase = "X:\\xp.txt";
    xp.linkInfo = LinkInfo(info);
    xp.extra = {EnvironmentBlock("%USERPROFILE%\\xp.txt", u"%USERPROFILE%\\xp.txt")};
    LinkSpec variablesOnly;
    variablesOnly.extra = xp.extra;
    std::vector<unsigned char> cut = Shortcut("X:\\xp.txt");
    cut.resize(0x4C + 8);
    LinkSpec forged;
    forged.extra = {EnvironmentBlock("%A%\x1b[2K\rentries not changed: 0", u"%A%\x1b[2K\rentries not changed: 0")};
    std::vector<unsigned char> huge = Shortcut("X:\\xp.txt");
    huge.resize(rivak::lnk::kMaxShellLinkSize + 1);
    struct Row {
        const char* name;
        std::vector<unsigned char> bytes;
        std::string why;  // "" when followed
    };
    const Row rows[] = {
        {"xp.lnk", Build(xp), ""},
        {"cut.lnk", cut, "LinkInfo runs past the end of the file"},
        {"variables.lnk", Build(variablesOnly), "its target is known only to Windows ('%USERPROFILE%\\xp.txt')"},
        {"unmapped.lnk", Shortcut("Q:\\xp.txt"), "no drive or share maps 'Q:\\xp.txt'"},
        {"forged.lnk", Build(forged),
         "its target is known only to Windows ('%A%'$'\\033''[2K'$'\\r''entries not changed: 0')"},
        {"huge.lnk", huge, "larger than any shortcut (more than 1048576 bytes)"},
    };
    for (const Row& row : rows) {
        WriteBytes(At(row.name), row.bytes);
        ASSERT_EQ(chmod(At(row.name).c_str(), 0444), 0);
        ASSERT_EQ(chmod(At("xp.txt").c_str(), 0444), 0);
        const Result r = Rivak({"-v", "--map=X:=" + tmp.path(), At(row.name)});
        EXPECT_EQ(r.status, 0) << row.name << r.err;
        EXPECT_EQ(ModeOf(At("xp.txt")), row.why.empty() ? 0644u : 0444u) << row.name;
        EXPECT_EQ(ModeOf(At(row.name)), row.why.empty() ? 0444u : 0644u) << row.name;
        if (!row.why.empty()) {
            EXPECT_NE(r.err.find("'" + At(row.name) + "': shortcut not followed: " + row.why + "\n"), std::string::npos)
                << row.name << r.err;
        }
        EXPECT_EQ(r.err.find_first_of("\x1b\r"), std::string::npos) << row.name;
    }
}

// A device inside the tree, reached through a shortcut, is never opened.
TEST_F(Cli, DeviceBehindAShortcutIsNotOpened) {
    if (geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
    MakeFolder(At("d"));
    ASSERT_EQ(mknod(At("d/full").c_str(), S_IFCHR | 0444, makedev(1, 7)), 0);  // /dev/full
    WriteBytes(At("d/x.lnk"), RelativeShortcut(u".\\full"));
    WriteBytes(At("named.lnk"), RelativeShortcut(u".\\d\\full"));
    for (const std::string& path : {At("d"), At("named.lnk")}) {
        const Result r = Rivak({path});
        EXPECT_EQ(ModeOf(At("d/full")), 0444u) << path;
        EXPECT_EQ(getxattr(At("d/full").c_str(), "user.DOSATTRIB", nullptr, 0), -1) << path;
        EXPECT_EQ(r.err.find("target outside"), std::string::npos) << r.err;
    }
}

// What coreutils users expect of a command line.
TEST_F(Cli, CommandLineAsCoreutilsHasIt) {
    MakeFile(At("file"), 0444);
    MakeFile(At("-dash"), 0444);
    MakeFile(At("bad\303name"), 0444);
    MakeFile(At("c1\302\205"), 0444);
    WriteBytes(At("dangling.lnk"), RelativeShortcut(u".\\nothing.txt"));
    std::ofstream(At("homes.conf")) << "[homes]\nmap readonly = yes\n[docs]\npath = " << At("docs") << "\n";
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string out, err;  // found in the output
        const char* file;      // and what it did to this one
        AttributeWord word;
    };
    const Row rows[] = {
        {{"--read=set", "--hid", "keep", At("file")}, 0, "", "", "file", attr::kReadOnly},
        {{At("file"), "--readonly=set", "-v"}, 0, "", "", "file", attr::kReadOnly},
        {{"--", At("-dash")}, 0, "", "", "-dash", 0},
        {{At("file") + "/"}, 1, "", "rivak: cannot change '" + At("file") + "/': Not a directory\n", "file", attr::kReadOnly},
        {{"-v", At("bad\303name")}, 0, "'" + At("bad") + "'$'\\303''name'\n", "", "bad\303name", 0},
        {{"-v", At("c1\302\205")}, 0, "'" + At("c1") + "'$'\\302\\205'\n", "", "c1\302\205", 0},
        {{At("dangling.lnk")}, 1, "",
         "rivak: cannot change '" + At("dangling.lnk") + "': its target '" + At("nothing.txt") + "' does not exist\n",
         "dangling.lnk", 0},
        {{"--ver"}, 2, "", "option '--ver' is ambiguous: --verbose --version\n", "file", attr::kReadOnly},
        {{"--h", At("file")}, 2, "", "option '--h' is ambiguous: --hidden --help\n", "file", attr::kReadOnly},
        // attrib's words: only the attributes they name change.
        {{"+h", At("file")}, 0, "", "", "file", attr::kReadOnly | attr::kHidden},
        {{At("file"), "+R", "-h", "-v"}, 0, "RH-- -> R---", "", "file", attr::kReadOnly},
        {{"-r", "--hidden=set", At("file")}, 0, "", "", "file", attr::kHidden},
        {{"--", "+s"}, 1, "", "rivak: cannot change '+s': No such file or directory\n", "file", attr::kHidden},
        {{"--map", "+h", At("file")}, 2, "", "--map takes X:=FOLDER or \\\\server\\share=FOLDER, not '+h'", "file",
         attr::kHidden},
        {{"-l", At("missing")}, 1, "", "rivak: cannot list '" + At("missing") + "': No such file or directory\n"
         "rivak: entries not listed: 1\n", "file", attr::kHidden},
        {{"--smb-conf=" + At("none.conf"), At("file")}, 2, "",
         "rivak: cannot read the Samba configuration '" + At("none.conf") + "': No such file or directory\n", "file",
         attr::kHidden},
        {{"-v", "--smb-conf=" + At("homes.conf"), At("file")}, 0, "",
         "rivak: Samba share [homes] not matched: its folder depends on the user or the client\n"
         "rivak: Samba share [docs] not matched: its folder cannot be found: No such file or directory\n",
         "file", 0},
    };
    for (const Row& row : rows) {
        const std::string label = ::testing::PrintToString(row.args);
        const Result r = Rivak(row.args);
        EXPECT_EQ(r.status, row.status) << label << r.err;
        EXPECT_NE(r.out.find(row.out), std::string::npos) << label << r.out;
        EXPECT_NE(r.err.find(row.err), std::string::npos) << label << r.err;
        EXPECT_EQ(WordOnDisk(At(row.file)), row.word) << label;
    }
    // Each entry counted once, however often it is named.
    const Result r = Rivak({At("missing"), At("missing")});
    EXPECT_NE(r.err.find("entries not changed: 1\n"), std::string::npos) << r.err;
}

// Output that cannot be written is an error, as in coreutils.
TEST_F(Cli, FullStandardOutputIsAnError) {
    MakeFolder(At("d"));
    for (int i = 0; i < 50; ++i) MakeFile(At("d/f" + std::to_string(i)), 0444);
    const Result r = RunProgram("/bin/sh", {"-c", std::string("exec \"$0\" -v \"$1\" >/dev/full"), RIVAK_CLI, At("d")},
                                "", {{"LANG", "C.UTF-8"}, {"HOME", "/nonexistent"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("rivak: write error: No space left on device"), std::string::npos) << r.err;
    EXPECT_EQ(ModeOf(At("d/f49")), 0644u) << "the work itself is done";
    // A closed standard output is an error only once something is printed to it.
    for (const bool verbose : {false, true}) {
        ASSERT_EQ(chmod(At("d/f0").c_str(), 0444), 0);
        const Result closed = RunProgram("/bin/sh", {"-c", "exec \"$0\" $1 \"$2\" >&-", RIVAK_CLI, verbose ? "-v" : "-n",
                                                     At(verbose ? "d" : "d/f1")}, "", {{"LANG", "C.UTF-8"}});
        EXPECT_EQ(closed.status, verbose ? 1 : 0) << closed.err;
        EXPECT_EQ(closed.err.find("write error: Bad file descriptor") != std::string::npos, verbose) << closed.err;
        EXPECT_EQ(ModeOf(At("d/f0")), verbose ? 0644u : 0444u);
    }
}

// The count of entries on the line that sums a run up (-v), -1 without one.
long EntriesOf(const ProgramResult& r) {
    const std::size_t at = r.err.rfind("rivak: ");
    return at == std::string::npos ? -1 : std::atol(r.err.c_str() + at + 7);
}

// A shortcut back up in each folder: the run does the work of the tree
// without shortcuts, growing with the depth as that does, and a dry run
// shows each change once (the hidden folders are reached again through the
// shortcuts below them).
TEST_F(Cli, ShortcutsBackUpKeepTheWorkLinear) {
    const int depths[] = {30, 60};
    long linked[2], plain[2];
    for (int i = 0; i < 2; ++i) {
        std::string p = At("t" + std::to_string(depths[i]));
        MakeFolder(p);
        for (int k = 0; k < depths[i]; ++k) {
            p += "/d";
            MakeFolder(p);
            SetRecord(p, "0x2");
            for (int f = 0; f < 20; ++f) MakeFile(p + "/f" + std::to_string(f), 0444);
            WriteBytes(p + "/up.lnk", RelativeShortcut(u".."));
        }
        const std::string top = At("t" + std::to_string(depths[i]));
        const Result noLinks = Rivak({"-n", "-v", "--max-depth=1000000", "--no-shortcuts", top});
        const Result r = Rivak({"-n", "-v", "--max-depth=1000000", top});
        EXPECT_EQ(r.status, 0) << r.err;
        plain[i] = EntriesOf(noLinks);
        linked[i] = EntriesOf(r);
        EXPECT_EQ(plain[i], 1 + 22 * depths[i]) << noLinks.err;
        EXPECT_LE(linked[i], 2 * plain[i]) << r.err;
        std::multiset<std::string> changes;  // not the mount's line
        for (std::size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1)
            if (r.out.find(" -> ", at) < end) changes.insert(r.out.substr(at, end - at));
        EXPECT_EQ(std::set<std::string>(changes.begin(), changes.end()).size(), changes.size()) << "each change shown once";
        EXPECT_EQ(changes.size(), 21u * depths[i]) << "every file and folder";
    }
    EXPECT_LT(linked[1], 2.1 * linked[0]) << "twice the depth, twice the work";
}

// Nothing silent: the folders the depth limit kept out, system files left
// alone, dot names that stay hidden; a line sums the run up with -v.
TEST_F(Cli, LimitsAndWhatIsLeftAloneAreTold) {
    std::string p = At("deep");
    MakeFolder(p);
    for (int k = 1; k <= 30; ++k) MakeFolder(p += "/d");
    MakeFile(p + "/bottom", 0444);
    const std::string level25 = p.substr(0, At("deep").size() + 2 * 25);
    MakeFolder(At("usb"));
    MakeFile(At("usb/worm.exe"));
    SetRecord(At("usb/worm.exe"), "0x6");  // hidden and system
    MakeFile(At("usb/.profile"));
    MakeFolder(At("usb/docs"));
    SetRecord(At("usb/docs"), "0x16");
    const AttributeWord H = attr::kHidden, S = attr::kSystem, D = attr::kDirectory;
    struct Row {
        std::vector<std::string> args;
        std::vector<std::string> told;  // lines of standard error, in this order
        std::vector<std::string> notTold;
        AttributeWord worm, docs;
        mode_t bottom = 0644;  // the file on level 31, after the row
    };
    const std::string usb = At("usb"), worm = "'" + At("usb/worm.exe") + "'", dot = "'" + At("usb/.profile") + "'";
    const std::string dotNote =
        "rivak: entries that stay hidden by their names (Samba and Wine hide names that start with a dot): 1\n";
    const Row rows[] = {
        {{At("deep")},
         {"rivak: folders not walked, below the depth limit (--max-depth=25): 1; the first: '" + level25 + "'\n"},
         {"entries, "}, H | S, D | H | S, 0444},
        {{"--max-depth=40", At("deep")}, {}, {"depth limit"}, H | S, D | H | S},
        {{usb}, {dotNote}, {"system file", "hidden by its name:", "entries, "}, H | S, D | S},
        {{"-v", usb},
         {"rivak: " + dot + ": hidden by its name", "rivak: " + worm + ": system file left alone", dotNote,
          "rivak: 4 entries, 1 changed, 0 failed\n"},
         {}, H | S, D | S},
        {{"-v", At("usb/worm.exe")}, {"rivak: " + worm + ": system file left alone"}, {}, H | S, D | H | S},
        {{"--system=clear", usb}, {dotNote}, {"system file"}, 0, D},
        {{"--system=set", "--hidden=keep", usb}, {}, {}, H | S, D | H | S},
    };
    for (const Row& row : rows) {
        const std::string label = ::testing::PrintToString(row.args);
        SetRecord(At("usb/worm.exe"), "0x6");
        SetRecord(At("usb/docs"), "0x16");
        const Result r = Rivak(row.args);
        EXPECT_EQ(r.status, 0) << label << r.err;
        std::size_t at = 0;
        for (const std::string& line : row.told) {
            at = r.err.find(line, at);
            EXPECT_NE(at, std::string::npos) << label << ": " << line << "\n" << r.err;
        }
        for (const std::string& text : row.notTold) EXPECT_EQ(r.err.find(text), std::string::npos) << label << r.err;
        EXPECT_EQ(WordOnDisk(At("usb/worm.exe")), row.worm) << label;
        EXPECT_EQ(WordOnDisk(At("usb/docs")), row.docs) << label;
        EXPECT_EQ(ModeOf(p + "/bottom"), row.bottom) << label;
    }
}

// A chain of folders far deeper than descriptors or stack would allow one a
// level: every level is walked, to the file at the bottom, in memory that
// grows with the depth only (a path kept per level would need gigabytes);
// and a folder of a million entries, by eight workers, under 256 descriptors.
TEST_F(Cli, DeepTreeUnderSmallLimits) {
    constexpr int kLevels = 30000;
    // In memory where there is a tmpfs: a disk that discards each removed
    // folder's block takes a minute to take the tree down.
    char shm[] = "/dev/shm/rivak-deep-XXXXXX";
    const std::string top = mkdtemp(shm) ? std::string(shm) : tmp.path();
    const auto walk = [&](int levels, bool make) {
        int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
        for (int i = 0; i < levels && fd >= 0; ++i) {
            if (make) mkdirat(fd, "d", 0755);
            const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
            close(fd);
            fd = next;
        }
        return fd;
    };
    int bottom = walk(kLevels, true);
    ASSERT_GE(bottom, 0);
    const int file = openat(bottom, "f", O_CREAT | O_WRONLY, 0444);
    ASSERT_GE(file, 0);
    close(file);
    close(bottom);

    // A folder of a million entries beside it, walked in the same run.
    constexpr int kEntries = 1000000;
    const std::string wide = top + "/wide";
    ASSERT_EQ(mkdir(wide.c_str(), 0755), 0);
    const int wideFd = open(wide.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(wideFd, 0);
    for (int i = 0; i < kEntries; ++i) {
        const int f = openat(wideFd, ("f" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0444);
        ASSERT_GE(f, 0) << i;
        close(f);
    }
    const Result r = RunProgram("/bin/sh", {"-c", "ulimit -s 1024 && ulimit -n 256 && exec \"$0\" -j 8 --max-depth=1000000 \"$1\" \"$2\"",
                                            RIVAK_CLI, top + "/d", wide}, "", {{"LANG", "C.UTF-8"}, {"HOME", "/nonexistent"}});
    EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
    for (const int i : {0, kEntries / 2, kEntries - 1}) {
        struct stat entry;
        ASSERT_EQ(fstatat(wideFd, ("f" + std::to_string(i)).c_str(), &entry, 0), 0);
        EXPECT_EQ(entry.st_mode & 07777, 0644u) << i;
    }
    for (int i = 0; i < kEntries; ++i) unlinkat(wideFd, ("f" + std::to_string(i)).c_str(), 0);
    close(wideFd);
    rmdir(wide.c_str());
    rusage usage;
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "kB at most, for any child so far";

    bottom = walk(kLevels, false);
    ASSERT_GE(bottom, 0);
    struct stat st;
    ASSERT_EQ(fstatat(bottom, "f", &st, 0), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u) << "the bottom was reached";
    // Taken down from the bottom up: no path of the tree fits in PATH_MAX.
    unlinkat(bottom, "f", 0);
    for (int i = kLevels; i > 0; --i) {
        const int up = openat(bottom, "..", O_RDONLY | O_DIRECTORY);
        close(bottom);
        bottom = up;
        ASSERT_EQ(unlinkat(bottom, "d", AT_REMOVEDIR), 0);
    }
    close(bottom);
    if (top != tmp.path()) rmdir(top.c_str());
}


// ---- --save and --restore ---------------------------------------------------

// A line as a save file holds it: the CRC-32 of its body (zlib's, computed
// here bit by bit), a blank, the body.
std::string SaveLine(const std::string& body) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : body) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    char check[9];
    std::snprintf(check, sizeof check, "%08x", ~c);
    return check + (" " + body) + "\n";
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Names of every kind of byte, the values Samba and Wine write (Samba's
// binary record too), read-only files and folders, a second link.
void MakeSaveTree(const std::string& d) {
    MakeFolder(d);
    SetRecord(d, "0x12");
    MakeFile(d + "/plain");
    MakeFile(d + "/ro", 0444);
    SetRecord(d + "/ro", "0x1");
    MakeFile(d + "/hidden ro", 0444);
    SetRecord(d + "/hidden ro", "0x23");
    MakeFile(d + "/line\nbreak\x01\xff\\", 0640);
    SetRecord(d + "/line\nbreak\x01\xff\\", "0x2");
    MakeFolder(d + "/sub", 0750);
    SetRecord(d + "/sub", "0x13");
    const unsigned char v5[] = {0, 0, 5, 0, 5, 0, 0, 0, 0x11, 0, 0, 0, 2, 0, 0, 0,
                                0x57, 0x5a, 0x3b, 0xc0, 0x12, 0x86, 0xdd, 1};
    MakeFile(d + "/sub/samba");
    SetRecord(d + "/sub/samba", std::string(reinterpret_cast<const char*>(v5), sizeof v5));
    ASSERT_EQ(link((d + "/ro").c_str(), (d + "/sub/second link").c_str()), 0);
}

// The lines of -v or -n that tell a change.
int Changes(const std::string& out) {
    int n = 0;
    for (std::size_t at = 0; (at = out.find(" -> ", at)) != std::string::npos; ++at) ++n;
    return n;
}

// One file or folder with a name in each of two sibling folders is told
// changed once, however many jobs: the second name is read after the first
// is changed, even when its folder is listed ahead meanwhile. The first
// folder holds many entries before it, so that the next is listed first.
TEST_F(Cli, OneEntryUnderTwoNamesIsChangedOnce) {
    const bool root = geteuid() == 0;
    for (const bool mounted : {false, true}) {
        if (mounted && !root) continue;  // (the hard-link row still runs)
        const std::string d = At(mounted ? "m" : "h");
        MakeFolder(d);
        MakeFolder(d + "/a");
        for (int i = 0; i < 600; ++i) MakeFile(d + "/a/" + std::to_string(1000 + i), 0444);
        MakeFolder(d + "/b");
        if (mounted) {
            MakeFolder(d + "/a/z", 0755);
            SetRecord(d + "/a/z", "0x3");
            MakeFolder(d + "/b/z");
            if (mount((d + "/a/z").c_str(), (d + "/b/z").c_str(), nullptr, MS_BIND, nullptr) != 0) continue;
        } else {
            MakeFile(d + "/a/z", 0444);
            SetRecord(d + "/a/z", "0x3");
            ASSERT_EQ(link((d + "/a/z").c_str(), (d + "/b/z").c_str()), 0);
        }
        const Result r = Rivak({"-v", "--hidden=clear", d});
        if (mounted) umount2((d + "/b/z").c_str(), MNT_DETACH);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Changes(r.out), 601) << (mounted ? "mounted" : "linked");
        EXPECT_NE(r.out.find("RH-- -> ----  " + d + "/a/z\n"), std::string::npos) << r.out.substr(r.out.size() - 300);
    }
}

// Saved, changed, then put back exactly: the record's bytes and the mode of
// each entry, whatever its name; a second restore changes nothing.
TEST_F(Cli, SaveThenRestoreGivesBackEveryState) {
    struct Row {
        std::vector<std::string> options;
        std::vector<std::string> afterwards;  // a change run after the save, for a snapshot
        std::string shown, entry;             // what restore -n prints for that entry
    };
    const Row rows[] = {
        {{}, {}, "---- -> R---", "ro"},
        {{"--readonly=set", "--hidden=set"}, {}, "RH-- -> ----", "plain"},
        {{"--readonly=keep", "--hidden=set", "--keep-folders"}, {}, "RH-- -> R---", "ro"},
        {{"-l"}, {"--readonly=set", "--hidden=set"}, "RH-- -> ----", "plain"},
        {{"--system=set", "--readonly=keep", "--hidden=keep"}, {}, "--S- -> ----", "plain"},
    };
    for (const Row& row : rows) {
        const std::string label = ::testing::PrintToString(row.options);
        TempFolder t;
        const std::string d = t / "d", file = t / "before.rivak";
        MakeSaveTree(d);
        const TreeState start = StateOf(d);
        std::vector<std::string> args = row.options;
        args.insert(args.end(), {"--save=" + file, d});
        Result r = Rivak(args);
        ASSERT_EQ(r.status, 0) << label << r.err;
        if (!row.afterwards.empty()) {
            EXPECT_EQ(StateOf(d), start) << label << ": a listing changes nothing";
            args = row.afterwards;
            args.push_back(d);
            ASSERT_EQ(Rivak(args).status, 0) << label;
        }
        const TreeState changed = StateOf(d);
        EXPECT_GT(Differences(start, changed), 0u) << label;
        EXPECT_EQ(ModeOf(file), 0600u) << label;
        EXPECT_EQ(ReadText(file).substr(0, 13), "rivak-save 1\n") << label;

        const Result dry = Rivak({"--restore=" + file, "-n"});
        EXPECT_EQ(dry.status, 0) << label << dry.err;
        EXPECT_EQ(StateOf(d), changed) << label << ": -n changes nothing";
        EXPECT_NE(dry.out.find(row.shown + "  " + d + "/" + row.entry + "\n"), std::string::npos) << label << dry.out;
        r = Rivak({"--restore=" + file, "-v"});
        EXPECT_EQ(r.status, 0) << label << r.err;
        EXPECT_EQ(StateOf(d), start) << label;
        EXPECT_EQ(Changes(r.out), Changes(dry.out)) << label << ": -n shows what -v does\n" << r.out << dry.out;
        r = Rivak({"--restore=" + file, "-v"});
        EXPECT_EQ(r.status, 0) << label << r.err;
        EXPECT_EQ(r.out.find(" -> "), std::string::npos) << label << ": nothing left to put back\n" << r.out;
        EXPECT_EQ(StateOf(d), start) << label;
    }
}

// Each kind of damage is refused, with its line, before anything changes;
// a file cut between two lines is a run stopped there, and is put back.
TEST_F(Cli, DamagedSaveFilesChangeNothingAndNameTheirLine) {
    MakeSaveTree(At("d"));
    const TreeState start = StateOf(At("d"));
    ASSERT_EQ(Rivak({"--save=" + At("s.rivak"), At("d")}).status, 0);
    const TreeState changed = StateOf(At("d"));
    std::vector<std::string> lines;  // each with its newline
    std::istringstream in(ReadText(At("s.rivak")));
    for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
    // 1 version, 2 created, 3 seal 0, 4 root, 5 mount, 6 the folder d, 7.. the rest.
    ASSERT_GT(lines.size(), 10u);
    ASSERT_NE(lines[5].find(" entry 1 "), std::string::npos) << lines[5];
    const auto joined = [&](std::size_t from, std::size_t to) {
        std::string text;
        for (std::size_t i = from; i < to && i < lines.size(); ++i) text += lines[i];
        return text;
    };
    std::string flipped = lines[6];
    flipped[flipped.size() - 2] ^= 1;  // the last byte of its path
    std::size_t seal = 7;
    while (lines[seal].find(" seal ") != 8) ++seal;
    struct Row {
        const char* name;
        std::string text;
        std::size_t line;
        const char* why;
    };
    const Row rows[] = {
        {"cut", joined(0, 6) + lines[6].substr(0, 20), 7, "the file ends inside this line"},
        {"damaged", joined(0, 6) + flipped + joined(7, lines.size()), 7, "the line does not match its check"},
        {"newer", "rivak-save 2\n" + joined(1, lines.size()), 1, "written in format 2 by a newer rivak"},
        {"nonsense", "Dear admin,\nplease put it all back.\n", 1, "not a rivak save file"},
        {"edited", joined(0, 6) + SaveLine("entry 9 0:0 1 f 0x0 0644 - x") + joined(7, lines.size()), 7,
         "not a line rivak writes"},
        {"missing", joined(0, 6) + joined(7, lines.size()), seal, "lines are missing before this line"},
        {"empty", "", 1, "the file is empty"},
    };
    for (const Row& row : rows) {
        const std::string file = At(std::string(row.name) + ".rivak");
        std::ofstream(file, std::ios::binary) << row.text;
        const Result r = Rivak({"--restore=" + file, "-v"});
        EXPECT_EQ(r.status, 2) << row.name << r.err;
        const std::string told = "rivak: '" + file + "', line " + std::to_string(row.line) + ": " + row.why;
        EXPECT_NE(r.err.find(told), std::string::npos) << row.name << "\n" << told << "\n" << r.err;
        EXPECT_NE(r.err.find("; nothing was changed\n"), std::string::npos) << row.name << r.err;
        EXPECT_EQ(r.out, "") << row.name;
        EXPECT_EQ(StateOf(At("d")), changed) << row.name;
    }
    std::ofstream(At("stopped.rivak"), std::ios::binary) << joined(0, 7);
    const Result r = Rivak({"--restore=" + At("stopped.rivak")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("the lines from line 4 on have no seal line"), std::string::npos) << r.err;
    EXPECT_EQ(RecordOf(At("d")), start.at("").record) << "the folder, on line 6, is put back";
    EXPECT_EQ(Differences(start, StateOf(At("d"))), Differences(start, changed) - 2) << "and the entry of line 7";
}

TEST_F(Cli, SaveFileIsNeverWrittenOver) {
    MakeTree();
    std::ofstream(At("kept.rivak")) << "kept";
    MakeLink(At("nowhere"), At("link.rivak"));
    for (const char* name : {"kept.rivak", "link.rivak"}) {
        const Result r = Rivak({"--save=" + At(name), At("d")});
        EXPECT_EQ(r.status, 2) << name;
        EXPECT_NE(r.err.find("'" + At(name) + "' exists; a save file is never written over"), std::string::npos)
            << r.err;
        EXPECT_EQ(WordOnDisk(At("d/f")), attr::kReadOnly | attr::kHidden) << name;
    }
    EXPECT_EQ(ReadText(At("kept.rivak")), "kept");
    EXPECT_TRUE(IsLink(At("link.rivak")));
    EXPECT_NE(access(At("nowhere").c_str(), F_OK), 0) << "nothing made through the link";
}

// What was replaced or removed since the save is reported and left alone,
// and a folder swapped for a link leads nowhere: the rest is put back.
TEST_F(Cli, RestoreLeavesAloneWhatWasReplacedSinceTheSave) {
    MakeSaveTree(At("d"));
    const TreeState start = StateOf(At("d"));
    ASSERT_EQ(Rivak({"--save=" + At("s.rivak"), At("d")}).status, 0);
    ASSERT_EQ(unlink(At("d/ro").c_str()), 0);
    MakeFile(At("d/ro"), 0444);
    SetRecord(At("d/ro"), "0x2");
    ASSERT_EQ(unlink(At("d/hidden ro").c_str()), 0);
    ASSERT_EQ(rename(At("d/sub").c_str(), At("sub.old").c_str()), 0);
    MakeFolder(At("outside"));
    MakeFile(At("outside/samba"), 0444);
    SetRecord(At("outside/samba"), "0x3");
    MakeLink(At("outside"), At("d/sub"));
    const TreeState outside = StateOf(At("outside"));
    const Result r = Rivak({"--restore=" + At("s.rivak")});
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string replaced = "another file or folder has taken its place since it was saved; left alone";
    EXPECT_NE(r.err.find("'" + At("d/ro") + "': " + replaced), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("'" + At("d/hidden ro") + "': no longer there as a file or folder; left alone"),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find("'" + At("d/sub/samba") + "'"), std::string::npos) << r.err;
    EXPECT_EQ(StateOf(At("outside")), outside);
    EXPECT_EQ(RecordOf(At("d/ro")), "0x2");
    EXPECT_EQ(RecordOf(At("d")), start.at("").record);
    EXPECT_EQ(RecordOf(At("d/line\nbreak\x01\xff\\")), "0x2");
}

// A save file that fills its disk: no entry is changed before its line is
// on disk, each entry left is told, and the file, cut back to its last
// batch, puts back every entry that was changed.
TEST_F(Cli, FullDiskForTheSaveFileChangesNothingUnsaved) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    MakeFolder(At("small"));
    if (mount("rivak-test", At("small").c_str(), "tmpfs", 0, "size=48k") != 0)
        GTEST_SKIP() << "the machine refuses root the tmpfs mount this test needs";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{At("small")};
    const std::string tree = At("t");
    MakeFolder(tree);
    for (int i = 0; i < 1500; ++i) MakeFile(tree + "/file " + std::to_string(i), 0444);
    const TreeState start = StateOf(tree);
    const std::string file = At("small/before.rivak");
    const Result r = Rivak({"--save=" + file, tree});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not changed: the save file could not be written: No space left on device"), std::string::npos)
        << r.err.substr(0, 2000);
    EXPECT_NE(r.err.find("cannot write the save file '" + file + "'"), std::string::npos)
        << r.err.substr(r.err.size() - 500);
    const std::size_t changed = Differences(start, StateOf(tree));
    EXPECT_GT(changed, 0u);
    EXPECT_LT(changed, start.size() - 1);
    const Result back = Rivak({"--restore=" + file});
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(StateOf(tree), start);
}

// A --save run killed with SIGKILL at random moments, then restored: every
// entry has its starting mode and record again, wherever the run stopped.
TEST_F(Cli, KilledSaveRunsAreUndoneWhereverTheyStopped) {
    constexpr int kTries = 20;
    const std::string tree = At("t");
    MakeFolder(tree);
    const char* const records[] = {"", "0x1", "0x2", "0x23"};
    for (int folder = 0; folder < 20; ++folder) {
        const std::string f = tree + "/f" + std::to_string(folder);
        MakeFolder(f);
        for (int i = 0; i < 150; ++i) {
            const std::string file = f + "/" + std::to_string(i);
            MakeFile(file, i % 3 ? 0644 : 0444);
            if (*records[i % 4]) SetRecord(file, records[i % 4]);
        }
    }
    const TreeState start = StateOf(tree);
    const auto start_run = [&](const std::string& file) {
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1), dup2(null, 2);
            const std::string save = "--save=" + file;
            char* envp[] = {const_cast<char*>("LANG=C.UTF-8"), const_cast<char*>("HOME=/nonexistent"), nullptr};
            char* argv[] = {const_cast<char*>(RIVAK_CLI), const_cast<char*>("--smb-conf=/dev/null"),
                            const_cast<char*>(save.c_str()), const_cast<char*>("--readonly=set"),
                            const_cast<char*>("--hidden=set"), const_cast<char*>(tree.c_str()), nullptr};
            execve(RIVAK_CLI, argv, envp);
            _exit(127);
        }
        return pid;
    };
    // How long a whole run takes here, which the kills spread over.
    const auto begun = std::chrono::steady_clock::now();
    int status = 0;
    waitpid(start_run(At("whole.rivak")), &status, 0);
    const double whole = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(Rivak({"--restore=" + At("whole.rivak")}).status, 0);
    ASSERT_EQ(StateOf(tree), start);

    std::mt19937 random(std::random_device{}());
    std::uniform_real_distribution<double> moment(0, 1.2 * whole);
    int midway = 0, none = 0, all = 0, back = 0;
    for (int i = 0; i < kTries; ++i) {
        const std::string file = At("kill" + std::to_string(i) + ".rivak");
        const double after = moment(random);
        const pid_t pid = start_run(file);
        std::this_thread::sleep_for(std::chrono::duration<double>(after));
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        const std::size_t changed = Differences(start, StateOf(tree));
        (changed == 0 ? none : changed == start.size() ? all : midway) += 1;
        if (access(file.c_str(), F_OK) == 0) {
            const Result r = Rivak({"--restore=" + file});
            // Killed before its first line was written: nothing was changed.
            EXPECT_TRUE(r.status == 0 || (r.status == 2 && changed == 0)) << i << ": " << r.err;
        }
        const std::size_t left = Differences(start, StateOf(tree));
        back += left == 0;
        EXPECT_EQ(left, 0u) << "try " << i << ", killed after " << after << " s of " << whole << " s, " << changed
                            << " changed";
    }
    std::printf("%d runs killed: %d midway, %d before any change, %d after the last; %d put back as they were\n",
                kTries, midway, none, all, back);
    EXPECT_GT(midway, 0) << "no kill fell inside a run of " << whole << " s";
}

}  // namespace
}  // namespace rivak::cli
