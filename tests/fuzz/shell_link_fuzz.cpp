// The shortcut reader on any bytes: no crash, no read outside the input
// (AddressSanitizer), and every answer keeps the promises of its kind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/lnk/shell_link.h"

namespace {

using rivak::lnk::ShellLinkTarget;

// A stand-in for a code page: ASCII as itself, other bytes mapped one to
// one, and a byte that no code page of ours accepts (0xFF) fails the string.
std::optional<std::u16string> Decode(std::string_view bytes) {
    std::u16string text;
    for (const char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b == 0xFF) return std::nullopt;
        text.push_back(b < 0x80 ? b : static_cast<char16_t>(0xFF00 + b));
    }
    return text;
}

bool Forbidden(char16_t c) {
    return c < 0x20 || c == u'"' || c == u'*' || c == u'<' || c == u'>' || c == u'?' || c == u'|' || c == u'/';
}

// "C:\" or "\\server\share", then names that are neither empty, "." nor "..".
bool PlainAbsolute(const std::u16string& p) {
    std::size_t start;
    if (p.size() >= 3 && p[1] == u':' && p[2] == u'\\') {
        if (p.size() == 3) return true;
        start = 3;
    } else if (p.size() >= 5 && p[0] == u'\\' && p[1] == u'\\') {
        start = 2;
    } else {
        return false;
    }
    for (std::size_t i = start; i <= p.size();) {
        std::size_t end = p.find(u'\\', i);
        if (end == std::u16string::npos) end = p.size();
        const std::u16string_view name(p.data() + i, end - i);
        if (name.empty() || name == u"." || name == u".." || name.find(u':') != name.npos) return false;
        for (const char16_t c : name) {
            if (Forbidden(c)) return false;
        }
        i = end + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<ShellLinkTarget> target = rivak::lnk::ReadShellLink({data, size}, Decode);
    if (!target) return 0;
    bool kept = true;
    switch (target->kind) {
        case ShellLinkTarget::Kind::Absolute:
            kept = PlainAbsolute(target->path);
            break;
        case ShellLinkTarget::Kind::Relative:
            kept = !target->path.empty();
            for (const char16_t c : target->path) kept = kept && (c == u'/' || !Forbidden(c));
            break;
        case ShellLinkTarget::Kind::NotAFile:
            kept = target->path.empty();
            break;
        case ShellLinkTarget::Kind::Unresolvable:
            break;
    }
    if (!kept) std::abort();
    return 0;
}
