#pragma once
// What --list and -v print: an entry's attributes as letters (R read-only,
// r read-only to one of Samba and Wine only, H hidden, S system, A archive),
// and, once a mount, share or Wine prefix, the store or the rule it got.
#include <cstdio>
#include <optional>
#include <string>

#include "engine/file_system.h"

namespace rivak::cli {

// "RHSA", "-" for each attribute missing, "r---" for read-only to one
// reader only; "????" for a word nobody knows.
std::string Letters(std::optional<AttributeWord> word);

// "R-SA  PATH" (the path quoted for the shell where needed).
void PrintListed(std::FILE* out, const Path& path, std::optional<AttributeWord> word);

// "/media/usb: vfat (FAT attributes)".
void PrintVolume(std::FILE* out, const std::string& mountPoint, const std::string& type, const char* store);

// "/srv/share: Samba share [docs]: read-only in user.DOSATTRIB only".
void PrintTree(std::FILE* out, const std::string& root, const std::string& rule);

}  // namespace rivak::cli
