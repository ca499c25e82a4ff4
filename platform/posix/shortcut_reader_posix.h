#pragma once
// Shortcut files on Linux: read through the batch's file system (so a
// shortcut inside a walked folder is opened as safely as any entry), parsed
// by the portable reader, and their Windows target mapped to a Linux path.
// A target that cannot be read or mapped gives nothing, and the engine then
// keeps the shortcut's own path.
//
// A shortcut anyone can drop on a share must not steer a root run elsewhere:
// one met inside a walk is followed only to a target inside the path named
// on the command line that the walk started from, reached without a
// symbolic link (unless `followOutside`). A shortcut named on the command
// line is the user's own choice and is followed wherever it points; as root,
// one another user left is followed only below the folder that holds it.
#include <iconv.h>

#include <optional>
#include <string>
#include <unordered_set>

#include "engine/shortcut.h"
#include "platform/lnk/shell_link.h"
#include "platform/posix/drive_map.h"

namespace rivak::posix {

class PosixFileSystem;

// ANSI strings of a code page ("CP932", "1252", any iconv name) to UTF-16.
class AnsiCodePage {
public:
    explicit AnsiCodePage(const std::string& codePage);
    ~AnsiCodePage();
    AnsiCodePage(const AnsiCodePage&) = delete;
    AnsiCodePage& operator=(const AnsiCodePage&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    std::optional<std::u16string> Decode(std::string_view bytes);

private:
    iconv_t cd_;
};

class PosixShortcutReader final : public ShortcutReader {
public:
    PosixShortcutReader(const DriveMap& drives, AnsiCodePage& codePage, bool followOutside = false)
        : drives_(drives), codePage_(codePage), followOutside_(followOutside) {}
    // The file system of the batch under way; null between batches.
    void Use(PosixFileSystem* fs) { fs_ = fs; }
    std::optional<Path> Target(const Path& shortcutFile) override;

private:
    const DriveMap& drives_;
    AnsiCodePage& codePage_;
    bool followOutside_;
    PosixFileSystem* fs_ = nullptr;
    // Shortcuts refused for their target: the engine asks twice, one report says it.
    std::unordered_set<Path> refused_;
};

}  // namespace rivak::posix
