#include "ui/main_window_label.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/win32/unique_handle.h"
#include "ui/callback_guard.h"

namespace rivak::ui {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\u3000'; }

// Latin letters and digits make words; other characters may be broken
// before, except closing marks.
bool IsWordChar(wchar_t c) { return c < 0x2E80 && !IsBlank(c) && c != L'\u2192'; }
bool IsClosingMark(wchar_t c) {
    return std::wstring_view(L"、。，．）」』】〕！？ー").find(c) != std::wstring_view::npos;
}

int Width(HDC dc, const std::wstring& text) {
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

}  // namespace

std::vector<std::wstring> WrapCaption(HDC dc, const std::wstring& text, int width) {
    // Units: a run of blanks, a word, or one other character with the closing
    // marks that follow it.
    std::vector<std::wstring> units;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t j = i + 1;
        if (IsBlank(text[i])) {
            while (j < text.size() && IsBlank(text[j])) ++j;
        } else if (IsWordChar(text[i])) {
            while (j < text.size() && IsWordChar(text[j])) ++j;
        }
        while (j < text.size() && IsClosingMark(text[j])) ++j;
        units.push_back(text.substr(i, j - i));
        i = j;
    }

    // A single blank at a break is a word gap and goes; a longer run is the
    // caption's own spacing (it sets the arrow off) and opens the next line,
    // as much of it as fits there.
    std::vector<std::wstring> lines;
    std::wstring line, blanks;
    for (const std::wstring& unit : units) {
        if (IsBlank(unit.front())) {
            blanks += unit;
            continue;
        }
        if (line.empty() || Width(dc, line + blanks + unit) <= width) {
            line += blanks + unit;
            blanks.clear();
            continue;
        }
        lines.push_back(std::move(line));
        if (blanks.size() < 2) blanks.clear();
        while (!blanks.empty() && Width(dc, blanks + unit) > width) blanks.pop_back();
        line = blanks + unit;
        blanks.clear();
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

int LinePitch(int lines, int lineHeight, int boxHeight) {
    if (lines <= 1 || lines * lineHeight <= boxHeight) return lineHeight;
    return std::max(1, (boxHeight - lineHeight) / (lines - 1));
}

void DrawWrappedLabel(HWND label) {
    const win::PaintDc paint(label);
    HDC dc = paint.get();
    if (!dc) return;
    RECT box{};
    GetClientRect(label, &box);
    // Colours and background as the parent gives them to its statics.
    auto brush = reinterpret_cast<HBRUSH>(
        SendMessageW(GetParent(label), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label)));
    FillRect(dc, &box, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
    const auto font = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
    const win::SelectedObject selected(dc, font);
    SetBkMode(dc, TRANSPARENT);
    if (!brush) SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));

    std::wstring caption(static_cast<std::size_t>(GetWindowTextLengthW(label)) + 1, L'\0');
    caption.resize(static_cast<std::size_t>(GetWindowTextW(label, caption.data(), static_cast<int>(caption.size()))));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    const std::vector<std::wstring> lines = WrapCaption(dc, caption, box.right);
    const int pitch = LinePitch(static_cast<int>(lines.size()), metrics.tmHeight, box.bottom);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        RECT r{0, static_cast<int>(i) * pitch, box.right, static_cast<int>(i) * pitch + metrics.tmHeight};
        DrawTextW(dc, lines[i].c_str(), static_cast<int>(lines[i].size()), &r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    }
}

namespace {
LRESULT LabelMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id);

// Wrapping allocates: a throw there must not unwind through comctl32.
LRESULT CALLBACK LabelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR) {
    return Guarded([&] { return LabelMessage(hwnd, msg, wp, lp, id); },
                   [&] { return DefSubclassProc(hwnd, msg, wp, lp); });
}

LRESULT LabelMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id) {
    switch (msg) {
    case WM_PAINT:
        DrawWrappedLabel(hwnd);
        return 0;
    case WM_SETTEXT:
    case WM_SETFONT: {
        const LRESULT result = DefSubclassProc(hwnd, msg, wp, lp);
        InvalidateRect(hwnd, nullptr, TRUE);
        return result;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, &LabelProc, id);
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}
}  // namespace

void InstallWrappedLabel(HWND label) {
    if (label) SetWindowSubclass(label, &LabelProc, 1, 0);
}

}  // namespace rivak::ui
