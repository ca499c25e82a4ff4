#pragma once
#include <cstdint>

namespace rivak {

// The DOS attribute word, as Windows numbers its bits.
using AttributeWord = std::uint32_t;

namespace attr {
inline constexpr AttributeWord kReadOnly = 1;
inline constexpr AttributeWord kHidden = 2;
inline constexpr AttributeWord kSystem = 4;
inline constexpr AttributeWord kVolume = 8;
inline constexpr AttributeWord kDirectory = 16;
inline constexpr AttributeWord kArchive = 32;
// The six bits the first program's word had; its rewrite kept no other.
inline constexpr AttributeWord kSixBits = kReadOnly | kHidden | kSystem | kVolume | kDirectory | kArchive;
}  // namespace attr

}  // namespace rivak
