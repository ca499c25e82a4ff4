#pragma once
// The save file of --save and --restore: the state of each entry a run is
// about to change (with --list, of each entry listed), written down and made
// durable before the change, and read back and checked whole before anything
// is put back. Text, one record a line:
//
//   rivak-save 1                                  the format's version
//   CRC created 2026-05-01T09:30:00Z              when the run started (UTC)
//   CRC root N PATH                               a named path, made absolute; N counts from 1
//   CRC mount MAJ:MIN KIND TYPE MOUNTPOINT        the store of a device
//   CRC entry N MAJ:MIN INODE f|d WORD MODE RECORD PATH
//   CRC seal COUNT                                the entries so far; the batch before it is whole
//                                                 (and on disk before any of its entries changed)
//   CRC end COUNT                                 the run finished
//
// CRC is the CRC-32 of the rest of the line, in 8 hex digits. PATH is the
// entry's path below root N ("." for the root itself). WORD is the word the
// store read (hex), MODE the permission bits (octal), RECORD the Samba/Wine
// store's user.DOSATTRIB: ":" and its bytes in hex, "-" none, "!" no user
// extended attributes there, "." not kept (the volume has its own word).
// Every byte of a name outside printable ASCII, a blank or a backslash is
// written \xHH, so any name comes back byte for byte and no line holds a
// control character. A root or mount line comes before the first entry that
// names it. A line of blanks only fills a page's end: no shorter line
// crosses a 4096-byte boundary of the file.
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

#include "platform/posix/attribute_store.h"
#include "platform/posix/unique_fd.h"

namespace rivak::posix {

inline constexpr int kSaveFormat = 1;

// Bytes as a save file writes a name, and back; nothing for a text that no
// name gives.
std::string EscapeName(std::string_view bytes);
std::optional<std::string> UnescapeName(std::string_view text);
// A path below a root as a walk gives it: names, none of them empty, "." or "..".
bool IsPlainBelow(std::string_view path);

// Writes a save file. Lines are gathered a batch at a time; Seal hands the
// batch to a thread of its own, which writes it, waits for fdatasync, and
// only then runs the job handed over with it: the changes of the entries the
// batch names. So a run killed at any moment leaves a file naming every
// entry it changed, and the walk goes on while the disk catches up.
class SaveWriter {
public:
    // Creates `file` with mode 0600, never over anything that exists there
    // (a link included), and makes its header durable; empty with errno set
    // when it cannot.
    static std::unique_ptr<SaveWriter> Create(const std::string& file);
    ~SaveWriter();
    SaveWriter(const SaveWriter&) = delete;
    SaveWriter& operator=(const SaveWriter&) = delete;

    // The number of `root` (a path the run followed), written the first time.
    std::uint32_t Root(std::string_view root);
    bool HasMount(dev_t dev) const { return mounts_.count(dev) != 0; }
    void Mount(dev_t dev, const char* kind, const std::string& type, const std::string& mountPoint);
    void Entry(std::uint32_t root, dev_t dev, ino_t ino, bool folder, const SavedState& state, std::string_view below);
    // Entry lines gathered since the last seal.
    std::size_t Gathered() const { return gathered_; }
    // Nothing on its way to the disk: a batch handed over now waits for no other.
    bool Idle() const { return !busy_.load(std::memory_order_acquire); }

    // Hands over the lines gathered, and `onDisk` to run once they are on
    // disk, after the batch before is done; false (errno) when a batch could
    // not be written (its job and every later one are never run).
    bool Seal(std::function<void()> onDisk = {});
    // Waits until every batch handed over is on disk and its job done;
    // false (errno) as Seal.
    bool Wait();
    // The end line, on disk, and the file closed; false (errno) as Seal.
    bool Finish();

private:
    SaveWriter(UniqueFd fd, std::string cwd);
    std::size_t Begin();
    void End(std::size_t start);
    void Line(std::string_view body);
    void Hand();
    void Work();

    UniqueFd fd_;
    std::string cwd_;  // named paths are saved from where the run started
    std::string gathering_;
    std::size_t gathered_ = 0;
    std::uint64_t entries_ = 0;
    std::uint64_t written_ = 0;  // bytes handed over before gathering_
    std::uint64_t durable_ = 0;  // bytes on disk (the writing thread's own)
    std::unordered_map<std::string, std::uint32_t> roots_;
    std::string lastRoot_;  // most entries in a row share one
    std::uint32_t lastNumber_ = 0;
    std::unordered_set<dev_t> mounts_;
    // What the writing thread shares: a batch handed over, and how it went.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string handed_;
    std::function<void()> job_;
    std::atomic<bool> busy_ = false;
    bool stop_ = false;
    int error_ = 0;
    std::thread worker_;
};

struct SavedMount {
    dev_t dev = 0;
    std::string kind, type, mountPoint;
};

struct SavedEntry {
    std::size_t root = 0;  // into SavedFile::roots
    dev_t dev = 0;
    ino_t ino = 0;
    bool folder = false;
    SavedState state;
    std::string below;  // empty: the root itself
};

struct SavedFile {
    std::string created;
    std::vector<std::string> roots;
    std::vector<SavedMount> mounts;
    std::vector<SavedEntry> entries;
    bool finished = false;  // its run wrote the end line
    std::size_t unsealed = 0;  // the first line after the last seal line (0: none)
    const SavedMount* MountOf(dev_t dev) const;
    // The path an entry had: its root, then its path below it, joined as a walk joins them.
    std::string PathOf(const SavedEntry& e) const;
};

// Why a save file is refused, and at which line (from 1).
struct SaveDamage {
    enum class Why {
        Empty,         // nothing in it
        NotASaveFile,  // line 1 is no version line
        Newer,         // a version this program does not read (`detail`)
        CutShort,      // the file ends inside the line
        Checksum,      // the line does not match its check
        Malformed,     // not a line this program writes
        Missing,       // lines are missing before it (its count says so)
    };
    std::size_t line = 0;
    Why why = Why::Malformed;
    std::string detail;
};

std::variant<SavedFile, SaveDamage> ReadSaveFile(std::string_view text);

}  // namespace rivak::posix
