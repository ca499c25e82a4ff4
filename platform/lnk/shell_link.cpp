#include "platform/lnk/shell_link.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "platform/lnk/little_endian.h"

namespace rivak::lnk {

namespace {

using le::Bytes;
using le::U16;
using le::U32;
using Kind = ShellLinkTarget::Kind;
using Guid = std::array<unsigned char, 16>;

// Link flags of the header.
constexpr std::uint32_t kHasIdList = 0x1;
constexpr std::uint32_t kHasLinkInfo = 0x2;
constexpr std::uint32_t kHasRelativePath = 0x8;
constexpr std::uint32_t kIsUnicode = 0x80;
constexpr std::uint32_t kForceNoLinkInfo = 0x100;
constexpr std::uint32_t kHasExpString = 0x200;
constexpr std::uint32_t kPreferEnvironmentPath = 0x2000000;
// The five optional strings follow in this order, each present by its flag:
// name, relative path, working folder, arguments, icon location.
constexpr std::uint32_t kStringFlags[] = {0x4, kHasRelativePath, 0x10, 0x20, 0x40};

// LinkInfo flags.
constexpr std::uint32_t kVolumeIdAndLocalBasePath = 0x1;
constexpr std::uint32_t kCommonNetworkRelativeLink = 0x2;

// Extra data block signatures.
constexpr std::uint32_t kEnvironmentBlock = 0xA0000001;
constexpr std::uint32_t kSpecialFolderBlock = 0xA0000005;
constexpr std::uint32_t kKnownFolderBlock = 0xA000000B;
constexpr std::size_t kEnvironmentBlockSize = 0x314;

// The extension block of a file entry that keeps its long name in UTF-16.
constexpr std::uint32_t kFileEntryExtension = 0xBEEF0004;

constexpr std::size_t kHeaderSize = 0x4C;
constexpr Guid kShellLinkClsid = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                  0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
// {20D04FE0-3AEA-1069-A2D8-08002B30309D}, as stored (little-endian fields).
constexpr Guid kMyComputer = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                              0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
// Shell folders whose items are never files: Control Panel (both views),
// Printers, Recycle Bin, Network Connections.
constexpr Guid kNonFileFolders[] = {
    {0x20, 0x20, 0xEC, 0x21, 0xEA, 0x3A, 0x69, 0x10, 0xA2, 0xDD, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D},
    {0x68, 0x06, 0xEE, 0x26, 0x0A, 0xA0, 0xD7, 0x44, 0x93, 0x71, 0xBE, 0xB0, 0x64, 0xC9, 0x86, 0x83},
    {0x80, 0xA2, 0x27, 0x22, 0xEA, 0x3A, 0x69, 0x10, 0xA2, 0xDE, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D},
    {0x40, 0xF0, 0x5F, 0x64, 0x81, 0x50, 0x1B, 0x10, 0x9F, 0x08, 0x00, 0xAA, 0x00, 0x2F, 0x95, 0x4E},
    {0xC7, 0xAC, 0x07, 0x70, 0x02, 0x32, 0xD1, 0x11, 0xAA, 0xD2, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E},
};

bool GuidAt(Bytes b, std::size_t at, const Guid& guid) {
    return at <= b.size() && b.size() - at >= guid.size() && std::equal(guid.begin(), guid.end(), b.begin() + at);
}

// A NUL-terminated byte string that starts at `at` and ends inside `b`.
std::optional<std::string_view> AnsiAt(Bytes b, std::size_t at) {
    if (at >= b.size()) return std::nullopt;
    const void* end = std::memchr(b.data() + at, 0, b.size() - at);
    if (!end) return std::nullopt;
    const char* begin = reinterpret_cast<const char*>(b.data() + at);
    return std::string_view(begin, static_cast<std::size_t>(static_cast<const char*>(end) - begin));
}

// A NUL-terminated UTF-16 string that starts at `at` and ends inside `b`.
std::optional<std::u16string> Utf16At(Bytes b, std::size_t at) {
    std::u16string text;
    for (std::size_t i = at; i <= b.size() && b.size() - i >= 2; i += 2) {
        const char16_t c = static_cast<char16_t>(b[i] | b[i + 1] << 8);
        if (c == 0) return text;
        text.push_back(c);
    }
    return std::nullopt;
}


std::optional<std::u16string> Decode(const AnsiDecoder& decode, std::string_view bytes) {
    if (bytes.empty()) return std::u16string();
    if (!decode) return std::nullopt;
    return decode(bytes);
}

// Field offsets of the LinkInfo structure, as [MS-SHLLINK] 2.3 names them.
namespace link_info {
constexpr std::size_t kSize = 0x00;
constexpr std::size_t kHeaderSize = 0x04;
constexpr std::size_t kFlags = 0x08;
constexpr std::size_t kLocalBasePathOffset = 0x10;
constexpr std::size_t kCommonNetworkRelativeLinkOffset = 0x14;
constexpr std::size_t kCommonPathSuffixOffset = 0x18;
constexpr std::size_t kLocalBasePathOffsetUnicode = 0x1C;
constexpr std::size_t kCommonPathSuffixOffsetUnicode = 0x20;
constexpr std::size_t kMinimumHeaderSize = 0x1C;
constexpr std::size_t kUnicodeHeaderSize = 0x24;  // with the two Unicode offsets
}  // namespace link_info

// Field offsets of CommonNetworkRelativeLink ([MS-SHLLINK] 2.3.2).
namespace network_link {
constexpr std::size_t kSize = 0x00;
constexpr std::size_t kNetNameOffset = 0x08;
constexpr std::size_t kNetNameOffsetUnicode = 0x14;
constexpr std::size_t kMinimumSize = 0x14;
}  // namespace network_link

// Shell items of the LinkTargetIDList. The byte after an item's size is its
// type: a class in bits 4 to 6, flags below. Microsoft does not document
// them; the values are those Windows Explorer writes.
namespace shell_item {
constexpr std::size_t kType = 0x02;
constexpr std::size_t kRootFolderClsid = 0x04;     // the folder's CLSID (My Computer...)
constexpr std::size_t kVolumeName = 0x03;          // the drive letter of a drive item ("C:")
constexpr std::size_t kFileEntryPrimaryName = 0x0E;
constexpr unsigned char kRootFolder = 0x1F;
constexpr unsigned char kClassMask = 0x70;
constexpr unsigned char kVolumeClass = 0x20;
constexpr unsigned char kVolumeHasName = 0x01;
constexpr unsigned char kFileEntryClass = 0x30;
constexpr unsigned char kFileEntryUnicode = 0x04;  // the primary name is UTF-16, not ANSI
}  // namespace shell_item

// Why a file is no shortcut this reader follows; the first reason stands.
class Refusal {
public:
    explicit Refusal(std::string* why) : why_(why) {}
    template <typename T>
    std::optional<T> operator()(const char* reason) const {
        if (why_ && why_->empty()) *why_ = reason;
        return std::nullopt;
    }

private:
    std::string* why_;
};

// The LinkInfo's strings. A string whose offset is set must end inside the
// LinkInfo, or the shortcut is damaged.
struct LinkInfo {
    bool local = false, network = false;
    std::string_view localBase, netName, suffix;
    std::optional<std::u16string> localBaseW, netNameW, suffixW;
};

std::optional<LinkInfo> ParseLinkInfo(Bytes info, const Refusal& refuse) {
    namespace li = link_info;
    const std::optional<std::uint32_t> headerSize = U32(info, li::kHeaderSize), flags = U32(info, li::kFlags);
    if (!headerSize || !flags || *headerSize < li::kMinimumHeaderSize || *headerSize > info.size())
        return refuse.operator()<LinkInfo>("the LinkInfo header is damaged");
    const bool unicode = *headerSize >= li::kUnicodeHeaderSize;
    LinkInfo out;
    out.local = *flags & kVolumeIdAndLocalBasePath;
    out.network = *flags & kCommonNetworkRelativeLink;

    const auto ansi = [&](std::size_t field, std::string_view& to) {
        const std::optional<std::uint32_t> offset = U32(info, field);
        if (!offset) return false;
        if (*offset == 0) return true;
        const std::optional<std::string_view> text = AnsiAt(info, *offset);
        if (text) to = *text;
        return text.has_value();
    };
    const auto wide = [&](Bytes within, std::size_t field, std::optional<std::u16string>& to) {
        const std::optional<std::uint32_t> offset = U32(within, field);
        if (!offset) return false;
        if (*offset == 0) return true;
        to = Utf16At(within, *offset);
        return to.has_value();
    };

    const char* kRunsPast = "a LinkInfo string runs past the end of the LinkInfo";
    if (!ansi(li::kCommonPathSuffixOffset, out.suffix)) return refuse.operator()<LinkInfo>(kRunsPast);
    if (unicode && !wide(info, li::kCommonPathSuffixOffsetUnicode, out.suffixW)) return refuse.operator()<LinkInfo>(kRunsPast);
    if (out.local) {
        if (!ansi(li::kLocalBasePathOffset, out.localBase)) return refuse.operator()<LinkInfo>(kRunsPast);
        if (unicode && !wide(info, li::kLocalBasePathOffsetUnicode, out.localBaseW)) return refuse.operator()<LinkInfo>(kRunsPast);
    }
    if (out.network) {
        const char* kDamaged = "the LinkInfo's network link is damaged";
        const std::optional<std::uint32_t> at = U32(info, li::kCommonNetworkRelativeLinkOffset);
        if (!at || *at == 0 || *at > info.size()) return refuse.operator()<LinkInfo>(kDamaged);
        const std::optional<std::uint32_t> size = U32(info, *at + network_link::kSize);
        if (!size || *size < network_link::kMinimumSize || *size > info.size() - *at)
            return refuse.operator()<LinkInfo>(kDamaged);
        const Bytes link = info.subspan(*at, *size);
        const std::optional<std::uint32_t> nameAt = U32(link, network_link::kNetNameOffset);
        if (!nameAt) return refuse.operator()<LinkInfo>(kDamaged);
        const std::optional<std::string_view> name = AnsiAt(link, *nameAt);
        if (!name) return refuse.operator()<LinkInfo>(kDamaged);
        out.netName = *name;
        // The Unicode name exists only in the longer form of the structure.
        if (*nameAt > network_link::kMinimumSize && !wide(link, network_link::kNetNameOffsetUnicode, out.netNameW))
            return refuse.operator()<LinkInfo>(kDamaged);
    }
    return out;
}

// The parts of a shortcut the target can come from.
struct ShellLink {
    std::uint32_t flags = 0;
    std::vector<Bytes> items;  // the item list, without its terminator
    std::optional<LinkInfo> info;
    std::optional<Bytes> relativePath;  // UTF-16 or ANSI by kIsUnicode
    std::optional<std::u16string> environmentW;
    std::string_view environment;
    bool knownFolder = false;
};

// Items: a 16-bit size each (the size counts itself), then a zero size.
bool ParseItems(Bytes list, std::vector<Bytes>& items) {
    std::size_t at = 0;
    for (;;) {
        const std::optional<std::uint16_t> size = U16(list, at);
        if (!size) return false;
        if (*size == 0) return at + 2 == list.size();
        if (*size < 3 || *size > list.size() - at) return false;
        items.push_back(list.subspan(at, *size));
        at += *size;
    }
}

// ShellLinkHeader fields ([MS-SHLLINK] 2.1).
constexpr std::size_t kHeaderLinkClsid = 0x04;
constexpr std::size_t kHeaderLinkFlags = 0x14;
// ExtraData block header: BlockSize, then BlockSignature.
constexpr std::size_t kBlockSignature = 0x04;
// EnvironmentVariableDataBlock: TargetAnsi (260 bytes), TargetUnicode (260 characters).
constexpr std::size_t kTargetAnsi = 0x08, kTargetAnsiSize = 260;
constexpr std::size_t kTargetUnicode = kTargetAnsi + kTargetAnsiSize, kTargetUnicodeSize = 520;

std::optional<ShellLink> Parse(Bytes data, const Refusal& refuse) {
    if (data.size() > kMaxShellLinkSize) return refuse.operator()<ShellLink>("larger than any shortcut");
    if (U32(data, 0) != kHeaderSize || !GuidAt(data, kHeaderLinkClsid, kShellLinkClsid) || data.size() < kHeaderSize)
        return refuse.operator()<ShellLink>("no shortcut header");
    ShellLink link;
    link.flags = *U32(data, kHeaderLinkFlags);
    std::size_t at = kHeaderSize;

    if (link.flags & kHasIdList) {
        const std::optional<std::uint16_t> size = U16(data, at);
        if (!size || *size > data.size() - at - 2) return refuse.operator()<ShellLink>("the item list runs past the end of the file");
        if (!ParseItems(data.subspan(at + 2, *size), link.items)) return refuse.operator()<ShellLink>("the item list is damaged");
        at += 2 + *size;
    }
    if (link.flags & kHasLinkInfo) {
        const std::optional<std::uint32_t> size = U32(data, at + link_info::kSize);
        if (!size || *size < link_info::kMinimumHeaderSize || *size > data.size() - at)
            return refuse.operator()<ShellLink>("LinkInfo runs past the end of the file");
        link.info = ParseLinkInfo(data.subspan(at, *size), refuse);
        if (!link.info) return std::nullopt;
        at += *size;
    }
    const std::size_t unit = link.flags & kIsUnicode ? 2 : 1;
    for (std::uint32_t flag : kStringFlags) {
        if (!(link.flags & flag)) continue;
        const std::optional<std::uint16_t> count = U16(data, at);
        if (!count || *count * unit > data.size() - at - 2)
            return refuse.operator()<ShellLink>("a string runs past the end of the file");
        if (flag == kHasRelativePath) link.relativePath = data.subspan(at + 2, *count * unit);
        at += 2 + *count * unit;
    }
    // Extra data blocks, up to a terminal block whose size is below 4.
    for (;;) {
        const std::optional<std::uint32_t> size = U32(data, at);
        if (!size) return refuse.operator()<ShellLink>("the extra data has no terminal block");
        if (*size < 4) break;
        if (*size < 8 || *size > data.size() - at)
            return refuse.operator()<ShellLink>("an extra data block runs past the end of the file");
        const Bytes block = data.subspan(at, *size);
        const std::uint32_t signature = *U32(block, kBlockSignature);
        if (signature == kEnvironmentBlock) {
            if (block.size() < kEnvironmentBlockSize) return refuse.operator()<ShellLink>("the environment block is too short");
            const std::optional<std::string_view> ansi = AnsiAt(block.subspan(kTargetAnsi, kTargetAnsiSize), 0);
            link.environment = ansi.value_or(std::string_view());
            link.environmentW = Utf16At(block.subspan(kTargetUnicode, kTargetUnicodeSize), 0);
        } else if (signature == kKnownFolderBlock || signature == kSpecialFolderBlock) {
            link.knownFolder = true;
        }
        at += *size;
    }
    return link;
}

// True for a character no Windows file name holds. A '?' is also what a code
// page conversion leaves for a character it lacks.
bool Forbidden(char16_t c) {
    return c < 0x20 || c == u'"' || c == u'*' || c == u'<' || c == u'>' || c == u'?' || c == u'|';
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// "X:\..." or "\\server\share..." made plain: one backslash between names,
// "." and ".." applied the way Windows opens such a path (never above the
// drive or the share), no trailing separator past the root. nullopt for
// anything else, so a crafted name can never lead outside the root the
// caller maps.
std::optional<std::u16string> AbsolutePath(const std::u16string& given) {
    // The long-path forms "\\?\C:\..." and "\\?\UNC\server\share\...".
    std::u16string path = given;
    if (path.starts_with(u"\\\\?\\UNC\\")) {
        path.erase(2, 6);
    } else if (path.starts_with(u"\\\\?\\")) {
        path.erase(0, 4);
    }
    if (std::any_of(path.begin(), path.end(), Forbidden)) return std::nullopt;
    const bool drive = path.size() >= 2 && path[1] == u':' &&
                       ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
    const bool unc = path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
    // "C:dir" is relative to a drive's current folder: no stored target.
    if (drive ? path.size() > 2 && !IsSeparator(path[2]) : !unc) return std::nullopt;

    std::vector<std::u16string> names;
    for (std::size_t i = 2; i <= path.size();) {
        std::size_t end = i;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        names.push_back(path.substr(i, end - i));
        i = end + 1;
    }
    std::u16string out;
    std::size_t rootNames = 0;
    if (drive) {
        out = path.substr(0, 2) + u"\\";
    } else {
        // The server and the share are the root of a network path.
        if (names.size() < 2) return std::nullopt;
        for (std::size_t i = 0; i < 2; ++i) {
            if (names[i].empty() || names[i] == u"." || names[i] == u".." || names[i].find(u':') != std::u16string::npos)
                return std::nullopt;
        }
        out = u"\\\\" + names[0] + u"\\" + names[1];
        rootNames = 2;
    }
    std::vector<std::u16string> kept;
    for (std::size_t i = rootNames; i < names.size(); ++i) {
        if (names[i].find(u':') != std::u16string::npos) return std::nullopt;  // a stream, or no path at all
        if (names[i].empty() || names[i] == u".") continue;
        if (names[i] == u"..") {
            if (!kept.empty()) kept.pop_back();
            continue;
        }
        kept.push_back(std::move(names[i]));
    }
    for (const std::u16string& name : kept) {
        if (out.back() != u'\\') out += u'\\';
        out += name;
    }
    return out;
}

// The base and the suffix name one path: "C:\Users\" + "Administrator", or
// "\\server\share" + "dir\file".
std::optional<std::u16string> Join(const std::u16string& base, const std::u16string& suffix) {
    if (base.empty()) return std::nullopt;
    return AbsolutePath(suffix.empty() ? base : base + u"\\" + suffix);
}

std::optional<std::u16string> LinkInfoUnicodePath(const LinkInfo& info) {
    // A part stored only in ANSI is fine when it is empty.
    const auto part = [](const std::optional<std::u16string>& w, std::string_view a) -> std::optional<std::u16string> {
        if (w) return w;
        if (a.empty()) return std::u16string();
        return std::nullopt;
    };
    const std::optional<std::u16string> suffix = part(info.suffixW, info.suffix);
    if (!suffix) return std::nullopt;
    for (const bool local : {true, false}) {
        if (!(local ? info.local : info.network)) continue;
        const std::optional<std::u16string> base = local ? part(info.localBaseW, info.localBase)
                                                         : part(info.netNameW, info.netName);
        if (!base) continue;
        if (std::optional<std::u16string> path = Join(*base, *suffix)) return path;
    }
    return std::nullopt;
}

std::optional<std::u16string> LinkInfoAnsiPath(const LinkInfo& info, const AnsiDecoder& decode) {
    const std::optional<std::u16string> suffix = Decode(decode, info.suffix);
    if (!suffix) return std::nullopt;
    for (const bool local : {true, false}) {
        if (!(local ? info.local : info.network)) continue;
        const std::optional<std::u16string> base = Decode(decode, local ? info.localBase : info.netName);
        if (!base) continue;
        if (std::optional<std::u16string> path = Join(*base, *suffix)) return path;
    }
    return std::nullopt;
}

// Where the long name starts in the file entry extension block (signature
// 0xBEEF0004): each version added fields ahead of it.
std::size_t LongNameOffset(std::uint16_t version) {
    constexpr std::size_t kVersion3 = 0x14;  // sizes, version, signature, two times, a word
    constexpr std::size_t kVersion7 = 0x26;  // + file reference, a word, a 32-bit value
    constexpr std::size_t kVersion8 = 0x2A;  // + another 32-bit value
    constexpr std::size_t kVersion9 = 0x2E;  // + one more
    return version >= 9 ? kVersion9 : version == 8 ? kVersion8 : version == 7 ? kVersion7 : kVersion3;
}

// The long name in a file entry's extension block. Windows writes the block
// with version 3 and up and signature 0xBEEF0004; Wine's shell writes the
// same layout as version 3 with version and signature left zero. The item's
// last 16-bit word gives the offset of its first extension block, which
// starts after the primary name (`from`).
std::optional<std::u16string> ExtensionName(Bytes item, std::size_t from) {
    const Bytes blocks = item.first(item.size() - 2);
    for (std::size_t at = *U16(item, item.size() - 2); at >= from;) {
        const std::optional<std::uint16_t> size = U16(blocks, at), version = U16(blocks, at + 2);
        const std::optional<std::uint32_t> signature = U32(blocks, at + 4);
        if (!size || !version || !signature || *size < 8 || *size > item.size() - at) return std::nullopt;
        std::size_t nameAt = 0;
        if (*signature == kFileEntryExtension && *version >= 3) {
            nameAt = LongNameOffset(*version);
        } else if (*signature == 0 && *version == 0) {
            nameAt = 20;
        } else {
            at += *size;
            continue;
        }
        // The block ends with the word that points back at it.
        return Utf16At(item.subspan(at, *size - 2), nameAt);
    }
    return std::nullopt;
}

// A file entry: its long name when stored, else its primary name (UTF-16 by
// a flag of its type, else ANSI, often the short 8.3 form).
std::optional<std::u16string> FileEntryName(Bytes item, const AnsiDecoder& decode) {
    namespace si = shell_item;
    constexpr std::size_t kPrimaryName = si::kFileEntryPrimaryName;
    const unsigned char type = item[si::kType];
    if ((type & si::kClassMask) != si::kFileEntryClass || item.size() < kPrimaryName + 2) return std::nullopt;
    const Bytes names = item.first(item.size() - 2);
    std::optional<std::u16string> primary;
    std::size_t end = 0;
    if (type & si::kFileEntryUnicode) {
        primary = Utf16At(names, kPrimaryName);
        if (primary) end = kPrimaryName + 2 * primary->size() + 2;
    } else if (const std::optional<std::string_view> ansi = AnsiAt(names, kPrimaryName)) {
        end = kPrimaryName + ansi->size() + 1;
        primary = Decode(decode, *ansi);
    }
    std::optional<std::u16string> name = end ? ExtensionName(item, end) : std::nullopt;
    if (!name || name->empty()) name = std::move(primary);
    if (!name || name->empty() || *name == u"." || *name == u"..") return std::nullopt;
    if (std::any_of(name->begin(), name->end(), [](char16_t c) { return IsSeparator(c) || c == u':'; }))
        return std::nullopt;
    return name;
}

bool IsRootFolder(Bytes item, const Guid& clsid) {
    return item[shell_item::kType] == shell_item::kRootFolder && GuidAt(item, shell_item::kRootFolderClsid, clsid);
}

bool IsMyComputer(Bytes item) { return IsRootFolder(item, kMyComputer); }

// My Computer, a drive ("C:\"), then a file entry per folder and file.
std::optional<std::u16string> ItemListPath(const std::vector<Bytes>& items, const AnsiDecoder& decode) {
    if (items.size() < 2 || !IsMyComputer(items[0])) return std::nullopt;
    const Bytes drive = items[1];
    namespace si = shell_item;
    constexpr unsigned char kNamedVolume = si::kVolumeClass | si::kVolumeHasName;
    if ((drive[si::kType] & (si::kClassMask | si::kVolumeHasName)) != kNamedVolume || drive.size() < si::kVolumeName + 2 ||
        drive[si::kVolumeName + 1] != ':')
        return std::nullopt;
    std::u16string path{static_cast<char16_t>(drive[si::kVolumeName]), u':', u'\\'};
    for (std::size_t i = 2; i < items.size(); ++i) {
        const std::optional<std::u16string> name = FileEntryName(items[i], decode);
        if (!name) return std::nullopt;
        if (path.back() != u'\\') path += u'\\';
        path += *name;
    }
    return AbsolutePath(path);
}

// What is left when no path could be read: a target known to be no file
// system object, or one only the system that made the shortcut could find.
ShellLinkTarget WithoutPath(const ShellLink& link, bool infoUsed) {
    const ShellLinkTarget kNotAFile{Kind::NotAFile, {}, {}}, kUnresolvable{Kind::Unresolvable, {}, {}};
    if (link.knownFolder) return kUnresolvable;
    if (link.items.empty()) return infoUsed || link.relativePath ? kUnresolvable : kNotAFile;
    const Bytes root = link.items[0];
    if (IsMyComputer(root)) return link.items.size() == 1 ? kNotAFile : kUnresolvable;
    for (const Guid& folder : kNonFileFolders) {
        if (IsRootFolder(root, folder)) return kNotAFile;
    }
    return kUnresolvable;
}

}  // namespace

std::optional<ShellLinkTarget> ReadShellLink(std::span<const unsigned char> data, const AnsiDecoder& decodeAnsi,
                                             std::string* refusal) {
    if (refusal) refusal->clear();
    const std::optional<ShellLink> link = Parse(data, Refusal(refusal));
    if (!link) return std::nullopt;

    // A target written with environment variables is expanded by the system
    // that opens the shortcut, ahead of every path stored beside it. Unless
    // the shortcut prefers the expanded path, Windows opens the LinkInfo's
    // local path (shortcuts of Windows XP carry both): a reader that cannot
    // expand the variables goes there.
    const bool useInfo = link->info && !(link->flags & kForceNoLinkInfo);
    if ((link->flags & kHasExpString) && (link->environmentW || !link->environment.empty())) {
        std::optional<std::u16string> text = link->environmentW;
        if (!text || text->empty()) text = Decode(decodeAnsi, link->environment);
        ShellLinkTarget target{Kind::Unresolvable, text.value_or(std::u16string()), std::nullopt};
        if (useInfo && !(link->flags & kPreferEnvironmentPath) && link->info->local) {
            LinkInfo local = *link->info;
            local.network = false;
            target.localPath = LinkInfoUnicodePath(local);
            if (!target.localPath) target.localPath = LinkInfoAnsiPath(local, decodeAnsi);
        }
        return target;
    }

    if (useInfo) {
        if (std::optional<std::u16string> path = LinkInfoUnicodePath(*link->info))
            return ShellLinkTarget{Kind::Absolute, std::move(*path), {}};
    }
    if (std::optional<std::u16string> path = ItemListPath(link->items, decodeAnsi))
        return ShellLinkTarget{Kind::Absolute, std::move(*path), {}};
    if (useInfo) {
        if (std::optional<std::u16string> path = LinkInfoAnsiPath(*link->info, decodeAnsi))
            return ShellLinkTarget{Kind::Absolute, std::move(*path), {}};
    }
    if (link->relativePath && !link->relativePath->empty()) {
        const Bytes raw = *link->relativePath;
        const std::optional<std::u16string> relative =
            link->flags & kIsUnicode
                ? std::optional<std::u16string>(Utf16OfBytes(raw))
                : Decode(decodeAnsi, std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
        if (relative && !relative->empty() && std::none_of(relative->begin(), relative->end(), Forbidden) &&
            (relative->find(u':') == std::u16string::npos || AbsolutePath(*relative))) {
            if (std::optional<std::u16string> absolute = AbsolutePath(*relative))
                return ShellLinkTarget{Kind::Absolute, std::move(*absolute), {}};
            return ShellLinkTarget{Kind::Relative, *relative, {}};
        }
    }
    return WithoutPath(*link, useInfo);
}

std::u16string Utf16OfBytes(std::span<const unsigned char> bytes) {
    std::u16string text(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = *U16(bytes, 2 * i);
    return text;
}

std::string Utf8(std::u16string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace rivak::lnk
