#include "platform/win32/shortcut_reader_win.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <type_traits>
#include <vector>

#include "platform/lnk/shell_link.h"
#include "platform/win32/path_win.h"
#include "platform/win32/unique_handle.h"

namespace rivak::win {

namespace {

// The longest path Win32 knows, terminator included.
constexpr int kLongestPath = 32768;

using UniqueIdList = UniqueCoTaskMem<std::remove_pointer_t<PIDLIST_ABSOLUTE>>;

// Shortcuts made on a Japanese system keep their ANSI strings in code page 932.
std::optional<std::u16string> DecodeCp932(std::string_view bytes) {
    const int size = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::u16string text(static_cast<std::size_t>(n), u'\0');
    if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), size, reinterpret_cast<wchar_t*>(text.data()), n) != n)
        return std::nullopt;
    return text;
}

// The whole file, when it is one and no larger than a shortcut can be.
std::optional<std::vector<unsigned char>> ReadSmallFile(const Path& file) {
    UniqueFile handle(CreateFileW(ExtendedPath(file).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) return std::nullopt;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle.get(), &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > lnk::kMaxShellLinkSize)
        return std::nullopt;
    // Read one byte past the size: a file that grew meanwhile is no shortcut.
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size.QuadPart) + 1);
    std::size_t got = 0;
    for (DWORD n = 0; got < bytes.size(); got += n) {
        if (!ReadFile(handle.get(), bytes.data() + got, static_cast<DWORD>(bytes.size() - got), &n, nullptr))
            return std::nullopt;
        if (n == 0) break;
    }
    if (got > lnk::kMaxShellLinkSize) return std::nullopt;
    bytes.resize(got);
    return bytes;
}

// "..\b.txt" of the shortcut "C:\a\link.lnk": "C:\b.txt".
std::optional<Path> BesideShortcut(const Path& shortcutFile, const std::u16string& relative) {
    const std::size_t cut = shortcutFile.find_last_of(L"\\/");
    if (cut == Path::npos) return std::nullopt;
    const std::wstring joined = shortcutFile.substr(0, cut + 1) + std::wstring(relative.begin(), relative.end());
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD n = GetFullPathNameW(joined.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (n == 0) return std::nullopt;
        if (n < buffer.size()) return Path(buffer.data(), n);
        buffer.resize(n + 1);
    }
    return std::nullopt;
}

// A '?' past a "\\?\" prefix can be no part of a name: the stored path went
// through a code page that lacks some of its characters.
bool LostCharacters(const Path& path) {
    const std::size_t start = path.rfind(L"\\\\?\\", 0) == 0 ? 4 : 0;
    return path.find(L'?', start) != Path::npos;
}

// The target's path from the shortcut's item list, which keeps every name
// in UTF-16.
std::optional<Path> PathOfItemList(IShellLinkW& link) {
    PIDLIST_ABSOLUTE raw = nullptr;
    const HRESULT hr = link.GetIDList(&raw);
    const UniqueIdList items(raw);
    if (hr != S_OK || !items) return std::nullopt;
    std::vector<wchar_t> buffer(kLongestPath, L'\0');
    if (!SHGetPathFromIDListEx(items.get(), buffer.data(), kLongestPath, GPFIDL_DEFAULT)) return std::nullopt;
    return Path(buffer.data());
}

// The shell's own reading, for what only the system can answer: targets
// written with environment variables or known folders, and shell items.
std::optional<Path> ShellTarget(const Path& shortcutFile) {
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
        return std::nullopt;
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void()))) return std::nullopt;
    // The short form first: it is what every shortcut handler accepts.
    const std::wstring longForm = ExtendedPath(shortcutFile);
    const std::wstring& name = shortcutFile.size() < MAX_PATH ? shortcutFile : longForm;
    if (FAILED(file->Load(name.c_str(), STGM_READ))) {
        if (&name == &longForm || FAILED(file->Load(longForm.c_str(), STGM_READ))) return std::nullopt;
    }

    // A target that fills the buffer may have been cut: grow once to the limit.
    for (int size : {MAX_PATH + 1, kLongestPath}) {
        std::vector<wchar_t> buffer(size, L'\0');
        const HRESULT hr = link->GetPath(buffer.data(), size, nullptr, 0);
        if (FAILED(hr)) return std::nullopt;
        if (hr == S_FALSE) return Path();  // a shell item that is not a file
        buffer.back() = L'\0';
        const Path target(buffer.data());
        if (static_cast<int>(target.size()) >= size - 1 && size != kLongestPath) continue;
        if (LostCharacters(target)) {
            if (std::optional<Path> exact = PathOfItemList(*link.get())) return exact;
        }
        return target;
    }
    return std::nullopt;
}

}  // namespace

std::optional<Path> Win32ShortcutReader::Target(const Path& shortcutFile) {
    if (shortcutFile.empty()) return std::nullopt;
    const std::optional<std::vector<unsigned char>> bytes = ReadSmallFile(shortcutFile);
    if (!bytes) return std::nullopt;
    // What the file stores is read the same way as on Linux; a damaged file
    // is unreadable here too, whatever the shell would make of it.
    const std::optional<lnk::ShellLinkTarget> stored = lnk::ReadShellLink(*bytes, DecodeCp932);
    if (!stored) return std::nullopt;
    switch (stored->kind) {
        case lnk::ShellLinkTarget::Kind::Absolute:
            return Path(stored->path.begin(), stored->path.end());
        case lnk::ShellLinkTarget::Kind::Relative:
            return BesideShortcut(shortcutFile, stored->path);
        case lnk::ShellLinkTarget::Kind::NotAFile:
        case lnk::ShellLinkTarget::Kind::Unresolvable:
            break;
    }
    return ShellTarget(shortcutFile);
}

}  // namespace rivak::win
