// The user.DOSATTRIB codec: every form Samba and Wine write, damaged values,
// and the in-place patch of Samba's records.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/posix/dosattrib.h"

namespace rivak::posix {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Fixture(const std::string& name) {
    std::ifstream in(std::string(RIVAK_FIXTURES) + "/dosattrib/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A record of `version` built field by field as Samba's encoder lays it out.
Bytes Record(const std::string& hex, std::uint16_t version, std::uint16_t level, std::size_t fieldBytes,
             std::size_t attribAt, std::uint32_t attrib) {
    Bytes v(hex.begin(), hex.end());
    v.push_back(0);
    while (v.size() % 2) v.push_back(0);
    v.push_back(version & 0xFF), v.push_back(version >> 8);
    v.push_back(level & 0xFF), v.push_back(level >> 8);
    while (v.size() % 4) v.push_back(0);
    const std::size_t start = v.size();
    v.resize(start + fieldBytes, 0xEE);
    for (int i = 0; i < 4; ++i) v[start + attribAt + i] = static_cast<unsigned char>(attrib >> (8 * i));
    return v;
}

TEST(DosAttrib, SambaFixtures) {
    struct Row { const char* file; std::uint16_t version; std::uint32_t word; std::size_t at; };
    for (const Row& r : {Row{"samba-v1-0x22.bin", 1, 0x22, 12}, Row{"samba-v3-0x22.bin", 3, 0x22, 16},
                         Row{"samba-v5-0x02.bin", 5, 0x02, 12}}) {
        const Bytes value = Fixture(r.file);
        const auto parsed = ParseDosAttrib(value);
        ASSERT_TRUE(parsed) << r.file;
        EXPECT_EQ(parsed->form, DosAttrib::Form::Ndr) << r.file;
        EXPECT_EQ(parsed->version, r.version) << r.file;
        EXPECT_EQ(parsed->attributes, r.word) << r.file;
        EXPECT_EQ(parsed->attribOffset, r.at) << r.file;
    }
}

TEST(DosAttrib, HexTextAsSambaReadsIt) {
    struct Row { std::string value; std::optional<std::uint32_t> word; };
    const Row rows[] = {
        {"0x2", 2},          {std::string("0x2\0", 4), 2}, {"2", 2},       {"0X2", 2},
        {"0x2zz", 2},        {"0x22", 0x22},               {" 0x10", 0x10}, {"0xffffffff", 0xffffffffu},
        {"", std::nullopt},  {"zz", std::nullopt},         {"0x", std::nullopt},
        {"-1", std::nullopt}, {"0x100000000", std::nullopt}, {std::string("\0", 1), std::nullopt},
    };
    for (const Row& r : rows) {
        const auto parsed = ParseDosAttrib(Text(r.value));
        ASSERT_EQ(parsed.has_value(), r.word.has_value()) << testing::PrintToString(r.value);
        if (!parsed) continue;
        EXPECT_EQ(parsed->form, DosAttrib::Form::Hex);
        EXPECT_EQ(parsed->attributes, *r.word) << testing::PrintToString(r.value);
    }
}

TEST(DosAttrib, EveryVersionSambaReads) {
    struct Row { const char* hex; std::uint16_t version; std::size_t fields; std::size_t at; };
    const Row rows[] = {
        {"0x21", 1, 40, 0}, {"0x21", 2, 52, 4}, {"0x21", 3, 44, 4}, {"", 4, 24, 4}, {"", 5, 16, 4},
        {"0x1", 1, 40, 0},  // a shorter text moves the fields
    };
    for (const Row& r : rows) {
        const Bytes value = Record(r.hex, r.version, r.version, r.fields, r.at, 0x21);
        const auto parsed = ParseDosAttrib(value);
        ASSERT_TRUE(parsed) << "version " << r.version;
        EXPECT_EQ(parsed->version, r.version);
        EXPECT_EQ(parsed->attributes, 0x21u) << "version " << r.version;
    }
}

TEST(DosAttrib, DamagedRecordsAreRefused) {
    const Bytes v5 = Fixture("samba-v5-0x02.bin");
    for (std::size_t n = 2; n < v5.size(); ++n)  // every truncation past the text
        EXPECT_FALSE(ParseDosAttrib(Bytes(v5.begin(), v5.begin() + n))) << n << " bytes";
    EXPECT_FALSE(ParseDosAttrib(Record("", 6, 6, 16, 4, 2))) << "unknown version";
    EXPECT_FALSE(ParseDosAttrib(Record("", 0xFFFF, 0xFFFF, 16, 4, 2))) << "the text-only marker";
    EXPECT_FALSE(ParseDosAttrib(Record("", 5, 4, 24, 4, 2))) << "level differs from version";
    EXPECT_FALSE(ParseDosAttrib(Record("0x22", 1, 1, 39, 0, 2))) << "one byte short";
    Bytes tail = Record("", 5, 5, 16, 4, 2);
    tail.push_back(0x99);
    EXPECT_TRUE(ParseDosAttrib(tail)) << "bytes after the record are allowed";
}

TEST(DosAttrib, PatchKeepsEveryOtherByte) {
    for (const char* file : {"samba-v1-0x22.bin", "samba-v3-0x22.bin", "samba-v5-0x02.bin"}) {
        const Bytes value = Fixture(file);
        const auto parsed = ParseDosAttrib(value);
        ASSERT_TRUE(parsed);
        const std::uint32_t next = parsed->attributes ^ 0x3;
        const Bytes patched = PatchDosAttrib(value, *parsed, next);
        ASSERT_EQ(patched.size(), value.size()) << file;
        const auto again = ParseDosAttrib(patched);
        ASSERT_TRUE(again) << file;
        EXPECT_EQ(again->attributes, next) << file;
        EXPECT_EQ(again->version, parsed->version) << file;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const bool word = i >= parsed->attribOffset && i < parsed->attribOffset + 4;
            const bool digit = i >= parsed->digitOffset && i < parsed->digitOffset + parsed->digitCount;
            if (!word && !digit) {
                EXPECT_EQ(patched[i], value[i]) << file << " byte " << i;
            }
        }
    }
}

TEST(DosAttrib, PatchKeepsTheTextWineReadsInStep) {
    const Bytes v1 = Fixture("samba-v1-0x22.bin");  // "0x22"
    const auto parsed = ParseDosAttrib(v1);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->digitCount, 2u);
    Bytes patched = PatchDosAttrib(v1, *parsed, 0x20);
    EXPECT_EQ(std::string(patched.begin(), patched.begin() + 4), "0x20");
    patched = PatchDosAttrib(v1, *parsed, 0x3);
    EXPECT_EQ(std::string(patched.begin(), patched.begin() + 4), "0x03") << "zero-padded to the width";
    patched = PatchDosAttrib(v1, *parsed, 0x123);
    EXPECT_EQ(std::string(patched.begin(), patched.begin() + 4), "0x22") << "too wide: the text stays";
    EXPECT_EQ(ParseDosAttrib(patched)->attributes, 0x123u);
}

TEST(DosAttrib, HexIsWrittenAsWineWritesIt) {
    EXPECT_EQ(DosAttribHex(0), "0x0");
    EXPECT_EQ(DosAttribHex(2), "0x2");
    EXPECT_EQ(DosAttribHex(0x22), "0x22");
    EXPECT_EQ(DosAttribHex(0xdeadbeef), "0xdeadbeef");
}

}  // namespace
}  // namespace rivak::posix
