#include "cli/quote.h"

#include <cstring>

namespace rivak::cli {

namespace {

// The length of the printable UTF-8 character at `s[i]`, or 0 when the byte
// there must be escaped (a control, a C1 control, or no UTF-8).
std::size_t Printable(const std::string& s, std::size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return c < 0x20 || c == 0x7F ? 0 : 1;
    const std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    char32_t code = c & (0x3F >> (n - 1));
    for (std::size_t k = 1; k < n; ++k) {
        const unsigned char t = static_cast<unsigned char>(s[i + k]);
        if ((t & 0xC0) != 0x80) return 0;
        code = code << 6 | (t & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return 0;
    return code < 0xA0 ? 0 : n;  // C1 controls too
}

void Escape(std::string& out, unsigned char c) {
    static constexpr char kNamed[] = "\a\b\t\n\v\f\r";
    static constexpr char kLetters[] = "abtnvfr";
    if (c != 0) {
        if (const char* at = std::strchr(kNamed, c)) {
            out += '\\';
            out += kLetters[at - kNamed];
            return;
        }
    }
    out += '\\';
    out += static_cast<char>('0' + (c >> 6));
    out += static_cast<char>('0' + (c >> 3 & 7));
    out += static_cast<char>('0' + (c & 7));
}

}  // namespace

std::string ShellQuoted(const std::string& path, bool always) {
    static constexpr char kPlain[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./-+,:@%=";
    bool plain = !path.empty() && !always;
    for (std::size_t i = 0; plain && i < path.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (c < 0x80 ? !std::strchr(kPlain, c) : Printable(path, i) == 0) plain = false;
    }
    if (plain) return path;

    std::string out;
    bool quoted = false, escaped = false;  // inside '...', inside $'...'
    for (std::size_t i = 0; i < path.size();) {
        const std::size_t n = Printable(path, i);
        if (n == 0) {
            if (quoted) out += '\'';
            if (!escaped) out += "$'";
            quoted = false;
            escaped = true;
            Escape(out, static_cast<unsigned char>(path[i++]));
            continue;
        }
        if (escaped) out += '\'';
        escaped = false;
        if (!quoted) out += '\'';
        quoted = true;
        if (path[i] == '\'') out += "'\\''";
        else out.append(path, i, n);
        i += n;
    }
    if (quoted || escaped) out += '\'';
    if (out.empty()) out = "''";
    return out;
}

}  // namespace rivak::cli
