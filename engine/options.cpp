#include "engine/options.h"

namespace rivak {

int DefaultValue(Option option) {
    switch (option) {
    case Option::Check1:
    case Option::Check4:
    case Option::Check5:
        return kChecked;
    case Option::Check2:
    case Option::Check3:
    case Option::Check6:
        return kUnchecked;
    }
    return kUnchecked;
}

AttributeWord RewriteWord(AttributeWord word, const OptionSource& options) {
    // The masks are six bits wide on purpose: they also drop every bit of 64
    // and above from the word (the file-system backends decide which of
    // those really reach the disk).
    if (options.Value(Option::Check1) == kChecked) word &= 62;
    if (options.Value(Option::Check2) == kChecked) word |= 1;
    if (options.Value(Option::Check3) == kChecked) word |= 2;
    if (options.Value(Option::Check4) == kChecked) word &= 61;
    return word;
}

std::optional<Option> PartnerToClear(Option clicked, int newValue) {
    if (newValue != kChecked) return std::nullopt;
    switch (clicked) {
    case Option::Check1: return Option::Check2;
    case Option::Check2: return Option::Check1;
    case Option::Check3: return Option::Check4;
    case Option::Check4: return Option::Check3;
    default: return std::nullopt;
    }
}

}  // namespace rivak
