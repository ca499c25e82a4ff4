// The Win32 backend: the shared contract, then what only Windows paths and
// attribute words bring (long and unusual names, the bits kept on write, the
// cost of a single-name probe).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "engine/options.h"
#include "platform/win32/file_system_win.h"
#include "platform/win32/path_win.h"
#include "tests/fs_contract.h"
#include "tests/win32/win_test_support.h"

namespace rivak::test {
namespace {

using win::Win32FileSystem;

class Win32Fixture {
public:
    Path Root() const { return temp_.path(); }
    void MakeFolder(const Path& rel, AttributeWord extra) { ASSERT_TRUE(MakeFolderAt(temp_.At(rel), extra)); }
    void MakeFile(const Path& rel, AttributeWord extra) { ASSERT_TRUE(MakeFileAt(temp_.At(rel), extra)); }
    AttributeWord WordOf(const Path& rel) const { return DiskWord(temp_.At(rel)); }
    std::unique_ptr<FileSystem> Open() { return std::make_unique<Win32FileSystem>(); }

private:
    TempFolder temp_;
};

}  // namespace
}  // namespace rivak::test

namespace rivak::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, FsContract, rivak::test::Win32Fixture);
}

namespace rivak::test {
namespace {

using win::ExtendedPath;
using win::LastComponent;

// A folder opened for a walk, and its listing.
struct Listed {
    std::unique_ptr<OpenFolder> folder;
    std::vector<FolderEntry> entries;
    const FolderEntry* operator[](const Path& name) const {
        const auto it = std::find_if(entries.begin(), entries.end(), [&](auto& e) { return e.name == name; });
        return it == entries.end() ? nullptr : &*it;
    }
};

Listed ListFolder(FileSystem& fs, const Path& folder) {
    Listed listed{fs.OpenFolderAt(folder), {}};
    EXPECT_TRUE(listed.folder && fs.List(*listed.folder, folder, listed.entries)) << testing::PrintToString(folder);
    return listed;
}

std::vector<Path> ListAll(FileSystem& fs, const Path& folder) {
    std::vector<Path> names;
    for (FolderEntry& e : ListFolder(fs, folder).entries) names.push_back(std::move(e.name));
    return names;
}

bool Contains(const std::vector<Path>& v, const Path& s) { return std::find(v.begin(), v.end(), s) != v.end(); }

TEST(Win32Paths, ExtendedFormOfFullPaths) {
    struct Row { const wchar_t* given; const wchar_t* want; };
    const Row rows[] = {
        {L"C:\\a\\b.txt", L"\\\\?\\C:\\a\\b.txt"},
        {L"C:\\\\a", L"\\\\?\\C:\\a"},                     // the walker's join after a root
        {L"C:\\a\\\\b\\", L"\\\\?\\C:\\a\\b"},
        {L"C:\\a\\.\\b\\..\\c", L"\\\\?\\C:\\a\\c"},
        {L"C:\\..\\a", L"\\\\?\\C:\\a"},
        {L"C:\\", L"\\\\?\\C:\\"},
        {L"c:/a/b", L"\\\\?\\c:\\a\\b"},
        {L"C:\\a\\name. ", L"\\\\?\\C:\\a\\name. "},        // trailing dot and blank stay
        {L"C:\\a\\*.*", L"\\\\?\\C:\\a\\*.*"},
        {L"\\\\server\\share\\x\\y", L"\\\\?\\UNC\\server\\share\\x\\y"},
        {L"\\\\server\\share\\..\\x", L"\\\\?\\UNC\\server\\share\\x"},
        {L"\\\\?\\C:\\keep\\\\as\\is", L"\\\\?\\C:\\keep\\\\as\\is"},
        {L"\\\\.\\C:", L"\\\\.\\C:"},
        {L"", L""},
    };
    for (const Row& r : rows) EXPECT_EQ(ExtendedPath(r.given), std::wstring(r.want)) << testing::PrintToString(r.given);
}

TEST(Win32Paths, RelativePathsGoThroughTheCurrentFolder) {
    wchar_t cwd[MAX_PATH];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH, cwd);
    ASSERT_GT(n, 0u);
    std::wstring base(cwd, n);
    if (base.back() == L'\\') base.pop_back();
    EXPECT_EQ(ExtendedPath(L"rel\\x.txt"), L"\\\\?\\" + base + L"\\rel\\x.txt");
}

TEST(Win32Paths, LastComponent) {
    struct Row { const wchar_t* given; const wchar_t* want; };
    const Row rows[] = {
        {L"C:\\a\\b.txt", L"b.txt"}, {L"C:\\a\\", L"a"}, {L"C:\\a\\\\", L"a"}, {L"C:\\", L"C:"},
        {L"C:\\a\\.", L"."},         {L"C:\\a\\..", L".."}, {L"name", L"name"}, {L"", L""},
        {L"C:\\a\\*.*", L"*.*"},
    };
    for (const Row& r : rows) EXPECT_EQ(LastComponent(r.given), std::wstring(r.want)) << testing::PrintToString(r.given);
}

TEST(Win32Attributes, MergeKeepsWhatNoOptionNames) {
    struct Row { DWORD disk; AttributeWord rewritten; DWORD want; };
    const Row rows[] = {
        {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE,
         FILE_ATTRIBUTE_ARCHIVE},
        {FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_READONLY, 0, FILE_ATTRIBUTE_NOT_CONTENT_INDEXED},
        {0x80000 | 0x20 | 0x1, 0x20, 0x80000 | 0x20},   // pinned stays
        {0x100000 | 0x1000 | 0x2, 0x0, 0x100000 | 0x1000},  // unpinned, offline stay
        {FILE_ATTRIBUTE_TEMPORARY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN},
        {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_NORMAL},
        {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_DIRECTORY,
         FILE_ATTRIBUTE_NORMAL},
        {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY},
        {FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_SPARSE_FILE | 0x4, 0x4, 0x4},
        // System and archive come from the rewritten word, which carries them from disk.
        {FILE_ATTRIBUTE_SYSTEM, 0, FILE_ATTRIBUTE_NORMAL},
    };
    for (const Row& r : rows)
        EXPECT_EQ(win::MergedAttributes(r.disk, r.rewritten), r.want) << std::hex << r.disk << " " << r.rewritten;
}

class Win32Backend : public ::testing::Test {
protected:
    TempFolder temp_;
};

TEST_F(Win32Backend, EmptyAndMissingPaths) {
    Win32FileSystem fs;
    EXPECT_EQ(fs.Dir(L"", probe::kAnything), Path());
    EXPECT_FALSE(fs.GetFile(L"").has_value());
    EXPECT_FALSE(fs.GetFolder(L"").has_value());
    EXPECT_EQ(fs.Dir(temp_.At(L"none\\deeper\\x"), probe::kAnything), Path());
    EXPECT_EQ(fs.Dir(temp_.At(L"none\\*.*"), probe::kAnything), Path());
    EXPECT_FALSE(fs.OpenFolderAt(L""));
    EXPECT_FALSE(fs.OpenFolderAt(temp_.At(L"none\\deeper")));
}

TEST_F(Win32Backend, FolderGivenWithTrailingSeparatorOrDoubledJoin) {
    ASSERT_TRUE(MakeFolderAt(temp_.At(L"d")));
    ASSERT_TRUE(MakeFileAt(temp_.At(L"d\\f.txt"), FILE_ATTRIBUTE_READONLY));
    Win32FileSystem fs;
    EXPECT_EQ(fs.Dir(temp_.At(L"d\\"), probe::kAnything), Path(L"d"));
    EXPECT_EQ(fs.Dir(temp_.At(L"d\\\\f.txt"), probe::kPlainFiles), Path(L"f.txt"));
    auto f = fs.GetFile(temp_.At(L"d\\\\f.txt"));
    ASSERT_TRUE(f.has_value());
    EXPECT_TRUE(fs.SetAttributes(*f, 0));
    EXPECT_EQ(DiskWord(temp_.At(L"d\\f.txt")) & 1u, 0u);
    const std::vector<Path> names = ListAll(fs, temp_.At(L"d\\"));
    EXPECT_TRUE(Contains(names, L"f.txt"));
}

TEST_F(Win32Backend, DriveRootAnswersAsAFolder) {
    const std::wstring root = temp_.path().substr(0, 3);  // "X:\"
    ASSERT_EQ(root[1], L':');
    Win32FileSystem fs;
    EXPECT_FALSE(fs.Dir(root, probe::kAnything).empty());
    EXPECT_TRUE(fs.Dir(root, probe::kPlainFiles).empty());
    EXPECT_TRUE(fs.GetFolder(root).has_value());
}

// Names of every kind, in a folder deep enough that the full paths pass 260.
TEST_F(Win32Backend, LongPathsAndUnusualNames) {
    std::wstring deep = temp_.path();
    for (int i = 0; i < 5; ++i) {
        deep += L"\\" + std::wstring(60, static_cast<wchar_t>(L'a' + i));
        ASSERT_TRUE(MakeFolderAt(deep, FILE_ATTRIBUTE_HIDDEN)) << "level " << i;
    }
    ASSERT_GT(deep.size(), 300u);
    const std::wstring names[] = {
        L"plain.txt",
        L"日本語のファイル名.txt",
        L"表ソ能十.txt",            // second bytes that are backslashes in code page 932
        L"\U0001F600 emoji \U0001F4C1.txt",
        L"blanks  inside and at end .txt",
        L" leading blank",
        L"quotes 'single' \u201Cdouble\u201D \uFF02full\uFF02.txt",
        L"ümlaut Ωmega Ж.txt",
        std::wstring(200, L'x') + L".txt",
    };
    Win32FileSystem fs;
    for (const std::wstring& name : names) {
        const std::wstring path = deep + L"\\" + name;
        SCOPED_TRACE(testing::PrintToString(name));
        ASSERT_TRUE(MakeFileAt(path, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
        EXPECT_EQ(fs.Dir(path, probe::kAnything), name);
        EXPECT_EQ(fs.Dir(path, probe::kPlainFiles), name);
        auto file = fs.GetFile(path);
        ASSERT_TRUE(file.has_value());
        ASSERT_TRUE(file->word.has_value());
        EXPECT_EQ(*file->word & 3u, 3u);
        EXPECT_TRUE(fs.SetAttributes(*file, RewriteWord(*file->word, DefaultOptions())));
        EXPECT_EQ(DiskWord(path) & 3u, 0u);
        EXPECT_EQ(file->path, path) << "the path the engine gave stays as it was";
    }
    const std::vector<Path> listed = ListAll(fs, deep);
    for (const std::wstring& name : names) EXPECT_TRUE(Contains(listed, name)) << testing::PrintToString(name);

    auto folder = fs.GetFolder(deep);
    ASSERT_TRUE(folder.has_value());
    EXPECT_TRUE(fs.SetAttributes(*folder, RewriteWord(*folder->word, DefaultOptions())));
    EXPECT_EQ(DiskWord(deep) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY), FILE_ATTRIBUTE_DIRECTORY);
    const auto open = fs.OpenFolderAt(deep);
    ASSERT_TRUE(open);
    EXPECT_TRUE(fs.Identity(*open).has_value());
}

// Names only "\\?\" paths can make: the backend must not trim them.
TEST_F(Win32Backend, NamesEndingInDotOrBlank) {
    Win32FileSystem fs;
    for (const std::wstring name : {L"trail.", L"trail "}) {
        const std::wstring path = temp_.At(name);
        if (!MakeFileAt(path, FILE_ATTRIBUTE_HIDDEN) || DiskWord(temp_.At(L"trail")) != INVALID_FILE_ATTRIBUTES) {
            RemoveTree(path);
            RemoveTree(temp_.At(L"trail"));
            std::printf("[   SKIP   ] this file system cannot keep the name \"%ls\" apart from \"trail\"\n",
                        name.c_str());
            continue;
        }
        EXPECT_EQ(fs.Dir(path, probe::kAnything), name);
        auto file = fs.GetFile(path);
        ASSERT_TRUE(file.has_value());
        EXPECT_TRUE(fs.SetAttributes(*file, 0));
        EXPECT_EQ(DiskWord(path) & 2u, 0u);
        RemoveTree(path);
    }
}

// The engine's rewrite clears every bit of value 64 and up; the backend puts
// back from the word on disk what no option names.
TEST_F(Win32Backend, WriteKeepsTheBitsNoOptionNames) {
    struct Row { const char* name; DWORD bit; };
    const Row rows[] = {
        {"archive", FILE_ATTRIBUTE_ARCHIVE},
        {"system", FILE_ATTRIBUTE_SYSTEM},
        {"not content indexed", FILE_ATTRIBUTE_NOT_CONTENT_INDEXED},
        {"temporary", FILE_ATTRIBUTE_TEMPORARY},
        {"offline", FILE_ATTRIBUTE_OFFLINE},
    };
    Win32FileSystem fs;
    int tested = 0;
    std::string unsupported;
    for (const Row& r : rows) {
        for (const bool folder : {false, true}) {
            SCOPED_TRACE(std::string(r.name) + (folder ? " folder" : " file"));
            const std::wstring path = temp_.At(std::wstring(folder ? L"d" : L"f") + std::to_wstring(r.bit));
            const DWORD start = r.bit | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
            ASSERT_TRUE(folder ? MakeFolderAt(path) : MakeFileAt(path));
            SetFileAttributesW(Long(path).c_str(), start);
            if ((DiskWord(path) & start) != start) {
                unsupported += std::string(" ") + r.name + (folder ? " (folder)" : " (file)");
                continue;
            }
            ++tested;
            auto object = folder ? fs.GetFolder(path) : fs.GetFile(path);
            ASSERT_TRUE(object.has_value());
            ASSERT_TRUE(object->word.has_value());
            const AttributeWord rewritten = RewriteWord(*object->word, DefaultOptions());
            EXPECT_TRUE(fs.SetAttributes(*object, rewritten));
            EXPECT_EQ(DiskWord(path) & (start | FILE_ATTRIBUTE_DIRECTORY),
                      r.bit | (folder ? FILE_ATTRIBUTE_DIRECTORY : 0));
        }
    }
    if (!unsupported.empty())
        std::printf("[   NOTE   ] this file system does not store:%s; those rows were not tested\n",
                    unsupported.c_str());
    if (tested == 0) GTEST_SKIP() << "the file system stores none of the bits to keep";
}

TEST_F(Win32Backend, WriteRefusedReportsFalse) {
    Win32FileSystem fs;
    FsObject gone{temp_.At(L"gone.txt"), false, FILE_ATTRIBUTE_ARCHIVE};
    EXPECT_FALSE(fs.SetAttributes(gone, 0));
}

// One read serves the two probes and the look-up of the same entry; anything
// else in between, and any write, makes the next call read afresh.
TEST_F(Win32Backend, ProbeAnswerServesOnlyTheCallsThatFollowIt) {
    const std::wstring a = temp_.At(L"a.txt"), b = temp_.At(L"b.txt");
    ASSERT_TRUE(MakeFileAt(a, FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(MakeFileAt(b));
    Win32FileSystem fs;
    EXPECT_EQ(fs.Dir(a, probe::kAnything), Path(L"a.txt"));
    EXPECT_EQ(fs.Dir(a, probe::kPlainFiles), Path(L"a.txt"));
    auto file = fs.GetFile(a);
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(fs.AttributeReads(), 1u);
    EXPECT_TRUE(fs.SetAttributes(*file, 0));
    file = fs.GetFile(a);
    ASSERT_TRUE(file && file->word);
    EXPECT_EQ(*file->word & FILE_ATTRIBUTE_HIDDEN, 0u) << "the write is seen";
    EXPECT_EQ(fs.AttributeReads(), 2u);
    fs.Dir(b, probe::kAnything);
    fs.Dir(a, probe::kAnything);
    EXPECT_EQ(fs.AttributeReads(), 4u);
    fs.Dir(temp_.At(L"*"), probe::kAnything);
    fs.Dir(a, probe::kAnything);
    EXPECT_EQ(fs.AttributeReads(), 5u);
    // A change made through a walk's folder is seen by the next probe.
    const Listed root = ListFolder(fs, temp_.path());
    ASSERT_TRUE(root[L"a.txt"]);
    fs.Dir(a, probe::kAnything);
    ASSERT_TRUE(fs.Change(*root.folder, *root[L"a.txt"], FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(fs.Dir(a, probe::kPlainFiles), Path()) << "a system file now, which the probe must see";
    EXPECT_EQ(fs.AttributeReads(), 8u);
    // Changed behind the backend's back between two calls on another path.
    SetFileAttributesW(Long(a).c_str(), FILE_ATTRIBUTE_NORMAL);
    fs.Dir(b, probe::kAnything);
    EXPECT_EQ(fs.Dir(a, probe::kPlainFiles), Path(L"a.txt")) << "a plain file again";

    Win32FileSystem uncached(false);
    uncached.Dir(b, probe::kAnything);
    uncached.Dir(b, probe::kPlainFiles);
    EXPECT_EQ(uncached.AttributeReads(), 2u);
}

// A walk writes an entry only when its word changes, and then once: the
// disk's change time, which every attribute write moves, tells.
TEST_F(Win32Backend, ChangeWritesOnlyWhatTheRewriteAlters) {
    struct Row { const wchar_t* name; bool folder; DWORD start; bool written; };
    const Row rows[] = {
        {L"plain", false, FILE_ATTRIBUTE_ARCHIVE, false},
        {L"rh", false, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, true},
        {L"sys", false, FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, false},
        {L"dir", true, 0, false},
        {L"hdir", true, FILE_ATTRIBUTE_HIDDEN, true},
    };
    for (const Row& r : rows)
        ASSERT_TRUE(r.folder ? MakeFolderAt(temp_.At(r.name), r.start) : MakeFileAt(temp_.At(r.name), r.start));
    Sleep(50);  // past the clock tick the change times were taken at
    Win32FileSystem fs;
    const Listed root = ListFolder(fs, temp_.path());
    ASSERT_EQ(root.entries.size(), std::size(rows));
    std::map<std::wstring, LONGLONG> before;
    for (const FolderEntry& e : root.entries) before[e.name] = ChangeTime(temp_.At(e.name));
    for (const FolderEntry& e : root.entries)
        EXPECT_TRUE(fs.Change(*root.folder, e, RewriteWord(*e.word, DefaultOptions())));
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(r.name)));
        EXPECT_EQ(DiskWord(temp_.At(r.name)) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
        EXPECT_EQ(ChangeTime(temp_.At(r.name)) != before.at(r.name), r.written);
    }
}

TEST_F(Win32Backend, LinkedFolderIsAReparsePoint) {
    ASSERT_TRUE(MakeFolderAt(temp_.At(L"real")));
    const std::wstring link = temp_.At(L"link");
    if (!CreateSymbolicLinkW(link.c_str(), temp_.At(L"real").c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2))
        GTEST_SKIP() << "no directory symbolic links here (error " << GetLastError() << ")";
    Win32FileSystem fs;
    const DWORD word = DiskWord(link);
    if (word == INVALID_FILE_ATTRIBUTES || !(word & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "a directory symbolic link made here does not lead to its folder as a reparse point";
    const Listed root = ListFolder(fs, temp_.path());
    ASSERT_TRUE(root[L"link"] && root[L"real"]);
    EXPECT_TRUE(root[L"link"]->folder && (*root[L"link"]->word & FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_FALSE(*root[L"real"]->word & FILE_ATTRIBUTE_REPARSE_POINT);
    const auto viaListing = fs.OpenSubfolder(*root.folder, *root[L"link"]), viaLink = fs.OpenFolderAt(link);
    const auto real = fs.OpenFolderAt(temp_.At(L"real"));
    ASSERT_TRUE(viaListing && viaLink && real);
    const auto key = fs.Identity(*real);
    ASSERT_TRUE(key);
    EXPECT_EQ(fs.Identity(*viaLink), key) << "a link leads to the folder it names";
    EXPECT_EQ(fs.Identity(*viaListing), key);
}

// Folder keys keep all 128 bits of a file id: on ReFS two folders may share
// the low 64 bits that the older index gives.
TEST(Win32FolderKey, EveryBitOfTheFileIdCounts) {
    const auto id = [](ULONGLONG volume, unsigned char firstByte, unsigned char lastByte) {
        FILE_ID_INFO info{};
        info.VolumeSerialNumber = volume;
        info.FileId.Identifier[0] = firstByte;
        info.FileId.Identifier[15] = lastByte;
        return win::KeyOf(info);
    };
    const FolderKey base = id(0x1122334455667788ull, 1, 0);
    const struct {
        const char* what;
        FolderKey key;
        bool same;
    } cases[] = {
        {"the same id", id(0x1122334455667788ull, 1, 0), true},
        {"differs in the high 64 bits only", id(0x1122334455667788ull, 1, 1), false},
        {"differs in the low 64 bits", id(0x1122334455667788ull, 2, 0), false},
        {"another volume, upper serial bits", id(0x0122334455667788ull, 1, 0), false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.key == base, c.same) << c.what;

    BY_HANDLE_FILE_INFORMATION old{};
    old.dwVolumeSerialNumber = 0x55667788;
    old.nFileIndexHigh = 0x01020304;
    old.nFileIndexLow = 0x05060708;
    EXPECT_EQ(win::KeyOf(old), (FolderKey{0x55667788, 0x0102030405060708ull, 0}));
}

// Where the system gives a 128-bit id, the key is that id.
TEST_F(Win32Backend, FolderIdentityIsTheSystemsFileId) {
    ASSERT_TRUE(MakeFolderAt(temp_.At(L"f")));
    win::UniqueFile handle(CreateFileW(temp_.At(L"f").c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(handle);
    FILE_ID_INFO info{};
    if (!GetFileInformationByHandleEx(handle.get(), FileIdInfo, &info, sizeof info))
        GTEST_SKIP() << "no 128-bit file ids here (error " << GetLastError() << "); the 64-bit index serves";
    Win32FileSystem fs;
    const auto open = fs.OpenFolderAt(temp_.At(L"f"));
    ASSERT_TRUE(open);
    EXPECT_EQ(fs.Identity(*open), win::KeyOf(info));
}

double MicrosPerProbe(Win32FileSystem& fs, const std::wstring& path, int rounds) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        if (fs.Dir(path, probe::kAnything).empty()) return -1;
    }
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count() / rounds;
}

// The Windows form of a Unix path, from Wine's own kernel32 export; "" when
// not under Wine.
std::wstring DosPathOfUnixPath(const char* unixPath) {
    using Fn = LPWSTR(CDECL*)(LPCSTR);
    const auto convert = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (!convert || !unixPath) return std::wstring();
    LPWSTR dos = convert(unixPath);
    if (!dos) return std::wstring();
    std::wstring out(dos);
    HeapFree(GetProcessHeap(), 0, dos);
    return out;
}

// A probe of one name looks that name up; it never lists the folder.
TEST_F(Win32Backend, ProbeCostDoesNotGrowWithTheFolder) {
    constexpr int kSmall = 10, kRounds = 3000;
    const std::wstring small = temp_.At(L"small");
    ASSERT_TRUE(MakeFolderAt(small));
    for (int i = 0; i < kSmall; ++i) ASSERT_TRUE(MakeFileAt(small + L"\\f" + std::to_wstring(i)));
    // Wine looks every new name up in the whole folder, so 50,000 files made
    // from here take minutes; ctest has the shell make them (f0, f1, ...).
    int big = 50000;
    std::wstring bigFolder = DosPathOfUnixPath(std::getenv("RIVAK_BIG_FOLDER"));
    if (bigFolder.empty() || DiskWord(bigFolder + L"\\f" + std::to_wstring(big - 1)) == INVALID_FILE_ATTRIBUTES) {
        big = 5000;
        bigFolder = temp_.At(L"big");
        std::printf("[   NOTE   ] no prepared folder of 50000 files (RIVAK_BIG_FOLDER); making %d here\n", big);
        ASSERT_TRUE(MakeFolderAt(bigFolder));
        for (int i = 0; i < big; ++i) ASSERT_TRUE(MakeFileAt(bigFolder + L"\\f" + std::to_wstring(i)));
    }
    Win32FileSystem fs(false);
    // The name probed sits in the middle of the big folder's listing.
    const std::wstring inSmall = small + L"\\f5", inBig = bigFolder + L"\\f" + std::to_wstring(big / 2);
    MicrosPerProbe(fs, inSmall, 200);
    MicrosPerProbe(fs, inBig, 200);
    double smallCost = 1e9, bigCost = 1e9;
    for (int trial = 0; trial < 3; ++trial) {
        smallCost = std::min(smallCost, MicrosPerProbe(fs, inSmall, kRounds));
        bigCost = std::min(bigCost, MicrosPerProbe(fs, inBig, kRounds));
    }
    ASSERT_GT(smallCost, 0) << "probe of an existing name failed";
    ASSERT_GT(bigCost, 0) << "probe of an existing name failed";
    const auto t0 = std::chrono::steady_clock::now();
    const std::size_t listed = ListAll(fs, bigFolder).size();
    const double listCost = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(listed, static_cast<std::size_t>(big));
    std::printf("[  FIGURE  ] exact probe: %.1f us in a folder of %d, %.1f us in a folder of %d (ratio %.2f); "
                "listing the big folder once: %.0f us\n",
                smallCost, kSmall, bigCost, big, bigCost / smallCost, listCost);
    EXPECT_LT(bigCost, smallCost * 4 + 20) << "the probe grows with the folder";
    // A probe that listed the folder would cost about as much as the listing.
    EXPECT_LT(bigCost * 50, listCost);
}

}  // namespace
}  // namespace rivak::test
