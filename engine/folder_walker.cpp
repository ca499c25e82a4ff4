#include <limits>
#include <utility>
#include <vector>

#include "engine/attribute_engine.h"

namespace rivak {

namespace {
// The level of a folder the depth limit keeps out.
constexpr std::int32_t kLeftOut = std::numeric_limits<std::int32_t>::max();
}  // namespace

void AttributeEngine::WalkFolder(const Path& xPath, std::int32_t LV) { Walk(xPath, LV); }

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
AttributeEngine::Entered AttributeEngine::Enter(const Path& folder, std::int32_t level) {
    Entered entered;
    if (!fs_) return entered;
    const bool beyond = level > maxDepth;
    const std::optional<FolderKey> key = fs_->FolderIdentity(folder);
    Walked* record = nullptr;
    bool rewrite = true;
    if (key) {
        const auto [it, inserted] = walks_.try_emplace(*key, Walked{kLeftOut});
        record = &it->second;
        if (record->level == kLeftOut) {
            if (beyond) {
                if (inserted) LeaveOut(record, folder);
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
        LeaveOut(nullptr, folder);
        entered.leftOut = true;
        return entered;
    }
    entered.record = record;
    entered.subfolders = Visit(folder, rewrite);
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
// stack, one frame a level, each with the names of its subfolders still to
// walk; the path being walked is one string that grows and shrinks by a name.
void AttributeEngine::Walk(const Path& folder, std::int32_t level) {
    struct Frame {
        Entered entered;
        std::size_t next = 0;
        std::size_t parentLength = 0;  // the parent's path, when the folder was one of its names
        Path parentPath;               // the parent's path, when the folder lies elsewhere
        bool complete = true;          // nothing below was left out so far
    };
    Path path = folder;
    std::vector<Frame> stack;
    Frame first;
    first.entered = Enter(path, level);
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
        Subfolder sub = std::move(top.entered.subfolders[top.next++]);
        Frame child;
        if (sub.elsewhere) {
            child.parentPath = std::exchange(path, std::move(sub.name));
        } else {
            child.parentLength = path.size();
            path += kPathSeparator;
            path += sub.name;
        }
        child.entered = Enter(path, level + static_cast<std::int32_t>(stack.size()));
        if (child.entered.leftOut) top.complete = false;
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
std::vector<AttributeEngine::Subfolder> AttributeEngine::Visit(const Path& xPath, bool rewrite) {
    // The whole listing is read before the first entry is probed: a probe
    // starts a new enumeration and would end this one. Rows keep the name
    // (or a shortcut's whole target): a deep folder's path is built once an
    // entry is handled, not kept for every entry.
    rows_.clear();
    const bool follow = On(Option::FollowShortcuts);
    Path full;
    for (Path name = fs_->Dir(xPath + kPathSeparator + RIVAK_T("*.*"), probe::kAnything); !name.empty();
         name = fs_->Dir()) {
        // The entry processor would only discard them, after two probes each.
        if (name == RIVAK_T(".") || name == RIVAK_T("..")) continue;
        Subfolder row{std::move(name), false};
        if (follow && IsShortcutName(row.name)) {
            full = xPath + kPathSeparator + row.name;
            // A shortcut that cannot be read stays as it is, as for listed paths.
            if (std::optional<Path> target = shortcuts_.Target(full)) row = Subfolder{std::move(*target), true};
        }
        rows_.push_back(std::move(row));
    }

    std::vector<Subfolder> subfolders;
    for (Subfolder& row : rows_) {
        if (!row.elsewhere) full = xPath + kPathSeparator + row.name;
        const Path& entry = row.elsewhere ? row.name : full;
        Descent d = Process(entry, rewrite);
        if (!d.walk) continue;
        if (!row.elsewhere && d.folder == entry) {
            subfolders.push_back(Subfolder{std::move(row.name), false});
        } else {
            subfolders.push_back(Subfolder{std::move(d.folder), true});
        }
    }
    return subfolders;
}

}  // namespace rivak
