#pragma once
// Builds shell shortcut files byte by byte for the reader's tests: each part
// the reader looks at can be present, absent, or patched into damage.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rivak::test::lnk {

using Blob = std::vector<unsigned char>;
using Guid = std::array<unsigned char, 16>;

// As stored: the first three fields little-endian.
inline constexpr Guid kMyComputer = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                     0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
inline constexpr Guid kControlPanel = {0x20, 0x20, 0xEC, 0x21, 0xEA, 0x3A, 0x69, 0x10,
                                       0xA2, 0xDD, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
// The user's profile folder, {59031A47-3F72-44A7-89C5-5595FE6B30EE}.
inline constexpr Guid kUsersFiles = {0x47, 0x1A, 0x03, 0x59, 0x72, 0x3F, 0xA7, 0x44,
                                     0x89, 0xC5, 0x55, 0x95, 0xFE, 0x6B, 0x30, 0xEE};

inline void Put16(Blob& b, std::uint32_t v) {
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}
inline void Put32(Blob& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
inline void PutAnsi(Blob& b, std::string_view s, bool terminate = true) {
    b.insert(b.end(), s.begin(), s.end());
    if (terminate) b.push_back(0);
}
inline void PutUtf16(Blob& b, std::u16string_view s, bool terminate = true) {
    for (char16_t c : s) Put16(b, c);
    if (terminate) Put16(b, 0);
}
inline void Patch16(Blob& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}
inline void Patch32(Blob& b, std::size_t at, std::uint32_t v) {
    Patch16(b, at, v & 0xFFFF);
    Patch16(b, at + 2, v >> 16);
}

// A shell folder at the root of the item list (My Computer, Control Panel).
inline Blob RootItem(const Guid& folder) {
    Blob b;
    Put16(b, 0x14);
    b.push_back(0x1F);
    b.push_back(0x50);  // sort order
    b.insert(b.end(), folder.begin(), folder.end());
    return b;
}

// A drive of My Computer: "C:\" in a fixed field of 20 bytes.
inline Blob DriveItem(char letter) {
    Blob b;
    Put16(b, 0x19);
    b.push_back(0x2F);
    PutAnsi(b, std::string{letter, ':', '\\'});
    b.resize(0x19, 0);
    return b;
}

// A folder or file entry: its primary name in ANSI (the short name, or "?"
// for what the code page lacks), then an extension block of `version`
// (3, 7, 8 or 9) holding the long name in UTF-16. Version 0 writes the
// block the way Wine does (no version, no signature); -1 writes none.
inline Blob FileItem(std::u16string_view longName, std::string_view primary, bool folder, int version = 9) {
    Blob b(2, 0);
    b.push_back(folder ? 0x31 : 0x32);
    b.push_back(0);
    Put32(b, folder ? 0 : 1234);  // size
    Put32(b, 0x36775D87);         // FAT date and time
    Put16(b, folder ? 0x10 : 0x20);
    PutAnsi(b, primary);
    if (b.size() % 2) b.push_back(0);
    if (version >= 0) {
        const std::size_t block = b.size();
        Put16(b, 0);  // size, patched below
        Put16(b, static_cast<std::uint32_t>(version));
        Put32(b, version ? 0xBEEF0004 : 0);
        Put32(b, 0x36775D87);  // created
        Put32(b, 0x36775D87);  // accessed
        if (version == 0) {
            b.insert(b.end(), 4, 0);  // Wine: the name follows at once
        } else {
            Put16(b, version >= 9 ? 0x2E : version >= 8 ? 0x2A : version >= 7 ? 0x26 : 0x14);
            if (version >= 7) b.insert(b.end(), 18, 0);  // reserved word, file reference, reserved
            Put16(b, 0);                                 // no localized name
            if (version >= 9) Put32(b, 0);
            if (version >= 8) Put32(b, 0);
        }
        PutUtf16(b, longName);
        Put16(b, static_cast<std::uint32_t>(block));
        Patch16(b, block, static_cast<std::uint32_t>(b.size() - block));
    } else {
        Put16(b, 0);
    }
    Patch16(b, 0, static_cast<std::uint32_t>(b.size()));
    return b;
}

// A file entry whose primary name is already UTF-16 (type flag 0x04), with
// no extension block.
inline Blob UnicodeFileItem(std::u16string_view name) {
    Blob b(2, 0);
    b.push_back(0x36);
    b.push_back(0);
    b.insert(b.end(), 10, 0);
    PutUtf16(b, name);
    Put16(b, 0);
    Patch16(b, 0, static_cast<std::uint32_t>(b.size()));
    return b;
}

struct LinkInfoFields {
    std::optional<std::string> localBase;  // ANSI; the local-path flag
    std::optional<std::string> netName;    // ANSI; the network-share flag
    std::string suffix;                    // ANSI
    // With `unicode`, the longer header and these strings (empty: offset 0).
    bool unicode = false;
    std::u16string localBaseW, netNameW, suffixW;
};

inline Blob LinkInfo(const LinkInfoFields& fields) {
    const std::uint32_t headerSize = fields.unicode ? 0x24 : 0x1C;
    Blob b(headerSize, 0);
    Patch32(b, 4, headerSize);
    Patch32(b, 8, (fields.localBase ? 1 : 0) | (fields.netName ? 2 : 0));
    const auto here = [&] { return static_cast<std::uint32_t>(b.size()); };
    if (fields.localBase) {
        Patch32(b, 0x0C, here());
        Put32(b, 0x11);  // volume ID: size, fixed drive, serial, label offset, empty label
        Put32(b, 3);
        Put32(b, 0x1234ABCD);
        Put32(b, 0x10);
        b.push_back(0);
        Patch32(b, 0x10, here());
        PutAnsi(b, *fields.localBase);
    }
    if (fields.netName) {
        const std::size_t link = b.size();
        Patch32(b, 0x14, here());
        const std::uint32_t fixed = fields.unicode ? 0x1C : 0x14;
        b.resize(b.size() + fixed, 0);
        Patch32(b, link + 4, 2);  // the provider type is valid
        Patch32(b, link + 8, fixed);
        Patch32(b, link + 0x10, 0x00020000);  // a LanMan share
        PutAnsi(b, *fields.netName);
        if (fields.unicode) {
            Patch32(b, link + 0x14, static_cast<std::uint32_t>(b.size() - link));
            PutUtf16(b, fields.netNameW);
        }
        Patch32(b, link, static_cast<std::uint32_t>(b.size() - link));
    }
    Patch32(b, 0x18, here());
    PutAnsi(b, fields.suffix);
    if (fields.unicode) {
        if (fields.localBase) {
            Patch32(b, 0x1C, here());
            PutUtf16(b, fields.localBaseW);
        }
        Patch32(b, 0x20, here());
        PutUtf16(b, fields.suffixW);
    }
    Patch32(b, 0, here());
    return b;
}

// A target given as environment variables: "%USERPROFILE%\a.txt".
inline Blob EnvironmentBlock(std::string_view ansi, std::u16string_view wide) {
    Blob b;
    Put32(b, 0x314);
    Put32(b, 0xA0000001);
    Blob a(260, 0), w(520, 0);
    for (std::size_t i = 0; i < ansi.size() && i < 259; ++i) a[i] = static_cast<unsigned char>(ansi[i]);
    for (std::size_t i = 0; i < wide.size() && i < 259; ++i) Patch16(w, 2 * i, wide[i]);
    b.insert(b.end(), a.begin(), a.end());
    b.insert(b.end(), w.begin(), w.end());
    return b;
}

// The known folder the item list starts in, and where in the list.
inline Blob KnownFolderBlock(const Guid& folder, std::uint32_t offset) {
    Blob b;
    Put32(b, 0x1C);
    Put32(b, 0xA000000B);
    b.insert(b.end(), folder.begin(), folder.end());
    Put32(b, offset);
    return b;
}

struct LinkSpec {
    std::optional<std::vector<Blob>> items;
    std::optional<Blob> linkInfo;
    // Strings in UTF-16 (IsUnicode); with `ansi`, these are written as the
    // bytes of `relativeAnsi` instead and IsUnicode is cleared.
    std::optional<std::u16string> description, relative, workingDir;
    bool ansi = false;
    std::optional<std::string> relativeAnsi;
    std::vector<Blob> extra;
    std::uint32_t moreFlags = 0;
};

inline Blob Build(const LinkSpec& fields) {
    Blob b;
    Put32(b, 0x4C);
    const Guid clsid = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    b.insert(b.end(), clsid.begin(), clsid.end());
    const bool relative = fields.ansi ? fields.relativeAnsi.has_value() : fields.relative.has_value();
    std::uint32_t flags = fields.moreFlags | (fields.items ? 0x1 : 0) | (fields.linkInfo ? 0x2 : 0) |
                          (fields.description ? 0x4 : 0) | (relative ? 0x8 : 0) | (fields.workingDir ? 0x10 : 0) |
                          (fields.ansi ? 0 : 0x80);
    for (const Blob& block : fields.extra) {
        if (block.size() >= 8 && block[4] == 0x01 && block[7] == 0xA0) flags |= 0x200;  // HasExpString
    }
    Put32(b, flags);
    b.resize(0x4C, 0);
    Patch32(b, 0x3C, 1);  // show normally
    if (fields.items) {
        Blob list;
        for (const Blob& item : *fields.items) list.insert(list.end(), item.begin(), item.end());
        Put16(list, 0);
        Put16(b, static_cast<std::uint32_t>(list.size()));
        b.insert(b.end(), list.begin(), list.end());
    }
    if (fields.linkInfo) b.insert(b.end(), fields.linkInfo->begin(), fields.linkInfo->end());
    const auto putString = [&](const std::optional<std::u16string>& s, const std::optional<std::string>& ansi) {
        if (fields.ansi && ansi) {
            Put16(b, static_cast<std::uint32_t>(ansi->size()));
            PutAnsi(b, *ansi, false);
        } else if (s) {
            Put16(b, static_cast<std::uint32_t>(s->size()));
            if (fields.ansi) {
                for (char16_t c : *s) b.push_back(static_cast<unsigned char>(c));
            } else {
                PutUtf16(b, *s, false);
            }
        }
    };
    putString(fields.description, std::nullopt);
    putString(fields.ansi ? std::nullopt : fields.relative, fields.relativeAnsi);
    putString(fields.workingDir, std::nullopt);
    for (const Blob& block : fields.extra) b.insert(b.end(), block.begin(), block.end());
    Put32(b, 0);  // terminal block
    return b;
}

}  // namespace rivak::test::lnk
