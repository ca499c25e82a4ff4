#pragma once
// Shell shortcut files read through the shell's own link object.
#include "engine/shortcut.h"

namespace rivak::win {

// Needs COM on the calling thread (ComApartment). Each call creates its own
// link object and releases it before returning.
class Win32ShortcutReader final : public ShortcutReader {
public:
    std::optional<Path> Target(const Path& shortcutFile) override;
};

}  // namespace rivak::win
