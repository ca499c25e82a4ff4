#include "platform/win32/path_win.h"

#include <windows.h>

#include <vector>

namespace rivak::win {

namespace {

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveAbsolute(const std::wstring& p) {
    return p.size() >= 3 && ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z')) && p[1] == L':' &&
           IsSep(p[2]);
}

bool IsUnc(const std::wstring& p) {
    return p.size() >= 2 && IsSep(p[0]) && IsSep(p[1]) && !(p.size() >= 3 && (p[2] == L'?' || p[2] == L'.'));
}

std::wstring FullPathName(const std::wstring& path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (n == 0) return path;
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(n + 1);
    }
    return path;
}

// Splits after `rootLength` characters and resolves the names lexically, as
// the system itself does for "." and "..", but without touching the names.
std::wstring Resolve(const std::wstring& root, const std::wstring& path, std::size_t rootLength) {
    std::vector<std::wstring> names;
    std::size_t i = rootLength;
    while (i < path.size()) {
        while (i < path.size() && IsSep(path[i])) ++i;
        const std::size_t start = i;
        while (i < path.size() && !IsSep(path[i])) ++i;
        if (i == start) break;
        std::wstring name = path.substr(start, i - start);
        if (name == L".") continue;
        if (name == L"..") {
            if (!names.empty()) names.pop_back();
            continue;
        }
        names.push_back(std::move(name));
    }
    std::wstring out = root;
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (k) out += L'\\';
        out += names[k];
    }
    return out;
}

std::wstring FromAbsolute(const std::wstring& p) {
    if (IsDriveAbsolute(p)) return Resolve(std::wstring(L"\\\\?\\") + p[0] + L":\\", p, 3);
    // \\server\share: the share is the root, ".." stops there.
    std::size_t i = 2;
    while (i < p.size() && !IsSep(p[i])) ++i;
    const std::wstring server = p.substr(2, i - 2);
    while (i < p.size() && IsSep(p[i])) ++i;
    const std::size_t shareStart = i;
    while (i < p.size() && !IsSep(p[i])) ++i;
    const std::wstring share = p.substr(shareStart, i - shareStart);
    std::wstring root = L"\\\\?\\UNC\\" + server;
    if (!share.empty()) root += L"\\" + share + L"\\";
    return Resolve(root, p, i);
}

}  // namespace

bool HasWildcard(const std::wstring& name) { return name.find_first_of(L"*?") != std::wstring::npos; }

std::wstring ExtendedPath(const std::wstring& path) {
    if (path.empty()) return path;
    if (path.size() >= 4 && IsSep(path[0]) && IsSep(path[1]) && (path[2] == L'?' || path[2] == L'.') &&
        IsSep(path[3]))
        return path;
    if (IsDriveAbsolute(path) || IsUnc(path)) return FromAbsolute(path);
    // Relative, drive-relative ("C:x") or rooted ("\x"): the current folder
    // decides, and only the system knows it.
    const std::wstring full = FullPathName(path);
    if (IsDriveAbsolute(full) || IsUnc(full)) return FromAbsolute(full);
    return full;
}

std::wstring LastComponent(const std::wstring& path) {
    std::size_t end = path.size();
    while (end > 0 && IsSep(path[end - 1])) --end;
    std::size_t start = end;
    while (start > 0 && !IsSep(path[start - 1])) --start;
    return path.substr(start, end - start);
}

}  // namespace rivak::win
