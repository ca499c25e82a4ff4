#pragma once
// What --list and -v print: an entry's attributes as letters (R read-only,
// H hidden, S system, A archive), and, once a mount, the store it got.
#include <cstdio>
#include <optional>
#include <string>

#include "engine/file_system.h"

namespace rivak::cli {

// "RHSA", "-" for each attribute missing; "????" for a word nobody knows.
std::string Letters(std::optional<AttributeWord> word);

// "R-SA  PATH" (the path quoted for the shell where needed).
void PrintListed(std::FILE* out, const Path& path, std::optional<AttributeWord> word);

// "/media/usb: vfat (FAT attributes)".
void PrintVolume(std::FILE* out, const std::string& mountPoint, const std::string& type, const char* store);

}  // namespace rivak::cli
