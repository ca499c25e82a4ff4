#pragma once
// The OLE drop target of the main window's drop frame.
#include <windows.h>
#include <ole2.h>

#include <atomic>
#include <functional>
#include <optional>

#include "engine/native_string.h"

namespace rivak::ui {

// The paths of a file-list drop in the order the drop data holds them: the
// file list (CF_HDROP) or, without one, the file-system paths of a Shell
// IDList Array, which is all Explorer offers for paths longer than MAX_PATH.
// Empty when the data holds no file-system path at all.
std::optional<PathList> DroppedFiles(IDataObject* data);

// The effect told to the drag source. Never a move: the drop leaves the
// dragged items where they are, so a source that only offers to move them
// is told nothing can be dropped.
DWORD DropEffectFor(DWORD allowedBySource);

// Hands every drop, whatever its data, to `onDrop`, which must return at
// once: the drag source waits in DoDragDrop until Drop returns. `onDrop`
// answers false when it could not take the drop; the source is then told
// nothing was dropped. Created with one reference, which its creator owns
// (ComPtr); RegisterDragDrop takes its own.
class DropTarget final : public IDropTarget {
public:
    using Handler = std::function<bool(IDataObject*)>;
    explicit DropTarget(Handler onDrop) : onDrop_(std::move(onDrop)) {}
    DropTarget(const DropTarget&) = delete;
    DropTarget& operator=(const DropTarget&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD keys, POINTL point, DWORD* effect) override;
    HRESULT STDMETHODCALLTYPE DragOver(DWORD keys, POINTL point, DWORD* effect) override;
    HRESULT STDMETHODCALLTYPE DragLeave() override;
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD keys, POINTL point, DWORD* effect) override;

private:
    ~DropTarget() = default;

    std::atomic<ULONG> refs_{1};
    Handler onDrop_;
};

}  // namespace rivak::ui
