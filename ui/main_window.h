#pragma once
// The main window Form1: the six option boxes, the drop frame, the menus and
// the engine that a drop runs. It owns the program's two dialogs.
#include <windows.h>
#include <ole2.h>

#include <deque>
#include <memory>
#include <optional>

#include "engine/attribute_engine.h"
#include "platform/win32/unique_handle.h"
#include "rivak_version.h"
#include "ui/drop_target.h"
#include "ui/layout.h"
#include "ui/window_base.h"

namespace rivak::ui {

class ShortcutDialog;
class VersionDialog;

class MainWindow final : public BaseWindow<MainWindow>, public OptionSource {
public:
    static constexpr const wchar_t* kClassName = L"RivakForm1";
    static constexpr const wchar_t* kCaption = L"RIVAK ver " RIVAK_VERSION_W;

    // Child-window ids, in creation (= keyboard focus) order.
    enum ControlId : int {
        kCheck1 = 101, kCheck2, kCheck3, kCheck4, kCheck5, kCheck6,
        kLabel1 = 111, kFrame1, kLine1,
    };
    // Menu items.
    enum CommandId : int { kCloseForm = 201, kMakeLink, kOpenHelp, kVersion };
    // Posted by each drop; runs that drop's batch.
    static constexpr UINT kRunDrop = WM_APP + 1;
    // Posted once a drag source in another process has let go of the target.
    static constexpr UINT kSourceLetGo = WM_APP + 2;
    // The longest a drop from another process waits for its source to let go.
    static constexpr UINT kSourceWaitMs = 250;

    MainWindow(ShortcutReader& shortcuts, ProgressDisplay& progress, FileSystemFactory openFileSystem);
    ~MainWindow() override;

    // Creates the window hidden, centred, with its controls and menus, and
    // registers the drop frame with OLE (the thread must have called
    // OleInitialize). False when the window could not be made; a frame that
    // OLE refused still makes a window (see Open).
    bool Create(HINSTANCE instance);

    // Shows the window; when the drop frame could not be registered, says in
    // a message box that drops will not work, and the window serves the rest.
    void Open(int nCmdShow);

    AttributeEngine& engine() { return engine_; }
    HWND control(ControlId id) const { return GetDlgItem(hwnd(), id); }
    // What OLE calls for a drop on Frame1.
    IDropTarget* dropTarget() const { return drop_.get(); }
    // What COM asks about calls from other processes (see IncomingCallFilter).
    IMessageFilter* incomingCalls() const { return calls_.get(); }
    bool dropRegistered() const { return static_cast<bool>(dropRegistration_); }
    // The dialogs' windows while they exist, shown or hidden; nullptr otherwise.
    HWND shortcutDialogWindow() const;
    HWND versionDialogWindow() const;

    // The boxes as they are at this moment.
    int Value(Option option) const override;

    // The drop intake: takes the drop's file list, if any, and posts the
    // batch to this window; false when it could not. The batch runs from the
    // message loop (posted messages come before input): a file list replaces
    // paths, then one batch runs, whatever the data was. A drop from another
    // process is held until its source has let go of the target, 250 ms at
    // most: the source waits for that, and this thread serves it.
    bool TakeDrop(IDataObject* data);

    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);

private:
    void Layout();
    void LoadIcons();
    void OnCommand(int id, int code);
    void RunNextDrop();
    void RunHeldDrops();
    void ShowShortcutDialog();
    void ShowVersionDialog();
    void RunBatch();
    void ReportFailure(const std::wstring& what);
    void Quit();

    HINSTANCE instance_ = nullptr;
    UINT dpi_ = 96;
    AttributeEngine engine_;
    // A drop's file list (none for other data) or its failure to be read,
    // waiting for its batch. Each drop has its own, in drop order, so a drop
    // that comes before an earlier one's batch has run, or while it runs,
    // never changes that batch's list.
    struct PendingDrop {
        std::optional<PathList> files;
        bool unreadable = false;
    };
    std::deque<PendingDrop> pendingDrops_;
    bool batchRunning_ = false;
    // Drops from other processes waiting for their sources to let go (the
    // first ones in pendingDrops_ not yet posted), and whether the Drop under
    // way came from another process.
    int heldDrops_ = 0;
    bool remoteDrop_ = false;
    win::ComPtr<DropTarget> drop_;
    win::ComPtr<IncomingCallFilter> calls_;
    win::DropRegistration dropRegistration_;
    ControlFonts fonts_;
    win::UniqueIcon bigIcon_, smallIcon_;
    // Made on first use; they go with this object, before the program's
    // COM and OLE apartments end.
    std::unique_ptr<ShortcutDialog> shortcutDialog_;
    std::unique_ptr<VersionDialog> versionDialog_;
};

}  // namespace rivak::ui
