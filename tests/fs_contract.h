#pragma once
// The file-system contract, written once and run against every backend.
// A backend provides a fixture class F with:
//   F();                    // a fresh, empty folder of its own
//   Path Root() const;      // that folder's full path
//   void MakeFolder(const Path& rel, AttributeWord extra); // extra: RO/H/S bits
//   void MakeFile(const Path& rel, AttributeWord extra);
//   AttributeWord WordOf(const Path& rel) const;           // as the disk has it
//   std::unique_ptr<FileSystem> Open();
// and instantiates: INSTANTIATE_TYPED_TEST_SUITE_P(Name, FsContract, F);
// `rel` uses kPathSeparator between names.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "engine/file_system.h"

namespace rivak::contract {

template <class F>
class FsContract : public ::testing::Test {
protected:
    F fx;
    Path At(const Path& rel) const { return fx.Root() + kPathSeparator + rel; }
    static Path Pattern(const Path& folder) { return folder + kPathSeparator + RIVAK_T("*.*"); }
    std::vector<Path> List(FileSystem& fs, const Path& folder, unsigned mask) {
        std::vector<Path> names;
        for (Path n = fs.Dir(Pattern(folder), mask); !n.empty(); n = fs.Dir()) names.push_back(n);
        return names;
    }
    static bool Has(const std::vector<Path>& v, const Path& s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    }
};

TYPED_TEST_SUITE_P(FsContract);

TYPED_TEST_P(FsContract, ProbeAdmitsByMask) {
    this->fx.MakeFile(RIVAK_T("plain.txt"), 0);
    this->fx.MakeFile(RIVAK_T("ro.txt"), attr::kReadOnly);
    this->fx.MakeFile(RIVAK_T("hid.txt"), attr::kHidden);
    this->fx.MakeFile(RIVAK_T("sys.txt"), attr::kSystem);
    this->fx.MakeFile(RIVAK_T("rhs.txt"), attr::kReadOnly | attr::kHidden | attr::kSystem);
    this->fx.MakeFolder(RIVAK_T("dir"), 0);
    this->fx.MakeFolder(RIVAK_T("hdir"), attr::kHidden | attr::kReadOnly);
    auto fs = this->fx.Open();
    struct Row { const NativeChar* name; bool all; bool plain; };
    const Row rows[] = {
        {RIVAK_T("plain.txt"), true, true}, {RIVAK_T("ro.txt"), true, true},
        {RIVAK_T("hid.txt"), true, true},   {RIVAK_T("sys.txt"), true, false},
        {RIVAK_T("rhs.txt"), true, false},  {RIVAK_T("dir"), true, false},
        {RIVAK_T("hdir"), true, false},     {RIVAK_T("missing"), false, false},
    };
    for (const Row& r : rows) {
        const Path p = this->At(r.name);
        EXPECT_EQ(fs->Dir(p, probe::kAnything).empty(), !r.all) << testing::PrintToString(p);
        EXPECT_EQ(fs->Dir(p, probe::kPlainFiles).empty(), !r.plain) << testing::PrintToString(p);
    }
    EXPECT_EQ(fs->Dir(this->At(RIVAK_T("plain.txt")), probe::kAnything), Path(RIVAK_T("plain.txt")));
}

TYPED_TEST_P(FsContract, DotEntriesAnswerThemselves) {
    this->fx.MakeFolder(RIVAK_T("d"), 0);
    auto fs = this->fx.Open();
    const Path d = this->At(RIVAK_T("d"));
    const Path dot = fs->Dir(d + kPathSeparator + RIVAK_T("."), probe::kAnything);
    const Path dotdot = fs->Dir(d + kPathSeparator + RIVAK_T(".."), probe::kAnything);
    EXPECT_TRUE(dot.empty() || dot == RIVAK_T(".")) << testing::PrintToString(dot);
    EXPECT_TRUE(dotdot.empty() || dotdot == RIVAK_T("..")) << testing::PrintToString(dotdot);
    EXPECT_EQ(fs->Dir(d, probe::kAnything), Path(RIVAK_T("d")));
    EXPECT_EQ(fs->Dir(d, probe::kPlainFiles), Path());
}

TYPED_TEST_P(FsContract, EnumerationListsEverythingOnce) {
    this->fx.MakeFile(RIVAK_T("a.txt"), 0);
    this->fx.MakeFile(RIVAK_T("h.txt"), attr::kHidden);
    this->fx.MakeFile(RIVAK_T("s.txt"), attr::kSystem | attr::kHidden);
    this->fx.MakeFolder(RIVAK_T("sub"), attr::kReadOnly);
    this->fx.MakeFile(RIVAK_T("sub") + Path(1, kPathSeparator) + RIVAK_T("inner"), 0);
    auto fs = this->fx.Open();
    std::vector<Path> names = this->List(*fs, this->fx.Root(), probe::kAnything);
    EXPECT_TRUE(this->Has(names, RIVAK_T(".")));
    EXPECT_TRUE(this->Has(names, RIVAK_T("..")));
    std::sort(names.begin(), names.end());
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const Path& n) { return n == RIVAK_T(".") || n == RIVAK_T(".."); }),
                names.end());
    const std::vector<Path> want = {RIVAK_T("a.txt"), RIVAK_T("h.txt"), RIVAK_T("s.txt"), RIVAK_T("sub")};
    EXPECT_EQ(names, want);
    EXPECT_EQ(fs->Dir(), Path()) << "an exhausted enumeration stays exhausted";
}

TYPED_TEST_P(FsContract, NewProbeAbandonsEnumeration) {
    for (const auto* n : {RIVAK_T("1"), RIVAK_T("2"), RIVAK_T("3"), RIVAK_T("4")}) this->fx.MakeFile(n, 0);
    auto fs = this->fx.Open();
    ASSERT_FALSE(fs->Dir(this->Pattern(this->fx.Root()), probe::kAnything).empty());
    EXPECT_EQ(fs->Dir(this->At(RIVAK_T("missing")), probe::kAnything), Path());
    EXPECT_EQ(fs->Dir(), Path());
}

TYPED_TEST_P(FsContract, LookupsTellFilesFromFolders) {
    this->fx.MakeFile(RIVAK_T("f"), attr::kReadOnly | attr::kHidden);
    this->fx.MakeFolder(RIVAK_T("d"), attr::kHidden);
    auto fs = this->fx.Open();
    auto file = fs->GetFile(this->At(RIVAK_T("f")));
    ASSERT_TRUE(file.has_value());
    EXPECT_FALSE(file->folder);
    ASSERT_TRUE(file->word.has_value());
    EXPECT_EQ(*file->word & 3u, 3u);
    EXPECT_FALSE(fs->GetFolder(this->At(RIVAK_T("f"))).has_value());
    auto dir = fs->GetFolder(this->At(RIVAK_T("d")));
    ASSERT_TRUE(dir.has_value());
    EXPECT_TRUE(dir->folder);
    ASSERT_TRUE(dir->word.has_value());
    EXPECT_EQ(*dir->word & (attr::kDirectory | attr::kHidden), attr::kDirectory | attr::kHidden);
    EXPECT_FALSE(fs->GetFile(this->At(RIVAK_T("d"))).has_value());
    EXPECT_FALSE(fs->GetFile(this->At(RIVAK_T("none"))).has_value());
    EXPECT_FALSE(fs->GetFolder(this->At(RIVAK_T("none"))).has_value());
}

TYPED_TEST_P(FsContract, WriteSetsNamedBitsAndKeepsTheRest) {
    this->fx.MakeFile(RIVAK_T("f"), attr::kReadOnly | attr::kHidden | attr::kSystem);
    this->fx.MakeFolder(RIVAK_T("d"), attr::kReadOnly | attr::kHidden);
    auto fs = this->fx.Open();
    auto file = fs->GetFile(this->At(RIVAK_T("f")));
    ASSERT_TRUE(file.has_value());
    ASSERT_TRUE(fs->SetAttributes(*file, attr::kSystem));
    EXPECT_EQ(this->fx.WordOf(RIVAK_T("f")) & 7u, attr::kSystem);
    ASSERT_TRUE(fs->SetAttributes(*file, 0));
    EXPECT_EQ(this->fx.WordOf(RIVAK_T("f")) & 7u, 0u);
    auto dir = fs->GetFolder(this->At(RIVAK_T("d")));
    ASSERT_TRUE(dir.has_value());
    ASSERT_TRUE(fs->SetAttributes(*dir, attr::kDirectory));
    EXPECT_EQ(this->fx.WordOf(RIVAK_T("d")) & (attr::kDirectory | 3u), attr::kDirectory);
    EXPECT_TRUE(fs->GetFolder(this->At(RIVAK_T("d"))).has_value()) << "still a folder after the write";
}

TYPED_TEST_P(FsContract, FolderIdentityIsStable) {
    this->fx.MakeFolder(RIVAK_T("a"), 0);
    this->fx.MakeFolder(RIVAK_T("b"), 0);
    auto fs = this->fx.Open();
    auto a1 = fs->FolderIdentity(this->At(RIVAK_T("a")));
    auto a2 = fs->FolderIdentity(this->At(RIVAK_T("a")));
    auto b = fs->FolderIdentity(this->At(RIVAK_T("b")));
    ASSERT_TRUE(a1 && a2 && b);
    EXPECT_EQ(*a1, *a2);
    EXPECT_FALSE(*a1 == *b);
    EXPECT_FALSE(fs->IsLinkedFolder(this->At(RIVAK_T("a"))));
    EXPECT_FALSE(fs->FolderIdentity(this->At(RIVAK_T("missing"))).has_value());
}

// The customised-folder mark: a file named desktop.ini in any letter case.
TYPED_TEST_P(FsContract, HoldsFileMatchesNamesAsWindowsDoes) {
    struct Row { const NativeChar* folder; const NativeChar* inside; bool isFolder; bool holds; };
    const Row rows[] = {
        {RIVAK_T("custom"), RIVAK_T("desktop.ini"), false, true},
        {RIVAK_T("upper"), RIVAK_T("DeskTop.INI"), false, true},
        {RIVAK_T("named"), RIVAK_T("desktop.ini"), true, false},
        {RIVAK_T("other"), RIVAK_T("desktop.ini.txt"), false, false},
    };
    for (const Row& r : rows) {
        this->fx.MakeFolder(r.folder, attr::kReadOnly);
        const Path inside = Path(r.folder) + kPathSeparator + r.inside;
        if (r.isFolder) this->fx.MakeFolder(inside, 0);
        else this->fx.MakeFile(inside, attr::kSystem | attr::kHidden);
    }
    auto fs = this->fx.Open();
    for (const Row& r : rows) {
        const auto folder = fs->GetFolder(this->At(r.folder));
        ASSERT_TRUE(folder.has_value());
        EXPECT_EQ(fs->HoldsFile(*folder, RIVAK_T("desktop.ini")), r.holds) << testing::PrintToString(Path(r.folder));
    }
}

REGISTER_TYPED_TEST_SUITE_P(FsContract, ProbeAdmitsByMask, DotEntriesAnswerThemselves,
                            EnumerationListsEverythingOnce, NewProbeAbandonsEnumeration,
                            LookupsTellFilesFromFolders, WriteSetsNamedBitsAndKeepsTheRest,
                            FolderIdentityIsStable, HoldsFileMatchesNamesAsWindowsDoes);

}  // namespace rivak::contract
