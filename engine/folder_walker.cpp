#include <limits>
#include <utility>
#include <vector>

#include "engine/attribute_engine.h"

namespace rivak {

namespace {
// The level of a folder the depth limit keeps out.
constexpr std::int32_t kLeftOut = std::numeric_limits<std::int32_t>::max();
}  // namespace

void AttributeEngine::WalkFolder(const Path& folder, std::int32_t level) { Walk(folder, level); }

// Shortcuts and linked folders lead back to folders walked already: a
// shortcut back up in each folder reaches the root again from every level.
// So every folder met is remembered by its identity, with the shallowest
// level its entries were walked at and whether that walk was complete
// (nothing below it was cut by the depth limit, nor reached a folder whose
// walk was not complete or not finished). A folder reached again
//  - after a complete walk, or at its level or deeper, is not walked again:
//    the options are fixed for the batch and the rewrite gives the same word
//    when applied twice, so whatever this reach could do is done;
//  - from higher up after a walk that was not complete (first reached deep,
//    cut by the limit) is walked again from there, but only to reach what
//    the limit left out: its entries are not rewritten, counted or told
//    again, and below it only the folders whose walks were not complete
//    are listed again (the ones the limit kept out get their first walk).
// The words end as an unbounded walk down to the limit would leave them, the
// entries of a folder are processed once (a shortcut's target once for each
// shortcut), and a tree without links is walked in the same order as ever.
AttributeEngine::Entered AttributeEngine::Enter(OpenFolder* parent, Subfolder& sub, const Path& path,
                                                std::int32_t level) {
    Entered entered;
    if (!fs_) return entered;
    const bool beyond = level > maxDepth;
    entered.folder = parent && sub.elsewhere.empty() ? fs_->OpenSubfolder(*parent, sub.entry) : fs_->OpenFolderAt(path);
    const std::optional<FolderKey> key = entered.folder ? fs_->Identity(*entered.folder) : std::nullopt;
    Walked* record = nullptr;
    bool rewrite = true;
    if (key) {
        const auto [it, inserted] = walks_.try_emplace(*key, Walked{kLeftOut});
        record = &it->second;
        if (record->level == kLeftOut) {
            if (beyond) {
                if (inserted) LeaveOut(record, path);
                entered.leftOut = true;
                return entered;
            }
            if (!inserted) {  // kept out before, within the limit now
                Path().swap(leftOut_[record->leftOutAt]);
                --leftOutCount_;
            }
        } else if (record->complete) {
            return entered;
        } else if (beyond || level >= record->level) {
            entered.leftOut = true;
            return entered;
        } else {
            rewrite = false;
        }
        record->level = level;
    } else if (beyond) {
        LeaveOut(nullptr, path);
        entered.leftOut = true;
        return entered;
    }
    entered.record = record;
    if (entered.folder) entered.subfolders = Visit(*entered.folder, path, rewrite);
    if (entered.subfolders.empty() && record) record->complete = true;
    return entered;
}

void AttributeEngine::LeaveOut(Walked* record, const Path& folder) {
    if (record) record->leftOutAt = static_cast<std::uint32_t>(leftOut_.size());
    leftOut_.push_back(folder);
    ++leftOutCount_;
}

// Every entry of a folder is rewritten before the first descent, then each
// subfolder is walked in listing order, depth first. The walk keeps its own
// stack, one frame a level, each with its open folder and the subfolders
// still to walk; the path being walked is one string that grows and shrinks
// by a name.
void AttributeEngine::Walk(const Path& folder, std::int32_t level) {
    struct Frame {
        Entered entered;
        std::size_t next = 0;
        std::size_t parentLength = 0;  // the parent's path, when the folder was one of its entries
        Path parentPath;               // the parent's path, when the folder lies elsewhere
        bool complete = true;          // nothing below was left out so far
    };
    Path path = folder;
    std::vector<Frame> stack;
    Frame first;
    Subfolder named{FolderEntry{}, folder};
    first.entered = Enter(nullptr, named, path, level);
    if (!first.entered.subfolders.empty()) stack.push_back(std::move(first));
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.entered.subfolders.size()) {
            if (top.parentPath.empty()) path.resize(top.parentLength);
            else path = std::move(top.parentPath);
            const bool complete = top.complete;
            if (complete && top.entered.record) top.entered.record->complete = true;
            stack.pop_back();
            if (!complete && !stack.empty()) stack.back().complete = false;
            continue;
        }
        Subfolder& sub = top.entered.subfolders[top.next++];
        Frame child;
        if (!sub.elsewhere.empty()) {
            child.parentPath = std::exchange(path, sub.elsewhere);
        } else {
            child.parentLength = path.size();
            path += kPathSeparator;
            path += sub.entry.name;
        }
        child.entered = Enter(top.entered.folder.get(), sub, path, level + static_cast<std::int32_t>(stack.size()));
        Subfolder().entry.name.swap(sub.entry.name);  // walked: its name is not needed any more
        if (child.entered.leftOut) stack.back().complete = false;
        if (!child.entered.subfolders.empty()) {
            stack.push_back(std::move(child));
        } else if (child.parentPath.empty()) {
            path.resize(child.parentLength);
        } else {
            path = std::move(child.parentPath);
        }
    }
}

// Lists one folder, rewrites its entries (unless they were rewritten by an
// earlier walk) and gives the subfolders to walk.
std::vector<AttributeEngine::Subfolder> AttributeEngine::Visit(OpenFolder& folder, const Path& path, bool rewrite) {
    // The whole listing is read, and its shortcuts resolved, before the
    // first entry is changed: a shortcut's target may be an entry of the
    // same folder, which the listing then tells as it was.
    listing_.clear();
    fs_->List(folder, path, listing_);
    rows_.clear();
    const bool follow = On(Option::FollowShortcuts);
    Path full;
    for (FolderEntry& entry : listing_) {
        Row row{std::move(entry), std::nullopt};
        if (follow && !row.entry.folder && IsShortcutName(row.entry.name)) {
            full = path + kPathSeparator + row.entry.name;
            // A shortcut that cannot be read stays as it is, as for listed paths.
            row.target = shortcuts_.Target(full);
        }
        rows_.push_back(std::move(row));
    }

    std::vector<Subfolder> subfolders;
    for (Row& row : rows_) {
        if (row.target) {
            Descent d = Process(*row.target, rewrite);
            if (d.walk) subfolders.push_back(Subfolder{FolderEntry{}, std::move(d.folder)});
            continue;
        }
        if (ProcessListed(folder, path, row.entry, rewrite)) subfolders.push_back(Subfolder{std::move(row.entry), Path()});
    }
    fs_->Visited(folder);
    return subfolders;
}

}  // namespace rivak
