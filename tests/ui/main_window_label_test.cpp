// Label1's own line breaking: its caption must stay whole and inside its box,
// with the arrow last, in whatever font the system gives.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/unique_handle.h"
#include "ui/layout.h"
#include "ui/main_window_label.h"

namespace rivak::ui {
namespace {

const std::wstring kCaption = L"ファイルは、ここへ Drop        \u2192";

// A screen DC with the message font at 96 dpi selected.
class FontDc {
public:
    HDC get() const { return dc_.get(); }
    int Width(const std::wstring& text) const {
        SIZE size{};
        GetTextExtentPoint32W(get(), text.c_str(), static_cast<int>(text.size()), &size);
        return size.cx;
    }

private:
    // Declared in the order they are made; they go in reverse.
    win::UniqueDc dc_{CreateCompatibleDC(nullptr)};
    win::UniqueFont font_ = CreateMessageFont(96);
    win::SelectedObject selected_{dc_.get(), font_.get()};
};

std::wstring WithoutBlanks(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text)
        if (c != L' ') out += c;
    return out;
}

TEST(WrapCaption, Label1CaptionFitsItsBoxWithTheArrowLast) {
    FontDc dc;
    const int width = TwipsToPixels(975, 96), height = TwipsToPixels(495, 96);
    const auto lines = WrapCaption(dc.get(), kCaption, width);
    ASSERT_FALSE(lines.empty());
    std::wstring joined;
    for (const auto& line : lines) {
        EXPECT_LE(dc.Width(line), width) << "a line wider than the label";
        joined += line;
    }
    EXPECT_EQ(WithoutBlanks(joined), WithoutBlanks(kCaption)) << "nothing lost, nothing reordered";
    EXPECT_EQ(lines.back().back(), L'\u2192');

    TEXTMETRICW tm{};
    GetTextMetricsW(dc.get(), &tm);
    const int pitch = LinePitch(static_cast<int>(lines.size()), tm.tmHeight, height);
    EXPECT_LE((static_cast<int>(lines.size()) - 1) * pitch + tm.tmHeight, height) << "last line inside the box";
    EXPECT_GE(pitch, tm.tmAscent - tm.tmInternalLeading) << "lines pressed together beyond reading";
}

TEST(WrapCaption, BreaksAtBlanksBetweenJapaneseCharactersAndKeepsClosingMarks) {
    FontDc dc;
    const int em = dc.Width(L"あ");
    const struct {
        const char* name;
        std::wstring text;
        int width;
        std::vector<std::wstring> lines;
    } cases[] = {
        {"fits on one line", L"ab cd", 1000, {L"ab cd"}},
        {"breaks at the blank, which goes", L"abcd efgh", dc.Width(L"abcd e"), {L"abcd", L"efgh"}},
        {"a word wider than the line stays whole", L"abcdefgh", dc.Width(L"abc"), {L"abcdefgh"}},
        {"between Japanese characters", L"あいうえ", dc.Width(L"あい"), {L"あい", L"うえ"}},
        {"a comma never opens a line", L"あい、う", dc.Width(L"あい"), {L"あ", L"い、", L"う"}},
        {"a run of blanks opens the next line", L"ab    \u2192", dc.Width(L"ab    \u2192") - 1,
         {L"ab", L"    \u2192"}},
        {"as much of the run as fits", L"ab    \u2192", dc.Width(L"  \u2192"), {L"ab", L"  \u2192"}},
        {"empty", L"", 100, {}},
    };
    ASSERT_GT(em, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(WrapCaption(dc.get(), c.text, c.width), c.lines);
    }
}

TEST(LinePitch, ShrinksOnlyWhenTheLinesWouldOverflow) {
    const struct {
        int lines, lineHeight, box, pitch;
    } cases[] = {
        {1, 13, 33, 13}, {2, 13, 33, 13}, {2, 16, 33, 16}, {3, 11, 33, 11},
        {3, 13, 33, 10}, {3, 16, 33, 8},  {1, 40, 33, 40}, {0, 13, 33, 13},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LinePitch(c.lines, c.lineHeight, c.box), c.pitch)
            << c.lines << " lines of " << c.lineHeight << " in " << c.box;
}

}  // namespace
}  // namespace rivak::ui
