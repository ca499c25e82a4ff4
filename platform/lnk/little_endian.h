#pragma once
// The little-endian fields of the binary formats rivak reads from other
// people's files (shortcuts, Samba's records). An offset or a length past the
// end gives an empty optional, never a read outside the span.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace rivak::le {

using Bytes = std::span<const unsigned char>;

inline std::optional<std::uint16_t> U16(Bytes b, std::size_t at) {
    if (at > b.size() || b.size() - at < 2) return std::nullopt;
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

inline std::optional<std::uint32_t> U32(Bytes b, std::size_t at) {
    if (at > b.size() || b.size() - at < 4) return std::nullopt;
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

}  // namespace rivak::le
