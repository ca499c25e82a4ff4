#include "engine/shortcut.h"

namespace rivak {

bool IsShortcutName(const Path& path) {
    static constexpr NativeChar kUpper[] = RIVAK_T(".LNK");
    if (path.size() < 4) return false;
    const NativeChar* tail = path.data() + path.size() - 4;
    for (int i = 0; i < 4; ++i) {
        NativeChar c = tail[i];
        // Only ASCII letters fold: nothing outside ASCII upper-cases to L, N or K.
        if (c >= NativeChar('a') && c <= NativeChar('z')) c = NativeChar(c - 'a' + 'A');
        if (c != kUpper[i]) return false;
    }
    return true;
}

std::optional<Path> ResolveShortcut(const Path& path, ShortcutReader& reader) {
    if (!IsShortcutName(path)) return path;
    return reader.Target(path);
}

}  // namespace rivak
