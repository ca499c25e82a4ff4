#pragma once
// The main window Form1: the six option boxes, the drop frame, the menus and
// the engine that a drop runs.
#include <windows.h>
#include <ole2.h>

#include <deque>
#include <optional>

#include "engine/attribute_engine.h"
#include "platform/win32/unique_handle.h"
#include "ui/drop_target.h"
#include "ui/window_base.h"

namespace rivak::ui {

class MainWindow final : public BaseWindow<MainWindow>, public OptionSource {
public:
    static constexpr const wchar_t* kClassName = L"RivakForm1";
    static constexpr const wchar_t* kCaption = L"RIVAK ver 1.5";

    // Child-window ids, in creation (= keyboard focus) order.
    enum ControlId : int {
        kCheck1 = 101, kCheck2, kCheck3, kCheck4, kCheck5, kCheck6,
        kLabel1 = 111, kFrame1, kLine1,
    };
    // Menu items.
    enum CommandId : int { kCloseForm = 201, kMakeLink, kOpenHelp, kVersion };
    // Posted by each drop; runs that drop's batch.
    static constexpr UINT kRunDrop = WM_APP + 1;

    MainWindow(ShortcutReader& shortcuts, ProgressDisplay& progress, FileSystemFactory openFileSystem);
    ~MainWindow() override;

    // Creates the window hidden, centred, with its controls and menus, and
    // registers the drop frame with OLE (the thread must have called
    // OleInitialize). False when the window could not be made.
    bool Create(HINSTANCE instance);

    AttributeEngine& engine() { return engine_; }
    HWND control(ControlId id) const { return GetDlgItem(hwnd(), id); }
    // What OLE calls for a drop on Frame1.
    IDropTarget* dropTarget() const { return drop_.get(); }
    bool dropRegistered() const { return dropRegistered_; }

    // The boxes as they are at this moment.
    int Value(Option option) const override;

    // The drop intake: takes the drop's file list, if any, and posts the
    // batch to this window; false when it could not. The batch runs from the
    // message loop (posted messages come before input): a file list replaces
    // list1, then one batch runs, whatever the data was.
    bool TakeDrop(IDataObject* data);

    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);

private:
    void CreateControls();
    void Layout();
    void OnCommand(int id, int code);
    void RunNextDrop();
    void RunBatch();
    void ReportFailure(const std::wstring& what);
    void LoadIcons();
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
    win::ComPtr<DropTarget> drop_;
    bool dropRegistered_ = false;
    win::UniqueGdi font_;
    win::UniqueIcon bigIcon_, smallIcon_;
};

// Keyboard navigation (Tab, Shift+Tab, Space) for the main window and the
// modeless windows of the program: true when the message was used up so.
bool TakeDialogKeys(MSG& msg);

// Interactive mode: shows the main window and serves it until it is closed.
// Returns the process exit code.
int RunMainWindow(HINSTANCE instance, int nCmdShow);

}  // namespace rivak::ui
