#include "cli/listing.h"

#include "cli/quote.h"
#include "platform/posix/attribute_store.h"

namespace rivak::cli {

std::string Letters(std::optional<AttributeWord> word) {
    if (!word) return "????";
    std::string s = "----";
    if (*word & attr::kReadOnly) s[0] = 'R';
    else if (*word & posix::kReadOnlyToOne) s[0] = 'r';
    if (*word & attr::kHidden) s[1] = 'H';
    if (*word & attr::kSystem) s[2] = 'S';
    if (*word & attr::kArchive) s[3] = 'A';
    return s;
}

void PrintListed(std::FILE* out, const Path& path, std::optional<AttributeWord> word) {
    std::fprintf(out, "%s  %s\n", Letters(word).c_str(), ShellQuoted(path).c_str());
}

void PrintVolume(std::FILE* out, const std::string& mountPoint, const std::string& type, const char* store) {
    // A FUSE mount names its own type: quoted as a name is.
    std::fprintf(out, "%s: %s (%s)\n", ShellQuoted(mountPoint).c_str(), ShellQuoted(type).c_str(), store);
}

void PrintTree(std::FILE* out, const std::string& root, const std::string& rule) {
    std::fprintf(out, "%s: %s\n", ShellQuoted(root).c_str(), rule.c_str());
}

}  // namespace rivak::cli
