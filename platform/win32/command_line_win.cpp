#include "platform/win32/command_line_win.h"

namespace rivak::win {

std::wstring ArgumentText(const wchar_t* commandLine) {
    if (!commandLine) return std::wstring();
    const wchar_t* p = commandLine;
    if (*p == L'"') {
        while (*++p && *p != L'"') {
        }
        if (*p == L'"') ++p;
    } else {
        while (*p > L' ') ++p;
    }
    while (*p && *p <= L' ') ++p;
    return std::wstring(p);
}

}  // namespace rivak::win
