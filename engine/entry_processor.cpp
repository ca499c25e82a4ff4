#include "engine/attribute_engine.h"

namespace rivak {

namespace {

bool EndsWithDotDot(const Path& s) {
    return s.size() >= 2 && s[s.size() - 1] == NativeChar('.') && s[s.size() - 2] == NativeChar('.');
}

NativeString Decimal(std::int64_t n) {
    NativeChar digits[24];
    NativeChar* end = digits + sizeof digits / sizeof digits[0];
    NativeChar* p = end;
    std::uint64_t u = n < 0 ? 0 : static_cast<std::uint64_t>(n);
    do {
        *--p = NativeChar('0' + u % 10);
        u /= 10;
    } while (u);
    return NativeString(p, end);
}

}  // namespace

Path AttributeEngine::ProcessEntry(const Path& path) { return Process(path).folder; }

// Each step that fails is skipped and the next one runs; nothing fails out.
// Without `rewrite` the entry is only classified: an earlier walk rewrote it.
AttributeEngine::Descent AttributeEngine::Process(const Path& path, bool rewrite) {
    Path s = path;
    if (On(Option::FollowShortcuts)) {
        if (std::optional<Path> target = ResolveShortcut(s, shortcuts_)) s = std::move(*target);
    }
    if (!fs_) return Descent{};

    Path a = fs_->Dir(s, probe::kAnything);
    const Path b = fs_->Dir(s, system == SystemBit::Keep ? probe::kPlainFiles : probe::kAnyFile);
    if (a == RIVAK_T(".") || a == RIVAK_T("..") || EndsWithDotDot(s)) a.clear();
    if (a.empty()) return Descent{};

    if (!b.empty()) {
        if (rewrite) ApplyAttributes(fs_->GetFile(s));
        return Descent{};
    }
    // A folder, or an entry the file probe leaves out (a system file): the
    // latter has no folder object, so it is counted but keeps its word, and
    // there is nothing in it to walk.
    const std::optional<FsObject> folder = fs_->GetFolder(s);
    if (rewrite && options().Value(Option::LeaveFoldersAlone) == kUnchecked) ApplyAttributes(folder);
    if (rewrite && !folder) TellSystemFile(s);
    return Descent{std::move(s), folder.has_value()};
}

void AttributeEngine::Count() {
    ++processedCount_;
    // Every count goes to the display; it draws at its own pace (the window
    // at most once a frame, the terminal a few times a second).
    try {
        progress_.SetCounter(Decimal(processedCount_));
        progress_.RepaintCounter();
    } catch (...) {
        // A counter that cannot be drawn never stops the batch.
    }
}

AttributeWord AttributeEngine::Rewritten(AttributeWord word) const {
    word = RewriteWord(word, options());
    if (system == SystemBit::Clear) word &= ~attr::kSystem;
    if (system == SystemBit::Set) word |= attr::kSystem;
    return word;
}

void AttributeEngine::TellSystemFile(const Path& path) {
    if (!events) return;
    const std::optional<FsObject> file = fs_->GetFile(path);
    if (file && file->word && (*file->word & attr::kSystem)) events->SystemFileLeftAlone(path);
}

void AttributeEngine::ApplyAttributes(const std::optional<FsObject>& item) {
    Count();
    // A word that could not be read is not written: rewriting a guessed 0
    // would clear system and archive, which no option names.
    if (!item || !item->word) return;
    AttributeWord word = Rewritten(*item->word);
    // A folder's read-only bit protects nothing: it is the mark that makes
    // Explorer read the folder's desktop.ini, which gives profile folders
    // their Japanese names and customised folders their icons. Clearing it
    // would undo that look, so a folder holding that file keeps it.
    if (item->folder && (*item->word & ~word & attr::kReadOnly) && fs_->HoldsFile(*item, RIVAK_T("desktop.ini")))
        word |= attr::kReadOnly;
    fs_->SetAttributes(*item, word);
}

}  // namespace rivak
