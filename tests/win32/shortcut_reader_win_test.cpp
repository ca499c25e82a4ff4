// Shortcut files made with the shell's own link object, by Wine, and built
// byte by byte, read back.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "engine/shortcut.h"
#include "platform/win32/shortcut_reader_win.h"
#include "platform/lnk/shell_link.h"
#include "tests/lnk/lnk_cases.h"
#include "tests/win32/win_test_support.h"

namespace rivak::test {
namespace {

namespace lk = rivak::test::lnk;

bool WriteBytes(const std::wstring& path, const lk::Blob& bytes) {
    win::UniqueFile f(CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return f && WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

const std::wstring kSample(lk::kSample.begin(), lk::kSample.end());

class ShortcutReaderTest : public ComTest {
protected:
    std::optional<Path> ReadBuilt(const lk::LinkSpec& fields, const wchar_t* name = L"built.lnk") {
        const std::wstring link = temp_.At(name);
        if (!WriteBytes(link, lk::Build(fields))) ADD_FAILURE() << "cannot write the shortcut";
        return reader_.Target(link);
    }

    TempFolder temp_;
    win::Win32ShortcutReader reader_;
};

TEST_F(ShortcutReaderTest, ReadsTheStoredTargetOfFilesAndFolders) {
    const std::wstring folder = temp_.At(L"target folder"), file = temp_.At(L"日本語 \U0001F600 file.txt");
    ASSERT_TRUE(MakeFolderAt(folder, FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(MakeFileAt(file, FILE_ATTRIBUTE_READONLY));
    struct Row { const wchar_t* link; std::wstring target; };
    const Row rows[] = {{L"to folder.lnk", folder}, {L"to file.LNK", file}, {L"mixed.Lnk", folder}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.link));
        ASSERT_TRUE(MakeShortcut(temp_.At(r.link), r.target));
        EXPECT_EQ(reader_.Target(temp_.At(r.link)), std::optional<Path>(r.target));
        // What the engine calls, for every letter case of the extension.
        EXPECT_EQ(ResolveShortcut(temp_.At(r.link), reader_), std::optional<Path>(r.target));
    }
}

TEST_F(ShortcutReaderTest, ShortcutToAShortcutIsFollowedOneLevelOnly) {
    const std::wstring file = temp_.At(L"f.txt"), first = temp_.At(L"first.lnk"), second = temp_.At(L"second.lnk");
    ASSERT_TRUE(MakeFileAt(file));
    ASSERT_TRUE(MakeShortcut(first, file));
    ASSERT_TRUE(MakeShortcut(second, first));
    EXPECT_EQ(reader_.Target(second), std::optional<Path>(first));
}

TEST_F(ShortcutReaderTest, WhatIsNoShortcutCannotBeRead) {
    const std::wstring fake = temp_.At(L"not really.lnk"), empty = temp_.At(L"empty.lnk");
    ASSERT_TRUE(MakeFileAt(empty));
    {
        win::UniqueFile f(CreateFileW(fake.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(f);
        const char text[] = "plain text, not a shell link";
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(f.get(), text, sizeof text - 1, &written, nullptr));
    }
    EXPECT_EQ(reader_.Target(fake), std::nullopt);
    EXPECT_EQ(reader_.Target(empty), std::nullopt);
    EXPECT_EQ(reader_.Target(temp_.At(L"missing.lnk")), std::nullopt);
    EXPECT_EQ(reader_.Target(L""), std::nullopt);
    ASSERT_TRUE(MakeFolderAt(temp_.At(L"folder.lnk")));
    EXPECT_EQ(reader_.Target(temp_.At(L"folder.lnk")), std::nullopt);
}

TEST_F(ShortcutReaderTest, ShortcutToANonFileItemHasAnEmptyTarget) {
    const std::wstring link = temp_.At(L"control panel.lnk");
    if (!MakeShortcut(link, L"")) GTEST_SKIP() << "no shortcut to the Control Panel can be made here";
    EXPECT_EQ(reader_.Target(link), std::optional<Path>(Path()));
}

// A shortcut stored deeper than 260 characters, to a target with a long name.
TEST_F(ShortcutReaderTest, LongPathsOnBothSides) {
    std::wstring deep = temp_.path();
    for (int i = 0; i < 4; ++i) {
        deep += L"\\" + std::wstring(70, static_cast<wchar_t>(L'p' + i));
        ASSERT_TRUE(MakeFolderAt(deep));
    }
    const std::wstring target = temp_.At(std::wstring(150, L't') + L".txt");
    ASSERT_TRUE(MakeFileAt(target));
    const std::wstring link = deep + L"\\long.lnk";
    ASSERT_GT(link.size(), 260u);
    // The shell saves only through a path it can parse; build the link short, then move it.
    const std::wstring shortLink = temp_.At(L"s.lnk");
    ASSERT_TRUE(MakeShortcut(shortLink, target));
    ASSERT_TRUE(MoveFileW(Long(shortLink).c_str(), Long(link).c_str()));
    const std::optional<Path> got = reader_.Target(link);
    if (!got) GTEST_SKIP() << "the shell link object here cannot load a shortcut stored past 260 characters";
    EXPECT_EQ(*got, target);
}

TEST_F(ShortcutReaderTest, WineMadeShortcuts) {
    for (const std::string name : {"wine-made-ja-locale.lnk", "wine-made-c-locale.lnk"}) {
        SCOPED_TRACE(name);
        std::ifstream in("fixtures\\lnk\\" + name, std::ios::binary);
        const lk::Blob bytes{std::istreambuf_iterator<char>(in), {}};
        ASSERT_FALSE(bytes.empty()) << "fixture missing";
        const std::wstring link = temp_.At(std::wstring(name.begin(), name.end()));
        ASSERT_TRUE(WriteBytes(link, bytes));
        EXPECT_EQ(reader_.Target(link), std::optional<Path>(kSample));
    }
}

// What the shell's link object gets wrong: names outside the ANSI code page
// ("?" in its answer) and a path stored as a base and a suffix (it answers
// the base alone). The stored target is given exactly.
TEST_F(ShortcutReaderTest, StoredTargetsExactly) {
    struct Row {
        const char* what;
        lk::LinkSpec fields;
        std::wstring target;
    };
    std::vector<Row> rows(4);
    rows[0] = {"outside the code page", {}, L"C:\\data\\\u0645\u0631\u062D\u0628\u0627 \U0001F600.txt"};
    rows[0].fields.linkInfo = lk::UnicodeInfo(u"C:\\data\\\u0645\u0631\u062D\u0628\u0627 \U0001F600.txt");
    rows[1] = {"base and suffix", {}, L"C:\\Users\\Administrator"};
    rows[1].fields.linkInfo = lk::UnicodeInfo(u"C:\\Users\\", u"Administrator");
    rows[2] = {"code page 932 only", {}, kSample};
    rows[2].fields.linkInfo = lk::AnsiInfo(lk::kSampleCp932);
    rows[3] = {"item list only", {}, L"D:\\\u0645\u0631\u062D\u0628\u0627\\\U0001F600.txt"};
    rows[3].fields.items = {lk::RootItem(lk::kMyComputer), lk::DriveItem('D'),
                          lk::FileItem(u"\u0645\u0631\u062D\u0628\u0627", "5D3A~1", true),
                          lk::FileItem(u"\U0001F600.txt", "1F60~1.TXT", false)};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(ReadBuilt(r.fields), std::optional<Path>(r.target));
    }
}

TEST_F(ShortcutReaderTest, RelativeTargetIsFoundBesideTheShortcut) {
    ASSERT_TRUE(MakeFolderAt(temp_.At(L"links")));
    lk::LinkSpec fields;
    fields.relative = u"..\\docs\\\u5831\u544A.txt";
    EXPECT_EQ(ReadBuilt(fields, L"links\\relative.lnk"), std::optional<Path>(temp_.At(L"docs\\\u5831\u544A.txt")));
}

// The shell's own answer for a shortcut file.
std::optional<Path> ShellGetPath(const std::wstring& linkPath) {
    win::ComPtr<IShellLinkW> link;
    win::ComPtr<IPersistFile> file;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) || FAILED(file->Load(linkPath.c_str(), STGM_READ)))
        return std::nullopt;
    wchar_t buffer[MAX_PATH + 1] = {};
    if (FAILED(link->GetPath(buffer, MAX_PATH + 1, nullptr, 0))) return std::nullopt;
    return Path(buffer);
}

// A target written with environment variables is the system's to expand
// (Windows does; Wine answers the ANSI path): the shell's link object
// answers, not the path stored beside it.
TEST_F(ShortcutReaderTest, EnvironmentTargetIsLeftToTheShell) {
    lk::LinkSpec fields;
    lk::LinkInfoFields info;
    info.localBase = "C:\\ansi\\win.ini";
    info.unicode = true;
    info.localBaseW = u"C:\\unicode\\win.ini";
    fields.linkInfo = lk::LinkInfo(info);
    fields.extra = {lk::EnvironmentBlock("%WINDIR%\\win.ini", u"%WINDIR%\\win.ini")};
    const std::optional<Path> got = ReadBuilt(fields);
    ASSERT_TRUE(got.has_value());
    EXPECT_NE(*got, L"C:\\unicode\\win.ini");
    EXPECT_EQ(got, ShellGetPath(temp_.At(L"built.lnk")));
}

// Damage makes a shortcut unreadable here as on Linux, even where the
// shell's link object would read past it.
TEST_F(ShortcutReaderTest, DamagedShortcutIsUnreadable) {
    lk::LinkSpec fields;
    fields.linkInfo = lk::UnicodeInfo(u"C:\\a.txt");
    lk::Blob cut = lk::Build(fields);
    cut.pop_back();
    ASSERT_TRUE(WriteBytes(temp_.At(L"cut.lnk"), cut));
    EXPECT_EQ(reader_.Target(temp_.At(L"cut.lnk")), std::nullopt);

    lk::Blob huge = lk::Build(fields);
    huge.resize(rivak::lnk::kMaxShellLinkSize + 1, 0);
    ASSERT_TRUE(WriteBytes(temp_.At(L"huge.lnk"), huge));
    EXPECT_EQ(reader_.Target(temp_.At(L"huge.lnk")), std::nullopt);
}

}  // namespace
}  // namespace rivak::test
