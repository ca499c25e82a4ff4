#include <utility>
#include <vector>

#include "engine/attribute_engine.h"

namespace rivak {

void AttributeEngine::MoreDir(const Path& xPath, std::int32_t LV) { Walk(Descent{xPath, false}, LV); }

// Shortcuts and linked folders can lead back to a folder already walked; two
// of them pointing at their own folder would double the work at every level.
// A folder reached that way is walked again only from a shallower level than
// before in this batch: the options are fixed for the batch and the rewrite
// gives the same word when applied twice, so the files end exactly as an
// unbounded walk down to the depth limit would leave them.
bool AttributeEngine::AlreadyWalked(const Path& folder, bool throughLink, std::int32_t level) {
    if (!throughLink && !fs_->IsLinkedFolder(folder)) return false;
    const std::optional<FolderKey> key = fs_->FolderIdentity(folder);
    if (!key) return false;
    const auto [it, inserted] = linkedWalks_.try_emplace(*key, level);
    if (inserted) return false;
    if (level >= it->second) return true;
    it->second = level;
    return false;
}

// Every entry of a folder is rewritten before the first descent, then each
// subfolder is walked in listing order, depth first. The walk keeps its own
// stack, one frame a level, each with the names of its subfolders still to
// walk; the path being walked is one string that grows and shrinks by a name.
void AttributeEngine::Walk(const Descent& descent, std::int32_t level) {
    struct Frame {
        std::vector<Subfolder> subfolders;
        std::size_t next = 0;
        std::size_t parentLength = 0;  // the parent's path, when the folder was one of its names
        Path parentPath;               // the parent's path, when the folder lies elsewhere
    };
    Path path = descent.folder;
    std::vector<Frame> stack;
    Frame first;
    first.subfolders = Visit(path, descent.throughLink, level);
    if (!first.subfolders.empty()) stack.push_back(std::move(first));
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.subfolders.size()) {
            if (top.parentPath.empty()) path.resize(top.parentLength);
            else path = std::move(top.parentPath);
            stack.pop_back();
            continue;
        }
        Subfolder sub = std::move(top.subfolders[top.next++]);
        Frame child;
        if (sub.elsewhere) {
            child.parentPath = std::exchange(path, std::move(sub.name));
        } else {
            child.parentLength = path.size();
            path += kPathSeparator;
            path += sub.name;
        }
        const std::int32_t childLevel = level + static_cast<std::int32_t>(stack.size());
        child.subfolders = Visit(path, sub.throughLink, childLevel);
        if (!child.subfolders.empty()) {
            stack.push_back(std::move(child));
        } else if (child.parentPath.empty()) {
            path.resize(child.parentLength);
        } else {
            path = std::move(child.parentPath);
        }
    }
}

// Lists one folder, rewrites its entries and gives the subfolders to walk.
std::vector<AttributeEngine::Subfolder> AttributeEngine::Visit(const Path& xPath, bool throughLink,
                                                               std::int32_t level) {
    if (level > maxDepth || !fs_) return {};
    if (AlreadyWalked(xPath, throughLink, level)) return {};

    // The whole listing is read before the first entry is probed: a probe
    // starts a new enumeration and would end this one. Rows keep the name
    // (or a shortcut's whole target): a deep folder's path is built once an
    // entry is handled, not kept for every entry.
    list2_.clear();
    const bool follow = On(Option::Check5);
    Path full;
    for (Path name = fs_->Dir(xPath + kPathSeparator + RIVAK_T("*.*"), probe::kAnything); !name.empty();
         name = fs_->Dir()) {
        // The entry processor would only discard them, after two probes each.
        if (name == RIVAK_T(".") || name == RIVAK_T("..")) continue;
        Subfolder row{std::move(name), false, false};
        if (follow && IsShortcutName(row.name)) {
            full = xPath + kPathSeparator + row.name;
            // A shortcut that cannot be read stays as it is, as for listed paths.
            if (std::optional<Path> target = shortcuts_.Target(full)) row = Subfolder{std::move(*target), true, true};
        }
        list2_.push_back(std::move(row));
    }

    std::vector<Subfolder> subfolders;
    for (Subfolder& row : list2_) {
        if (!row.elsewhere) full = xPath + kPathSeparator + row.name;
        const Path& entry = row.elsewhere ? row.name : full;
        Descent d = Process(entry);
        if (d.folder.empty()) continue;
        const bool same = !d.throughLink && d.folder == entry;
        if (same && !row.elsewhere) {
            subfolders.push_back(Subfolder{std::move(row.name), false, false});
        } else {
            subfolders.push_back(Subfolder{std::move(d.folder), true, d.throughLink || row.throughLink});
        }
    }
    return subfolders;
}

}  // namespace rivak
