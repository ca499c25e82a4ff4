#pragma once
// Where a mounted volume keeps the DOS attributes of its entries, and how
// rivak reads and changes them there: one store per kind of volume, chosen
// for each mount (SelectStore). Every store reads the whole word and changes
// only read-only and hidden; every other bit stays as the volume has it.
// Adding a volume kind is one file: a store, and its line in SelectStore.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/file_system.h"

namespace rivak::posix {

enum class Problem;
class Readers;

// Read-only to one of Samba and Wine but not to the other, where both read
// an entry (the listing's "r"): a bit no Windows attribute uses, which the
// engine passes along and never sets.
inline constexpr AttributeWord kReadOnlyToOne = 0x80000000u;

// The first read of an entry's extended attribute, kept for the write that
// follows: a store reads it once an entry.
struct RecordCache {
    bool valid = false;
    long size = -1;  // what the read returned
    int error = 0;   // its errno, when it failed
    std::vector<unsigned char> bytes;
};

// One file or folder as a store sees it.
struct StoreEntry {
    int fd = -1;              // the entry itself: open for reading, or O_PATH (see pathOnly)
    bool pathOnly = false;    // fd is an O_PATH descriptor (entry_calls.h); never for a store that opens
    bool folder = false;
    bool dotName = false;     // the name starts with a dot (not "." or "..")
    ino_t ino = 0;
    mode_t mode = 0;          // permission bits
    nlink_t links = 0;
    dev_t dev = 0;
    RecordCache* record = nullptr;  // may be null: read each time
};

// The folder that holds an entry, where the walk knows it.
struct StoreFolder {
    int fd = -1;  // -1: not known (a path the caller named)
    dev_t dev = 0;
    ino_t ino = 0;
};

using StoreFailure = std::function<void(Problem problem, int error)>;

struct StoreSettings {
    bool dryRun = false;        // decide and report, change nothing
    mode_t umask = 022;         // applied to write bits given back (exFAT before Linux 6.7)
    bool changeReadOnly = true; // what the run asks to change; a store that cannot
    bool changeHidden = true;   // tell what an entry has reports these
    Readers* readers = nullptr; // who reads Linux's own file systems where (null: Samba and Wine alike)
};

// What a write did.
struct StoreOutcome {
    bool ok = true;                       // false: a change was refused (reported)
    bool touched = false;                 // something on the volume changed (or would, in a dry run)
    AttributeWord planned = 0;            // dry run: the word the entry would have
};

// What a store keeps of one entry, as --save writes it down and --restore
// puts it back: the word it reads, the mode, and for the Samba/Wine store
// the bytes of user.DOSATTRIB, or that there are none.
struct SavedState {
    enum class Record {
        NotKept,   // the volume keeps a word of its own; nothing else is saved
        None,      // no user.DOSATTRIB
        Present,   // user.DOSATTRIB holds `bytes`
        NoXattrs,  // the file system keeps no user extended attributes
    };
    AttributeWord word = 0;
    mode_t mode = 0;
    Record record = Record::NotKept;
    std::vector<unsigned char> bytes;
    bool operator==(const SavedState&) const = default;
};

class AttributeStore {
public:
    virtual ~AttributeStore() = default;
    // How the listing names it: "FAT attributes".
    virtual const char* Describe() const = 0;
    // False where the volume keeps no word rivak can read: the word read is
    // only a guess, and is never shown or changed as if it were known.
    virtual bool Knows() const { return true; }
    // Whether its calls need the entry open for reading (an ioctl does);
    // the others work on an O_PATH descriptor.
    virtual bool Opens() const { return false; }
    // Whether the volume may keep less than it was given, so a change is
    // read back to tell what it holds (an SMB server may).
    virtual bool ReadsBack() const { return false; }
    // The store that keeps the attributes of `e`: the mount's own, or on
    // Linux's own file systems the one of the reader of the tree `e` lies in.
    virtual AttributeStore& Within(const StoreEntry& e, const StoreFolder& holder) {
        (void)e, (void)holder;
        return *this;
    }
    // The entry's word, with the directory bit for a folder; nothing when it
    // cannot be read (reported through `fail`).
    virtual std::optional<AttributeWord> Read(const StoreEntry& e, const StoreFailure& fail) = 0;
    // Gives the entry the read-only and hidden bits of `want` (read as
    // `before`), and system or archive where `want` changed them (the engine
    // never does), reading the volume's word again and keeping all its other bits.
    virtual StoreOutcome Write(StoreEntry& e, AttributeWord before, AttributeWord want, const StoreFailure& fail) = 0;

    // How a save file names the store: "samba-wine", "fat", "ntfs3"...;
    // an entry is put back only by a store of the same kind.
    virtual const char* Kind() const { return "unknown"; }
    // Read, keeping in `saved` all a later Restore needs. A store that
    // leaves `saved` empty must be one whose Write never touches anything.
    virtual std::optional<AttributeWord> ReadSaving(const StoreEntry& e, const StoreFailure& fail,
                                                    std::optional<SavedState>& saved) {
        std::optional<AttributeWord> word = Read(e, fail);
        if (word) saved = SavedState{*word, e.mode, SavedState::Record::NotKept, {}};
        return word;
    }
    // Gives the entry exactly the state saved; touched only where it
    // differed. By default the store cannot (store_unknown.cpp).
    virtual StoreOutcome Restore(StoreEntry& e, const SavedState& saved, const StoreFailure& fail);
};

// The bits a write sets as `want` has them: read-only and hidden unless the
// run keeps them, system and archive only where the caller changed them.
inline AttributeWord WrittenBits(const StoreSettings& s, AttributeWord before, AttributeWord want) {
    return (s.changeReadOnly ? attr::kReadOnly : 0) | (s.changeHidden ? attr::kHidden : 0) |
           ((before ^ want) & (attr::kReadOnly | attr::kHidden | attr::kSystem | attr::kArchive));
}

// The step the stores that keep a whole word share: the bits the run writes
// come from `want`, every other bit stays as `old` has it (a word that would
// be 0 is `normal` instead, where the volume has such a bit); a word that
// does not change is not written, nor is anything in a dry run. `put(word)`
// writes it.
template <class Put>
StoreOutcome MergeAndCommit(const StoreSettings& s, const std::optional<std::uint32_t>& old, AttributeWord before,
                            AttributeWord want, Put put, std::uint32_t normal = 0) {
    StoreOutcome out{false, false, before};
    if (!old) return out;
    out.ok = true;
    const AttributeWord bits = WrittenBits(s, before, want);
    std::uint32_t word = (*old & ~(bits | normal)) | (want & bits);
    if (word == 0) word = normal;
    out.planned = word;
    if ((word & ~normal) == (*old & ~normal)) return out;
    out.touched = true;
    if (!s.dryRun) out.ok = put(word);
    return out;
}

// The store of the mount that holds the open entry `fd`, and how the mount is
// named for the listing: its mount point and file-system type, from
// /proc/self/mountinfo where it can be read.
struct ChosenStore {
    std::unique_ptr<AttributeStore> store;
    std::string mountPoint;
    std::string type;
};
ChosenStore SelectStore(int fd, const StoreSettings& settings);

// The stores, one file each.
std::unique_ptr<AttributeStore> SambaWineStore(const StoreSettings& settings);
std::unique_ptr<AttributeStore> FatStore(const StoreSettings& settings, bool exfat);
std::unique_ptr<AttributeStore> NtfsStore(const StoreSettings& settings, bool ntfs3g);
std::unique_ptr<AttributeStore> CifsStore(const StoreSettings& settings);
std::unique_ptr<AttributeStore> UnknownFuseStore(const StoreSettings& settings);

// A 32-bit word kept in a system or cifs extended attribute (store_ntfs.cpp);
// a failure is reported through `fail` (Access, Write).
std::optional<std::uint32_t> ReadWordAttribute(const StoreEntry& e, const char* name, bool bigEndian,
                                              const StoreFailure& fail);
bool WriteWordAttribute(const StoreEntry& e, const char* name, std::uint32_t word, bool bigEndian,
                        const StoreFailure& fail);

}  // namespace rivak::posix
