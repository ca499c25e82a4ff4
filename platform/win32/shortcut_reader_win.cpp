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
        if (static_cast<int>(target.size()) < size - 1 || size == kLongestPath) return target;
    }
    return std::nullopt;
}

}  // namespace rivak::win
