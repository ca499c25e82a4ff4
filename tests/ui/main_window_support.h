#pragma once
// Test doubles around the main window: a drag source's data object, and the
// engine's progress display and shortcut reader seen from outside.
#include <windows.h>
#include <ole2.h>
#include <shlobj.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/progress.h"
#include "engine/shortcut.h"
#include "platform/win32/unique_handle.h"
#include "ui/com_object.h"

namespace rivak::ui::test {

class NoShortcuts final : public ShortcutReader {
public:
    std::optional<Path> Target(const Path&) override { return std::nullopt; }
};

// Counts what a batch does to the progress window; can fail on Show, and
// lets a test look in when a batch starts and ends.
class CountingProgress final : public ProgressDisplay {
public:
    void Show() override {
        ++shows;
        if (onShow) onShow();
        if (throwOnShow) throw std::runtime_error("progress window unavailable");
    }
    void SetCounter(const NativeString& text) override {
        ++counters;
        lastCounter = text;
    }
    void RepaintCounter() override {}
    void Hide() override {
        ++hides;
        if (onHide) onHide();
    }

    std::function<void()> onShow, onHide;
    int shows = 0, hides = 0, counters = 0;
    bool throwOnShow = false;
    NativeString lastCounter;
};

using Clock = std::chrono::steady_clock;

// A drag source that drops as soon as it is asked, after a few rounds over
// the target (so that the target is entered first), and notes when.
class TimedDropSource final : public IDropSource {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDropSource) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD) override {
        if (escape) return DRAGDROP_S_CANCEL;
        if (++rounds_ < 4) return S_OK;
        released = Clock::now();
        return DRAGDROP_S_DROP;
    }
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

    Clock::time_point released;

private:
    int rounds_ = 0;
};

// The data a drag source offers: one clipboard format in an HGLOBAL.
class MemoryDataObject final : public ComObject<IDataObject, IID_IDataObject> {
public:
    static win::ComPtr<IDataObject> Files(const std::vector<std::wstring>& paths) {
        // DROPFILES, then the wide paths, each ended by a NUL, and one more NUL.
        std::vector<unsigned char> bytes(sizeof(DROPFILES));
        auto* header = reinterpret_cast<DROPFILES*>(bytes.data());
        header->pFiles = sizeof(DROPFILES);
        header->fWide = TRUE;
        for (const auto& p : paths) Append(bytes, p.c_str(), (p.size() + 1) * sizeof(wchar_t));
        const wchar_t end = L'\0';
        Append(bytes, &end, sizeof end);
        return Make(CF_HDROP, std::move(bytes));
    }
    // A Shell IDList Array: the parent folder's ID list, then each item's
    // list relative to it, found through offsets after the count.
    static win::ComPtr<IDataObject> ShellIdList(PCIDLIST_ABSOLUTE parent, const std::vector<PCUIDLIST_RELATIVE>& items) {
        const UINT count = static_cast<UINT>(items.size());
        std::vector<unsigned char> bytes(sizeof(UINT) * (count + 2));
        std::memcpy(bytes.data(), &count, sizeof count);
        std::vector<PCUIDLIST_RELATIVE> lists{parent};
        lists.insert(lists.end(), items.begin(), items.end());
        for (UINT i = 0; i < lists.size(); ++i) {
            const UINT offset = static_cast<UINT>(bytes.size());
            std::memcpy(bytes.data() + sizeof(UINT) * (i + 1), &offset, sizeof offset);
            Append(bytes, lists[i], ILGetSize(lists[i]));
        }
        return Make(static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_SHELLIDLIST)), std::move(bytes));
    }
    static win::ComPtr<IDataObject> Text(const std::wstring& text) {
        std::vector<unsigned char> bytes;
        Append(bytes, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        return Make(CF_UNICODETEXT, std::move(bytes));
    }

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (!format || !medium) return E_INVALIDARG;
        if (const HRESULT hr = QueryGetData(format); hr != S_OK) return hr;
        HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, bytes_.size());
        if (!copy) return E_OUTOFMEMORY;
        std::memcpy(GlobalLock(copy), bytes_.data(), bytes_.size());
        GlobalUnlock(copy);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = copy;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
        if (!format) return E_INVALIDARG;
        if (format->cfFormat != format_) return DV_E_FORMATETC;
        if (!(format->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        if (out) out->ptd = nullptr;
        return DATA_S_SAMEFORMATETC;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
        if (direction != DATADIR_GET) return E_NOTIMPL;
        FORMATETC format{format_, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        return SHCreateStdEnumFmtEtc(1, &format, out);
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    MemoryDataObject(CLIPFORMAT format, std::vector<unsigned char> bytes)
        : format_(format), bytes_(std::move(bytes)) {}
    ~MemoryDataObject() override = default;

    static void Append(std::vector<unsigned char>& bytes, const void* data, std::size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        bytes.insert(bytes.end(), p, p + size);
    }
    static win::ComPtr<IDataObject> Make(CLIPFORMAT format, std::vector<unsigned char> bytes) {
        win::ComPtr<IDataObject> object;
        *object.put() = new MemoryDataObject(format, std::move(bytes));
        return object;
    }

    CLIPFORMAT format_;
    std::vector<unsigned char> bytes_;
};

}  // namespace rivak::ui::test
