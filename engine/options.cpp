#include "engine/options.h"

namespace rivak {

int DefaultValue(Option option) {
    switch (option) {
    case Option::ClearReadOnly:
    case Option::ClearHidden:
    case Option::FollowShortcuts:
        return kChecked;
    case Option::SetReadOnly:
    case Option::SetHidden:
    case Option::LeaveFoldersAlone:
        return kUnchecked;
    }
    return kUnchecked;
}

AttributeWord RewriteWord(AttributeWord word, const OptionSource& options) {
    // The clearing masks are six bits wide on purpose: they also drop every bit of 64
    // and above from the word (the file-system backends decide which of
    // those really reach the disk).
    if (options.Value(Option::ClearReadOnly) == kChecked) word &= attr::kSixBits & ~attr::kReadOnly;
    if (options.Value(Option::SetReadOnly) == kChecked) word |= attr::kReadOnly;
    if (options.Value(Option::SetHidden) == kChecked) word |= attr::kHidden;
    if (options.Value(Option::ClearHidden) == kChecked) word &= attr::kSixBits & ~attr::kHidden;
    return word;
}

std::optional<Option> PartnerToClear(Option clicked, int newValue) {
    if (newValue != kChecked) return std::nullopt;
    switch (clicked) {
    case Option::ClearReadOnly: return Option::SetReadOnly;
    case Option::SetReadOnly: return Option::ClearReadOnly;
    case Option::SetHidden: return Option::ClearHidden;
    case Option::ClearHidden: return Option::SetHidden;
    default: return std::nullopt;
    }
}

}  // namespace rivak
