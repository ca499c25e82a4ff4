#pragma once
// The command-line splitter and the batch start. Templates over the string
// type, so the same code serves UTF-16 on Windows and bytes elsewhere.
#include <functional>
#include <string>
#include <vector>

namespace rivak {

// Replaces the rows of `list` with the pieces of `text`. A text holding a
// double quote anywhere is read in the quoted form (only text between pairs
// of quotes is taken); any other text is split at every single blank. On
// return `text` holds what was not consumed.
//
// An opening quote without a partner: the text after it is taken whole as
// the last piece, so a path whose closing quote was lost is still handled.
template <class Str>
void SplitCommandLine(Str& text, std::vector<Str>& list) {
    using Char = typename Str::value_type;
    constexpr Char kQuote = Char('"');
    constexpr Char kBlank = Char(' ');
    list.clear();
    if (text.empty()) return;

    if (text.find(kQuote) != Str::npos) {
        std::size_t pos = 0;  // start of the unconsumed text
        for (;;) {
            const std::size_t open = text.find(kQuote, pos);
            if (open == Str::npos) break;
            const std::size_t close = text.find(kQuote, open + 1);
            if (close == Str::npos) {
                list.push_back(text.substr(open + 1));
                pos = text.size();
                break;
            }
            list.push_back(text.substr(open + 1, close - open - 1));
            pos = close + 1;
        }
        text.erase(0, pos);
        return;
    }

    // Blank form: every blank ends a piece, and so does the end of the text.
    std::size_t start = 0;
    for (;;) {
        const std::size_t blank = text.find(kBlank, start);
        if (blank == Str::npos) {
            list.push_back(text.substr(start));
            break;
        }
        list.push_back(text.substr(start, blank - start));
        start = blank + 1;
    }
    text.clear();
}

// The batch start: an empty argument text means interactive use and nothing
// happens (returns false). Any other text, blanks only included, is split
// into `list` and one batch runs over it; the caller then ends the program
// (returns true).
template <class Str>
bool RunBatchStart(Str argumentText, std::vector<Str>& list,
                   const std::function<void()>& runBatch) {
    if (argumentText.empty()) return false;
    SplitCommandLine(argumentText, list);
    runBatch();
    return true;
}

}  // namespace rivak
