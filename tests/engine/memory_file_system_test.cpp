// The in-memory file system: the shared contract, then the failures it can
// inject for the engine tests.
#include <gtest/gtest.h>

#include "../fs_contract.h"
#include "test_support.h"

namespace rivak {
namespace {

using testing_support::N;
using testing_support::P;

class MemoryFixture {
public:
    MemoryFixture() { fs_.AddFolder(P("t")); }
    Path Root() const { return P("t"); }
    void MakeFolder(const Path& rel, AttributeWord extra) { fs_.AddFolder(Root() + kPathSeparator + rel, extra); }
    void MakeFile(const Path& rel, AttributeWord extra) { fs_.AddFile(Root() + kPathSeparator + rel, extra); }
    AttributeWord WordOf(const Path& rel) const { return fs_.Word(Root() + kPathSeparator + rel).value(); }
    std::unique_ptr<FileSystem> Open() { return fs_.Open(); }

private:
    MemoryFileSystem fs_;
};

}  // namespace

namespace contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Memory, FsContract, MemoryFixture);
}

namespace {

TEST(MemoryFileSystem, InjectedFailures) {
    MemoryFileSystem fs;
    fs.AddFolder(P("d"));
    fs.AddFile(P("d", N("r")), attr::kHidden);
    fs.AddFile(P("d", N("w")), attr::kHidden);
    fs.FailReading(P("d", N("r")));
    fs.FailWriting(P("d", N("w")));
    fs.AddFolder(P("closed"));
    fs.AddFile(P("closed", N("x")));
    fs.FailListing(P("closed"));
    auto session = fs.Open();

    auto r = session->GetFile(P("d", N("r")));
    ASSERT_TRUE(r.has_value());
    EXPECT_FALSE(r->word.has_value()) << "exists, word unreadable";
    auto w = session->GetFile(P("d", N("w")));
    ASSERT_TRUE(w.has_value());
    EXPECT_FALSE(session->SetAttributes(*w, 0));
    EXPECT_EQ(fs.Word(P("d", N("w"))), attr::kHidden);
    auto closed = session->OpenFolderAt(P("closed"));
    ASSERT_TRUE(closed);
    std::vector<FolderEntry> entries;
    EXPECT_FALSE(session->List(*closed, P("closed"), entries));
    EXPECT_EQ(session->Dir(P("closed", N("x")), probe::kAnything), N("x")) << "its entries can still be probed";
}

TEST(MemoryFileSystem, VolumeLabelsAndWildcards) {
    MemoryFileSystem fs;
    fs.AddFolder(P("v"));
    fs.AddFile(P("v", N("LABEL")), attr::kVolume);
    fs.AddFile(P("v", N("note.txt")));
    fs.AddFile(P("v", N("readme")));
    auto s = fs.Open();
    EXPECT_EQ(s->Dir(P("v", N("LABEL")), probe::kAnything), N("LABEL"));
    EXPECT_EQ(s->Dir(P("v", N("LABEL")), probe::kPlainFiles), Path());
    EXPECT_EQ(s->Dir(P("v", N("*.txt")), probe::kAnything), N("note.txt"));
    EXPECT_EQ(s->Dir(P("v", N("read?e")), probe::kAnything), N("readme"));
    EXPECT_EQ(s->Dir(P("v", N("NOTE.TXT")), probe::kAnything), N("note.txt")) << "names fold ASCII case";
}

TEST(MemoryFileSystem, FolderLinksShareTheirTarget) {
    MemoryFileSystem fs;
    fs.AddFolder(P("real"), attr::kHidden);
    fs.AddFile(P("real", N("f")));
    fs.AddFolderLink(P("link"), P("real"));
    auto s = fs.Open();
    auto viaLink = s->OpenFolderAt(P("link"));
    auto real = s->OpenFolderAt(P("real"));
    ASSERT_TRUE(viaLink && real);
    EXPECT_EQ(s->Identity(*viaLink), s->Identity(*real));
    EXPECT_EQ(s->Dir(P("link", N("f")), probe::kAnything), N("f"));
    auto link = s->GetFolder(P("link"));
    ASSERT_TRUE(link.has_value());
    s->SetAttributes(*link, attr::kDirectory);
    EXPECT_EQ(fs.Word(P("real")), attr::kDirectory);
}

}  // namespace
}  // namespace rivak
