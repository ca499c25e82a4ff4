#include "cli/quote.h"

#include <cstring>

namespace rivak::cli {

std::string ShellQuoted(const std::string& path) {
    static constexpr char kPlain[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./-+,:@%=";
    bool plain = !path.empty();
    bool control = false;
    for (unsigned char c : path) {
        if (c < 0x20 || c == 0x7F) control = true;
        if (c < 0x80 && !std::strchr(kPlain, c)) plain = false;
    }
    if (plain) return path;
    std::string out;
    if (!control) {
        out = "'";
        for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    }
    static constexpr char kHex[] = "0123456789abcdef";
    out = "$'";
    for (unsigned char c : path) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        case '\'': out += "\\'"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += "\\x";
                out += kHex[c >> 4];
                out += kHex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "'";
}

}  // namespace rivak::cli
