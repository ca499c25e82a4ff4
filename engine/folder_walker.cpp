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
bool AttributeEngine::AlreadyWalked(const Descent& descent, std::int32_t level) {
    if (!descent.throughLink && !fs_->IsLinkedFolder(descent.folder)) return false;
    const std::optional<FolderKey> key = fs_->FolderIdentity(descent.folder);
    if (!key) return false;
    const auto [it, inserted] = linkedWalks_.try_emplace(*key, level);
    if (inserted) return false;
    if (level >= it->second) return true;
    it->second = level;
    return false;
}

void AttributeEngine::Walk(const Descent& descent, std::int32_t level) {
    if (level > maxDepth || !fs_) return;
    if (AlreadyWalked(descent, level)) return;
    const Path& xPath = descent.folder;

    // The whole listing is read before the first entry is probed: a probe
    // starts a new enumeration and would end this one.
    list2_.clear();
    std::vector<bool> rowLinked;
    const bool follow = On(Option::Check5);
    for (Path name = fs_->Dir(xPath + kPathSeparator + RIVAK_T("*.*"), probe::kAnything); !name.empty();
         name = fs_->Dir()) {
        // The entry processor would only discard them, after two probes each.
        if (name == RIVAK_T(".") || name == RIVAK_T("..")) continue;
        Path full = xPath + kPathSeparator + name;
        bool linked = false;
        if (follow && IsShortcutName(full)) {
            // A shortcut that cannot be read stays as it is, as for listed paths.
            if (std::optional<Path> target = shortcuts_.Target(full)) {
                linked = true;
                full = std::move(*target);
            }
        }
        list2_.push_back(std::move(full));
        rowLinked.push_back(linked);
    }

    // Every entry is rewritten before the first descent; the subfolders wait
    // here, since the recursion refills the listing buffer.
    std::vector<Descent> subfolders;
    const std::size_t count = list2_.size();
    for (std::size_t i = 0; i < count; ++i) {
        Descent d = Process(list2_[i]);
        if (d.folder.empty()) continue;
        d.throughLink = d.throughLink || rowLinked[i];
        subfolders.push_back(std::move(d));
    }
    for (const Descent& sub : subfolders) Walk(sub, level + 1);
}

}  // namespace rivak
