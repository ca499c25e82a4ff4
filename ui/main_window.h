#pragma once
// The main window Form1: the six option boxes, the drop frame, the menus and
// the engine that a drop runs.
#include <windows.h>
#include <ole2.h>

#include "engine/attribute_engine.h"
#include "platform/win32/unique_handle.h"
#include "rivak_version.h"
#include "ui/drop_target.h"
#include "ui/window_base.h"

namespace rivak::ui {

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

    // The drop intake: a file list replaces list1, then one batch runs,
    // whatever the data was.
    void TakeDrop(IDataObject* data);

    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);

private:
    void CreateControls();
    void Layout();
    void OnCommand(int id, int code);
    void RunBatch();
    void ReportFailure(const std::wstring& what);
    void LoadIcons();
    void Quit();

    HINSTANCE instance_ = nullptr;
    UINT dpi_ = 96;
    AttributeEngine engine_;
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
