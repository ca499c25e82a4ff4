#pragma once
// Label1's drawing. Its box (975 x 495 twips) is narrower than its caption
// and lower than three lines of the message font, so the label breaks the
// caption itself (between words and between Japanese characters) and draws
// the lines closer together when they would not fit, keeping every line,
// and the arrow at the end, inside the box.
#include <windows.h>

#include <string>
#include <vector>

namespace rivak::ui {

// The caption broken into lines no wider than `width` pixels in the font
// selected into `dc`. A single blank at a break is dropped, a run of blanks
// opens the next line; a closing mark (、。) stays with the character before.
std::vector<std::wstring> WrapCaption(HDC dc, const std::wstring& text, int width);

// Distance from one line's top to the next: the font's line height, or less
// when `lines` lines of `lineHeight` would overflow `boxHeight`.
int LinePitch(int lines, int lineHeight, int boxHeight);

// Draws a left-aligned static's caption that way; installed on Label1.
void DrawWrappedLabel(HWND label);
void InstallWrappedLabel(HWND label);

}  // namespace rivak::ui
