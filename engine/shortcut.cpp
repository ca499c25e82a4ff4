#include "engine/shortcut.h"

namespace rivak {

bool IsShortcutName(const Path& path) {
    static constexpr NativeChar kLower[] = RIVAK_T(".lnk");
    if (path.size() < 4) return false;
    const NativeChar* tail = path.data() + path.size() - 4;
    for (int i = 0; i < 4; ++i)
        if (AsciiLower(tail[i]) != kLower[i]) return false;
    return true;
}

std::optional<Path> ResolveShortcut(const Path& path, ShortcutReader& reader) {
    if (!IsShortcutName(path)) return path;
    return reader.Target(path);
}

}  // namespace rivak
