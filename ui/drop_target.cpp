#include "ui/drop_target.h"

#include <shellapi.h>

#include <utility>

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

}  // namespace

std::optional<PathList> DroppedFiles(IDataObject* data) {
    if (!data) return std::nullopt;
    FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    if (data->QueryGetData(&format) != S_OK) return std::nullopt;
    Medium medium;
    if (FAILED(data->GetData(&format, medium.put()))) return std::nullopt;
    medium.filled();
    if (medium.get().tymed != TYMED_HGLOBAL || !medium.get().hGlobal) return std::nullopt;

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

DWORD DropEffectFor(DWORD allowedBySource) {
    if (allowedBySource & DROPEFFECT_COPY) return DROPEFFECT_COPY;
    if (allowedBySource & DROPEFFECT_LINK) return DROPEFFECT_LINK;
    return DROPEFFECT_NONE;
}

HRESULT DropTarget::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDropTarget) {
        *object = static_cast<IDropTarget*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG DropTarget::AddRef() { return ++refs_; }

ULONG DropTarget::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
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
    if (effect) *effect = DropEffectFor(*effect);
    // The source waits in DoDragDrop while the batch runs; nothing may
    // unwind through OLE's frames.
    return Guarded(
        [&] {
            if (onDrop_) onDrop_(data);
            return S_OK;
        },
        [] { return E_UNEXPECTED; });
}

}  // namespace rivak::ui
