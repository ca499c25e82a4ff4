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
                                                std::int32_t level, const Upcoming& next) {
    Entered entered;
    if (!fs_) return entered;
    const bool beyond = level > maxDepth;
    std::unique_ptr<Ahead> ready = TakeAhead(parent, sub);
    if (ready) entered.folder = std::move(ready->folder);
    else if (parent && sub.elsewhere.empty()) entered.folder = fs_->OpenSubfolder(*parent, sub.entry);
    else entered.folder = fs_->OpenFolderAt(path);
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
    if (entered.folder) entered.subfolders = Visit(*entered.folder, path, rewrite, level, next, std::move(ready));
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
    // Whatever ends the walk, a folder listed ahead is let go first.
    struct AheadLetGo {
        AttributeEngine& engine;
        ~AheadLetGo() { engine.DropAhead(); }
    } letGo{*this};
    Path path = folder;
    std::vector<Frame> stack;
    Frame first;
    Subfolder named{FolderEntry{}, folder};
    first.entered = Enter(nullptr, named, path, level, Upcoming{});
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
        const std::int32_t depth = level + static_cast<std::int32_t>(stack.size());
        Frame child;
        Upcoming next;
        if (!sub.elsewhere.empty()) {
            child.parentPath = std::exchange(path, sub.elsewhere);
        } else {
            child.parentLength = path.size();
            path += kPathSeparator;
            path += sub.entry.name;
            if (top.next < top.entered.subfolders.size())
                next = Upcoming{top.entered.folder.get(), &top.entered.subfolders[top.next], child.parentLength, depth};
        }
        child.entered = Enter(top.entered.folder.get(), sub, path, depth, next);
        Path().swap(sub.entry.name);  // walked: its name is not needed any more
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
// earlier walk) and gives the subfolders to walk. The entries are taken in
// listing order, a stretch at a time: looked up (on every worker), decided
// in order, changed (on every worker), then told in order. A shortcut's
// target is another path, which may be an entry of this very folder: what
// was decided before it is changed and told first.
std::vector<AttributeEngine::Subfolder> AttributeEngine::Visit(OpenFolder& folder, const Path& path, bool rewrite,
                                                               std::int32_t level, const Upcoming& next,
                                                               std::unique_ptr<Ahead> ready) {
    std::size_t lookedUp = 0;  // entries the worker that listed ahead looked up
    if (ready) {
        listing_.swap(ready->listing);
        lookedUp = ready->lookedUp;
        // Another name of an entry, changed since it was looked up.
        for (std::size_t i = 0; i < lookedUp && !changedMeanwhile_.empty(); ++i) {
            FolderEntry& entry = listing_[i];
            if (entry.looked && (entry.shared || entry.folder) && changedMeanwhile_.count(entry.key))
                entry.looked = fs_->LookUp(folder, entry);
        }
        changedMeanwhile_.clear();
    } else {
        listing_.clear();
        fs_->List(folder, path, listing_);
    }
    fs_->TellListing(folder);
    const bool follow = On(Option::FollowShortcuts);
    const std::size_t stretch = Stretch();
    std::vector<Subfolder> subfolders;
    Path full;
    for (std::size_t start = 0; start < listing_.size(); start += stretch) {
        const std::size_t end = std::min(listing_.size(), start + stretch);
        CheckStop();
        pool_->ForEach(end - start, [&](std::size_t i) {
            FolderEntry& entry = listing_[start + i];
            if (!entry.looked && start + i >= lookedUp) entry.looked = fs_->LookUp(folder, entry);
        });
        // The next folder is listed ahead as soon as nothing left to decide
        // here can change what it holds: after a shortcut's target, if any.
        bool ahead = end == listing_.size() && rewrite;
        if (ahead && !(follow && HoldsShortcut(start, end))) {
            LookAheadFrom(folder, path, level, next, subfolders, start, end);
            ahead = false;
        }
        for (std::size_t i = start; i < end; ++i) {
            FolderEntry& entry = listing_[i];
            if (!entry.looked) {
                pending_.push_back(Pending{&entry});
                continue;
            }
            if (follow && IsShortcut(entry)) {
                full = path + kPathSeparator + entry.name;
                // A shortcut that cannot be read stays as it is, as for listed paths.
                if (std::optional<Path> target = shortcuts_.Target(full)) {
                    Settle(folder, path);
                    Descent d = Process(*target, rewrite);
                    if (d.walk) subfolders.push_back(Subfolder{FolderEntry{}, std::move(d.folder)});
                    continue;
                }
            }
            if (entry.shared && rewrite && SharedAgain(entry)) {
                Settle(folder, path);  // a link of the same file decided before this one is changed first
                entry.looked = fs_->LookUp(folder, entry);
                if (!entry.looked) {
                    pending_.push_back(Pending{&entry});
                    continue;
                }
            }
            Decide(entry, rewrite);
            if (entry.folder) subfolders.push_back(Subfolder{entry, Path()});
            if (pool_->Threads() == 1 || !fs_->ChangesInParallel()) Settle(folder, path);
        }
        if (ahead) LookAheadFrom(folder, path, level, next, subfolders, end, end);
        Settle(folder, path);
        shared_.clear();
    }
    fs_->Visited(folder);
    return subfolders;
}

bool AttributeEngine::IsShortcut(const FolderEntry& entry) { return !entry.folder && IsShortcutName(entry.name); }

bool AttributeEngine::HoldsShortcut(std::size_t start, std::size_t end) const {
    for (std::size_t i = start; i < end; ++i)
        if (listing_[i].looked && IsShortcut(listing_[i])) return true;
    return false;
}

// The folder the walk takes next: the first subfolder (decided, or still to
// be decided from `start` on), else the next sibling.
void AttributeEngine::LookAheadFrom(OpenFolder& folder, const Path& path, std::int32_t level, const Upcoming& next,
                                    const std::vector<Subfolder>& subfolders, std::size_t start, std::size_t end) {
    const FolderEntry* first = nullptr;
    if (!subfolders.empty()) {
        if (!subfolders.front().elsewhere.empty()) return;
        first = &subfolders.front().entry;
    }
    for (std::size_t i = start; !first && i < end; ++i)
        if (listing_[i].looked && listing_[i].folder) first = &listing_[i];
    if (first) LookAheadTo(folder, *first, path + kPathSeparator + first->name, level + 1);
    else if (next.sub && next.sub->elsewhere.empty())
        LookAheadTo(*next.parent, next.sub->entry, path.substr(0, next.base) + kPathSeparator + next.sub->entry.name,
                    next.level);
}

// Lists the folder the walk takes next, and looks up its first entries, on
// a worker, while this thread changes and tells the entries before it.
// Only a folder first met, within the limit: its walk is sure to come next.
// Its look-ups see nothing this thread changes meanwhile but through other
// names of the same file or folder (links, mounts): those are looked up
// again when it is reached.
void AttributeEngine::LookAheadTo(OpenFolder& parent, const FolderEntry& sub, Path path, std::int32_t level) {
    if (pool_->Threads() < 2 || !fs_->ListsAhead() || level > maxDepth) return;
    auto ahead = std::make_unique<Ahead>();
    ahead->folder = fs_->OpenSubfolder(parent, sub);
    if (!ahead->folder) return;
    const std::optional<FolderKey> key = fs_->Identity(*ahead->folder);
    if (!key || walks_.count(*key)) return;
    ahead->parent = &parent;
    ahead->name = sub.name;
    ahead->path = std::move(path);
    Ahead& run = *ahead;
    ahead_ = std::move(ahead);
    const std::size_t stretch = Stretch();
    pool_->Start([this, &run, stretch] {
        fs_->List(*run.folder, run.path, run.listing);
        const std::size_t count = std::min(run.listing.size(), stretch);
        for (std::size_t i = 0; i < count && !run.enough.load(std::memory_order_relaxed) && !Stopping(); ++i) {
            FolderEntry& entry = run.listing[i];
            if (!entry.looked) entry.looked = fs_->LookUp(*run.folder, entry);
            run.lookedUp = i + 1;
        }
    });
}

// The folder listed ahead, once its worker is done, if it is the one the
// walk reaches now; else it goes.
std::unique_ptr<AttributeEngine::Ahead> AttributeEngine::TakeAhead(OpenFolder* parent, const Subfolder& sub) {
    if (!ahead_) return nullptr;
    ahead_->enough = true;
    pool_->Join();
    std::unique_ptr<Ahead> ahead = std::move(ahead_);
    if (ahead->parent == parent && sub.elsewhere.empty() && ahead->name == sub.entry.name) return ahead;
    changedMeanwhile_.clear();
    return nullptr;
}

void AttributeEngine::DropAhead() {
    if (!ahead_) return;
    ahead_->enough = true;
    try {
        pool_->Join();
    } catch (...) {
        // The walk ends anyway: what went wrong there is not this walk's.
    }
    ahead_.reset();
    changedMeanwhile_.clear();
}

// An entry of the listing decided as Process decides a path: a file (a
// system file too, unless the batch keeps the system bit), a folder, or a
// system file that is counted but keeps its word.
void AttributeEngine::Decide(FolderEntry& entry, bool rewrite) {
    Pending p{&entry};
    const bool system = entry.word && (*entry.word & attr::kSystem);
    const bool file = !entry.folder && !(system && this->system == SystemBit::Keep);
    p.counted = rewrite && (file || !On(Option::LeaveFoldersAlone));
    p.change = p.counted && entry.word && (file || entry.folder);
    p.systemLeftAlone = rewrite && !file && !entry.folder;
    if (p.change) {
        p.word = Rewritten(*entry.word);
        // As for a named folder (ApplyAttributes says why).
        p.keepsMark = entry.folder && (*entry.word & ~p.word & attr::kReadOnly);
    }
    pending_.push_back(p);
}

// Makes the changes decided, on every worker, then tells each entry in
// order. A stop asked for meanwhile leaves the rest unchanged and uncounted.
void AttributeEngine::Settle(OpenFolder& folder, const Path& path) {
    if (pending_.empty()) return;
    const auto change = [&](Pending& p) {
        if (!p.change) return;
        if (Stopping()) {
            p.change = p.counted = false;
            p.stopped = true;
            return;
        }
        AttributeWord word = p.word;
        if (p.keepsMark && fs_->SubfolderHolds(folder, *p.entry, RIVAK_T("desktop.ini"))) word |= attr::kReadOnly;
        fs_->Change(folder, *p.entry, word);
    };
    bool stopped = false;
    if (pool_->Threads() == 1 || !fs_->ChangesInParallel()) {
        for (Pending& p : pending_) {
            if (Stopping()) p.counted = p.change = false, p.stopped = true;
            if (p.counted) Count();
            change(p);
            Tell(folder, path, p);
            stopped = stopped || p.stopped;
        }
    } else {
        // A slice at a time, so that what is done is told as it goes.
        for (std::size_t start = 0; start < pending_.size(); start += kSlice) {
            const std::size_t end = std::min(pending_.size(), start + kSlice);
            pool_->ForEach(end - start, [&](std::size_t i) { change(pending_[start + i]); });
            for (std::size_t i = start; i < end; ++i) {
                Pending& p = pending_[i];
                if (p.counted) Count();
                Tell(folder, path, p);
                stopped = stopped || p.stopped;
            }
        }
    }
    pending_.clear();
    if (stopped) throw BatchStopped{};
}

void AttributeEngine::Tell(OpenFolder& folder, const Path& path, Pending& p) {
    if (ahead_ && p.change && (p.entry->shared || p.entry->folder)) changedMeanwhile_.insert(p.entry->key);
    fs_->Tell(folder, *p.entry);
    if (p.systemLeftAlone && events) events->SystemFileLeftAlone(path + kPathSeparator + p.entry->name);
}

// Whether another link of this file was decided in this stretch.
bool AttributeEngine::SharedAgain(const FolderEntry& entry) {
    for (const FolderKey& k : shared_)
        if (k == entry.key) return true;
    shared_.push_back(entry.key);
    return false;
}

}  // namespace rivak
