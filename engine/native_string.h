#pragma once
// Paths and window texts stay in the platform's own string type: UTF-16 on
// Windows, bytes on POSIX. Nothing in the engine converts a name to another
// encoding, so a name the file system gave us is always handed back unchanged.
#include <string>
#include <vector>

namespace rivak {

#ifdef _WIN32
using NativeChar = wchar_t;
#define RIVAK_T(s) L##s
#else
using NativeChar = char;
#define RIVAK_T(s) s
#endif

using NativeString = std::basic_string<NativeChar>;
using Path = NativeString;

// The walker joins a folder and a name with exactly one separator.
#ifdef _WIN32
inline constexpr NativeChar kPathSeparator = L'\\';
#else
inline constexpr NativeChar kPathSeparator = '/';
#endif

// Windows matches names without regard to letter case. The names the program
// itself compares (".lnk", "desktop.ini", drive letters) are ASCII; it folds
// ASCII letters only, never a name it hands back to the file system.
inline constexpr NativeChar AsciiLower(NativeChar c) {
    return c >= NativeChar('A') && c <= NativeChar('Z') ? NativeChar(c - 'A' + 'a') : c;
}

// An ordered list of text rows: no sorting, duplicates and empty rows kept.
using PathList = std::vector<Path>;

}  // namespace rivak
