#pragma once
// An in-memory file system with the whole contract of FileSystem, plus
// failures that a real disk only produces now and then: a word that cannot be
// read or written, a folder that cannot be listed, shortcuts that cannot be
// read, have an empty target, or point at other shortcuts.
//
// Paths are "M:" followed by separator-joined names; "M:" is the root folder.
// Names match without regard to ASCII letter case, as on Windows.
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "engine/file_system.h"
#include "engine/shortcut.h"

namespace rivak {

class MemoryFileSystem {
public:
    MemoryFileSystem();

    static Path Root() { return RIVAK_T("M:"); }

    // Building the tree; the parent must exist. Children list in the order
    // they were added. A folder's word always carries the directory bit.
    void AddFolder(const Path& path, AttributeWord word = attr::kDirectory);
    void AddFile(const Path& path, AttributeWord word = attr::kArchive);
    // A shortcut file: `target` is what the reader gives ("" for a shortcut
    // to something that is not a file).
    void AddShortcut(const Path& path, const Path& target, AttributeWord word = attr::kArchive);
    // A linked folder (junction, symbolic link): lists what `target` lists,
    // shares its identity and its word.
    void AddFolderLink(const Path& path, const Path& target);

    // Injected failures.
    void FailReading(const Path& path);   // the word cannot be read
    void FailWriting(const Path& path);   // the word cannot be written
    void FailListing(const Path& folder); // the folder yields no names
    void FailShortcut(const Path& path);  // the shortcut cannot be read

    std::optional<AttributeWord> Word(const Path& path) const;
    bool Exists(const Path& path) const { return Find(path).has_value(); }

    // A file-system object over this tree, one per batch.
    std::unique_ptr<FileSystem> Open();
    FileSystemFactory Factory() {
        return [this] { return Open(); };
    }
    ShortcutReader& Shortcuts() { return shortcuts_; }

    // What the engine did, for tests and the benchmark.
    struct Counters {
        std::uint64_t writes = 0;
        std::uint64_t listings = 0;
        std::uint64_t shortcutReads = 0;
        std::uint64_t fileLookups = 0;  // HoldsFile
        std::uint64_t opened = 0;
        std::uint64_t released = 0;
    };
    const Counters& counters() const { return counters_; }
    // Order in which words were written, as paths; off unless asked for.
    void RecordWrites(bool on) { recordWrites_ = on; }
    const std::vector<Path>& writeLog() const { return writeLog_; }

private:
    friend class MemorySession;

    struct Node {
        Path name;
        AttributeWord word = 0;
        std::uint32_t parent = 0;
        std::optional<std::uint32_t> linkTo;  // linked folder: the real one
        std::optional<Path> shortcutTarget;
        bool failRead = false, failWrite = false, failList = false, failShortcut = false;
        std::vector<std::uint32_t> children;
        std::unordered_map<Path, std::uint32_t> byName;  // folded name -> child
    };

    class ShortcutReaderImpl final : public ShortcutReader {
    public:
        explicit ShortcutReaderImpl(MemoryFileSystem& fs) : fs_(fs) {}
        std::optional<Path> Target(const Path& shortcutFile) override;

    private:
        MemoryFileSystem& fs_;
    };

    std::optional<std::uint32_t> Find(const Path& path) const;
    std::uint32_t Real(std::uint32_t node) const;  // follows a folder link
    bool IsFolder(std::uint32_t node) const;
    std::uint32_t Add(const Path& path, AttributeWord word);
    Node& At(const Path& path);

    std::vector<Node> nodes_;
    ShortcutReaderImpl shortcuts_{*this};
    Counters counters_;
    bool recordWrites_ = false;
    std::vector<Path> writeLog_;
};

}  // namespace rivak
