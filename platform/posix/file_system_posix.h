#pragma once
// The engine's file system over the volumes Linux mounts. Each mount keeps
// the DOS attributes in its own way, and gets its store (attribute_store.h):
// the FAT and NTFS drivers' own words, the SMB client's, or, on Linux's own
// file systems, "user.DOSATTRIB" and the write bits as Samba and Wine read them.
//
// Safe under root: below a path the caller named (Follow), every call is
// made relative to a directory descriptor opened with O_NOFOLLOW, and every
// change goes through a descriptor of the entry itself. A folder swapped for
// a symbolic link in the middle of a batch can only make a call fail, never
// redirect it. Symbolic links met in a walk are neither followed nor
// changed; FIFOs, sockets and devices are never opened: an entry is first
// taken with O_PATH, its type read there, and only a file or a folder is
// opened, through that same descriptor.
//
// Any depth: the folders being walked form a chain that keeps each level's
// name (as a stretch of one path) and identity; only the deepest levels and
// the chain's root hold a descriptor. A level that lost its descriptor is
// reached again through ".." from below or by name from above, and must be
// the same folder (device and inode) as before.
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/file_system.h"
#include "platform/posix/attribute_store.h"
#include "platform/posix/dosattrib.h"
#include "platform/posix/unique_fd.h"

namespace rivak::posix {

// What went wrong with one entry.
enum class Problem {
    Access,            // could not be looked up or opened (errno says why)
    Special,           // named by the user, but neither a file nor a folder
    NotAFolder,        // named with a trailing "/", but not a folder
    Outside,           // a shortcut met in a walk whose target lies outside the named path
    Dangling,          // a shortcut whose target does not exist
    Shortcut,          // a shortcut that could not be read (the reason is in `detail`)
    Listing,           // a folder could not be listed
    SwappedForLink,    // became a symbolic link during the batch
    UnreadableRecord,  // "user.DOSATTRIB" holds a value Samba cannot read either; left alone
    Write,             // a change was refused (errno says why)
    HiddenNotStorable, // the file system keeps no extended attributes
    FolderReadOnlyNotStorable,
    NotStorable,       // a FUSE file system with no known place for DOS attributes
    NotStorableAgain,  // the same, on a mount already told of
    HiddenByName,      // a dot name: Samba and Wine hide it whatever is stored
    NeedsImmutable,    // refused (errno) on an entry with the system bit: CAP_LINUX_IMMUTABLE
    VolumeRoot,        // the root folder of a FAT or exFAT volume has no attributes
    NotKept,           // the SMB server answered but kept the old attributes
    ModeNotRestored,   // the write bit lent to store the value could not be taken back
};

// Where the backend tells what it changed and what it could not do.
class Report {
public:
    virtual ~Report() = default;
    virtual void Changed(const Path& path, AttributeWord before, AttributeWord after) = 0;
    virtual void Failed(const Path& path, Problem problem, int error) = 0;
    // A folder whose read-only bit the engine keeps: it holds desktop.ini.
    virtual void KeptReadOnly(const Path&) {}
    // --list: an entry's word; nothing where the volume keeps none rivak knows.
    virtual void Listed(const Path&, std::optional<AttributeWord>) {}
    // The first entry met on a mount: where the mount is, its type, its store.
    virtual void Volume(const std::string& /*mountPoint*/, const std::string& /*type*/, const char* /*store*/) {}
    // A failure told in words of its own: why a shortcut could not be read,
    // or where a dangling one points.
    virtual void Refused(const Path& path, Problem problem, const std::string& detail) {
        (void)detail;
        Failed(path, problem, 0);
    }
};

struct PosixSettings {
    bool dryRun = false;           // decide and report, change nothing
    mode_t umask = 022;            // applied to the write bits given back, as Wine does
    Report* report = nullptr;      // may be null
    bool list = false;             // report each entry's word (Listed); change nothing
    bool changeReadOnly = true;    // what the run asks to change, for a volume
    bool changeHidden = true;      // that cannot tell what an entry has
};

class PosixFileSystem final : public FileSystem {
public:
    explicit PosixFileSystem(PosixSettings settings);
    ~PosixFileSystem() override;

    // A path given by the user (or a shortcut's target): its symbolic links
    // are followed, the last one included, as chmod does. Below it nothing
    // is followed. Once a path was given, paths below none of them are refused.
    void Follow(const Path& path);

    // The contents of a regular file, read through the same safe lookup; empty
    // when it is not a regular file, cannot be read or is larger than `limit`.
    std::optional<std::vector<unsigned char>> ReadFile(const Path& path, std::size_t limit);

    // Where a shortcut's target lies, seen from the named path (or followed
    // target) whose walk reached `shortcut`: Inside gives the target as a
    // plain path below that root (no "..", no symbolic link on the way).
    enum class Reach { Inside, Outside, Missing };
    Reach Beneath(const Path& shortcut, const Path& target, Path& inside);
    bool IsNamed(const Path& path) const { return IsFollowed(path); }
    void Fail(const Path& path, Problem problem, int error);
    void Refuse(const Path& path, Problem problem, const std::string& detail);

    Path Dir(const Path& path, unsigned mask) override;
    Path Dir() override;
    std::optional<FsObject> GetFile(const Path& path) override;
    std::optional<FsObject> GetFolder(const Path& path) override;
    bool SetAttributes(const FsObject& object, AttributeWord word) override;
    bool HoldsFile(const FsObject& folder, const Path& name) override;
    bool IsLinkedFolder(const Path& folder) override;
    std::optional<FolderKey> FolderIdentity(const Path& folder) override;

    // Descriptors held open for the folder chain (tests check it stays bounded).
    std::size_t OpenFolders() const { return open_; }
    // The most the chain holds open at once, its root aside.
    static constexpr std::size_t kOpenLevels = 48;

private:
    struct Entry {
        Path path;
        bool found = false;   // exists as a file or folder we may touch
        bool folder = false;
        bool dotName = false;
        UniqueFd fd;          // the entry itself
        dev_t dev = 0;
        ino_t ino = 0;
        mode_t mode = 0;
        nlink_t links = 0;
        std::uint64_t size = 0;
        bool mountRoot = false;
        AttributeStore* store = nullptr;  // of the entry's mount
        bool readable = false;
        AttributeWord word = 0;  // also what the probe masks test
        std::optional<AttributeWord> KnownWord() const {
            if (!readable) return std::nullopt;
            return word;
        }
    };
    // One folder of the chain: its path is chainPath_'s first `end` bytes.
    struct Level {
        std::size_t end = 0;
        UniqueFd fd;  // closed when the level left the descriptor cache
        dev_t dev = 0;
        ino_t ino = 0;
        bool listed = false;
    };
    struct Name {
        std::string name;
        unsigned char type;  // d_type of the listing
    };

    Entry& Locate(const Path& path);
    bool Open(Entry& e, int dirfd, const std::string& name, unsigned char typeHint);
    bool OpenFollowed(Entry& e);
    bool Inspect(Entry& e);
    void ReadRecord(Entry& e);
    bool StatFolder(const Path& folder, struct statx& sx);
    int FolderFd(const Path& folder);
    int StartChain(const Path& root);
    int Descend(const Path& folder, std::size_t from);
    bool PushLevel(UniqueFd fd, std::size_t end);
    int Reopen(std::size_t level);
    void Truncate(std::size_t levels);
    std::size_t CoveredLevel(const Path& folder) const;
    // The lengths first: a deep path is not hashed for every entry.
    bool IsFollowed(const Path& path) const {
        return followedLengths_.count(path.size()) != 0 && followed_.count(path) != 0;
    }
    unsigned char TypeHint(const Path& folder, const std::string& name);
    AttributeStore& StoreFor(const Entry& e);
    static StoreEntry View(const Entry& e);
    std::optional<AttributeWord> StoredWord(const Entry& e, const StoreEntry& view, const StoreFailure& fail);
    unsigned Admits(unsigned mask) const;

    PosixSettings settings_;
    std::unordered_set<Path> followed_;
    std::unordered_set<std::size_t> followedLengths_;
    Path chainPath_;
    std::vector<Level> chain_;
    std::size_t open_ = 0;  // descriptors the chain holds
    Entry entry_;            // the last entry looked up: the engine asks about one path several times
    // The enumeration under way, and the types its listing gave.
    std::vector<Name> listing_;
    Path listedFolder_;
    unsigned listMask_ = probe::kAnything;
    std::size_t next_ = 0;   // next name Dir() returns
    std::size_t hint_ = 0;   // where the next type look-up starts
    std::unordered_map<dev_t, std::unique_ptr<AttributeStore>> stores_;  // one a mounted device
    std::set<std::pair<dev_t, ino_t>> dryRunChanged_;  // entries a dry run has told of
};

FileSystemFactory PosixFileSystemFactory(PosixSettings settings);

}  // namespace rivak::posix
