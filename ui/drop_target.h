#pragma once
// The OLE drop target of the main window's drop frame.
#include <windows.h>
#include <ole2.h>

#include <functional>
#include <optional>

#include "engine/native_string.h"
#include "platform/win32/unique_handle.h"
#include "ui/com_object.h"

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
class DropTarget final : public ComObject<IDropTarget, IID_IDropTarget> {
public:
    using Handler = std::function<bool(IDataObject*)>;
    explicit DropTarget(Handler onDrop) : onDrop_(std::move(onDrop)) {}
    DropTarget(const DropTarget&) = delete;
    DropTarget& operator=(const DropTarget&) = delete;

    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD keys, POINTL point, DWORD* effect) override;
    HRESULT STDMETHODCALLTYPE DragOver(DWORD keys, POINTL point, DWORD* effect) override;
    HRESULT STDMETHODCALLTYPE DragLeave() override;
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD keys, POINTL point, DWORD* effect) override;

private:
    ~DropTarget() override = default;

    Handler onDrop_;
};

// The COM message filter of the window's thread: it sees each call from
// another process before it runs. A drag source in another process calls
// Drop, then releases its proxy of the target, and waits in DoDragDrop until
// this thread has served that release (under Wine the proxy is of OLE's own
// wrapper around the target, so the target never sees it go). The filter
// tells its owner of both calls; every question of COM's goes on to the
// filter it replaced, if any.
class IncomingCallFilter final : public ComObject<IMessageFilter, IID_IMessageFilter> {
public:
    struct Handlers {
        std::function<void()> drop;     // a Drop from another process, about to run
        std::function<void()> release;  // a release from another process, about to run
    };
    explicit IncomingCallFilter(Handlers handlers) : handlers_(std::move(handlers)) {}
    IncomingCallFilter(const IncomingCallFilter&) = delete;
    IncomingCallFilter& operator=(const IncomingCallFilter&) = delete;

    // Becomes the calling thread's filter; false when COM refused.
    bool Install();
    // Gives the thread its former filter back (once installed).
    void Remove();

    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD type, HTASK caller, DWORD tick, LPINTERFACEINFO info) override;
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK callee, DWORD tick, DWORD rejection) override;
    DWORD STDMETHODCALLTYPE MessagePending(HTASK callee, DWORD tick, DWORD pending) override;

private:
    ~IncomingCallFilter() override = default;

    Handlers handlers_;
    win::ComPtr<IMessageFilter> previous_;
    bool installed_ = false;
};

}  // namespace rivak::ui
