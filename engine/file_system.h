#pragma once
// What the engine needs from a file system, and nothing more. Backends: an
// in-memory fake (platform/fake), Win32 (platform/win32), POSIX
// (platform/posix).
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

// An entry of a folder's listing: what the walk needs to decide about it,
// read with the listing itself where the platform gives it there.
struct FolderEntry {
    Path name;  // the last component only
    bool folder = false;
    // Empty when the entry was listed but its word could not be read: such
    // an entry is counted and never written.
    std::optional<AttributeWord> word;
    // The entry may be met again under another name (a file with several
    // links): its word is read again (LookUp) just before it is decided.
    bool shared = false;
    // Whether kind and word are read (LookUp gives them where not).
    bool looked = true;
    // The entry's identity where the listing gives it (device and inode on
    // POSIX), for the backend's own checks; zeros elsewhere.
    FolderKey key;
    // The backend's own mark of what it keeps for the entry.
    std::uint32_t slot = 0;
};

// A folder held open for a walk; each backend has its own kind. Entries are
// looked up and changed through it, never by a path rebuilt from its names.
class OpenFolder {
public:
    virtual ~OpenFolder() = default;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Paths named by the user, and shortcuts' targets.
    //
    // Probe: the name (last component only) of the first entry that matches
    // `path`, possibly a wildcard pattern, and is admitted by `mask`; "" when
    // there is none or the path does not exist. For a path ending in "." or
    // ".." the answer is that same "." / ".." or "", never the folder's own
    // name.
    virtual Path Dir(const Path& path, unsigned mask) = 0;
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

    // Walks. A folder reached by a path is opened by it (empty when it is
    // not a folder one may walk); its subfolders are opened through it.
    virtual std::unique_ptr<OpenFolder> OpenFolderAt(const Path& path) = 0;
    virtual std::unique_ptr<OpenFolder> OpenSubfolder(OpenFolder& parent, const FolderEntry& sub) = 0;
    // Shortcuts and links can lead back to folders walked already: the
    // walker asks this once for each folder it reaches, and remembers it.
    virtual std::optional<FolderKey> Identity(OpenFolder& folder) = 0;
    // Every entry but "." and "..", each once, in the order the walk takes
    // them, with what the listing itself tells (all of it on Windows; the
    // name and kind on POSIX, where `looked` is false until LookUp). False
    // when the folder could not be listed (to the end). `path` is the
    // folder's path as the engine reached it, for what the backend tells of
    // it and its entries until Visited.
    virtual bool List(OpenFolder& folder, const Path& path, std::vector<FolderEntry>& entries) = 0;
    // Reads what the listing did not give (or a shared entry's word again).
    // False: the entry is not one to decide about (gone, swapped for a link,
    // unreadable: the backend tells why).
    virtual bool LookUp(OpenFolder& folder, FolderEntry& entry) = 0;
    // Writes the rewritten word of a listed entry, as SetAttributes does.
    virtual bool Change(OpenFolder& folder, const FolderEntry& entry, AttributeWord word) = 0;
    // Whether the listed folder `sub` holds a file of this name (HoldsFile).
    virtual bool SubfolderHolds(OpenFolder& folder, const FolderEntry& sub, const Path& name) = 0;
    // What List had to tell, told now: it may have run on a worker.
    virtual void TellListing(OpenFolder& folder) { (void)folder; }
    // What LookUp and Change had to tell of the entry, told now: they may
    // run on other threads, and the engine tells entries in walk order.
    virtual void Tell(OpenFolder& folder, FolderEntry& entry) { (void)folder, (void)entry; }
    // The entries of the last listing of `folder` are all decided: what the
    // backend kept for them may go. The folder stays open for its walk.
    virtual void Visited(OpenFolder& folder) { (void)folder; }

    // How many threads may make LookUp, Change and SubfolderHolds calls at
    // once, on entries of the folder listed last (every other call comes
    // from one thread); 1: all calls come from one thread.
    virtual unsigned Workers() const { return 1; }
    // Whether Change may run on several threads too (else only LookUp).
    virtual bool ChangesInParallel() const { return true; }
    // Whether one worker may list the folder the walk takes next, open it
    // (OpenSubfolder, on the engine's thread) and look up its entries while
    // the others change and tell those of the folder before it.
    virtual bool ListsAhead() const { return false; }
    // How many entries may be looked up before they are decided (each may
    // hold a descriptor meanwhile).
    virtual std::size_t LookAhead() const { return static_cast<std::size_t>(-1); }
};

// One file-system object per batch: created at its start, released at its end.
using FileSystemFactory = std::function<std::unique_ptr<FileSystem>()>;

}  // namespace rivak
