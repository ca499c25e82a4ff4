#include "cli/arguments.h"

#include <getopt.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

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

std::optional<unsigned> ParseJobs(const std::string& value) {
    if (value.empty() || value.size() > 2 || value.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned n = static_cast<unsigned>(std::stoul(value));
    if (n < 1 || n > kMaxJobs) return std::nullopt;
    return n;
}

// Long options that have no short form are told apart by these values.
enum : int {
    kReadOnly = 256,
    kHidden,
    kSystem,
    kSmbConf,
    kNoShortcuts,
    kKeepFolders,
    kMaxDepth,
    kMap,
    kCodePage,
    kFollowOutside,
    kHelp,
    kVersion,
    kSave,
    kRestore,
};

constexpr option kOptions[] = {
    {"readonly", required_argument, nullptr, kReadOnly},
    {"hidden", required_argument, nullptr, kHidden},
    {"system", required_argument, nullptr, kSystem},
    {"smb-conf", required_argument, nullptr, kSmbConf},
    {"no-shortcuts", no_argument, nullptr, kNoShortcuts},
    {"keep-folders", no_argument, nullptr, kKeepFolders},
    {"max-depth", required_argument, nullptr, kMaxDepth},
    {"map", required_argument, nullptr, kMap},
    {"codepage", required_argument, nullptr, kCodePage},
    {"follow-outside", no_argument, nullptr, kFollowOutside},
    {"jobs", required_argument, nullptr, 'j'},
    {"dry-run", no_argument, nullptr, 'n'},
    {"verbose", no_argument, nullptr, 'v'},
    {"list", no_argument, nullptr, 'l'},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {"save", required_argument, nullptr, kSave},
    {"restore", required_argument, nullptr, kRestore},
    {nullptr, 0, nullptr, 0},
};

// The option as the user typed it, for a message: "--read" rather than "--readonly".
std::string Typed(const char* arg) {
    const std::string text = arg ? arg : "";
    return text.substr(0, text.find('='));
}

// The long options that `typed` ("--h", no value) names: the one it spells
// out in full, else every one it begins, as getopt_long reads it.
std::vector<const option*> Named(const std::string& typed) {
    const std::string_view word = std::string_view(typed).substr(2);
    std::vector<const option*> found;
    for (const option* o = kOptions; o->name; ++o) {
        if (word == o->name) return {o};
        if (std::string_view(o->name).starts_with(word)) found.push_back(o);
    }
    return found;
}

std::string NameList(const std::vector<const option*>& options) {
    std::string text;
    for (const option* o : options) text += (text.empty() ? "--" : " --") + std::string(o->name);
    return text;
}

// attrib's words for the three attributes, in either case.
const char* AttribWord(const char* arg) {
    if ((arg[0] != '+' && arg[0] != '-') || arg[1] == '\0' || arg[2] != '\0') return nullptr;
    const bool set = arg[0] == '+';
    switch (std::tolower(static_cast<unsigned char>(arg[1]))) {
    case 'r': return set ? "--readonly=set" : "--readonly=clear";
    case 'h': return set ? "--hidden=set" : "--hidden=clear";
    case 's': return set ? "--system=set" : "--system=clear";
    default: return nullptr;
    }
}

// The arguments with attrib's +r -r +h -h +s -s read as the options they
// mean; as in attrib, an attribute they do not name is then kept. The value
// of an option given apart ("--map +h") and every argument after "--" stay
// as typed; under POSIXLY_CORRECT getopt takes all from the first path on
// for paths, and so does this.
std::vector<char*> WithAttribWords(int argc, char* const* argv) {
    std::vector<char*> args(argv, argv + argc);
    const bool stopAtPath = std::getenv("POSIXLY_CORRECT") != nullptr;
    bool any = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
        if (const char* word = AttribWord(argv[i])) {
            args[i] = const_cast<char*>(word);  // getopt_long never writes into an argument
            any = true;
        } else if (arg.starts_with("--") && arg.find('=') == std::string::npos) {
            const std::vector<const option*> named = Named(arg);
            if (named.size() == 1 && named[0]->has_arg == required_argument) ++i;
        } else if (stopAtPath && (arg.size() < 2 || arg[0] != '-')) {
            break;
        }
    }
    if (any) {
        static char keepReadOnly[] = "--readonly=keep", keepHidden[] = "--hidden=keep";
        args.insert(args.begin() + 1, {keepReadOnly, keepHidden});
    }
    args.push_back(nullptr);
    return args;
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

// GNU style through getopt_long: long options abbreviated to any unique
// prefix, as --name=value or --name value; short ones bundle (-nv0); options
// anywhere among the paths until "--"; attrib's +r and -h too.
std::variant<Arguments, UsageError> ParseArguments(int count, char* const* typed) {
    std::vector<char*> args = WithAttribWords(count, typed);
    const int argc = static_cast<int>(args.size()) - 1;
    char* const* argv = args.data();
    Arguments a;
    optind = 0;  // a fresh scan, whatever ran before
    opterr = 0;  // the messages are ours, in the user's language
    for (;;) {
        const int c = getopt_long(argc, argv, ":nvl0j:", kOptions, nullptr);
        if (c == -1) break;
        // The element just read; getopt reorders the others behind it.
        const char* current = argv[optind > 0 ? optind - 1 : 0];
        const std::string name = Typed(current);
        const std::string value = optarg ? optarg : "";
        switch (c) {
        case ':': return UsageError{Text::MissingValue, {name}};
        case '?':
            if (name.starts_with("--")) {
                const std::vector<const option*> named = Named(name);
                if (named.size() > 1) return UsageError{Text::AmbiguousOption, {name, NameList(named)}};
                return UsageError{optopt && std::strchr(current, '=') ? Text::UnexpectedValue : Text::UnknownOption, {name}};
            }
            return UsageError{Text::UnknownOption, {std::string("-") + static_cast<char>(optopt)}};
        case kReadOnly:
        case kHidden:
        case kSystem: {
            const std::optional<Change> change = ParseChange(value);
            const char* const option = c == kReadOnly ? "--readonly" : c == kHidden ? "--hidden" : "--system";
            if (!change) return UsageError{Text::BadChange, {option, value}};
            (c == kReadOnly ? a.readOnly : c == kHidden ? a.hidden : a.system) = *change;
            break;
        }
        case kSmbConf:
        case kSave:
        case kRestore:
            if (value.empty()) return UsageError{Text::MissingValue, {name}};
            (c == kSmbConf ? a.smbConf : c == kSave ? a.save : a.restore) = value;
            break;
        case kNoShortcuts: a.shortcuts = false; break;
        case kKeepFolders: a.keepFolders = true; break;
        case kMaxDepth: {
            const std::optional<std::int32_t> depth = ParseDepth(value);
            if (!depth) return UsageError{Text::BadDepth, {value}};
            a.maxDepth = *depth;
            break;
        }
        case kMap: {
            const std::size_t split = value.find('=');
            if (split == std::string::npos || split == 0 || split + 1 == value.size())
                return UsageError{Text::BadMap, {value}};
            a.maps.emplace_back(value.substr(0, split), value.substr(split + 1));
            break;
        }
        case kCodePage: a.codePage = value; break;
        case kFollowOutside: a.followOutside = true; break;
        case 'j': {
            const std::optional<unsigned> jobs = ParseJobs(value);
            if (!jobs) return UsageError{Text::BadJobs, {value}};
            a.jobs = *jobs;
            break;
        }
        case 'n': a.dryRun = true; break;
        case 'v': a.verbose = true; break;
        case 'l': a.list = true; break;
        case '0': a.nulSeparated = true; break;
        case kHelp: a.help = true; break;
        case kVersion: a.version = true; break;
        default: return UsageError{Text::UnknownOption, {name}};
        }
    }
    for (int i = optind; i < argc; ++i) a.paths.emplace_back(argv[i]);
    // A restore walks nothing: what it changes is what the file names.
    const Arguments plain;
    if (!a.restore.empty() && (!a.paths.empty() || a.list || a.nulSeparated || !a.save.empty() ||
                               a.readOnly != plain.readOnly || a.hidden != plain.hidden || a.system != plain.system ||
                               !a.shortcuts || a.keepFolders || a.maxDepth != plain.maxDepth || !a.maps.empty() ||
                               a.followOutside))
        return UsageError{Text::RestoreAlone, {}};
    if (!a.save.empty() && a.dryRun) return UsageError{Text::SaveDryRun, {}};
    return a;
}

}  // namespace rivak::cli
