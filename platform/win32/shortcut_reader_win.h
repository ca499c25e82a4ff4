#pragma once
// Shell shortcut files: the target the file stores, read by our own reader
// as on Linux; the shell's link object answers only what needs the system
// (environment variables, known folders, shell items).
#include "engine/shortcut.h"

namespace rivak::win {

// Needs COM on the calling thread (ComApartment) for the shell's part. Each
// call that needs a link object creates its own and releases it before
// returning.
class Win32ShortcutReader final : public ShortcutReader {
public:
    std::optional<Path> Target(const Path& shortcutFile) override;
};

}  // namespace rivak::win
