#pragma once
// A reader of shell shortcut files (.lnk) that needs no shell: the stored
// target of a shortcut, from the bytes of the file alone. Portable; the
// Windows program and the Linux one read shortcuts the same way.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace rivak::lnk {

struct ShellLinkTarget {
    enum class Kind {
        // A full Windows path: "C:\dir\name" or "\\server\share\dir\name".
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

    bool operator==(const ShellLinkTarget&) const = default;
};

// Turns the LinkInfo's ANSI strings (in the code page of the system that
// made the shortcut) into UTF-16; nullopt when the bytes are not valid in
// that code page. May be empty: then ANSI strings are never used.
using AnsiDecoder = std::function<std::optional<std::u16string>(std::string_view bytes)>;

// The target the shortcut stores. Tried in this order: the LinkInfo's
// Unicode strings, the item list's file-system entries (their long names
// are kept in UTF-16), the LinkInfo's ANSI strings through decodeAnsi, the
// relative path. nullopt: not a shortcut, or damaged. Reads nothing outside
// `data`, whatever the file holds.
std::optional<ShellLinkTarget> ReadShellLink(std::span<const unsigned char> data, const AnsiDecoder& decodeAnsi);

}  // namespace rivak::lnk
