// Shortcut files made with the shell's own link object and read back.
#include <gtest/gtest.h>

#include <string>

#include "engine/shortcut.h"
#include "platform/win32/shortcut_reader_win.h"
#include "tests/win32/win_test_support.h"

namespace rivak::test {
namespace {

class ShortcutReaderTest : public ComTest {
protected:
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

}  // namespace
}  // namespace rivak::test
