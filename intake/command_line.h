#pragma once
// The command-line splitter and the batch start. Templates over the string
// type, so the same code serves UTF-16 on Windows and bytes elsewhere.
#include <functional>
#include <string>
#include <vector>

namespace rivak {

// Replaces the rows of `list` with the pieces of `text`. A text holding a
// double quote anywhere is read in the quoted form; any other text is split
// at every single blank. On return `text` holds what was not consumed.
//
// Quoted form: the text between each pair of quotes is a piece (empty ones
// too), and so is every run outside quotes that blanks or quotes delimit.
// The shell quotes only the paths that hold a blank, so Send To with
// C:\a.txt and C:\My Files\c.txt starts us with
//     C:\a.txt "C:\My Files\c.txt"
// and both are paths. Blanks outside quotes only separate here. An opening
// quote without a partner takes the rest of the text whole as the last
// piece, so a path whose closing quote was lost is still handled.
template <class Str>
void SplitCommandLine(Str& text, std::vector<Str>& list) {
    using Char = typename Str::value_type;
    constexpr Char kQuote = Char('"');
    constexpr Char kBlank = Char(' ');
    list.clear();
    if (text.empty()) return;

    if (text.find(kQuote) != Str::npos) {
        const Char delimiters[] = {kQuote, kBlank, Char(0)};
        std::size_t pos = 0;
        while (pos < text.size()) {
            if (text[pos] == kBlank) {
                ++pos;
            } else if (text[pos] == kQuote) {
                const std::size_t close = text.find(kQuote, pos + 1);
                const std::size_t end = close == Str::npos ? text.size() : close;
                list.push_back(text.substr(pos + 1, end - pos - 1));
                pos = close == Str::npos ? text.size() : close + 1;
            } else {
                std::size_t end = text.find_first_of(delimiters, pos);
                if (end == Str::npos) end = text.size();
                list.push_back(text.substr(pos, end - pos));
                pos = end;
            }
        }
        text.clear();
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
