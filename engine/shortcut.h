#pragma once
#include <optional>

#include "engine/native_string.h"

namespace rivak {

// Reads the target path a shell shortcut file stores: "" for a shortcut to
// something that is not a file; empty optional when the file cannot be read.
class ShortcutReader {
public:
    virtual ~ShortcutReader() = default;
    virtual std::optional<Path> Target(const Path& shortcutFile) = 0;
};

// True when the last four characters, in upper case, are exactly ".LNK".
// The name alone decides: nothing is opened here.
bool IsShortcutName(const Path& path);

// The target of a shortcut (one level only), or `path` itself when the name
// is not a shortcut's. Empty optional when a shortcut could not be read.
std::optional<Path> ResolveShortcut(const Path& path, ShortcutReader& reader);

}  // namespace rivak
