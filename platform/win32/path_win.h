#pragma once
// The form of a path that the Win32 calls are given. Paths shown to the user
// and handed back to the engine stay as they were given; only the calls see
// this form.
#include <string>

namespace rivak::win {

// The "\\?\" form of `path`: absolute, one separator between names, "." and
// ".." resolved, so long paths work and no further parsing is done by the
// system. Paths already in "\\?\" or "\\.\" form are left alone. Names keep
// their trailing dots and blanks (GetFullPathNameW would strip them), except
// where the path is relative and has to go through it. "" for "".
std::wstring ExtendedPath(const std::wstring& path);

// The last name of `path` ("a.txt" of "C:\x\a.txt"); separators at the end
// are ignored, so "C:\x\" gives "x". A bare root gives the root without its
// separator ("C:").
std::wstring LastComponent(const std::wstring& path);

bool HasWildcard(const std::wstring& name);

}  // namespace rivak::win
