#pragma once
#include <string>

namespace rivak::cli {

// A path as a shell would need it typed: unchanged when it holds only
// characters no shell treats specially, in single quotes otherwise, and in
// $'...' with escapes when it holds control characters (a newline in a
// name must not split the output into two lines).
std::string ShellQuoted(const std::string& path);

}  // namespace rivak::cli
