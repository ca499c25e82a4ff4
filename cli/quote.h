#pragma once
#include <string>

namespace rivak::cli {

// A path as `ls --quoting-style=shell-escape` shows it: unchanged when it
// holds only characters no shell treats specially, else in single quotes,
// with each run of control characters, C1 controls and bytes that are no
// UTF-8 written as $'\n' or $'\303' between the quoted parts (a newline in
// a name must not split the output into two lines, nor a byte reach the
// terminal raw). `always` quotes plain names too, as messages do.
std::string ShellQuoted(const std::string& path, bool always = false);

}  // namespace rivak::cli
