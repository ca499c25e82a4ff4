// The shortcut reader on Wine-made shortcuts, on shortcuts built here for
// every way a target can be stored, and on damaged ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/lnk/shell_link.h"
#include "tests/lnk/lnk_cases.h"

namespace rivak::lnk {

void PrintTo(const ShellLinkTarget& t, std::ostream* os) {
    static const char* const kinds[] = {"Absolute", "Relative", "NotAFile", "Unresolvable"};
    *os << kinds[static_cast<int>(t.kind)] << " \"" << Utf8(t.path) << '"';
}

}  // namespace rivak::lnk

namespace rivak::test {
namespace {

using namespace rivak::test::lnk;
using rivak::lnk::ReadShellLink;

std::optional<ShellLinkTarget> Read(const Blob& b, const AnsiDecoder& decode = kCp932) {
    // An exact-size copy, so a read past the end is a read past the buffer.
    const Blob exact(b);
    return ReadShellLink(exact, decode);
}

#ifndef RIVAK_LNK_FIXTURES
#define RIVAK_LNK_FIXTURES "fixtures/lnk"
#endif

Blob Fixture(const char* name) {
    std::ifstream in(std::string(RIVAK_LNK_FIXTURES "/") + name, std::ios::binary);
    return Blob(std::istreambuf_iterator<char>(in), {});
}

TEST(ShellLinkTest, WineMadeShortcuts) {
    for (const char* name : {"wine-made-ja-locale.lnk", "wine-made-c-locale.lnk"}) {
        SCOPED_TRACE(name);
        const Blob file = Fixture(name);
        ASSERT_FALSE(file.empty()) << "fixture missing";
        // Wine keeps each long name in its item list: no code page is needed,
        // and the "?" of the C locale's ANSI path is never used.
        EXPECT_EQ(Read(file), Target(Kind::Absolute, kSample));
        EXPECT_EQ(Read(file, kNoDecoder), Target(Kind::Absolute, kSample));
    }
}

TEST(ShellLinkTest, WineMadeAnsiPathWithoutTheItemList) {
    // The ja-locale file with its item list flag cleared and the list cut
    // out: what is left is the ANSI path in code page 932.
    Blob file = Fixture("wine-made-ja-locale.lnk");
    ASSERT_GT(file.size(), 0x4Eu);
    const std::size_t listSize = file[0x4C] | file[0x4D] << 8;
    file.erase(file.begin() + 0x4C, file.begin() + 0x4E + static_cast<std::ptrdiff_t>(listSize));
    file[0x14] &= ~1;
    EXPECT_EQ(Read(file), Target(Kind::Absolute, kSample));
    EXPECT_EQ(Read(file, kNoDecoder), Target(Kind::Unresolvable, u""));
}

TEST(ShellLinkTest, EveryWayATargetIsStored) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Read(Build(c.fields), *c.decoder), c.expected);
    }
}

// lnkinfo (liblnk) reads the shortcuts built here the same way.
TEST(ShellLinkTest, LnkinfoReadsWhatTheWriterBuilds) {
#ifdef _WIN32
    GTEST_SKIP() << "lnkinfo is a Linux program";
#else
    if (std::system("lnkinfo -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "lnkinfo (liblnk-utils) is not installed";
    const std::string file = testing::TempDir() + "rivak-oracle.lnk";
    int checked = 0;
    for (const Case& c : Cases()) {
        if (!*c.oracle) continue;
        SCOPED_TRACE(c.what);
        const Blob bytes = Build(c.fields);
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        FILE* pipe = popen(("lnkinfo -c windows-932 '" + file + "' 2>&1").c_str(), "r");
        ASSERT_TRUE(pipe);
        std::string report;
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) report.append(buffer, n);
        pclose(pipe);
        const std::string key = std::string("\t") + c.oracle + "\t";
        const std::size_t at = report.find(key);
        ASSERT_NE(at, std::string::npos) << report;
        const std::size_t start = report.find(": ", at) + 2, end = report.find('\n', start);
        EXPECT_EQ(report.substr(start, end - start), rivak::lnk::Utf8(c.expected->path)) << report;
        ++checked;
    }
    std::remove(file.c_str());
    EXPECT_GE(checked, 5);
#endif
}

// Where the parts of a built shortcut start, for patching them.
struct Layout {
    Blob bytes;
    std::size_t items = 0, info = 0, strings = 0, extra = 0;
};

Layout Damageable() {
    LinkSpec s;
    s.items = SampleItems(9);
    LinkInfoFields fields;
    fields.localBase = "C:\\Users\\";
    fields.suffix = "bob";
    fields.netName = "\\\\server\\share";
    fields.unicode = true;
    fields.localBaseW = u"C:\\Users\\";
    fields.suffixW = u"bob";
    fields.netNameW = u"\\\\server\\share";
    s.linkInfo = LinkInfo(fields);
    s.description = u"desc";
    s.relative = u"..\\bob";
    s.extra = {EnvironmentBlock("%HOME%", u"%HOME%")};
    Layout l;
    l.bytes = Build(s);
    std::size_t list = 2;
    for (const Blob& item : *s.items) list += item.size();
    l.items = 0x4E;
    l.info = l.items + list;
    l.strings = l.info + s.linkInfo->size();
    l.extra = l.strings + 2 + 2 * 4 + 2 + 2 * 6;
    return l;
}

TEST(ShellLinkTest, EveryTruncationIsDamage) {
    std::vector<Blob> whole;
    for (const Case& c : Cases()) whole.push_back(Build(c.fields));
    whole.push_back(Damageable().bytes);
    whole.push_back(Fixture("wine-made-ja-locale.lnk"));
    for (const Blob& b : whole) {
        ASSERT_TRUE(Read(b).has_value());
        for (std::size_t n = 0; n < b.size(); ++n) {
            const Blob cut(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
            ASSERT_EQ(Read(cut), std::nullopt) << "cut at " << n << " of " << b.size();
        }
    }
}

TEST(ShellLinkTest, BadOffsetsAndCountsAreDamage) {
    const Layout l = Damageable();
    ASSERT_EQ(Read(l.bytes), Target(Kind::Unresolvable, u"%HOME%", u"C:\\Users\\bob"));
    const std::size_t cnrl = l.info + 0x24 + 0x11 + 10;  // after volume ID and "C:\Users\"
    struct Patch {
        const char* what;
        std::size_t at;
        int width;
        std::uint32_t value;
    };
    const Patch patches[] = {
        {"header size", 0, 4, 0x4D},
        {"class identifier", 4, 1, 0x02},
        {"item list size, huge", 0x4C, 2, 0xFFFF},
        {"item list size, one short", 0x4C, 2, static_cast<std::uint32_t>(l.info - l.items - 1)},
        {"item list size, one long", 0x4C, 2, static_cast<std::uint32_t>(l.info - l.items + 1)},
        {"first item size, huge", l.items, 2, 0xFFFF},
        {"first item size, one", l.items, 2, 1},
        {"first item size, past the terminator", l.items, 2, static_cast<std::uint32_t>(l.info - l.items - 1)},
        {"LinkInfo size, huge", l.info, 4, 0xFFFFFFFF},
        {"LinkInfo size, below its header", l.info, 4, 0x1B},
        {"LinkInfo header size past the LinkInfo", l.info + 4, 4, 0x10000},
        {"LinkInfo header size, short", l.info + 4, 4, 0x10},
        {"local base path offset, huge", l.info + 0x10, 4, 0xFFFFFFFF},
        {"local base path offset, at the end", l.info + 0x10, 4, static_cast<std::uint32_t>(l.strings - l.info)},
        {"network link offset, huge", l.info + 0x14, 4, 0xFFFFFFF0},
        {"network link size, huge", cnrl, 4, 0x7FFFFFFF},
        {"network link size, short", cnrl, 4, 0x10},
        {"network name offset, huge", cnrl + 8, 4, 0xFFFF},
        {"network unicode name offset, huge", cnrl + 0x14, 4, 0x8000},
        {"suffix offset, huge", l.info + 0x18, 4, 0xFFFFFFFF},
        {"unicode base path offset, huge", l.info + 0x1C, 4, 0xFFFFFFFE},
        {"unicode suffix offset, odd end", l.info + 0x20, 4, static_cast<std::uint32_t>(l.strings - l.info - 1)},
        {"string count, huge", l.strings, 2, 0xFFFF},
        {"extra block size, huge", l.extra, 4, 0xFFFFFFFF},
        {"extra block size, below its header", l.extra, 4, 5},
        {"environment block, short", l.extra, 4, 0x20},
    };
    for (const Patch& p : patches) {
        SCOPED_TRACE(p.what);
        Blob b = l.bytes;
        ASSERT_LE(p.at + p.width, b.size());
        if (p.width == 1) b[p.at] = static_cast<unsigned char>(p.value);
        if (p.width == 2) Patch16(b, p.at, p.value);
        if (p.width == 4) Patch32(b, p.at, p.value);
        EXPECT_EQ(Read(b), std::nullopt);
    }
    // A string that runs to the end of the LinkInfo without its terminator.
    Blob unterminated = l.bytes;
    unterminated[l.strings - 1] = 'x';
    unterminated[l.strings - 2] = 'x';
    EXPECT_EQ(Read(unterminated), std::nullopt);
    EXPECT_EQ(Read(Blob()), std::nullopt);
    EXPECT_EQ(Read(Blob(0x4C, 0)), std::nullopt);
}

// Damage inside one item's own data is no damage to the shortcut: that item
// gives no name and the next source is tried.
TEST(ShellLinkTest, DamagedItemFallsBackToTheNextSource) {
    LinkSpec s;
    s.items = SampleItems(9);
    s.linkInfo = AnsiInfo(kSampleCp932);
    Blob& last = s.items->back();
    Blob broken = last;
    Patch16(broken, broken.size() - 2, 0xFFF0);  // extension block offset past the item
    last = broken;
    // The item still has its short name, so the item list gives a path...
    EXPECT_EQ(Read(Build(s)), Target(Kind::Absolute, u"C:\\samples\\\u30D5\u30A9\u30EB\u30C0\\0E0F~1.TXT"));
    // ...unless the short name was lost too: then the ANSI LinkInfo answers.
    s.items = SampleItems(9, false);
    Blob& lost = s.items->back();
    Patch16(lost, lost.size() - 2, 0xFFF0);
    EXPECT_EQ(Read(Build(s)), Target(Kind::Absolute, kSample));
    // A block whose size runs past the item.
    s.items = SampleItems(9, false);
    Blob& big = s.items->back();
    const std::size_t block = big[big.size() - 2] | big[big.size() - 1] << 8;
    Patch16(big, block, 0x7FFF);
    EXPECT_EQ(Read(Build(s)), Target(Kind::Absolute, kSample));
}

}  // namespace
}  // namespace rivak::test
