#pragma once
#include <string>

namespace rivak::ui {

// The folder holding the running executable, without a trailing separator.
std::wstring ProgramFolder();

}  // namespace rivak::ui
