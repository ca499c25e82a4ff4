#pragma once
#include <cstdint>
#include <optional>

#include "engine/attribute_word.h"

namespace rivak {

// The six check boxes of the main window, in their order (the first
// program's Check1..Check6; the engine's procedures were CngATr for a batch,
// MoreDir for a folder's walk, list1 and list2 for the paths and a listing).
enum class Option { ClearReadOnly, SetReadOnly, SetHidden, ClearHidden, FollowShortcuts, LeaveFoldersAlone };

// Check-box values: 0 unchecked, 1 checked, 2 greyed.
inline constexpr int kUnchecked = 0;
inline constexpr int kChecked = 1;

// Where the engine reads an option: at the moment it needs it outside a
// batch, once at the start of a batch (OptionSnapshot).
class OptionSource {
public:
    virtual ~OptionSource() = default;
    virtual int Value(Option option) const = 0;
};

int DefaultValue(Option option);

// The six values of another source, read once. A batch handles no input
// while it runs, so the boxes cannot change under it; reading them once
// spares a window message per option and entry.
class OptionSnapshot final : public OptionSource {
public:
    OptionSnapshot() = default;
    explicit OptionSnapshot(const OptionSource& from) {
        for (int i = 0; i < 6; ++i) values_[i] = from.Value(static_cast<Option>(i));
    }
    int Value(Option option) const override { return values_[static_cast<int>(option)]; }

private:
    int values_[6] = {};
};

// The options a fresh start has: clear read-only, clear hidden, follow
// shortcuts, rewrite folders too. A command-line batch always uses these.
class DefaultOptions final : public OptionSource {
public:
    int Value(Option option) const override { return DefaultValue(option); }
};

// The rewrite of one attribute word, each step only when its option is
// exactly 1: clear read-only, set read-only, set hidden, clear hidden, in
// this order, each within the six bits the first program kept.
AttributeWord RewriteWord(AttributeWord word, const OptionSource& options);

// The exclusive pairs of read-only and hidden boxes: after a click on one
// of them, the box to set to 0, if any. Nothing for the last two, and
// nothing when the clicked box is not 1, so clearing a partner (which may
// raise the partner's own click) never bounces back.
std::optional<Option> PartnerToClear(Option clicked, int newValue);

}  // namespace rivak
