#pragma once
// Temporary trees for the Win32 tests, made with the system's own calls (not
// with the backend under test).
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/file_system.h"
#include "platform/win32/unique_handle.h"

namespace rivak::test {

inline std::wstring Long(const std::wstring& path) {
    return path.rfind(L"\\\\?\\", 0) == 0 ? path : L"\\\\?\\" + path;
}

inline DWORD DiskWord(const std::wstring& path) { return GetFileAttributesW(Long(path).c_str()); }

// The time of the last change to the entry's metadata (st_ctime under Wine):
// every attribute write moves it, even one that keeps the word. -1 when unread.
inline LONGLONG ChangeTime(const std::wstring& path) {
    win::UniqueFile f(CreateFileW(Long(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILE_BASIC_INFO info{};
    if (!f || !GetFileInformationByHandleEx(f.get(), FileBasicInfo, &info, sizeof info)) return -1;
    return info.ChangeTime.QuadPart;
}

// Removes `path` and everything below it, read-only or not.
inline void RemoveTree(const std::wstring& path) {
    const std::wstring lp = Long(path);
    const DWORD a = GetFileAttributesW(lp.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(lp.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
        if (!(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
            WIN32_FIND_DATAW d;
            win::UniqueFind find(FindFirstFileW((lp + L"\\*").c_str(), &d));
            if (find) {
                do {
                    const std::wstring n = d.cFileName;
                    if (n != L"." && n != L"..") RemoveTree(path + L"\\" + n);
                } while (FindNextFileW(find.get(), &d));
            }
        }
        RemoveDirectoryW(lp.c_str());
    } else {
        DeleteFileW(lp.c_str());
    }
}

// A fresh, empty folder of its own under the temporary folder, removed with
// all it holds at the end.
class TempFolder {
public:
    TempFolder() {
        wchar_t base[MAX_PATH + 1];
        const DWORD n = GetTempPathW(MAX_PATH + 1, base);
        std::wstring root(base, n);
        if (!root.empty() && root.back() == L'\\') root.pop_back();
        static unsigned serial = 0;
        for (int attempt = 0; attempt < 100; ++attempt) {
            path_ = root + L"\\rivak-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                    std::to_wstring(++serial) + L"-" + std::to_wstring(GetTickCount64() % 100000);
            if (CreateDirectoryW(Long(path_).c_str(), nullptr)) return;
        }
        ADD_FAILURE() << "no temporary folder";
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() { RemoveTree(path_); }

    const std::wstring& path() const { return path_; }
    std::wstring At(const std::wstring& rel) const { return path_ + L"\\" + rel; }

private:
    std::wstring path_;
};

inline bool MakeFolderAt(const std::wstring& path, DWORD extra = 0) {
    if (!CreateDirectoryW(Long(path).c_str(), nullptr)) return false;
    return !extra || SetFileAttributesW(Long(path).c_str(), extra);
}

inline bool MakeFileAt(const std::wstring& path, DWORD extra = 0) {
    win::UniqueFile f(CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return false;
    f.reset();
    return !extra || SetFileAttributesW(Long(path).c_str(), extra);
}

// A shell shortcut at `linkPath` to `target`; an empty target makes a
// shortcut to a shell item that is no file (the Control Panel).
inline bool MakeShortcut(const std::wstring& linkPath, const std::wstring& target) {
    win::ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
        return false;
    if (target.empty()) {
        win::UniqueCoTaskMem<ITEMIDLIST> pidl;
        if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_CONTROLS, pidl.put())) || !pidl) return false;
        if (FAILED(link->SetIDList(pidl.get()))) return false;
    } else if (FAILED(link->SetPath(target.c_str()))) {
        return false;
    }
    win::ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void()))) return false;
    return SUCCEEDED(file->Save(linkPath.c_str(), TRUE));
}

// A path relative to the folder of this test program, made full.
inline std::wstring BesideThisTest(const std::wstring& relative) {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self, n);
    dir.erase(dir.find_last_of(L'\\') + 1);
    wchar_t full[MAX_PATH];
    const DWORD m = GetFullPathNameW((dir + relative).c_str(), MAX_PATH, full, nullptr);
    return m && m < MAX_PATH ? std::wstring(full, m) : dir + relative;
}

// The tests run in a COM apartment of their own, as the program does.
class ComTest : public ::testing::Test {
protected:
    win::ComApartment com_;
};

}  // namespace rivak::test
