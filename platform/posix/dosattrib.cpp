#include "platform/posix/dosattrib.h"

#include "platform/lnk/little_endian.h"

namespace rivak::posix {

namespace {

int HexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The text as sscanf("%x") reads it: blanks, an optional 0x, then hex digits
// up to the first other character. A sign, no digit at all or more than 32
// bits are refused: Samba would store a value nobody meant.
std::optional<std::uint32_t> ScanHex(std::span<const unsigned char> text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; i < text.size(); ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0) break;
        value = value * 16 + static_cast<unsigned>(d);
        if (value > 0xFFFFFFFFu) return std::nullopt;
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::size_t AlignUp(std::size_t offset, std::size_t to) { return (offset + to - 1) / to * to; }

struct Layout {
    std::size_t attrib;  // offset of the word within the version's fields
    std::size_t size;    // bytes the fixed fields take
};

// Fixed fields of each version (NTTIME and 64-bit sizes are aligned to 4 in
// NDR, so no field has padding before it). Version 2 ends with a UTF-8 name
// of any length, which only needs to be there up to the end of the value.
std::optional<Layout> LayoutOf(std::uint16_t version) {
    switch (version) {
    case 1: return Layout{0, 40};  // attrib, ea_size, size, alloc_size, create, change
    case 2: return Layout{4, 52};  // flags, then as 1, then write_time; name follows
    case 3: return Layout{4, 44};  // valid_flags, then as 1
    case 4: return Layout{4, 24};  // valid_flags, attrib, itime, create_time
    case 5: return Layout{4, 16};  // valid_flags, attrib, create_time
    default: return std::nullopt;
    }
}

}  // namespace

std::optional<DosAttrib> ParseDosAttrib(std::span<const unsigned char> value) {
    if (value.empty()) return std::nullopt;
    std::size_t nul = 0;
    while (nul < value.size() && value[nul] != 0) ++nul;
    const std::span<const unsigned char> text = value.first(nul);

    // Nothing after the text (and its NUL, if any): the hex form.
    if (nul + 1 >= value.size()) {
        const std::optional<std::uint32_t> word = ScanHex(text);
        if (!word) return std::nullopt;
        return DosAttrib{DosAttrib::Form::Hex, *word};
    }

    DosAttrib parsed;
    parsed.form = DosAttrib::Form::Ndr;
    std::size_t at = AlignUp(nul + 1, 2);
    const std::optional<std::uint16_t> version = le::U16(value, at), level = le::U16(value, at + 2);
    if (!version || level != version) return std::nullopt;  // the union's level is the version
    parsed.version = *version;
    const std::optional<Layout> layout = LayoutOf(parsed.version);
    if (!layout) return std::nullopt;
    at = AlignUp(at + 4, 4);
    if (at + layout->size > value.size()) return std::nullopt;
    parsed.attribOffset = at + layout->attrib;
    parsed.attributes = le::U32(value, parsed.attribOffset).value();  // inside the layout checked above
    if (text.size() > 2 && text[0] == '0' && text[1] == 'x') {
        bool allHex = true;
        for (std::size_t i = 2; i < text.size(); ++i) allHex = allHex && HexDigit(text[i]) >= 0;
        if (allHex) {
            parsed.digitOffset = 2;
            parsed.digitCount = text.size() - 2;
        }
    }
    return parsed;
}

std::string DosAttribHex(std::uint32_t attributes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string digits;
    do {
        digits.insert(digits.begin(), kDigits[attributes % 16]);
        attributes /= 16;
    } while (attributes);
    return "0x" + digits;
}

std::vector<unsigned char> PatchDosAttrib(std::span<const unsigned char> value, const DosAttrib& parsed,
                                          std::uint32_t attributes) {
    std::vector<unsigned char> out(value.begin(), value.end());
    if (parsed.form != DosAttrib::Form::Ndr || parsed.attribOffset + 4 > out.size()) return out;
    for (int i = 0; i < 4; ++i) out[parsed.attribOffset + i] = static_cast<unsigned char>(attributes >> (8 * i));

    const std::string hex = DosAttribHex(attributes).substr(2);
    if (parsed.digitCount == 0 || hex.size() > parsed.digitCount ||
        parsed.digitOffset + parsed.digitCount > out.size())
        return out;
    const std::size_t pad = parsed.digitCount - hex.size();
    for (std::size_t i = 0; i < parsed.digitCount; ++i)
        out[parsed.digitOffset + i] = static_cast<unsigned char>(i < pad ? '0' : hex[i - pad]);
    return out;
}

}  // namespace rivak::posix
