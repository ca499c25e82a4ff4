#pragma once
#include <string>

namespace rivak::win {

// The argument text of a process command line, as the C runtime hands it to
// WinMain: the program's path is skipped (a path that starts with a quote
// up to its closing quote, else up to the first blank or control character),
// then the blanks and control characters that follow it. Everything after
// that is kept exactly, trailing blanks too.
std::wstring ArgumentText(const wchar_t* commandLine);

}  // namespace rivak::win
