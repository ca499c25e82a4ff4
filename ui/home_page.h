#pragma once
#include <string>

namespace rivak::ui {

// Opens `url` in a new window of the user's default browser; the program
// keeps no hold on it. False when the shell could not start one.
bool OpenHomePage(const std::wstring& url);

}  // namespace rivak::ui
