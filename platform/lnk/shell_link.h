#pragma once
// A reader of shell shortcut files (.lnk) that needs no shell: the stored
// target of a shortcut, from the bytes of the file alone. Portable; the
// Windows program and the Linux one read shortcuts the same way.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace rivak::lnk {

struct ShellLinkTarget {
    enum class Kind {
        // A full Windows path: "C:\dir\name" or "\\server\share\dir\name",
        // made plain: backslashes only, "." and ".." applied but never above
        // the drive or the share, no separator at the end past "C:\". No
        // name in it holds a character Windows forbids in names.
        Absolute,
        // A path relative to the folder that holds the shortcut (".\a.txt").
        Relative,
        // The target is no file-system object (Control Panel, a printer):
        // path is "".
        NotAFile,
        // The target is only known through an environment variable or a
        // known folder, which only the system that made it can expand. path
        // holds the unexpanded form when the shortcut stores one
        // ("%WINDIR%\notepad.exe"), else "".
        Unresolvable,
    };
    Kind kind = Kind::NotAFile;
    std::u16string path;
    // Unresolvable through environment variables only: the full local path
    // stored beside them, which Windows opens unless the shortcut prefers
    // the expanded one (PreferEnvironmentPath). What a reader follows when
    // no shell can expand the variables for it.
    std::optional<std::u16string> localPath;

    bool operator==(const ShellLinkTarget&) const = default;
};

// Turns the shortcut's ANSI strings (in the code page of the system that
// made it) into UTF-16; nullopt when the bytes are not valid in
// that code page. May be empty: then ANSI strings are never used.
using AnsiDecoder = std::function<std::optional<std::u16string>(std::string_view bytes)>;

// Shortcuts are a few kilobytes; a larger file is no shortcut. Callers read
// at most this many bytes plus one.
inline constexpr std::size_t kMaxShellLinkSize = 1 << 20;

// The target the shortcut stores. Tried in this order: the LinkInfo's
// Unicode strings, the item list's file-system entries (their long names
// are kept in UTF-16), the LinkInfo's ANSI strings through decodeAnsi, the
// relative path. A target written with environment variables is reported
// as such ahead of all these. nullopt: not a shortcut, damaged, or larger
// than kMaxShellLinkSize; then `refusal`, when given, says why in a few words
// ("LinkInfo runs past the end of the file"). Reads nothing outside `data`,
// whatever it holds.
std::optional<ShellLinkTarget> ReadShellLink(std::span<const unsigned char> data, const AnsiDecoder& decodeAnsi,
                                             std::string* refusal = nullptr);

// UTF-16LE bytes (a shortcut's strings, iconv's output) as UTF-16; an odd
// last byte is left out.
std::u16string Utf16OfBytes(std::span<const unsigned char> bytes);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD (no Linux name can
// hold one, so such a path simply does not exist there).
std::string Utf8(std::u16string_view text);

}  // namespace rivak::lnk
