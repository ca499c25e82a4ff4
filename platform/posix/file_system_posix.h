#pragma once
// The engine's file system over the volumes Linux mounts. Each mount keeps
// the DOS attributes in its own way, and gets its store (attribute_store.h):
// the FAT and NTFS drivers' own words, the SMB client's, or, on Linux's own
// file systems, "user.DOSATTRIB" and the write bits as Samba and Wine read them.
//
// Safe under root: a path the caller named (Follow) is looked up by its name
// once (named_path.h says which links it may follow); its descriptor then
// serves the entry, its walk and the shortcuts below it, and any later
// look-up by the name must find the same file (device and inode). Below it,
// every call is made relative to a directory descriptor opened with
// O_NOFOLLOW, and every change goes through a descriptor of the entry
// itself. A folder swapped for a symbolic link in the middle of a batch can
// only make a call fail, never redirect it. Symbolic links met in a walk are
// neither followed nor changed; FIFOs, sockets and devices are never opened:
// an entry is first taken with O_PATH, its type read there, and only a file
// or a folder is opened, through that same descriptor.
//
// Any depth: the folders being walked form a chain that keeps each level's
// name (as a stretch of one path) and identity; only the deepest levels and
// the chain's root hold a descriptor. A level that lost its descriptor is
// reached again through ".." from below or by name from above, and must be
// the same folder (device and inode) as before.
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/file_system.h"
#include "platform/posix/attribute_store.h"
#include "platform/posix/dosattrib.h"
#include "platform/posix/named_path.h"
#include "platform/posix/signals_held.h"
#include "platform/posix/unique_fd.h"

namespace rivak::posix {

// What went wrong with one entry.
enum class Problem {
    Access,            // could not be looked up or opened (errno says why)
    Special,           // named by the user, but neither a file nor a folder
    NotAFolder,        // named with a trailing "/", but not a folder
    Outside,           // a shortcut met in a walk whose target lies outside the named path, or a
                       // link or shortcut of another user leading out of its folder
    Dangling,          // a shortcut whose target does not exist
    Shortcut,          // a shortcut that could not be read (the reason is in `detail`)
    ShortcutTooLarge,  // a shortcut larger than any (`detail`: the most one holds)
    WindowsOnly,       // a shortcut whose target only Windows can resolve (`detail`: the target)
    Unmapped,          // a shortcut whose drive or share is not mapped (`detail`: the target)
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
    NotKeptInShare,    // the share keeps no such attribute (smbd with store dos attributes = no)
    NotSaved,          // --save: the save file could not be written (errno), so nothing was changed
    Gone,              // --restore: no file or folder has the saved path any more
    Replaced,          // --restore: another file or folder has the saved path now
    OtherStore,        // --restore: the entry's volume keeps its attributes another way now
};

class SaveWriter;
struct SavedEntry;

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
    // or where a dangling one points. A target in `detail` is the file's own
    // bytes, to be quoted before it reaches a terminal.
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
    bool followOutside = false;    // as root, follow other users' links in named paths anywhere
    uid_t caller = 0;              // as root, whose links are followed as root's own are
    Readers* readers = nullptr;    // Samba's shares and Wine's prefixes (null: none known)
    SaveWriter* save = nullptr;    // --save: each entry's state is written there before it changes
};

class PosixFileSystem final : public FileSystem {
public:
    // What the calls on one entry of a walk tell, kept until it is told.
    class Recorder;
    // Whether this thread's calls are about an entry of a walk.
    static bool OnWalkEntry();

    explicit PosixFileSystem(PosixSettings settings);
    ~PosixFileSystem() override;

    // A path given by the user (or a shortcut's target): its symbolic links
    // are followed, the last one included, as chmod does. Below it nothing
    // is followed. Once a path was given, paths below none of them are refused.
    // `typed` is what the user typed when `path` is its real name ("d/.."
    // for "/srv"): the path is looked up as typed.
    void Follow(const Path& path, const Path& typed = Path());
    // A followed path that leads to something (false: nothing has its name).
    bool Reaches(const Path& path);

    // The contents of a regular file, read through the same safe lookup; empty
    // when it is not a regular file, cannot be read or is larger than `limit`
    // (then `tooLarge` is set).
    std::optional<std::vector<unsigned char>> ReadFile(const Path& path, std::size_t limit, bool* tooLarge = nullptr);

    // Where a shortcut's target lies, seen from the named path (or followed
    // target) whose walk reached `shortcut`, or, for a shortcut named itself,
    // from the folder that holds it: Inside gives the target as a plain path
    // below that root (no "..", no symbolic link on the way).
    using Reach = posix::Reach;
    Reach Beneath(const Path& shortcut, const Path& target, Path& inside);
    // A shortcut named as a path, which leads wherever it points; as root,
    // only one of root's or the caller's.
    bool LeadsAnywhere(const Path& shortcut);

    // --restore: gives the entry at `path`, reached as any entry is, the
    // state saved by a store of `kind`, if it is still the object saved.
    bool PutBack(const Path& path, const SavedEntry& saved, const std::string& kind);
    // --save: the changes still waiting for the save file are made.
    void Flush();
    void Fail(const Path& path, Problem problem, int error);
    void Refuse(const Path& path, Problem problem, const std::string& detail);

    Path Dir(const Path& path, unsigned mask) override;
    std::optional<FsObject> GetFile(const Path& path) override;
    std::optional<FsObject> GetFolder(const Path& path) override;
    bool SetAttributes(const FsObject& object, AttributeWord word) override;
    bool HoldsFile(const FsObject& folder, const Path& name) override;

    // The walk (folder_walk_posix.cpp).
    std::unique_ptr<OpenFolder> OpenFolderAt(const Path& path) override;
    std::unique_ptr<OpenFolder> OpenSubfolder(OpenFolder& parent, const FolderEntry& sub) override;
    std::optional<FolderKey> Identity(OpenFolder& folder) override;
    bool List(OpenFolder& folder, const Path& path, std::vector<FolderEntry>& entries) override;
    bool LookUp(OpenFolder& folder, FolderEntry& entry) override;
    void TellListing(OpenFolder& folder) override;
    void Tell(OpenFolder& folder, FolderEntry& entry) override;
    unsigned Workers() const override { return 64; }
    // A save file's batches are gathered in the order the changes come.
    bool ChangesInParallel() const override { return !settings_.save; }
    bool ListsAhead() const override { return true; }
    std::size_t LookAhead() const override { return lookAhead_; }
    bool Change(OpenFolder& folder, const FolderEntry& entry, AttributeWord word) override;
    bool SubfolderHolds(OpenFolder& folder, const FolderEntry& sub, const Path& name) override;
    void Visited(OpenFolder& folder) override;

    // Descriptors held open for folders: the path chain's and the walk's
    // (tests check they stay bounded).
    std::size_t OpenFolders() const { return open_ + walkOpen_; }
    // The most the chain holds open at once, its root aside, and the walk.
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
        uid_t owner = 0;
        std::uint64_t size = 0;
        AttributeStore* store = nullptr;  // of the entry's mount
        bool readable = false;
        bool pathOnly = false;   // fd is O_PATH: the store's calls go through its /proc link
        mutable RecordCache record;  // the store's read of it (kept by any view of the entry)
        AttributeWord word = 0;  // also what the probe masks test
        std::optional<SavedState> saved;  // --save
        StoreFolder holder;               // the folder the walk found it in, for the store's reader
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
    };
    struct WalkFolder;
    // What a listing found of an entry, kept until the engine decides it.
    struct Looked {
        Looked();
        Looked(Looked&&) noexcept;
        Looked& operator=(Looked&&) noexcept;
        ~Looked();
        std::size_t index = 0;           // of the entry in the listing that has this place
        std::unique_ptr<Recorder> told;  // what its look-up and change had to tell, in order
        Entry entry;                     // no store: none looked up, or taken to be changed
    };
    // A followed path, and what its name gave the first time.
    struct Named {
        Path typed;  // looked up by this name when not empty
        bool known = false;
        dev_t dev = 0;
        ino_t ino = 0;
        mode_t type = 0;
    };

    Entry& Locate(const Path& path);
    bool Open(Entry& e, int dirfd, const std::string& name, unsigned char typeHint);
    bool OpenFollowed(Entry& e);
    int NamedFd(const Path& path);
    bool HoldsNamed(const Path& folder, const std::string& name, const Path& shortcut);
    bool Inspect(Entry& e);
    static void FromStatx(Entry& e, const struct statx& sx);
    void ReadRecord(Entry& e, const StoreFolder& holder = {});
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
    static std::size_t LookAheadLimit();
    Problem OnMount(Problem p, dev_t dev);
    // Where the calls tell: the entry's recorder on a walk, else the report.
    Report* Reporter() const;
    // The walk's folders (folder_walk_posix.cpp).
    int Descriptor(WalkFolder& f);
    int SharedDescriptor(WalkFolder& f);
    int WalkDescriptor(WalkFolder& f);
    Looked* PlaceOf(WalkFolder& f, const FolderEntry& entry);
    void Touch(WalkFolder& f);
    void Forget(WalkFolder& f);
    void Drop(WalkFolder& f);
    const Path& Shown(WalkFolder& f);
    bool LookUpIn(WalkFolder& f, int dirfd, const std::string& name, unsigned char type, FolderEntry& out,
                  Looked& looked);
    bool Take(WalkFolder& f, const FolderEntry& entry, Entry& e);
    bool Apply(Entry& e, AttributeWord word);
    bool FolderHolds(int dirfd, const Path& name);
    AttributeStore& StoreFor(const Entry& e);
    static StoreEntry View(const Entry& e);
    std::optional<AttributeWord> StoredWord(const Entry& e, const StoreEntry& view, const StoreFailure& fail,
                                            std::optional<SavedState>* saved = nullptr);
    unsigned Admits(unsigned mask) const;
    // What a change made away from the walk (--save) has to tell, kept
    // until the walk's thread tells it.
    struct Told {
        bool changed = false;  // a change (before, after), else a failure (problem, error)
        Problem problem = Problem::Access;
        int error = 0;
        AttributeWord before = 0, after = 0;
    };
    bool Write(Entry& e, AttributeWord word, std::vector<Told>* told = nullptr);
    void TellChange(const Entry& e, StoreEntry& view, const StoreOutcome& out, const StoreFailure& fail,
                    std::vector<Told>* told = nullptr);

    // --save (file_system_save.cpp): a change waits, its descriptor open,
    // until the batch that names it is on disk.
    struct Deferred {
        Entry entry;
        AttributeWord want = 0;
        std::size_t toldEnd = 0;  // its part of told_ ends there
    };
    void StartSaving();
    bool Defer(Entry& e, AttributeWord want);
    void SaveListed(Entry& e);
    bool Journal(const Entry& e);
    void Rotate();
    bool Done();
    void ApplySealed();
    void TellSealed();
    void SaveFailed(int error);
    std::size_t Slot(dev_t dev, ino_t ino) const;
    void MarkWaiting(const Entry& e);
    void Rewait();
    AttributeStore& Planner(const Entry& e);

    PosixSettings settings_;
    LinkOwners owners_;
    std::unordered_map<Path, Named> followed_;
    // The followed path looked up last, and its descriptor (O_PATH): the
    // engine asks about it, walks it and looks for its shortcuts in turn.
    Path namedPath_;
    UniqueFd namedFd_;
    std::unordered_set<std::size_t> followedLengths_;
    Path chainPath_;
    std::vector<Level> chain_;
    std::size_t open_ = 0;  // descriptors the chain holds
    Entry entry_;            // the last entry looked up: the engine asks about one path several times
    // The walk's folders that hold a descriptor, the least recently used
    // first, and how many entry descriptors its listings keep.
    std::vector<WalkFolder*> openWalk_;
    std::size_t walkOpen_ = 0;
    std::atomic<std::size_t> keptEntries_{0};
    std::size_t lookAhead_ = LookAheadLimit();
    std::mutex walkFolders_;   // openWalk_ and the folders' descriptors, while workers look up
    std::mutex sharedState_;   // stores_ and their choice, dryRunChanged_
    std::set<dev_t> notStorableTold_;  // mounts whose "no known place" is told
    std::unordered_map<dev_t, std::unique_ptr<AttributeStore>> stores_;  // one a mounted device
    std::set<std::pair<dev_t, ino_t>> dryRunChanged_;  // entries a dry run has told of
    std::atomic<std::size_t> failures_{0};  // reported so far
    // --save: the batch being gathered, the one on its way to the disk (its
    // changes made there by the save file's thread, which touches nothing
    // else of this object but the stores), and the entries either holds; a
    // store of each device that only plans.
    std::vector<Deferred> gathering_, sealed_;
    std::vector<Told> told_;  // what the changes of sealed_ have to tell
    // While sealed_ is being changed, as a lent write bit may be among its
    // changes: a Ctrl-C waits for the batch (signals_held.h).
    std::optional<SignalsHeld> changing_;
    std::vector<std::pair<dev_t, ino_t>> waiting_;  // the entries of both, an open-addressed set
    std::unordered_map<dev_t, std::unique_ptr<AttributeStore>> planners_;
    std::unordered_map<dev_t, std::pair<std::string, std::string>> mountNames_;  // type, mount point
    std::size_t batchLimit_ = 0;
    int saveError_ = 0;
};

FileSystemFactory PosixFileSystemFactory(PosixSettings settings);

}  // namespace rivak::posix
