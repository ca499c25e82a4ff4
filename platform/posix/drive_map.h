#pragma once
// Where a Windows path lies on this machine: drive letters and network
// shares mapped to Linux folders, from Wine's "dosdevices" folder and from
// the user's own --map entries (which win).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/native_string.h"
#include "platform/lnk/shell_link.h"

namespace rivak::posix {

using lnk::Utf8;

class DriveMap {
public:
    // `root` is "X:" or "\\server\share" (letters in any case), in UTF-8.
    // False when it is neither, or `folder` is empty.
    bool Add(std::string_view root, const Path& folder);
    // The drives of a Wine prefix: dosdevices/<x>: and dosdevices/unc/<server>/<share>.
    // Entries already present are kept.
    void AddWinePrefix(const Path& prefix);

    // "C:\a\b" -> "<C:'s folder>/a/b"; empty when no entry covers the path.
    // Names are matched without regard to ASCII case where the exact name is
    // missing, as Windows and Wine do.
    std::optional<Path> Map(std::string_view windowsPath) const;

private:
    struct Entry {
        std::string root;  // lower case, backslashes
        Path folder;
    };
    std::vector<Entry> entries_;
};

// A Windows path relative to `folder` (".\a.txt", "..\b"), separators turned.
Path JoinRelative(const Path& folder, std::string_view relative);

}  // namespace rivak::posix
