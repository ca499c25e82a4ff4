#include "platform/win32/shortcut_reader_win.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

#include "platform/win32/path_win.h"
#include "platform/win32/unique_handle.h"

namespace rivak::win {

namespace {

// The longest path Win32 knows, terminator included.
constexpr int kLongestPath = 32768;

// A '?' past a "\\?\" prefix can be no part of a name: the stored path went
// through a code page that lacks some of its characters.
bool LostCharacters(const Path& path) {
    const std::size_t start = path.rfind(L"\\\\?\\", 0) == 0 ? 4 : 0;
    return path.find(L'?', start) != Path::npos;
}

// The target's path from the shortcut's item list, which keeps every name
// in UTF-16.
std::optional<Path> PathOfItemList(IShellLinkW& link) {
    PIDLIST_ABSOLUTE items = nullptr;
    if (link.GetIDList(&items) != S_OK || !items) return std::nullopt;
    std::vector<wchar_t> buffer(kLongestPath, L'\0');
    const BOOL ok = SHGetPathFromIDListEx(items, buffer.data(), kLongestPath, GPFIDL_DEFAULT);
    CoTaskMemFree(items);
    if (!ok) return std::nullopt;
    return Path(buffer.data());
}

}  // namespace

std::optional<Path> Win32ShortcutReader::Target(const Path& shortcutFile) {
    if (shortcutFile.empty()) return std::nullopt;
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

}  // namespace rivak::win
