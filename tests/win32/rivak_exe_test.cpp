// rivak.exe started as the shell starts it: a real command line, a real tree,
// the exit status and the attribute words it leaves.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/win32/win_test_support.h"

namespace rivak::test {
namespace {

constexpr DWORD RO = FILE_ATTRIBUTE_READONLY, H = FILE_ATTRIBUTE_HIDDEN, S = FILE_ATTRIBUTE_SYSTEM,
                A = FILE_ATTRIBUTE_ARCHIVE, NCI = FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr DWORD kNamed = RO | H;

std::wstring RivakExe() {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self, n);
    dir.erase(dir.find_last_of(L'\\') + 1);
    const std::wstring relative = dir + RIVAK_EXE_FROM_TEST;
    wchar_t full[MAX_PATH];
    const DWORD m = GetFullPathNameW(relative.c_str(), MAX_PATH, full, nullptr);
    return m && m < MAX_PATH ? std::wstring(full, m) : relative;
}

class RivakExeTest : public ComTest {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no DISPLAY: rivak.exe opens its progress window (needs Xvfb)";
        exe_ = RivakExe();
        ASSERT_NE(DiskWord(exe_), INVALID_FILE_ATTRIBUTES) << "rivak.exe not built";
    }

    // Starts rivak.exe with `arguments` after its quoted path; its exit status.
    DWORD Run(const std::wstring& arguments) {
        std::wstring commandLine = L"\"" + exe_ + L"\" " + arguments;
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(exe_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi)) {
            ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
            return 0xFFFFFFFF;
        }
        win::UniqueFile process(pi.hProcess), thread(pi.hThread);
        if (WaitForSingleObject(process.get(), 180000) != WAIT_OBJECT_0) {
            TerminateProcess(process.get(), 99);
            ADD_FAILURE() << "rivak.exe did not end";
            return 0xFFFFFFFF;
        }
        DWORD code = 0;
        GetExitCodeProcess(process.get(), &code);
        return code;
    }

    std::wstring Dir(const std::wstring& rel, DWORD word = kNamed) {
        const std::wstring p = temp_.At(rel);
        EXPECT_TRUE(MakeFolderAt(p, word)) << testing::PrintToString(rel);
        made_[p] = DiskWord(p);
        return p;
    }
    std::wstring File(const std::wstring& rel, DWORD word = kNamed) {
        const std::wstring p = temp_.At(rel);
        EXPECT_TRUE(MakeFileAt(p, word)) << testing::PrintToString(rel);
        made_[p] = DiskWord(p);
        return p;
    }
    static std::wstring Q(const std::wstring& path) { return L"\"" + path + L"\""; }
    static DWORD Named(const std::wstring& path) { return DiskWord(path) & kNamed; }
    // Untouched: the word is the one it had when made (Wine keeps no
    // read-only bit on folders, so that is not always RO | H).
    bool Kept(const std::wstring& path) { return DiskWord(path) == made_.at(path); }

    TempFolder temp_;
    std::wstring exe_;
    std::map<std::wstring, DWORD> made_;
};

TEST_F(RivakExeTest, QuotedFormClearsEverythingGivenAndBelow) {
    const std::wstring top = Dir(L"My Folder");
    const std::wstring files[] = {File(L"My Folder\\ro.txt", RO), File(L"My Folder\\h.txt", H),
                                  File(L"My Folder\\both.txt", RO | H | A), File(L"My Folder\\plain.txt", 0)};
    const std::wstring sub = Dir(L"My Folder\\sub folder");
    const std::wstring inner = File(L"My Folder\\sub folder\\inner file.txt");
    const std::wstring single = File(L"single file.txt");
    const std::wstring other = File(L"not given.txt");
    EXPECT_EQ(Run(Q(top) + L" " + Q(single)), 0u);
    for (const std::wstring& p : {top, sub, inner, single, files[0], files[1], files[2], files[3]})
        EXPECT_EQ(Named(p), 0u) << testing::PrintToString(p);
    EXPECT_EQ(DiskWord(files[2]) & A, A) << "archive is no option's business";
    EXPECT_TRUE(Kept(other)) << "a path not given is left alone";
}

TEST_F(RivakExeTest, BlankFormSplitsAtEveryBlank) {
    const std::wstring a = File(L"a.txt"), b = File(L"b.txt");
    const std::wstring spaced = Dir(L"two words");
    const std::wstring inSpaced = File(L"two words\\x.txt");
    // Two blanks between the paths give an empty row in between; a trailing
    // blank another; the unquoted blank path is cut in two and names nothing.
    EXPECT_EQ(Run(a + L"  " + b + L" " + spaced + L" "), 0u);
    EXPECT_EQ(Named(a), 0u);
    EXPECT_EQ(Named(b), 0u);
    EXPECT_TRUE(Kept(spaced));
    EXPECT_TRUE(Kept(inSpaced));
}

// As Send To starts it: only the path holding a blank is quoted.
TEST_F(RivakExeTest, MixedCommandLineHandlesQuotedAndUnquotedPaths) {
    const std::wstring a = File(L"a"), bc = File(L"b c"), d = File(L"d");
    const std::wstring b = File(L"b"), c = File(L"c");
    EXPECT_EQ(Run(a + L" " + Q(bc) + L" " + d), 0u);
    EXPECT_EQ(Named(a), 0u);
    EXPECT_EQ(Named(bc), 0u);
    EXPECT_EQ(Named(d), 0u);
    EXPECT_TRUE(Kept(b)) << "the quoted path is one path, not two";
    EXPECT_TRUE(Kept(c));
}

TEST_F(RivakExeTest, MissingPathsAreSkipped) {
    const std::wstring real = File(L"real.txt");
    EXPECT_EQ(Run(Q(temp_.At(L"nothing here")) + Q(temp_.At(L"none\\deeper.txt")) + Q(real) + Q(L"")), 0u);
    EXPECT_EQ(Named(real), 0u);
}

TEST_F(RivakExeTest, ShortcutLeadsToAFolderElsewhere) {
    const std::wstring given = Dir(L"given");
    const std::wstring elsewhere = Dir(L"elsewhere");
    const std::wstring farFile = File(L"elsewhere\\farFile.txt");
    const std::wstring link = temp_.At(L"given\\to elsewhere.lnk");
    ASSERT_TRUE(MakeShortcut(link, elsewhere));
    ASSERT_TRUE(SetFileAttributesW(link.c_str(), RO | H));
    const std::wstring direct = temp_.At(L"direct.LNK");
    const std::wstring target = Dir(L"target");
    const std::wstring inTarget = File(L"target\\t.txt");
    ASSERT_TRUE(MakeShortcut(direct, target));
    ASSERT_TRUE(SetFileAttributesW(direct.c_str(), RO | H));

    EXPECT_EQ(Run(Q(given) + L" " + Q(direct)), 0u);
    EXPECT_EQ(Named(elsewhere), 0u);
    EXPECT_EQ(Named(farFile), 0u);
    EXPECT_EQ(Named(target), 0u);
    EXPECT_EQ(Named(inTarget), 0u);
    EXPECT_EQ(Named(link), kNamed) << "the shortcut file itself is followed, not rewritten";
    EXPECT_EQ(Named(direct), kNamed);
    EXPECT_EQ(Named(given), 0u);
}

// d0\d1\...\d29, each level holding a file: the walk stops at 25 levels.
TEST_F(RivakExeTest, DeepTreeStopsAtTwentyFiveLevels) {
    std::wstring rel = L"level-00";
    std::vector<std::wstring> folders, files;
    for (int k = 0; k < 30; ++k) {
        if (k) rel += L"\\level-" + std::to_wstring(k / 10) + std::to_wstring(k % 10);
        folders.push_back(Dir(rel));
        files.push_back(File(rel + L"\\file.txt"));
    }
    ASSERT_GT(files.back().size(), 260u) << "the deep end is a long path too";
    EXPECT_EQ(Run(Q(folders[0])), 0u);
    for (int k = 0; k < 30; ++k) {
        if (k <= 25) EXPECT_EQ(Named(folders[k]), 0u) << "folder at depth " << k;
        else EXPECT_TRUE(Kept(folders[k])) << "folder at depth " << k;
        if (k <= 24) EXPECT_EQ(Named(files[k]), 0u) << "file at depth " << k;
        else EXPECT_TRUE(Kept(files[k])) << "file at depth " << k;
    }
}

TEST_F(RivakExeTest, HundredSubfolders) {
    const std::wstring top = Dir(L"many");
    std::vector<std::wstring> all;
    for (int i = 0; i < 100; ++i) {
        all.push_back(Dir(L"many\\sub" + std::to_wstring(i)));
        all.push_back(File(L"many\\sub" + std::to_wstring(i) + L"\\f.txt"));
    }
    EXPECT_EQ(Run(Q(top)), 0u);
    int left = 0;
    for (const std::wstring& p : all) left += Named(p) != 0;
    EXPECT_EQ(left, 0);
    EXPECT_EQ(Named(top), 0u);
}

// Only what the batch changes is written: the change time, which any
// attribute write moves, stays on the rest.
TEST_F(RivakExeTest, EntriesTheBatchLeavesAsTheyWereAreNotWritten) {
    const std::wstring top = Dir(L"top");
    const std::wstring changed = File(L"top\\ro.txt", RO | H);
    const std::wstring same[] = {File(L"top\\plain.txt", A), File(L"top\\system.txt", RO | H | S), Dir(L"top\\sub", 0),
                                 File(L"top\\sub\\inner.txt", 0)};
    Sleep(50);  // past the clock tick the change times were taken at
    std::map<std::wstring, LONGLONG> before;
    for (const std::wstring& p : same) before[p] = ChangeTime(p);
    before[changed] = ChangeTime(changed);
    EXPECT_EQ(Run(Q(top)), 0u);
    EXPECT_NE(ChangeTime(changed), before[changed]);
    for (const std::wstring& p : same) EXPECT_EQ(ChangeTime(p), before[p]) << testing::PrintToString(p);
}

TEST_F(RivakExeTest, LongAndJapaneseNames) {
    const std::wstring jp = Dir(L"日本語のフォルダ \U0001F600");
    const std::wstring jpFile = File(L"日本語のフォルダ \U0001F600\\表示・ソース 能力.txt");
    std::wstring rel = L"日本語のフォルダ \U0001F600\\" + std::wstring(120, L'長');
    const std::wstring longDir = Dir(rel);
    const std::wstring longFile = File(rel + L"\\" + std::wstring(150, L'x') + L".txt");
    ASSERT_GT(longFile.size(), 260u);
    const std::wstring alone = File(std::wstring(200, L'名') + L".txt");
    EXPECT_EQ(Run(Q(jp) + Q(alone)), 0u);
    for (const std::wstring& p : {jp, jpFile, longDir, longFile, alone}) EXPECT_EQ(Named(p), 0u);
}

// System files are taken for folders and keep their word; archive and the
// other bits no option names stay as they were.
TEST_F(RivakExeTest, AttributesNoOptionNamesAreKept) {
    const std::wstring top = Dir(L"top");
    const std::wstring sys = File(L"top\\system.txt", RO | H | S);
    const std::wstring arch = File(L"top\\archive.txt", RO | H | A);
    const std::wstring nci = File(L"top\\not indexed.txt", RO | NCI);
    const bool nciStored = (DiskWord(nci) & NCI) != 0;
    EXPECT_EQ(Run(Q(top)), 0u);
    EXPECT_TRUE(Kept(sys)) << "a system file is taken for a folder and keeps its word";
    EXPECT_EQ(DiskWord(arch) & (RO | H | A), A);
    EXPECT_EQ(Named(nci), 0u);
    if (!nciStored) GTEST_SKIP() << "this file system does not store \"not content indexed\"";
    EXPECT_EQ(DiskWord(nci) & NCI, NCI);
}

}  // namespace
}  // namespace rivak::test
