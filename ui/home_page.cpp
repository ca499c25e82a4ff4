#include "ui/home_page.h"

#include <windows.h>
#include <shellapi.h>

namespace rivak::ui {

bool OpenHomePage(const std::wstring& url) {
    // The default browser opens a URL handed to the shell in a window of its
    // own, with its usual toolbar and menus.
    const auto r = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return r > 32;
}

}  // namespace rivak::ui
