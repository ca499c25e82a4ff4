#pragma once
// The engine's file system on Win32: the probe on GetFileAttributesExW and
// FindFirstFileExW, a walk's listing on one FindFirstFileExW loop per
// folder, the attribute word on SetFileAttributesW. Every call gets the
// "\\?\" form of its path.
#include <windows.h>

#include <memory>
#include <vector>

#include "engine/file_system.h"

namespace rivak::win {

// The attribute bits SetFileAttributesW takes; the others (directory,
// reparse point, compressed, ...) are the file system's own.
inline constexpr DWORD kSettableAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
    0x00020000 /* no scrub data */ | 0x00080000 /* pinned */ | 0x00100000 /* unpinned */;
// What the engine rewrites; everything else keeps its value on disk.
inline constexpr DWORD kRewrittenAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// The word to hand to SetFileAttributesW when `rewritten` is written over an
// object whose word on disk is `disk`.
DWORD MergedAttributes(DWORD disk, AttributeWord rewritten);

class Win32FileSystem final : public FileSystem {
public:
    // `reuseProbe`: a probe's answer serves the calls on the same path that
    // follow it at once (the engine asks twice and then looks the entry up).
    explicit Win32FileSystem(bool reuseProbe = true) : reuseProbe_(reuseProbe) {}

    Path Dir(const Path& path, unsigned mask) override;
    std::optional<FsObject> GetFile(const Path& path) override;
    std::optional<FsObject> GetFolder(const Path& path) override;
    bool SetAttributes(const FsObject& object, AttributeWord word) override;
    bool HoldsFile(const FsObject& folder, const Path& name) override;

    std::unique_ptr<OpenFolder> OpenFolderAt(const Path& path) override;
    std::unique_ptr<OpenFolder> OpenSubfolder(OpenFolder& parent, const FolderEntry& sub) override;
    std::optional<FolderKey> Identity(OpenFolder& folder) override;
    bool List(OpenFolder& folder, const Path& path, std::vector<FolderEntry>& entries) override;
    bool LookUp(OpenFolder& folder, FolderEntry& entry) override;
    bool Change(OpenFolder& folder, const FolderEntry& entry, AttributeWord word) override;
    bool SubfolderHolds(OpenFolder& folder, const FolderEntry& sub, const Path& name) override;

    // Calls made to the system for single paths (tests count them).
    unsigned long long AttributeReads() const { return attributeReads_; }

private:
    // The attributes of `path`, or INVALID_FILE_ATTRIBUTES.
    DWORD Attributes(const Path& path);
    // The attributes at a path in "\\?\" form, never from the probe's
    // answer, which this leaves as it is.
    DWORD ReadAttributes(const std::wstring& extended);
    void Forget() { cacheValid_ = false; }

    bool reuseProbe_;
    Path cachedPath_;
    DWORD cachedAttributes_ = INVALID_FILE_ATTRIBUTES;
    bool cacheValid_ = false;
    unsigned long long attributeReads_ = 0;
};

// A folder's key from what the system says of it: the 128-bit file id
// (unique on ReFS too) where the system has it, else the 64-bit file index.
FolderKey KeyOf(const FILE_ID_INFO& id);
FolderKey KeyOf(const BY_HANDLE_FILE_INFORMATION& info);

FileSystemFactory Win32FileSystemFactory();

}  // namespace rivak::win
