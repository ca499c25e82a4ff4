// Shortcuts on Linux: the drive map, the code page, and the reader that reads
// a shortcut through the batch's file system and maps its target.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "platform/posix/drive_map.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/shortcut_reader_posix.h"
#include "posix_test_support.h"
#include "tests/lnk/lnk_writer.h"

namespace rivak::posix {
namespace {

using namespace rivak::posix::testing;
namespace w = rivak::test::lnk;

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::vector<unsigned char> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

TEST(DriveMap, DrivesAndSharesWithTheirBoundaries) {
    DriveMap map;
    EXPECT_TRUE(map.Add("x:", "/srv/x/"));
    EXPECT_TRUE(map.Add("\\\\Server\\Share", "/srv/share"));
    EXPECT_TRUE(map.Add("X:", "/elsewhere")) << "a second entry for a root is ignored";
    for (const char* bad : {"", "X", "XY:", "1:", "\\\\server", "\\\\\\share", "\\\\server\\", "\\\\s\\a\\b", "C:\\dir"})
        EXPECT_FALSE(map.Add(bad, "/x")) << bad;
    EXPECT_FALSE(map.Add("Y:", ""));

    struct Row { const char* windows; std::optional<std::string> linux; };
    const Row rows[] = {
        {"X:\\a\\b.txt", "/srv/x/a/b.txt"},   {"x:\\a", "/srv/x/a"},       {"X:", "/srv/x"},
        {"X:\\", "/srv/x"},                   {"X:a.txt", std::nullopt},   {"Y:\\a", std::nullopt},
        {"\\\\SERVER\\share\\d\\f", "/srv/share/d/f"},                     {"\\\\server\\sharex\\f", std::nullopt},
        {"\\\\other\\share\\f", std::nullopt}, {"X:\\a\\\\b", "/srv/x/a/b"},
    };
    for (const Row& r : rows) EXPECT_EQ(map.Map(r.windows), r.linux) << r.windows;
}

TEST(DriveMap, NamesMatchWithoutCaseWhereTheExactOneIsMissing) {
    TempFolder t;
    MakeFolder(t / "Docs");
    MakeFile(t / "Docs/Report.TXT");
    MakeFile(t / "Docs/report.txt");
    MakeFile(t / "Docs/Notes.md");
    DriveMap map;
    map.Add("D:", t.path());
    EXPECT_EQ(map.Map("D:\\DOCS\\NOTES.MD"), t / "Docs/Notes.md");
    EXPECT_EQ(map.Map("D:\\docs\\report.txt"), t / "Docs/report.txt") << "the exact name wins";
    EXPECT_EQ(map.Map("D:\\docs\\Report.TXT"), t / "Docs/Report.TXT");
    EXPECT_EQ(map.Map("D:\\docs\\missing.txt"), t / "Docs/missing.txt") << "no such name: kept as written";
    EXPECT_EQ(JoinRelative(t / "Docs", ".\\..\\docs\\notes.MD"), t / "Docs/../Docs/Notes.md");
}

TEST(DriveMap, WinePrefixDrivesAndShares) {
    TempFolder t;
    MakeFolder(t / "prefix");
    MakeFolder(t / "prefix/drive_c");
    MakeFolder(t / "prefix/dosdevices");
    MakeFolder(t / "prefix/dosdevices/unc");
    MakeFolder(t / "prefix/dosdevices/unc/nas");
    MakeFolder(t / "data");
    MakeLink("../drive_c", t / "prefix/dosdevices/c:");
    MakeLink(t / "data", t / "prefix/dosdevices/unc/nas/pub");
    MakeLink("/dev/null", t / "prefix/dosdevices/c::");  // the raw device: not a drive
    DriveMap map;
    map.Add("D:", "/mine");
    map.AddWinePrefix(t / "prefix");
    EXPECT_EQ(map.Map("C:\\windows"), t / "prefix/drive_c/windows");
    EXPECT_EQ(map.Map("\\\\NAS\\Pub\\x"), t / "data/x");
    EXPECT_EQ(map.Map("D:\\a"), "/mine/a");
    DriveMap none;
    none.AddWinePrefix(t / "missing");
    EXPECT_EQ(none.Map("C:\\a"), std::nullopt);
}

TEST(AnsiCodePage, NamesAndNumbers) {
    AnsiCodePage cp932("932");
    ASSERT_TRUE(cp932.valid());
    EXPECT_EQ(cp932.Decode("\x91\xCE\x8F\xDB"), u"\u5BFE\u8C61");
    EXPECT_EQ(cp932.Decode("\x82"), std::nullopt) << "half a character";
    AnsiCodePage latin("CP1252");
    ASSERT_TRUE(latin.valid());
    EXPECT_EQ(latin.Decode("caf\xE9"), u"caf\u00E9");
    for (const char* utf8 : {"65001", "CP65001"}) EXPECT_EQ(AnsiCodePage(utf8).Decode("caf\xC3\xA9"), u"caf\u00E9") << utf8;
    EXPECT_FALSE(AnsiCodePage("no-such-code-page").valid());
}

class Reader : public ::testing::Test {
protected:
    TempFolder t;
    DriveMap drives;
    AnsiCodePage codePage{"932"};
    PosixFileSystem fs{PosixSettings{}};
    PosixShortcutReader reader{drives, codePage};
    void SetUp() override {
        MakeFolder(t / "links");
        MakeFolder(t / "share");
        fs.Follow(t / "links");
        reader.Use(&fs);
    }
    // A shortcut named as the user names it: followed wherever it points.
    std::string Link(const std::string& name, const w::LinkSpec& fields) {
        WriteBytes(t / ("links/" + name), w::Build(fields));
        fs.Follow(t / ("links/" + name));
        return t / ("links/" + name);
    }
};

TEST_F(Reader, EveryKindOfTarget) {
    drives.Add("X:", t / "share");
    drives.Add("\\\\nas\\pub", t / "share");
    MakeFolder(t / "share/フォルダ");
    MakeFile(t / "share/フォルダ/対象.txt");

    w::LinkSpec unicode;
    w::LinkInfoFields info;
    info.localBase = "X:\\????\\??.txt";
    info.unicode = true;
    info.localBaseW = u"X:\\\u30D5\u30A9\u30EB\u30C0\\\u5BFE\u8C61.txt";
    unicode.linkInfo = w::LinkInfo(info);
    EXPECT_EQ(reader.Target(Link("unicode.lnk", unicode)), t / "share/フォルダ/対象.txt");

    w::LinkSpec ansi;
    w::LinkInfoFields cp;
    cp.localBase = "x:\\\x83\x74\x83\x48\x83\x8B\x83\x5F\\\x91\xCE\x8F\xDB.txt";
    ansi.linkInfo = w::LinkInfo(cp);
    EXPECT_EQ(reader.Target(Link("ansi.lnk", ansi)), t / "share/フォルダ/対象.txt");

    w::LinkSpec net;
    w::LinkInfoFields share;
    share.netName = "\\\\NAS\\PUB";
    share.suffix = "\x83\x74\x83\x48\x83\x8B\x83\x5F";
    net.linkInfo = w::LinkInfo(share);
    EXPECT_EQ(reader.Target(Link("net.lnk", net)), t / "share/フォルダ");

    w::LinkSpec relative;
    relative.relative = u"..\\share\\\u30D5\u30A9\u30EB\u30C0";
    EXPECT_EQ(reader.Target(Link("relative.lnk", relative)), t / "links/../share/フォルダ");

    w::LinkSpec env;
    env.extra = {w::EnvironmentBlock("%USERPROFILE%\\a.txt", u"%USERPROFILE%\\a.txt")};
    EXPECT_EQ(reader.Target(Link("env.lnk", env)), std::nullopt) << "unresolvable: the shortcut stays itself";

    w::LinkSpec panel;
    panel.items = {w::RootItem(w::kControlPanel)};
    EXPECT_EQ(reader.Target(Link("panel.lnk", panel)), Path()) << "not a file";

    w::LinkSpec unmapped;
    w::LinkInfoFields q;
    q.localBase = "Q:\\a.txt";
    unmapped.linkInfo = w::LinkInfo(q);
    EXPECT_EQ(reader.Target(Link("unmapped.lnk", unmapped)), std::nullopt);

    std::vector<unsigned char> damaged = w::Build(unicode);
    damaged.resize(damaged.size() / 2);
    WriteBytes(t / "links/damaged.lnk", damaged);
    fs.Follow(t / "links/damaged.lnk");
    EXPECT_EQ(reader.Target(t / "links/damaged.lnk"), std::nullopt);
}

TEST_F(Reader, WineMadeShortcutThroughTheWineDrives) {
    MakeFolder(t / "prefix");
    MakeFolder(t / "prefix/dosdevices");
    MakeLink(t / "share", t / "prefix/dosdevices/c:");
    MakeFolder(t / "share/samples");
    MakeFolder(t / "share/samples/フォルダ");
    MakeFile(t / "share/samples/フォルダ/対象.txt");
    drives.AddWinePrefix(t / "prefix");
    for (const char* fixture : {"wine-made-ja-locale.lnk", "wine-made-c-locale.lnk"}) {
        WriteBytes(t / "links/w.lnk", ReadBytes(std::string(RIVAK_FIXTURES) + "/lnk/" + fixture));
        fs.Follow(t / "links/w.lnk");
        EXPECT_EQ(reader.Target(t / "links/w.lnk"), t / "share/samples/フォルダ/対象.txt") << fixture;
        unlink((t / "links/w.lnk").c_str());
    }
}

TEST_F(Reader, OnlyRegularFilesOfAShortcutsSizeAreRead) {
    drives.Add("X:", t / "share");
    MakeFile(t / "share/a.txt");
    w::LinkSpec fields;
    w::LinkInfoFields info;
    info.localBase = "X:\\a.txt";
    fields.linkInfo = w::LinkInfo(info);
    WriteBytes(t / "real.lnk", w::Build(fields));
    MakeLink(t / "real.lnk", t / "links/link.lnk");
    EXPECT_EQ(reader.Target(t / "links/link.lnk"), std::nullopt) << "a link inside the walk is not followed";
    ASSERT_EQ(mkfifo((t / "links/fifo.lnk").c_str(), 0644), 0);
    EXPECT_EQ(reader.Target(t / "links/fifo.lnk"), std::nullopt) << "and a FIFO is never opened (it would block)";
    std::vector<unsigned char> big = w::Build(fields);
    big.resize(2 << 20);
    WriteBytes(t / "links/big.lnk", big);
    EXPECT_EQ(reader.Target(t / "links/big.lnk"), std::nullopt);
    reader.Use(nullptr);
    WriteBytes(t / "links/ok.lnk", w::Build(fields));
    EXPECT_EQ(reader.Target(t / "links/ok.lnk"), std::nullopt) << "no batch, nothing read";
}

TEST_F(Reader, TargetIsFollowedLikeAPathTheUserGave) {
    drives.Add("X:", t / "share");
    MakeFile(t / "real.txt", 0444);
    SetRecord(t / "real.txt", "0x1");
    MakeLink(t / "real.txt", t / "share/link.txt");
    w::LinkSpec fields;
    w::LinkInfoFields info;
    info.localBase = "X:\\link.txt";
    fields.linkInfo = w::LinkInfo(info);
    const std::optional<Path> target = reader.Target(Link("t.lnk", fields));
    ASSERT_EQ(target, t / "share/link.txt");
    const std::optional<FsObject> file = fs.GetFile(*target);
    ASSERT_TRUE(file && file->word);
    EXPECT_EQ(*file->word & attr::kReadOnly, attr::kReadOnly) << "the linked file's own word";
}

}  // namespace
}  // namespace rivak::posix
