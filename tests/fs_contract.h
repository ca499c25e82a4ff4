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
#include <iterator>
#include <memory>
#include <vector>

#include "engine/file_system.h"

namespace rivak::contract {

template <class F>
class FsContract : public ::testing::Test {
protected:
    F fx;
    Path At(const Path& rel) const { return fx.Root() + kPathSeparator + rel; }
    static Path Join(const Path& a, const Path& b) { return a + kPathSeparator + b; }
    // The root's listing, sorted by name for the comparison.
    std::vector<FolderEntry> ListRoot(FileSystem& fs, OpenFolder& root) {
        std::vector<FolderEntry> entries;
        EXPECT_TRUE(fs.List(root, fx.Root(), entries));
        for (FolderEntry& e : entries) {
            if (e.looked) continue;
            EXPECT_TRUE(fs.LookUp(root, e)) << testing::PrintToString(e.name);
        }
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
        return entries;
    }
    static const FolderEntry* Named(const std::vector<FolderEntry>& v, const Path& name) {
        for (const FolderEntry& e : v)
            if (e.name == name) return &e;
        return nullptr;
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

// A listing gives each entry once, with its kind and its word, and never
// "." or "..".
TYPED_TEST_P(FsContract, ListingGivesEachEntryWithItsKindAndWord) {
    struct Row { const NativeChar* name; bool folder; AttributeWord extra; };
    const Row rows[] = {
        {RIVAK_T("a.txt"), false, 0},
        {RIVAK_T("h.txt"), false, attr::kHidden},
        {RIVAK_T("r.txt"), false, attr::kReadOnly},
        {RIVAK_T("s.txt"), false, attr::kSystem | attr::kHidden},
        {RIVAK_T("sub"), true, attr::kReadOnly},
        {RIVAK_T("hsub"), true, attr::kHidden},
    };
    for (const Row& r : rows) {
        if (r.folder) this->fx.MakeFolder(r.name, r.extra);
        else this->fx.MakeFile(r.name, r.extra);
    }
    this->fx.MakeFile(this->Join(RIVAK_T("sub"), RIVAK_T("inner")), 0);
    auto fs = this->fx.Open();
    auto root = fs->OpenFolderAt(this->fx.Root());
    ASSERT_TRUE(root);
    const std::vector<FolderEntry> entries = this->ListRoot(*fs, *root);
    ASSERT_EQ(entries.size(), std::size(rows));
    constexpr AttributeWord kBits = attr::kReadOnly | attr::kHidden | attr::kSystem | attr::kDirectory;
    for (const Row& r : rows) {
        const FolderEntry* e = this->Named(entries, r.name);
        ASSERT_TRUE(e) << testing::PrintToString(Path(r.name));
        EXPECT_EQ(e->folder, r.folder) << testing::PrintToString(Path(r.name));
        ASSERT_TRUE(e->word.has_value()) << testing::PrintToString(Path(r.name));
        // The word the disk holds, which need not be the one asked for: Wine keeps no read-only bit on folders.
        EXPECT_EQ(*e->word & kBits, this->fx.WordOf(r.name) & kBits) << testing::PrintToString(Path(r.name));
    }
}

// Entries are changed through their open folder, a subfolder's entries
// through the subfolder opened from it; a second read gives the new word.
TYPED_TEST_P(FsContract, ChangesGoThroughTheOpenFolder) {
    this->fx.MakeFolder(RIVAK_T("d"), attr::kReadOnly | attr::kHidden);
    this->fx.MakeFile(this->Join(RIVAK_T("d"), RIVAK_T("f")), attr::kReadOnly | attr::kHidden | attr::kSystem);
    auto fs = this->fx.Open();
    auto root = fs->OpenFolderAt(this->fx.Root());
    ASSERT_TRUE(root);
    std::vector<FolderEntry> entries = this->ListRoot(*fs, *root);
    ASSERT_EQ(entries.size(), 1u);
    auto d = fs->OpenSubfolder(*root, entries[0]);
    ASSERT_TRUE(d);
    std::vector<FolderEntry> inner;
    ASSERT_TRUE(fs->List(*d, this->Join(this->fx.Root(), RIVAK_T("d")), inner));
    ASSERT_EQ(inner.size(), 1u);
    ASSERT_TRUE(fs->LookUp(*d, inner[0]));
    ASSERT_TRUE(fs->Change(*d, inner[0], attr::kSystem));
    EXPECT_EQ(this->fx.WordOf(this->Join(RIVAK_T("d"), RIVAK_T("f"))) & 7u, attr::kSystem);
    ASSERT_TRUE(fs->LookUp(*d, inner[0]));
    ASSERT_TRUE(inner[0].word.has_value());
    EXPECT_EQ(*inner[0].word & 7u, attr::kSystem);
    ASSERT_TRUE(fs->Change(*root, entries[0], attr::kDirectory));
    EXPECT_EQ(this->fx.WordOf(RIVAK_T("d")) & (attr::kDirectory | 3u), attr::kDirectory);
    EXPECT_TRUE(fs->GetFolder(this->At(RIVAK_T("d"))).has_value()) << "still a folder after the write";
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

// A folder has one identity, however it is reached; a path that names no
// folder opens none.
TYPED_TEST_P(FsContract, FolderIdentityIsStable) {
    this->fx.MakeFolder(RIVAK_T("a"), 0);
    this->fx.MakeFolder(RIVAK_T("b"), 0);
    this->fx.MakeFile(RIVAK_T("f"), 0);
    auto fs = this->fx.Open();
    auto root = fs->OpenFolderAt(this->fx.Root());
    auto a1 = fs->OpenFolderAt(this->At(RIVAK_T("a")));
    auto b = fs->OpenFolderAt(this->At(RIVAK_T("b")));
    ASSERT_TRUE(root && a1 && b);
    const std::vector<FolderEntry> entries = this->ListRoot(*fs, *root);
    const FolderEntry* a = this->Named(entries, RIVAK_T("a"));
    ASSERT_TRUE(a);
    auto a2 = fs->OpenSubfolder(*root, *a);
    ASSERT_TRUE(a2);
    const auto ka1 = fs->Identity(*a1), ka2 = fs->Identity(*a2), kb = fs->Identity(*b);
    ASSERT_TRUE(ka1 && ka2 && kb);
    EXPECT_EQ(*ka1, *ka2);
    EXPECT_FALSE(*ka1 == *kb);
    EXPECT_FALSE(fs->OpenFolderAt(this->At(RIVAK_T("missing"))));
    EXPECT_FALSE(fs->OpenFolderAt(this->At(RIVAK_T("f"))));
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
    auto root = fs->OpenFolderAt(this->fx.Root());
    ASSERT_TRUE(root);
    const std::vector<FolderEntry> entries = this->ListRoot(*fs, *root);
    for (const Row& r : rows) {
        const auto folder = fs->GetFolder(this->At(r.folder));
        ASSERT_TRUE(folder.has_value());
        EXPECT_EQ(fs->HoldsFile(*folder, RIVAK_T("desktop.ini")), r.holds) << testing::PrintToString(Path(r.folder));
        const FolderEntry* listed = this->Named(entries, r.folder);
        ASSERT_TRUE(listed);
        EXPECT_EQ(fs->SubfolderHolds(*root, *listed, RIVAK_T("desktop.ini")), r.holds)
            << testing::PrintToString(Path(r.folder));
    }
}

REGISTER_TYPED_TEST_SUITE_P(FsContract, ProbeAdmitsByMask, DotEntriesAnswerThemselves,
                            ListingGivesEachEntryWithItsKindAndWord, ChangesGoThroughTheOpenFolder,
                            LookupsTellFilesFromFolders, WriteSetsNamedBitsAndKeepsTheRest,
                            FolderIdentityIsStable, HoldsFileMatchesNamesAsWindowsDoes);

}  // namespace rivak::contract
