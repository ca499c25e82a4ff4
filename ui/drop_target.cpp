#include "ui/drop_target.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <new>
#include <utility>

#include "platform/win32/unique_handle.h"
#include "ui/callback_guard.h"

namespace rivak::ui {

namespace {

// Owns what IDataObject::GetData hands out.
class Medium {
public:
    Medium() = default;
    Medium(const Medium&) = delete;
    Medium& operator=(const Medium&) = delete;
    ~Medium() {
        if (filled_) ReleaseStgMedium(&medium_);
    }
    STGMEDIUM* put() { return &medium_; }
    void filled() { filled_ = true; }
    const STGMEDIUM& get() const { return medium_; }

private:
    STGMEDIUM medium_{};
    bool filled_ = false;
};

using UniquePidl = win::UniqueCoTaskMem<ITEMIDLIST>;

// Locks an HGLOBAL for as long as it lives.
class Locked {
public:
    explicit Locked(HGLOBAL memory) : memory_(memory), data_(memory ? GlobalLock(memory) : nullptr) {}
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    ~Locked() {
        if (data_) GlobalUnlock(memory_);
    }
    const BYTE* data() const { return static_cast<const BYTE*>(data_); }
    std::size_t size() const { return data_ ? GlobalSize(memory_) : 0; }

private:
    HGLOBAL memory_;
    void* data_;
};

bool GetGlobal(IDataObject* data, CLIPFORMAT format, Medium& medium) {
    FORMATETC wanted{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    if (data->QueryGetData(&wanted) != S_OK) return false;
    if (FAILED(data->GetData(&wanted, medium.put()))) return false;
    medium.filled();
    return medium.get().tymed == TYMED_HGLOBAL && medium.get().hGlobal;
}

std::optional<PathList> FileList(IDataObject* data) {
    Medium medium;
    if (!GetGlobal(data, CF_HDROP, medium)) return std::nullopt;
    const auto drop = static_cast<HDROP>(medium.get().hGlobal);
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    PathList paths;
    paths.reserve(count);
    for (UINT i = 0; i < count; ++i) {
        // Sized per path: long paths (\\?\...) go far beyond MAX_PATH.
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        Path path(length + 1, L'\0');
        const UINT copied = DragQueryFileW(drop, i, path.data(), length + 1);
        path.resize(copied);
        paths.push_back(std::move(path));
    }
    return paths;
}

// The name of the last item of `pidl` inside its folder, as a path takes it;
// none for an item that is not part of the file system.
std::optional<Path> NameInFolder(PCIDLIST_ABSOLUTE pidl) {
    win::ComPtr<IShellFolder> folder;
    PCUITEMID_CHILD last = nullptr;
    if (FAILED(SHBindToParent(pidl, IID_IShellFolder, folder.put_void(), &last))) return std::nullopt;
    SFGAOF attributes = SFGAO_FILESYSTEM;
    if (FAILED(folder->GetAttributesOf(1, &last, &attributes)) || !(attributes & SFGAO_FILESYSTEM))
        return std::nullopt;
    STRRET name{};
    if (FAILED(folder->GetDisplayNameOf(last, SHGDN_INFOLDER | SHGDN_FORPARSING, &name))) return std::nullopt;
    PWSTR out = nullptr;
    if (FAILED(StrRetToStrW(&name, last, &out)) || !out) return std::nullopt;
    const win::UniqueCoTaskMem<wchar_t> text(out);
    if (!*text.get()) return std::nullopt;
    return Path(text.get());
}

// The file-system path of an item, at full length. The shell's own answer is
// taken when it is clearly whole; an answer MAX_PATH - 1 long may have been
// cut there (Wine cuts so and reports success), so the path is then built
// from the parent's path and the item's name, one level at a time.
std::optional<Path> FileSystemPath(PCIDLIST_ABSOLUTE pidl) {
    std::optional<Path> whole;
    PWSTR out = nullptr;
    if (SUCCEEDED(SHGetNameFromIDList(pidl, SIGDN_FILESYSPATH, &out)) && out) {
        const win::UniqueCoTaskMem<wchar_t> text(out);
        if (*text.get()) whole = Path(text.get());
    }
    if (whole && whole->size() < MAX_PATH - 1) return whole;
    if (!ILIsEmpty(pidl)) {
        UniquePidl parent(ILClone(pidl));
        if (parent && ILRemoveLastID(parent.get())) {
            if (std::optional<Path> folder = FileSystemPath(parent.get())) {
                if (std::optional<Path> name = NameInFolder(pidl)) {
                    if (folder->back() != L'\\') *folder += L'\\';
                    return *folder + *name;
                }
            }
        }
    }
    // Longer than any cut: the shell gave it whole.
    if (whole && whole->size() >= MAX_PATH) return whole;
    return std::nullopt;
}

// True when a shell ID list starts at `offset` and ends inside the block.
bool IdListFits(const BYTE* block, std::size_t size, std::size_t offset) {
    while (offset <= size && size - offset >= sizeof(USHORT)) {
        USHORT cb;
        std::memcpy(&cb, block + offset, sizeof cb);
        if (cb == 0) return true;
        if (cb < sizeof(USHORT) || cb > size - offset) return false;
        offset += cb;
    }
    return false;
}

// The Shell IDList Array (CIDA): a count, then offsets of the parent folder's
// ID list and of each item's list relative to it. It comes from another
// process, so every offset is checked against the block before use.
std::optional<PathList> ShellIdList(IDataObject* data) {
    static const auto format = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_SHELLIDLIST));
    Medium medium;
    if (!format || !GetGlobal(data, format, medium)) return std::nullopt;
    const Locked block(medium.get().hGlobal);
    const BYTE* base = block.data();
    const std::size_t size = block.size();
    if (!base || size < sizeof(UINT)) return std::nullopt;
    UINT count;
    std::memcpy(&count, base, sizeof count);
    const std::size_t slots = (size - sizeof(UINT)) / sizeof(UINT);
    if (slots == 0 || count > slots - 1) return std::nullopt;
    const auto offsetOf = [&](UINT i) {
        UINT offset;
        std::memcpy(&offset, base + sizeof(UINT) * (1 + i), sizeof offset);
        return static_cast<std::size_t>(offset);
    };
    if (!IdListFits(base, size, offsetOf(0))) return std::nullopt;
    const auto parent = reinterpret_cast<PCIDLIST_ABSOLUTE>(base + offsetOf(0));

    PathList paths;
    for (UINT i = 1; i <= count; ++i) {
        const std::size_t offset = offsetOf(i);
        if (!IdListFits(base, size, offset)) continue;
        UniquePidl item(ILCombine(parent, reinterpret_cast<PCUIDLIST_RELATIVE>(base + offset)));
        if (!item) throw std::bad_alloc();
        if (std::optional<Path> path = FileSystemPath(item.get())) paths.push_back(std::move(*path));
    }
    if (paths.empty()) return std::nullopt;
    return paths;
}

}  // namespace

std::optional<PathList> DroppedFiles(IDataObject* data) {
    if (!data) return std::nullopt;
    if (std::optional<PathList> files = FileList(data)) return files;
    return ShellIdList(data);
}

DWORD DropEffectFor(DWORD allowedBySource) {
    if (allowedBySource & DROPEFFECT_COPY) return DROPEFFECT_COPY;
    if (allowedBySource & DROPEFFECT_LINK) return DROPEFFECT_LINK;
    return DROPEFFECT_NONE;
}

// OLE calls these from its own frames: nothing may unwind through them.
// (QueryInterface, AddRef, Release and DragLeave do nothing that can throw.)
HRESULT DropTarget::DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) {
    return Guarded(
        [&] {
            if (!effect) return E_INVALIDARG;
            *effect = DropEffectFor(*effect);
            return S_OK;
        },
        [] { return E_UNEXPECTED; });
}

HRESULT DropTarget::DragOver(DWORD, POINTL, DWORD* effect) {
    return Guarded(
        [&] {
            if (!effect) return E_INVALIDARG;
            *effect = DropEffectFor(*effect);
            return S_OK;
        },
        [] { return E_UNEXPECTED; });
}

HRESULT DropTarget::DragLeave() { return S_OK; }

HRESULT DropTarget::Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) {
    // Nothing may unwind through OLE's frames.
    return Guarded(
        [&] {
            const bool taken = onDrop_ && onDrop_(data);
            if (effect) *effect = taken ? DropEffectFor(*effect) : DROPEFFECT_NONE;
            return S_OK;
        },
        [&] {
            if (effect) *effect = DROPEFFECT_NONE;
            return E_UNEXPECTED;
        });
}

namespace {

// IRemUnknown, through which a process releases its proxies of our objects.
constexpr GUID kRemUnknown = {0x00000131, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// Method numbers, counted through the interface's table from QueryInterface.
constexpr WORD kRemRelease = 5;
constexpr WORD kDrop = 6;

}  // namespace

bool IncomingCallFilter::Install() {
    if (installed_) return true;
    if (FAILED(CoRegisterMessageFilter(this, previous_.put()))) return false;
    installed_ = true;
    return true;
}

void IncomingCallFilter::Remove() {
    if (!installed_) return;
    win::ComPtr<IMessageFilter> self;
    if (SUCCEEDED(CoRegisterMessageFilter(previous_.get(), self.put()))) installed_ = false;
    previous_.reset();
}

DWORD IncomingCallFilter::HandleInComingCall(DWORD type, HTASK caller, DWORD tick, LPINTERFACEINFO info) {
    Guarded(
        [&] {
            if (!info) return;
            if (info->iid == IID_IDropTarget && info->wMethod == kDrop && handlers_.drop) handlers_.drop();
            if (info->iid == kRemUnknown && info->wMethod == kRemRelease && handlers_.release) handlers_.release();
        },
        [] {});
    if (previous_) return previous_->HandleInComingCall(type, caller, tick, info);
    return SERVERCALL_ISHANDLED;
}

// What COM does without a filter: a rejected call is not retried, and
// messages that come while a call is out are handled as usual.
DWORD IncomingCallFilter::RetryRejectedCall(HTASK callee, DWORD tick, DWORD rejection) {
    if (previous_) return previous_->RetryRejectedCall(callee, tick, rejection);
    return static_cast<DWORD>(-1);
}

DWORD IncomingCallFilter::MessagePending(HTASK callee, DWORD tick, DWORD pending) {
    if (previous_) return previous_->MessagePending(callee, tick, pending);
    return PENDINGMSG_WAITDEFPROCESS;
}

}  // namespace rivak::ui
