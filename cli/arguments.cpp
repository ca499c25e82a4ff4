#include "cli/arguments.h"

#include <cstring>
#include <optional>

namespace rivak::cli {

namespace {

std::optional<Change> ParseChange(const std::string& value) {
    if (value == "clear") return Change::Clear;
    if (value == "set") return Change::Set;
    if (value == "keep") return Change::Keep;
    return std::nullopt;
}

std::optional<std::int32_t> ParseDepth(const std::string& value) {
    if (value.empty() || value.size() > 7 || value.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const long n = std::stol(value);
    if (n > kMaxDepthLimit) return std::nullopt;
    return static_cast<std::int32_t>(n);
}

}  // namespace

std::vector<std::string> SplitNul(const std::string& input) {
    std::vector<std::string> paths;
    std::size_t start = 0;
    while (start < input.size()) {
        std::size_t nul = input.find('\0', start);
        if (nul == std::string::npos) nul = input.size();
        paths.push_back(input.substr(start, nul - start));
        start = nul + 1;
    }
    return paths;
}

// GNU style: options anywhere before "--", long ones as --name=value or
// --name value; short ones bundle (-nv0).
std::variant<Arguments, UsageError> ParseArguments(int argc, char* const* argv) {
    Arguments a;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            a.paths.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (arg[1] != '-') {
            for (std::size_t k = 1; k < arg.size(); ++k) {
                switch (arg[k]) {
                case 'n': a.dryRun = true; break;
                case 'l': a.list = true; break;
                case 'v': a.verbose = true; break;
                case '0': a.nulSeparated = true; break;
                default: return UsageError{Text::UnknownOption, {std::string("-") + arg[k]}};
                }
            }
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        std::optional<std::string> value;
        if (eq != std::string::npos) value = arg.substr(eq + 1);
        const auto flag = [&](bool& target) -> std::optional<UsageError> {
            if (value) return UsageError{Text::UnexpectedValue, {name}};
            target = true;
            return std::nullopt;
        };
        const auto needValue = [&]() -> bool {
            if (value) return true;
            if (i + 1 >= argc) return false;
            value = argv[++i];
            return true;
        };
        std::optional<UsageError> error;
        bool off = false;
        if (name == "--readonly" || name == "--hidden") {
            if (!needValue()) return UsageError{Text::MissingValue, {name}};
            const std::optional<Change> change = ParseChange(*value);
            if (!change) return UsageError{Text::BadChange, {name, *value}};
            (name == "--readonly" ? a.readOnly : a.hidden) = *change;
        } else if (name == "--no-shortcuts") {
            error = flag(off);
            a.shortcuts = false;
        } else if (name == "--keep-folders") {
            error = flag(a.keepFolders);
        } else if (name == "--max-depth") {
            if (!needValue()) return UsageError{Text::MissingValue, {name}};
            const std::optional<std::int32_t> depth = ParseDepth(*value);
            if (!depth) return UsageError{Text::BadDepth, {*value}};
            a.maxDepth = *depth;
        } else if (name == "--map") {
            if (!needValue()) return UsageError{Text::MissingValue, {name}};
            const std::size_t split = value->find('=');
            if (split == std::string::npos || split == 0 || split + 1 == value->size())
                return UsageError{Text::BadMap, {*value}};
            a.maps.emplace_back(value->substr(0, split), value->substr(split + 1));
        } else if (name == "--codepage") {
            if (!needValue()) return UsageError{Text::MissingValue, {name}};
            a.codePage = *value;
        } else if (name == "--dry-run") {
            error = flag(a.dryRun);
        } else if (name == "--list") {
            error = flag(a.list);
        } else if (name == "--verbose") {
            error = flag(a.verbose);
        } else if (name == "--help") {
            error = flag(a.help);
        } else if (name == "--version") {
            error = flag(a.version);
        } else {
            return UsageError{Text::UnknownOption, {name}};
        }
        if (error) return *error;
    }
    return a;
}

}  // namespace rivak::cli
