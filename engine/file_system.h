#pragma once
// What the engine needs from a file system, and nothing more. Backends: an
// in-memory fake (platform/fake), Win32 (platform/win32).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "engine/attribute_word.h"
#include "engine/native_string.h"
#include "engine/options.h"

namespace rivak {


// Probe masks: entries with none of the masked attributes are always admitted.
namespace probe {
// normal, read-only, hidden, system, volume, folders
inline constexpr unsigned kAnything = attr::kReadOnly | attr::kHidden | attr::kSystem | attr::kVolume | attr::kDirectory;
// normal, read-only, hidden; no system, no folders
inline constexpr unsigned kPlainFiles = attr::kReadOnly | attr::kHidden;
inline constexpr unsigned kAnyFile = kPlainFiles | attr::kSystem;  // system files too; no folders
}  // namespace probe

// A file or folder that a lookup found. Its attribute word is read by the
// lookup itself; `word` is empty when the object exists but its word could
// not be read.
struct FsObject {
    Path path;
    bool folder = false;
    std::optional<AttributeWord> word;
};

// Identity of a folder: its volume and its id there (a 128-bit file id, or a
// 64-bit file index; device and inode; the fake's id). Ids of 64 bits or
// less leave `objectHigh` at 0.
struct FolderKey {
    std::uint64_t volume = 0;
    std::uint64_t object = 0;
    std::uint64_t objectHigh = 0;
    bool operator==(const FolderKey&) const = default;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Probe, and start of an enumeration. `path` is a full path, possibly
    // ending in a wildcard pattern ("*.*" lists everything). Returns the name
    // (last component only) of the first entry that matches and is admitted
    // by `mask`, or "" when there is none or the path does not exist. For a
    // path ending in "." or ".." the answer is that same "." / ".." or "",
    // never the folder's own name. Abandons any enumeration under way.
    virtual Path Dir(const Path& path, unsigned mask) = 0;
    // Next name of the enumeration started by the last Dir(path, mask); ""
    // when it is exhausted.
    virtual Path Dir() = 0;

    // Lookups: empty when the path does not name a file (respectively a
    // folder). A system file counts as a file here.
    virtual std::optional<FsObject> GetFile(const Path& path) = 0;
    virtual std::optional<FsObject> GetFolder(const Path& path) = 0;

    // Writes the rewritten word; false when the write was refused. Backends
    // keep the attributes the engine has no business changing (see there).
    virtual bool SetAttributes(const FsObject& object, AttributeWord word) = 0;

    // Whether `folder` holds a file (not a folder) of this name, matched as
    // Windows matches names, without regard to letter case.
    virtual bool HoldsFile(const FsObject& folder, const Path& name) = 0;

    // Whether a folder is a link (junction, symbolic link, a mount's root).
    // The walker no longer asks (FolderIdentity serves it); the backends'
    // contract still checks the answer.
    virtual bool IsLinkedFolder(const Path& folder) = 0;
    // Shortcuts and links can lead back to folders walked already: the
    // walker asks this once for each folder it reaches, and remembers it.
    virtual std::optional<FolderKey> FolderIdentity(const Path& folder) = 0;
};

// One file-system object per batch: created at its start, released at its end.
using FileSystemFactory = std::function<std::unique_ptr<FileSystem>()>;

}  // namespace rivak
