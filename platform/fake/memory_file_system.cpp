#include "platform/fake/memory_file_system.h"

#include <stdexcept>

namespace rivak {

namespace {

Path Fold(const Path& name) {
    Path folded = name;
    for (NativeChar& c : folded) c = AsciiLower(c);
    return folded;
}

std::vector<Path> Split(const Path& path) {
    std::vector<Path> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t sep = path.find(kPathSeparator, start);
        parts.push_back(path.substr(start, sep == Path::npos ? Path::npos : sep - start));
        if (sep == Path::npos) break;
        start = sep + 1;
    }
    return parts;
}

bool HasWildcard(const Path& name) {
    return name.find(NativeChar('*')) != Path::npos || name.find(NativeChar('?')) != Path::npos;
}

// The wildcard rules of the Windows probe as far as the engine uses them:
// "*" and "*.*" take every name; '?' takes one character.
bool Matches(const NativeChar* pattern, const NativeChar* name) {
    if (pattern[0] == NativeChar('*') && pattern[1] == NativeChar('.') && pattern[2] == NativeChar('*') &&
        pattern[3] == 0)
        return true;
    for (;; ++pattern, ++name) {
        if (*pattern == 0) return *name == 0;
        if (*pattern == NativeChar('*')) {
            for (const NativeChar* rest = name;; ++rest) {
                if (Matches(pattern + 1, rest)) return true;
                if (*rest == 0) return false;
            }
        }
        if (*name == 0) return false;
        const NativeChar p = AsciiLower(*pattern), n = AsciiLower(*name);
        if (p != NativeChar('?') && p != n) return false;
    }
}

// Read-only never keeps an entry out; the other four bits must all be asked for.
bool Admitted(AttributeWord word, unsigned mask) {
    const AttributeWord gating = attr::kHidden | attr::kSystem | attr::kVolume | attr::kDirectory;
    return (word & gating & ~mask) == 0;
}

constexpr AttributeWord kNamedBits = attr::kReadOnly | attr::kHidden | attr::kSystem | attr::kArchive;

}  // namespace

// A folder held open: the real node (a link's target), and the path it was
// reached by, for the write log.
struct MemoryFolder final : OpenFolder {
    std::uint32_t node = 0;
    Path path;
};

// One batch's view of the tree.
class MemorySession final : public FileSystem {
public:
    explicit MemorySession(MemoryFileSystem& store) : store_(store) { ++store_.counters_.opened; }
    ~MemorySession() override { ++store_.counters_.released; }

    Path Dir(const Path& path, unsigned mask) override {
        const std::size_t sep = path.rfind(kPathSeparator);
        if (sep == Path::npos) return Path();
        const Path last = path.substr(sep + 1);
        const auto parent = store_.Find(path.substr(0, sep));
        if (!parent || !store_.IsFolder(*parent)) return Path();
        const std::uint32_t folder = store_.Real(*parent);

        if (HasWildcard(last)) return FirstMatch(folder, last, mask);
        if (last == RIVAK_T(".") || last == RIVAK_T(".."))
            return Admitted(attr::kDirectory, mask) ? last : Path();
        const auto& byName = store_.nodes_[folder].byName;
        const auto it = byName.find(Fold(last));
        if (it == byName.end()) return Path();
        const MemoryFileSystem::Node& node = store_.nodes_[it->second];
        return Admitted(store_.nodes_[store_.Real(it->second)].word, mask) ? node.name : Path();
    }

    std::optional<FsObject> GetFile(const Path& path) override { return Lookup(path, false); }
    std::optional<FsObject> GetFolder(const Path& path) override { return Lookup(path, true); }

    bool SetAttributes(const FsObject& object, AttributeWord word) override {
        const auto node = store_.Find(object.path);
        return node && Write(*node, object.path, word);
    }

    bool HoldsFile(const FsObject& folder, const Path& name) override {
        ++store_.counters_.fileLookups;
        const auto node = store_.Find(folder.path + kPathSeparator + name);
        return node && !store_.IsFolder(*node);
    }

    std::unique_ptr<OpenFolder> OpenFolderAt(const Path& path) override {
        const auto node = store_.Find(path);
        if (!node || !store_.IsFolder(*node)) return nullptr;
        return Opened(*node, path);
    }

    std::unique_ptr<OpenFolder> OpenSubfolder(OpenFolder& parent, const FolderEntry& sub) override {
        const auto& folder = static_cast<MemoryFolder&>(parent);
        const auto child = Child(folder.node, sub.name);
        if (!child || !store_.IsFolder(*child)) return nullptr;
        return Opened(*child, folder.path + kPathSeparator + sub.name);
    }

    std::optional<FolderKey> Identity(OpenFolder& folder) override {
        return FolderKey{1, static_cast<MemoryFolder&>(folder).node};
    }

    bool List(OpenFolder& open, const Path&, std::vector<FolderEntry>& entries) override {
        const auto& folder = static_cast<MemoryFolder&>(open);
        ++store_.counters_.listings;
        if (store_.nodes_[folder.node].failList) return false;
        for (const std::uint32_t child : store_.nodes_[folder.node].children) {
            FolderEntry entry;
            entry.name = store_.nodes_[child].name;
            entry.folder = store_.IsFolder(child);
            entry.word = WordOf(child);
            entry.key = FolderKey{1, store_.Real(child)};
            entries.push_back(std::move(entry));
        }
        return true;
    }

    bool LookUp(OpenFolder& open, FolderEntry& entry) override {
        const auto child = Child(static_cast<MemoryFolder&>(open).node, entry.name);
        if (!child) return false;
        entry.folder = store_.IsFolder(*child);
        entry.word = WordOf(*child);
        return true;
    }

    bool Change(OpenFolder& open, const FolderEntry& entry, AttributeWord word) override {
        const auto& folder = static_cast<MemoryFolder&>(open);
        const auto child = Child(folder.node, entry.name);
        return child && Write(*child, folder.path + kPathSeparator + entry.name, word);
    }

    bool SubfolderHolds(OpenFolder& open, const FolderEntry& sub, const Path& name) override {
        ++store_.counters_.fileLookups;
        const auto child = Child(static_cast<MemoryFolder&>(open).node, sub.name);
        if (!child || !store_.IsFolder(*child)) return false;
        const auto file = Child(store_.Real(*child), name);
        return file && !store_.IsFolder(*file);
    }

private:
    std::optional<FsObject> Lookup(const Path& path, bool folder) {
        const auto node = store_.Find(path);
        if (!node || store_.IsFolder(*node) != folder) return std::nullopt;
        return FsObject{path, folder, WordOf(*node)};
    }

    std::optional<AttributeWord> WordOf(std::uint32_t node) const {
        const MemoryFileSystem::Node& n = store_.nodes_[store_.Real(node)];
        if (n.failRead) return std::nullopt;
        return n.word;
    }

    std::optional<std::uint32_t> Child(std::uint32_t folder, const Path& name) const {
        const auto& byName = store_.nodes_[folder].byName;
        const auto it = byName.find(Fold(name));
        if (it == byName.end()) return std::nullopt;
        return it->second;
    }

    std::unique_ptr<OpenFolder> Opened(std::uint32_t node, Path path) {
        auto folder = std::make_unique<MemoryFolder>();
        folder->node = store_.Real(node);
        folder->path = std::move(path);
        return folder;
    }

    bool Write(std::uint32_t node, const Path& path, AttributeWord word) {
        MemoryFileSystem::Node& n = store_.nodes_[store_.Real(node)];
        if (n.failWrite) return false;
        n.word = (n.word & ~kNamedBits) | (word & kNamedBits);
        ++store_.counters_.writes;
        if (store_.recordWrites_) store_.writeLog_.push_back(path);
        return true;
    }

    // The first name a pattern takes: "." and ".." come first, as on a
    // Windows volume's subfolders.
    Path FirstMatch(std::uint32_t folder, const Path& pattern, unsigned mask) {
        ++store_.counters_.listings;
        if (store_.nodes_[folder].failList) return Path();
        const auto& children = store_.nodes_[folder].children;
        for (std::size_t i = 0; i < children.size() + 2; ++i) {
            Path name = i == 0 ? Path(RIVAK_T(".")) : i == 1 ? Path(RIVAK_T("..")) : store_.nodes_[children[i - 2]].name;
            const AttributeWord word = i < 2 ? attr::kDirectory : store_.nodes_[store_.Real(children[i - 2])].word;
            if (Admitted(word, mask) && Matches(pattern.c_str(), name.c_str())) return name;
        }
        return Path();
    }

    MemoryFileSystem& store_;
};

MemoryFileSystem::MemoryFileSystem() {
    nodes_.emplace_back();
    nodes_[0].name = Root();
    nodes_[0].word = attr::kDirectory;
}

std::unique_ptr<FileSystem> MemoryFileSystem::Open() { return std::make_unique<MemorySession>(*this); }

std::optional<std::uint32_t> MemoryFileSystem::Find(const Path& path) const {
    const std::vector<Path> parts = Split(path);
    if (Fold(parts[0]) != Fold(Root())) return std::nullopt;
    std::uint32_t node = 0;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (parts[i].empty()) continue;  // a doubled separator
        if (!IsFolder(node)) return std::nullopt;
        const Node& folder = nodes_[Real(node)];
        if (parts[i] == RIVAK_T(".")) continue;
        if (parts[i] == RIVAK_T("..")) {
            node = nodes_[node].parent;
            continue;
        }
        const auto it = folder.byName.find(Fold(parts[i]));
        if (it == folder.byName.end()) return std::nullopt;
        node = it->second;
    }
    return node;
}

std::uint32_t MemoryFileSystem::Real(std::uint32_t node) const { return nodes_[node].linkTo.value_or(node); }

bool MemoryFileSystem::IsFolder(std::uint32_t node) const {
    return (nodes_[Real(node)].word & attr::kDirectory) != 0;
}

std::uint32_t MemoryFileSystem::Add(const Path& path, AttributeWord word) {
    const std::size_t sep = path.rfind(kPathSeparator);
    const auto parent = sep == Path::npos ? std::nullopt : Find(path.substr(0, sep));
    if (!parent || !IsFolder(*parent)) throw std::invalid_argument("parent folder missing");
    const std::uint32_t folder = Real(*parent);
    Path name = path.substr(sep + 1);
    Path folded = Fold(name);
    if (nodes_[folder].byName.count(folded)) throw std::invalid_argument("entry exists");
    const auto id = static_cast<std::uint32_t>(nodes_.size());
    Node node;
    node.name = std::move(name);
    node.word = word;
    node.parent = folder;
    nodes_.push_back(std::move(node));
    nodes_[folder].children.push_back(id);
    nodes_[folder].byName.emplace(std::move(folded), id);
    return id;
}

void MemoryFileSystem::AddFolder(const Path& path, AttributeWord word) { Add(path, word | attr::kDirectory); }

void MemoryFileSystem::AddFile(const Path& path, AttributeWord word) { Add(path, word & ~attr::kDirectory); }

void MemoryFileSystem::AddShortcut(const Path& path, const Path& target, AttributeWord word) {
    const std::uint32_t id = Add(path, word & ~attr::kDirectory);
    nodes_[id].shortcutTarget = target;
}

void MemoryFileSystem::AddFolderLink(const Path& path, const Path& target) {
    const auto real = Find(target);
    if (!real || !IsFolder(*real)) throw std::invalid_argument("link target is not a folder");
    const std::uint32_t id = Add(path, attr::kDirectory);
    nodes_[id].linkTo = Real(*real);
}

MemoryFileSystem::Node& MemoryFileSystem::At(const Path& path) {
    const auto node = Find(path);
    if (!node) throw std::invalid_argument("no such entry");
    return nodes_[*node];
}

void MemoryFileSystem::FailReading(const Path& path) { At(path).failRead = true; }
void MemoryFileSystem::FailWriting(const Path& path) { At(path).failWrite = true; }
void MemoryFileSystem::FailListing(const Path& folder) { At(folder).failList = true; }
void MemoryFileSystem::FailShortcut(const Path& path) { At(path).failShortcut = true; }

std::optional<AttributeWord> MemoryFileSystem::Word(const Path& path) const {
    const auto node = Find(path);
    if (!node) return std::nullopt;
    return nodes_[Real(*node)].word;
}

std::optional<Path> MemoryFileSystem::ShortcutReaderImpl::Target(const Path& shortcutFile) {
    ++fs_.counters_.shortcutReads;
    const auto node = fs_.Find(shortcutFile);
    if (!node) return std::nullopt;
    const Node& n = fs_.nodes_[*node];
    if (n.failShortcut || !n.shortcutTarget) return std::nullopt;
    return n.shortcutTarget;
}

}  // namespace rivak
