#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "intake/command_line.h"

namespace rivak {
namespace {

std::vector<std::string> Split(std::string text) {
    std::vector<std::string> list = {"left over from before"};
    SplitCommandLine(text, list);
    return list;
}

TEST(SplitCommandLine, Table) {
    struct Row {
        const char* name;
        std::string text;
        std::vector<std::string> rows;
    };
    const Row rows[] = {
        {"empty", "", {}},
        {"one blank between", "C:\\a.txt C:\\b.txt", {"C:\\a.txt", "C:\\b.txt"}},
        {"two blanks between", "C:\\a.txt  C:\\b.txt", {"C:\\a.txt", "", "C:\\b.txt"}},
        {"trailing blank", "C:\\a.txt ", {"C:\\a.txt", ""}},
        {"leading blank", " C:\\a.txt", {"", "C:\\a.txt"}},
        {"three blanks", "   ", {"", "", "", ""}},
        {"unquoted blank in a path", "C:\\My Files\\c.txt", {"C:\\My", "Files\\c.txt"}},
        {"two quoted", "\"C:\\My Files\\c.txt\" \"C:\\b.txt\"", {"C:\\My Files\\c.txt", "C:\\b.txt"}},
        {"quoted, no blank between", "\"C:\\My Files\\c.txt\"\"C:\\b.txt\"", {"C:\\My Files\\c.txt", "C:\\b.txt"}},
        {"empty quotes", "\"\"", {""}},
        // Send To quotes only the paths that hold a blank.
        {"unquoted then quoted", "C:\\a.txt \"C:\\My Files\\c.txt\"", {"C:\\a.txt", "C:\\My Files\\c.txt"}},
        {"quoted then unquoted", "\"C:\\My Files\\c.txt\" C:\\a.txt", {"C:\\My Files\\c.txt", "C:\\a.txt"}},
        {"words between quoted", "\"C:\\a.txt\" xyz \"C:\\b.txt\"", {"C:\\a.txt", "xyz", "C:\\b.txt"}},
        {"runs touching quotes", "abc\"d e\"f", {"abc", "d e", "f"}},
        {"empty quotes between runs", "a\"\"b", {"a", "", "b"}},
        {"blanks outside quotes only separate", "  \"a\"   b  ", {"a", "b"}},
        {"tab in a run outside quotes", "a\tb \"c\"", {"a\tb", "c"}},
        {"blanks inside quotes kept", "\" C:\\a b \"", {" C:\\a b "}},
        {"tab is no separator", "C:\\a.txt\tC:\\b.txt", {"C:\\a.txt\tC:\\b.txt"}},
        {"full-width blank is no separator", "C:\\a.txt\xE3\x80\x80" "C:\\b.txt", {"C:\\a.txt\xE3\x80\x80" "C:\\b.txt"}},
        {"unmatched quote takes the rest", "\"C:\\a.txt\" \"C:\\My Files\\c", {"C:\\a.txt", "C:\\My Files\\c"}},
        {"lone quote", "\"", {""}},
        {"unmatched quote after a run", "x \"y z", {"x", "y z"}},
        {"quote at the very end", "abc\"", {"abc", ""}},
    };
    for (const Row& r : rows) EXPECT_EQ(Split(r.text), r.rows) << r.name;
}

TEST(SplitCommandLine, TextKeepsTheUnconsumedRest) {
    std::string quoted = "\"a\" tail ";
    std::vector<std::string> list;
    SplitCommandLine(quoted, list);
    EXPECT_EQ(list, (std::vector<std::string>{"a", "tail"}));
    EXPECT_EQ(quoted, "") << "the quoted form takes the runs outside quotes too";
    std::string blank = "a b";
    SplitCommandLine(blank, list);
    EXPECT_EQ(blank, "");
}

TEST(SplitCommandLine, WideAndUtf16TextsSplitAlike) {
    std::wstring w = L"\"C:\\日本語 フォルダ\\😀.txt\" \"C:\\b\"";
    std::vector<std::wstring> wl;
    SplitCommandLine(w, wl);
    EXPECT_EQ(wl, (std::vector<std::wstring>{L"C:\\日本語 フォルダ\\😀.txt", L"C:\\b"}));
    std::u16string u = u"C:\\日本語　x C:\\b";
    std::vector<std::u16string> ul;
    SplitCommandLine(u, ul);
    EXPECT_EQ(ul, (std::vector<std::u16string>{u"C:\\日本語　x", u"C:\\b"}));
}

// Random texts of blanks, quotes and letters: the splitter always ends; the
// blank form gives one row more than there are blanks and the rows join back
// into the text; in the quoted form every character outside quotes lands in
// exactly one row or is a blank, every character inside lands in its row,
// and there is one row per quoted piece and per run outside quotes.
TEST(SplitCommandLine, PropertiesOverRandomTexts) {
    std::mt19937 random(20261207);
    const char alphabet[] = {' ', '"', 'a', 'b'};
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 24);
        for (int i = 0; i < length; ++i) text += alphabet[random() % 4];
        const std::vector<std::string> rows = Split(text);
        const auto quotes = std::count(text.begin(), text.end(), '"');
        if (text.empty()) {
            EXPECT_TRUE(rows.empty());
        } else if (quotes == 0) {
            ASSERT_EQ(rows.size(), static_cast<std::size_t>(std::count(text.begin(), text.end(), ' ') + 1)) << text;
            std::string joined;
            for (std::size_t i = 0; i < rows.size(); ++i) joined += (i ? " " : "") + rows[i];
            EXPECT_EQ(joined, text);
        } else {
            // What the rows must hold between them, in order: the text less
            // its quotes and less the blanks outside quotes.
            std::string kept;
            std::size_t outsideRuns = 0;
            bool inside = false, inRun = false;
            for (const char c : text) {
                if (c == '"') {
                    inside = !inside;
                    inRun = false;
                } else if (inside) {
                    kept += c;
                } else if (c == ' ') {
                    inRun = false;
                } else {
                    kept += c;
                    if (!inRun) ++outsideRuns;
                    inRun = true;
                }
            }
            std::string joined;
            for (const std::string& row : rows) {
                EXPECT_EQ(row.find('"'), std::string::npos) << text;
                joined += row;
            }
            EXPECT_EQ(joined, kept) << text;
            EXPECT_EQ(rows.size(), static_cast<std::size_t>((quotes + 1) / 2) + outsideRuns) << text;
        }
    }
}

TEST(BatchStart, EmptyTextIsInteractiveAnyOtherTextRunsOneBatch) {
    struct Row {
        std::string text;
        bool batch;
        std::size_t rows;
    };
    const Row rows[] = {{"", false, 0}, {"   ", true, 4}, {"C:\\a", true, 1}, {"\"C:\\a b\"", true, 1}};
    for (const Row& r : rows) {
        std::vector<std::string> list = {"old"};
        int batches = 0;
        std::size_t rowsAtBatch = 0;
        const bool ended = RunBatchStart(r.text, list, [&] {
            ++batches;
            rowsAtBatch = list.size();
        });
        EXPECT_EQ(ended, r.batch) << "'" << r.text << "'";
        EXPECT_EQ(batches, r.batch ? 1 : 0);
        if (r.batch) {
            EXPECT_EQ(rowsAtBatch, r.rows);
        } else {
            EXPECT_EQ(list, std::vector<std::string>{"old"}) << "no split without arguments";
        }
    }
}

}  // namespace
}  // namespace rivak
