#pragma once
// The batch procedures: entry processor, folder walker and batch run. One
// object serves the whole run; the file-system object lives for one batch.
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "engine/file_system.h"
#include "engine/native_string.h"
#include "engine/options.h"
#include "engine/progress.h"
#include "engine/shortcut.h"

namespace rivak {

inline constexpr std::int32_t kMaxDepth = 25;

class AttributeEngine {
public:
    AttributeEngine(const OptionSource& options, ShortcutReader& shortcuts,
                    ProgressDisplay& progress, FileSystemFactory openFileSystem);

    // The path list of the current batch; filled by the caller.
    PathList list1;
    // The deepest level walked (rivak.exe always uses kMaxDepth).
    std::int32_t maxDepth = kMaxDepth;

    // Runs one batch over list1 with the options as they are when it starts.
    // An error that escapes (out of memory, say) still hides the progress
    // display and releases the file-system object, then goes on to the caller.
    void CngATr();

    // One path: resolves a shortcut when Check5 is on, rewrites a file or a
    // folder, and returns the folder to descend into ("" for anything else).
    // Never fails. Needs an open file-system object (OpenFileSystem).
    Path ProcessEntry(const Path& path);

    // Walks the contents of `xPath` at level `LV` (1 for a listed folder).
    void MoreDir(const Path& xPath, std::int32_t LV);

    std::int64_t ProcessedCount() const { return processedCount_; }

    // What CngATr does around its loop; public for callers that handle single
    // entries outside a batch (tests).
    void OpenFileSystem();
    void ReleaseFileSystem();

private:
    struct Descent {
        Path folder;
        bool throughLink = false;  // reached through a shortcut or a linked folder
    };
    struct KeyHash {
        std::size_t operator()(const FolderKey& k) const noexcept {
            constexpr std::uint64_t kMix = 0x9E3779B97F4A7C15ull;
            return std::hash<std::uint64_t>()((k.volume * kMix ^ k.objectHigh) * kMix ^ k.object);
        }
    };

    // A row of the listing, then a subfolder to walk: a name in its folder,
    // or a whole path elsewhere (a shortcut's target).
    struct Subfolder {
        Path name;
        bool elsewhere = false;
        bool throughLink = false;
    };

    Descent Process(const Path& path);
    void ApplyAttributes(const std::optional<FsObject>& item);
    void Walk(const Descent& descent, std::int32_t level);
    std::vector<Subfolder> Visit(const Path& xPath, bool throughLink, std::int32_t level);
    bool AlreadyWalked(const Path& folder, bool throughLink, std::int32_t level);
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
    // The listing buffer: one folder's entries at a time, reused.
    std::vector<Subfolder> list2_;
    // Shallowest level at which each linked folder was walked in this batch.
    std::unordered_map<FolderKey, std::int32_t, KeyHash> linkedWalks_;
};

}  // namespace rivak
