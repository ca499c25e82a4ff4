#pragma once
// The command line of rivak for Linux: options as the window's check boxes,
// and paths, each argument one path.
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "cli/messages.h"

namespace rivak::cli {

enum class Change { Clear, Set, Keep };

struct Arguments {
    Change readOnly = Change::Clear;
    Change hidden = Change::Clear;
    Change system = Change::Keep;  // keep: files with the system attribute are left alone
    bool shortcuts = true;
    bool keepFolders = false;
    std::int32_t maxDepth = 25;
    std::vector<std::pair<std::string, std::string>> maps;  // Windows root, Linux folder
    std::string codePage = "CP932";
    bool followOutside = false;  // shortcuts met in a walk may lead anywhere
    std::string smbConf;         // the Samba configuration to read; empty: the one smbd reads
    std::string save;            // --save: where each entry's state goes before it changes
    std::string restore;         // --restore: the save file whose states are put back
    unsigned jobs = 0;           // -j: threads for a folder's entries; 0: as the volume suits
    bool dryRun = false;
    bool list = false;          // -l: show each entry's attributes, change nothing
    bool verbose = false;
    bool nulSeparated = false;  // -0: paths from standard input
    bool help = false;
    bool version = false;
    std::vector<std::string> paths;
};

struct UsageError {
    Text text;
    std::vector<std::string> args;  // filled into the text's %s in order
};

inline constexpr std::int32_t kMaxDepthLimit = 1000000;
inline constexpr unsigned kMaxJobs = 64;

// getopt_long underneath: it may reorder argv (options ahead of paths).
std::variant<Arguments, UsageError> ParseArguments(int argc, char* const* argv);

// Paths separated by NUL bytes; a NUL at the very end ends the last one.
std::vector<std::string> SplitNul(const std::string& input);

}  // namespace rivak::cli
