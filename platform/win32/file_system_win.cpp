#include "platform/win32/file_system_win.h"

#include <cstring>
#include <utility>

#include "platform/win32/path_win.h"
#include "platform/win32/unique_handle.h"

namespace rivak::win {

namespace {

constexpr DWORD kMaskable = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | 0x8 /* volume label */ |
                            FILE_ATTRIBUTE_DIRECTORY;

// Read-only and normal entries always pass; hidden, system, volume and
// directory entries only when the mask names every one of those they have.
bool Admitted(DWORD attributes, unsigned mask) { return (attributes & kMaskable & ~mask) == 0; }

bool IsDot(const Path& name) { return name == L"." || name == L".."; }

// A walk's folder: the "\\?\" form of the path the engine reached it by,
// made once; a listed name is added to it as it is, as ExtendedPath would.
struct Win32Folder final : OpenFolder {
    explicit Win32Folder(std::wstring extended) : path(std::move(extended)) {}
    std::wstring path;
};

std::wstring PathOf(OpenFolder& folder, const Path& name) {
    std::wstring path = static_cast<Win32Folder&>(folder).path;
    if (!path.empty() && path.back() != L'\\') path += L'\\';  // a volume's root ends in one
    return path += name;
}

bool IsFile(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WriteAttributes(const std::wstring& target, DWORD merged) {
    if (SetFileAttributesW(target.c_str(), merged)) return true;
    // A file system that knows none of the newer bits may refuse them all.
    if (GetLastError() != ERROR_INVALID_PARAMETER) return false;
    constexpr DWORD kClassic = kSettableAttributes & 0x000031A7;
    const DWORD classic = merged & kClassic;
    return SetFileAttributesW(target.c_str(), classic ? classic : FILE_ATTRIBUTE_NORMAL) != 0;
}

}  // namespace

DWORD MergedAttributes(DWORD disk, AttributeWord rewritten) {
    const DWORD merged = ((disk & ~kRewrittenAttributes) | (rewritten & kRewrittenAttributes)) & kSettableAttributes;
    return merged ? merged : FILE_ATTRIBUTE_NORMAL;
}

DWORD Win32FileSystem::Attributes(const Path& path) {
    if (reuseProbe_ && cacheValid_ && cachedPath_ == path) return cachedAttributes_;
    const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : ReadAttributes(ExtendedPath(path));
    if (reuseProbe_) {
        cachedPath_ = path;
        cachedAttributes_ = attributes;
        cacheValid_ = true;
    }
    return attributes;
}

DWORD Win32FileSystem::ReadAttributes(const std::wstring& extended) {
    ++attributeReads_;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(extended.c_str(), GetFileExInfoStandard, &data))
        return INVALID_FILE_ATTRIBUTES;
    return data.dwFileAttributes;
}

Path Win32FileSystem::Dir(const Path& path, unsigned mask) {
    const Path last = LastComponent(path);
    if (!HasWildcard(last)) {
        // A single name: one look-up, whatever the size of its folder.
        const DWORD attributes = Attributes(path);
        if (attributes == INVALID_FILE_ATTRIBUTES || !Admitted(attributes, mask)) return Path();
        if (IsDot(last) && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Path();
        return last;
    }

    Forget();
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileExW(ExtendedPath(path).c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) return Path();
    while (!Admitted(data.dwFileAttributes, mask)) {
        if (!FindNextFileW(find.get(), &data)) return Path();
    }
    return data.cFileName;
}

std::optional<FsObject> Win32FileSystem::GetFile(const Path& path) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
    return FsObject{path, false, attributes};
}

std::optional<FsObject> Win32FileSystem::GetFolder(const Path& path) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
    return FsObject{path, true, attributes};
}

bool Win32FileSystem::SetAttributes(const FsObject& object, AttributeWord word) {
    DWORD disk = object.word ? static_cast<DWORD>(*object.word) : INVALID_FILE_ATTRIBUTES;
    if (disk == INVALID_FILE_ATTRIBUTES) {
        // Without the word on disk nothing could be kept; read it now.
        Forget();
        disk = Attributes(object.path);
        if (disk == INVALID_FILE_ATTRIBUTES) return false;
    }
    Forget();
    return WriteAttributes(ExtendedPath(object.path), MergedAttributes(disk, word));
}

// Not through Attributes(): the probe's answer for the folder stays valid.
bool Win32FileSystem::HoldsFile(const FsObject& folder, const Path& name) {
    return IsFile(ReadAttributes(ExtendedPath(folder.path + L'\\' + name)));
}

std::unique_ptr<OpenFolder> Win32FileSystem::OpenFolderAt(const Path& path) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;
    return std::make_unique<Win32Folder>(ExtendedPath(path));
}

std::unique_ptr<OpenFolder> Win32FileSystem::OpenSubfolder(OpenFolder& parent, const FolderEntry& sub) {
    if (!sub.folder) return nullptr;
    return std::make_unique<Win32Folder>(PathOf(parent, sub.name));
}

std::optional<FolderKey> Win32FileSystem::Identity(OpenFolder& folder) {
    UniqueFile handle(CreateFileW(static_cast<Win32Folder&>(folder).path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return std::nullopt;
    // The 64-bit index is not unique on ReFS; the 128-bit id is, where the
    // system (Windows 8 and later) and the file system give one.
    FILE_ID_INFO id;
    if (GetFileInformationByHandleEx(handle.get(), FileIdInfo, &id, sizeof id)) return KeyOf(id);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle.get(), &info)) return std::nullopt;
    return KeyOf(info);
}

// The listing gives each entry's word too, so the walk reads nothing per entry.
bool Win32FileSystem::List(OpenFolder& folder, const Path&, std::vector<FolderEntry>& entries) {
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileExW(PathOf(folder, L"*").c_str(), FindExInfoBasic, &data,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    // Only a volume's root can be empty: other folders list "." and "..".
    if (!find) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (IsDot(data.cFileName)) continue;
        FolderEntry entry;
        entry.name = data.cFileName;
        entry.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.word = data.dwFileAttributes;
        entries.push_back(std::move(entry));
    } while (FindNextFileW(find.get(), &data));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

bool Win32FileSystem::LookUp(OpenFolder& folder, FolderEntry& entry) {
    const DWORD attributes = ReadAttributes(PathOf(folder, entry.name));
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    entry.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.word = attributes;
    return true;
}

bool Win32FileSystem::Change(OpenFolder& folder, const FolderEntry& entry, AttributeWord word) {
    if (!entry.word) return false;
    const DWORD disk = static_cast<DWORD>(*entry.word);
    const DWORD merged = MergedAttributes(disk, word);
    // The listing gave the word on disk: an entry it already has is not touched.
    if ((merged & kSettableAttributes) == (disk & kSettableAttributes)) return true;
    Forget();
    return WriteAttributes(PathOf(folder, entry.name), merged);
}

bool Win32FileSystem::SubfolderHolds(OpenFolder& folder, const FolderEntry& sub, const Path& name) {
    return IsFile(ReadAttributes(PathOf(folder, sub.name) + L'\\' + name));
}

FolderKey KeyOf(const FILE_ID_INFO& id) {
    static_assert(sizeof id.FileId.Identifier == 16);
    std::uint64_t low = 0, high = 0;
    std::memcpy(&low, id.FileId.Identifier, 8);
    std::memcpy(&high, id.FileId.Identifier + 8, 8);
    return FolderKey{id.VolumeSerialNumber, low, high};
}

FolderKey KeyOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return FolderKey{info.dwVolumeSerialNumber,
                     (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

FileSystemFactory Win32FileSystemFactory() {
    return [] { return std::make_unique<Win32FileSystem>(); };
}

}  // namespace rivak::win
