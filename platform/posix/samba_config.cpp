#include "platform/posix/samba_config.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string_view>

#include "platform/posix/read_all.h"
#include "platform/posix/unique_fd.h"

namespace rivak::posix {

namespace {

constexpr int kIncludeDepth = 16;  // an include that includes itself ends here

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// A name as smbd compares names: letter case and blanks do not count.
std::string Key(std::string_view s) {
    std::string out;
    for (char c : s)
        if (!Blank(c)) out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return out;
}

std::string Trim(std::string_view s) {
    std::size_t begin = 0, end = s.size();
    while (begin < end && Blank(s[begin])) ++begin;
    while (end > begin && Blank(s[end - 1])) --end;
    return std::string(s.substr(begin, end - begin));
}

std::optional<bool> Boolean(const std::string& value) {
    const std::string v = Key(value);
    if (v == "yes" || v == "true" || v == "1" || v == "on") return true;
    if (v == "no" || v == "false" || v == "0" || v == "off") return false;
    return std::nullopt;  // smbd refuses the line and keeps what it had
}

// The whole file, or nothing and why (an errno).
std::optional<std::string> Slurp(const std::string& path, int& error) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        error = errno;
        return std::nullopt;
    }
    std::optional<std::string> text = ReadAll(fd.get());
    if (!text) error = errno;
    return text;
}

class Parser {
public:
    explicit Parser(SambaConfig& config) : config_(config) {}

    // 0, or why the file could not be read.
    int File(const std::string& path, int depth) {
        int error = 0;
        const std::optional<std::string> text = Slurp(path, error);
        if (!text) return error;
        std::string line;
        for (std::size_t pos = 0; pos < text->size();) {
            std::size_t end = text->find('\n', pos);
            if (end == std::string::npos) end = text->size();
            std::string_view piece(text->data() + pos, end - pos);
            pos = end + 1;
            if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
            if (!piece.empty() && piece.back() == '\\') {
                line.append(piece.substr(0, piece.size() - 1));
                continue;
            }
            line.append(piece);
            Line(line, depth);
            line.clear();
        }
        if (!line.empty()) Line(line, depth);
        return 0;
    }

private:
    void Line(const std::string& raw, int depth) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';') return;
        if (line[0] == '[') {
            const std::size_t close = line.find(']');
            if (close != std::string::npos) Section(Trim(std::string_view(line).substr(1, close - 1)));
            return;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) return;
        const std::string name = Key(std::string_view(line).substr(0, equals));
        const std::string value = Trim(std::string_view(line).substr(equals + 1));
        if (name == "include") return Include(value, depth);
        Set(current_ == kGlobal ? defaults_ : config_.shares[current_], name, value);
    }

    // A share named again goes on where it was; a new one starts from the
    // defaults [global] has given so far.
    void Section(const std::string& name) {
        const std::string key = Key(name);
        if (key == "global") {
            current_ = kGlobal;
            return;
        }
        for (std::size_t i = 0; i < config_.shares.size(); ++i) {
            if (Key(config_.shares[i].name) == key) {
                current_ = i;
                return;
            }
        }
        SambaShare share = defaults_;
        share.name = name;
        share.printable = share.printable || key == "printers";
        config_.shares.push_back(std::move(share));
        current_ = config_.shares.size() - 1;
    }

    void Include(const std::string& value, int depth) {
        // A file named by the client (%m, %U...) or the registry: not one file rivak can read.
        if (value.find('%') != std::string::npos || Key(value) == "registry") {
            config_.notes.push_back({SambaNote::Kind::IncludeNotFollowed, value});
            return;
        }
        const std::string path = value.empty() || value[0] == '/' ? value : "/" + value;  // smbd runs in "/"
        if (depth >= kIncludeDepth) {
            config_.notes.push_back({SambaNote::Kind::Unreadable, path, ELOOP});
            return;
        }
        if (const int error = File(path, depth + 1))
            config_.notes.push_back({SambaNote::Kind::Unreadable, path, error});
    }

    static void Set(SambaShare& s, const std::string& name, const std::string& value) {
        if (name == "path") {
            s.path = value;
            return;
        }
        if (name == "mapreadonly") {
            if (Key(value) == "permissions") s.rule.mapReadOnly = ShareRule::MapReadOnly::Permissions;
            else if (const std::optional<bool> b = Boolean(value))
                s.rule.mapReadOnly = *b ? ShareRule::MapReadOnly::Yes : ShareRule::MapReadOnly::No;
            return;
        }
        bool* flag = nullptr;
        if (name == "printable") flag = &s.printable;
        else if (name == "storedosattributes") flag = &s.rule.storeDosAttributes;
        else if (name == "maparchive") flag = &s.rule.mapArchive;
        else if (name == "mapsystem") flag = &s.rule.mapSystem;
        else if (name == "maphidden") flag = &s.rule.mapHidden;
        else if (name == "hidedotfiles") flag = &s.rule.hideDotFiles;
        if (!flag) return;
        if (const std::optional<bool> b = Boolean(value)) *flag = *b;
    }

    static constexpr std::size_t kGlobal = static_cast<std::size_t>(-1);
    SambaConfig& config_;
    SambaShare defaults_;
    std::size_t current_ = kGlobal;  // lines before any section are global ones
};

}  // namespace

SambaConfig ReadSambaConfig(const std::string& file) {
    SambaConfig config;
    Parser parser(config);
    config.error = parser.File(file, 0);
    return config;
}

}  // namespace rivak::posix
