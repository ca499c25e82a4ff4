#pragma once
// The batch procedures: entry processor, folder walker and batch run. One
// object serves the whole run; the file-system object lives for one batch.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/file_system.h"
#include "engine/native_string.h"
#include "engine/options.h"
#include "engine/progress.h"
#include "engine/shortcut.h"
#include "engine/walk_events.h"
#include "engine/work_pool.h"

namespace rivak {

inline constexpr std::int32_t kMaxDepth = 25;

// What a batch does with the system attribute. Keep is rivak.exe's only way:
// system files are left alone. Clear and Set change the bit of files and
// folders, and let the other options act on system files too. Pass leaves
// the bit as it is but takes system files as any other (a listing, which
// changes nothing, shows them).
enum class SystemBit { Keep, Clear, Set, Pass };

// Thrown out of a batch stopped on request (`stop`), once every entry
// changed so far is told.
struct BatchStopped {};

class AttributeEngine {
public:
    AttributeEngine(const OptionSource& options, ShortcutReader& shortcuts,
                    ProgressDisplay& progress, FileSystemFactory openFileSystem);

    // The path list of the current batch; filled by the caller.
    PathList paths;
    // The deepest level walked (rivak.exe always uses kMaxDepth).
    std::int32_t maxDepth = kMaxDepth;
    SystemBit system = SystemBit::Keep;
    // Told what the progress display cannot show; may be null.
    WalkEvents* events = nullptr;
    // Threads that work on a folder's entries, where the file system allows
    // them (rivak.exe: 1), and what each runs first.
    unsigned jobs = 1;
    std::function<void()> workerStart;
    // Once true, the batch stops at the next entry (BatchStopped); may be null.
    const std::atomic<bool>* stop = nullptr;

    // Runs one batch over paths with the options as they are when it starts.
    // An error that escapes (out of memory, say) still hides the progress
    // display and releases the file-system object, then goes on to the caller.
    void RunBatch();

    // One path: resolves a shortcut when FollowShortcuts is on, rewrites a file or a
    // folder, and returns the folder to descend into ("" for anything else).
    // Never fails. Needs an open file-system object (OpenFileSystem).
    Path ProcessEntry(const Path& path);

    // Walks the contents of `folder` at `level` (1 for a listed folder).
    void WalkFolder(const Path& folder, std::int32_t level);

    std::int64_t ProcessedCount() const { return processedCount_; }
    // The folders the depth limit kept out of the last batch (reached only
    // below it, so never walked), and the first of them met ("" for none).
    std::int64_t FoldersLeftOut() const { return foldersLeftOut_; }
    const Path& FirstLeftOut() const { return firstLeftOut_; }

    // What RunBatch does around its loop; public for callers that handle single
    // entries outside a batch (tests).
    void OpenFileSystem();
    void ReleaseFileSystem();

private:
    // An entry's path after shortcuts, and whether it is a folder to walk.
    struct Descent {
        Path folder;  // "" for a file
        bool walk = false;
    };
    struct KeyHash {
        std::size_t operator()(const FolderKey& k) const noexcept {
            constexpr std::uint64_t kMix = 0x9E3779B97F4A7C15ull;
            return std::hash<std::uint64_t>()((k.volume * kMix ^ k.objectHigh) * kMix ^ k.object);
        }
    };
    // A folder met in this batch (folder_walker.cpp says how this is used).
    struct Walked {
        std::int32_t level = 0;       // the shallowest level its entries were walked at
        std::uint32_t leftOutAt = 0;  // its slot in leftOut_, while the limit keeps it out
        bool complete = false;        // that walk left nothing out, however deep
    };

    // A subfolder to walk: an entry of the folder being walked, or a whole
    // path elsewhere (a shortcut's target).
    struct Subfolder {
        FolderEntry entry;
        Path elsewhere;  // "" for an entry of the folder
    };
    // A folder reached: its subfolders to walk next, and whether something
    // there is left to walk when it is reached from higher up.
    struct Entered {
        std::unique_ptr<OpenFolder> folder;
        std::vector<Subfolder> subfolders;
        Walked* record = nullptr;
        bool leftOut = false;
    };

    // What the walk takes next if the folder being visited has no
    // subfolders: its next sibling, whose path is the visited folder's
    // first `base` characters and its name.
    struct Upcoming {
        OpenFolder* parent = nullptr;
        const Subfolder* sub = nullptr;
        std::size_t base = 0;
        std::int32_t level = 0;
    };
    // The folder the walk takes next, listed and its first entries looked
    // up on a worker while the engine changes and tells the one before.
    struct Ahead {
        std::unique_ptr<OpenFolder> folder;
        OpenFolder* parent = nullptr;
        Path name;  // in `parent`
        Path path;
        std::vector<FolderEntry> listing;
        std::size_t lookedUp = 0;  // the listing's first entries, looked up
        std::atomic<bool> enough{false};
    };
    // An entry decided, waiting to be changed and told.
    struct Pending {
        FolderEntry* entry = nullptr;
        bool counted = false;
        bool change = false;
        bool keepsMark = false;  // a folder losing read-only: desktop.ini keeps it
        bool systemLeftAlone = false;
        bool stopped = false;
        AttributeWord word = 0;
    };
    // Entries looked up ahead of their decisions at most.
    static constexpr std::size_t kStretch = 4096;
    // Entries changed on the workers before they are told.
    static constexpr std::size_t kSlice = 256;

    Descent Process(const Path& path, bool rewrite = true);
    void Decide(FolderEntry& entry, bool rewrite);
    void Settle(OpenFolder& folder, const Path& path);
    void Tell(OpenFolder& folder, const Path& path, Pending& p);
    bool SharedAgain(const FolderEntry& entry);
    bool Stopping() const { return stop && stop->load(std::memory_order_relaxed); }
    void CheckStop() const {
        if (Stopping()) throw BatchStopped{};
    }
    void Count();
    AttributeWord Rewritten(AttributeWord word) const;
    void ApplyAttributes(const std::optional<FsObject>& item);
    void TellSystemFile(const Path& path);
    void Walk(const Path& folder, std::int32_t level);
    Entered Enter(OpenFolder* parent, Subfolder& sub, const Path& path, std::int32_t level, const Upcoming& next);
    std::vector<Subfolder> Visit(OpenFolder& folder, const Path& path, bool rewrite, std::int32_t level,
                                 const Upcoming& next, std::unique_ptr<Ahead> ready);
    static bool IsShortcut(const FolderEntry& entry);
    bool HoldsShortcut(std::size_t start, std::size_t end) const;
    std::size_t Stretch() const { return std::max<std::size_t>(1, std::min(fs_->LookAhead(), kStretch)); }
    void LookAheadFrom(OpenFolder& folder, const Path& path, std::int32_t level, const Upcoming& next,
                       const std::vector<Subfolder>& subfolders, std::size_t start, std::size_t end);
    void LookAheadTo(OpenFolder& parent, const FolderEntry& sub, Path path, std::int32_t level);
    std::unique_ptr<Ahead> TakeAhead(OpenFolder* parent, const Subfolder& sub);
    void DropAhead();
    void LeaveOut(Walked* record, const Path& folder);
    void SettleLeftOut();
    bool On(Option option) const { return options().Value(option) == kChecked; }
    const OptionSource& options() const { return batchOptions_ ? *batchOptions_ : options_; }

    const OptionSource& options_;
    // The options read at the start of the running batch; none outside one.
    std::optional<OptionSnapshot> batchOptions_;
    ShortcutReader& shortcuts_;
    ProgressDisplay& progress_;
    FileSystemFactory openFileSystem_;
    std::unique_ptr<FileSystem> fs_;
    std::int64_t processedCount_ = 0;
    // The listing buffers: one folder's entries at a time, reused.
    std::vector<FolderEntry> listing_;
    std::vector<Pending> pending_;
    std::vector<FolderKey> shared_;  // the shared entries of the stretch decided so far
    std::unique_ptr<WorkPool> pool_;
    std::unique_ptr<Ahead> ahead_;    // while its worker runs, and until the walk reaches it
    // Entries with other names (links, mounts) changed while a folder was listed ahead.
    std::unordered_set<FolderKey, KeyHash> changedMeanwhile_;
    // Every folder met in this batch, by its identity.
    std::unordered_map<FolderKey, Walked, KeyHash> walks_;
    // The folders the limit keeps out, in the order met; a slot is emptied
    // once its folder is walked after all.
    std::vector<Path> leftOut_;
    std::int64_t leftOutCount_ = 0;
    std::int64_t foldersLeftOut_ = 0;
    Path firstLeftOut_;
};

}  // namespace rivak
