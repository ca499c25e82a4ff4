#pragma once
// The value of the extended attribute "user.DOSATTRIB", in which Samba and
// Wine keep the DOS attributes of a file on a POSIX file system. Two forms:
//   - hex text, "0x22" (Wine writes it without a NUL; Samba reads it with
//     sscanf("%x"), so "22", "0X22" and "0x22zz" are read too);
//   - an NDR record: a NUL-terminated hex text (empty from version 4 on), a
//     16-bit version, the same number again as the union level, then the
//     fields of that version, aligned as NDR aligns them (little-endian).
// Portable: bytes in, bytes out; no system call.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace rivak::posix {

inline constexpr char kDosAttribName[] = "user.DOSATTRIB";

struct DosAttrib {
    enum class Form { Hex, Ndr };
    Form form = Form::Hex;
    std::uint32_t attributes = 0;
    // NDR only: the version, where the 32-bit attribute word lies, and where
    // the leading hex text's digits lie (digitCount 0 when it holds none).
    std::uint16_t version = 0;
    std::size_t attribOffset = 0;
    std::size_t digitOffset = 0;
    std::size_t digitCount = 0;
};

// Empty when Samba could not read the value either, or would read a value
// it never defined (an empty or non-hex text, which sscanf leaves unset).
std::optional<DosAttrib> ParseDosAttrib(std::span<const unsigned char> value);

// The hex text form, as Wine writes it: "0x%x", no NUL.
std::string DosAttribHex(std::uint32_t attributes);

// `value` (parsed as `parsed`, which must be an NDR record) with its word
// replaced by `attributes`; every other byte is kept, the version and the
// creation time with them. The leading hex text, which Wine reads, follows
// the new word where its digits allow (zero-padded to their width).
std::vector<unsigned char> PatchDosAttrib(std::span<const unsigned char> value, const DosAttrib& parsed,
                                          std::uint32_t attributes);

}  // namespace rivak::posix
