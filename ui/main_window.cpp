#include "ui/main_window.h"

#include <commctrl.h>

#include <array>
#include <exception>
#include <new>
#include <string>

#include "platform/win32/file_system_win.h"
#include "platform/win32/shortcut_reader_win.h"
#include "ui/help_launcher.h"
#include "ui/layout.h"
#include "ui/main_window_label.h"
#include "ui/progress_window.h"
#include "ui/shortcut_dialog.h"
#include "ui/version_dialog.h"
#include "ui/res/resource.h"

namespace rivak::ui {

namespace {

// Client area of Form1, in twips.
constexpr int kClientWidth = 3405;
constexpr int kClientHeight = 2730;

// No WS_CLIPCHILDREN: the group box leaves its inside to the parent to paint.
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;
constexpr DWORD kExStyle = 0;

struct ControlSpec {
    MainWindow::ControlId id;
    const wchar_t* className;
    const wchar_t* caption;
    DWORD style;
    TwipsRect twips;
};

constexpr DWORD kBox = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;

// Created in this order, which is also the Tab order: it crosses the layout
// (Check3 before Check4, Check5 before Check6).
const std::array<ControlSpec, 9> kControls{{
    {MainWindow::kCheck1, L"BUTTON", L"読取専用解除", kBox | WS_GROUP, {120, 120, 1400, 300}},
    {MainWindow::kCheck2, L"BUTTON", L"読取専用設定", kBox, {1680, 120, 1400, 300}},
    {MainWindow::kCheck3, L"BUTTON", L"隠し属性設定", kBox, {1680, 600, 1400, 300}},
    {MainWindow::kCheck4, L"BUTTON", L"隠し属性解除", kBox, {120, 600, 1400, 300}},
    {MainWindow::kCheck5, L"BUTTON", L"ショートカットファイルはリンク先を変更する", kBox | BS_MULTILINE,
     {120, 1440, 2535, 375}},
    {MainWindow::kCheck6, L"BUTTON", L"フォルダの属性は変更しない", kBox, {120, 1080, 2535, 255}},
    {MainWindow::kLabel1, L"STATIC", L"ファイルは、ここへ Drop        \u2192",
     WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT | SS_NOPREFIX, {120, 2040, 975, 495}},
    {MainWindow::kFrame1, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_GROUPBOX, {1200, 1920, 1815, 615}},
    // A line two pixels thick (etched) from x -240 to x 5880 along the top edge.
    {MainWindow::kLine1, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_ETCHEDHORZ, {-240, 0, 6120, 30}},
}};

Option OptionOf(int id) { return static_cast<Option>(id - MainWindow::kCheck1); }
int IdOf(Option option) { return MainWindow::kCheck1 + static_cast<int>(option); }

// A group box answers hit tests with HTTRANSPARENT, so OLE would look for a
// drop target under it, on the main window. The frame is the drop target.
LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR) {
    if (msg == WM_NCHITTEST) return HTCLIENT;
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, &FrameProc, id);
    return DefSubclassProc(hwnd, msg, wp, lp);
}

HMENU CreateMainMenu() {
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    HMENU other = CreatePopupMenu();
    HMENU help = CreatePopupMenu();
    if (!bar || !file || !other || !help) {
        for (HMENU m : {bar, file, other, help})
            if (m) DestroyMenu(m);
        return nullptr;
    }
    AppendMenuW(file, MF_STRING, MainWindow::kCloseForm, L"閉じる");
    AppendMenuW(other, MF_STRING, MainWindow::kMakeLink, L"ショートカットの作成");
    AppendMenuW(help, MF_STRING, MainWindow::kOpenHelp, L"ヘルプを見る");
    AppendMenuW(help, MF_STRING, MainWindow::kVersion, L"バージョン情報");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"ファイル");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(other), L"その他");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"ヘルプ");
    return bar;
}

int MetricForDpi(int index, UINT dpi) {
    using Fn = int(WINAPI*)(int, UINT);
    static const auto forDpi = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
    return forDpi ? forDpi(index, dpi) : GetSystemMetrics(index);
}

std::wstring Widen(const char* text) {
    if (!text || !*text) return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

}  // namespace

MainWindow::MainWindow(ShortcutReader& shortcuts, ProgressDisplay& progress, FileSystemFactory openFileSystem)
    : engine_(*this, shortcuts, progress, std::move(openFileSystem)) {
    *drop_.put() = new DropTarget([this](IDataObject* data) { return TakeDrop(data); });
}

MainWindow::~MainWindow() {
    // The window goes before the font and icons it uses.
    if (hwnd()) DestroyWindow(hwnd());
}

bool MainWindow::Create(HINSTANCE instance) {
    if (hwnd()) return true;
    instance_ = instance;
    if (!Register(instance)) return false;

    HMENU menu = CreateMainMenu();
    if (!menu) return false;
    dpi_ = DpiOf(nullptr);
    const SIZE size = WindowSizeForClient(kClientWidth, kClientHeight, kStyle, kExStyle, true, dpi_);
    const POINT at = CentredOnScreen(size);
    if (!CreateTopLevel(instance, kCaption, kStyle, kExStyle, at.x, at.y, size.cx, size.cy, menu)) {
        DestroyMenu(menu);
        return false;
    }
    // Per-monitor aware: the monitor the window landed on decides.
    const UINT dpi = DpiOf(hwnd());
    if (dpi != dpi_) {
        dpi_ = dpi;
        const SIZE scaled = WindowSizeForClient(kClientWidth, kClientHeight, kStyle, kExStyle, true, dpi_);
        const POINT centred = CentredOnScreen(scaled);
        SetWindowPos(hwnd(), nullptr, centred.x, centred.y, scaled.cx, scaled.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    LoadIcons();
    CreateControls();
    dropRegistered_ = SUCCEEDED(RegisterDragDrop(control(kFrame1), drop_.get()));
    return true;
}

void MainWindow::LoadIcons() {
    const auto load = [this](int size) {
        return static_cast<HICON>(
            LoadImageW(instance_, MAKEINTRESOURCEW(IDI_RIVAK), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    };
    bigIcon_.reset(load(MetricForDpi(SM_CXICON, dpi_)));
    smallIcon_.reset(load(MetricForDpi(SM_CXSMICON, dpi_)));
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
}

void MainWindow::CreateControls() {
    for (const ControlSpec& def : kControls) {
        const RECT r = ToPixels(def.twips, dpi_);
        HWND child = CreateWindowExW(0, def.className, def.caption, def.style, r.left, r.top, r.right - r.left,
                                     r.bottom - r.top, hwnd(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(def.id)),
                                     instance_, nullptr);
        if (child && def.id == kFrame1) SetWindowSubclass(child, &FrameProc, 1, 0);
        if (child && def.id == kLabel1) InstallWrappedLabel(child);
    }
    for (int id = kCheck1; id <= kCheck6; ++id)
        SendMessageW(control(static_cast<ControlId>(id)), BM_SETCHECK,
                     DefaultValue(OptionOf(id)) == kChecked ? BST_CHECKED : BST_UNCHECKED, 0);
    Layout();
}

// Places every control at its twips, converted at the window's dpi, and gives
// it the message font of that dpi.
void MainWindow::Layout() {
    font_.reset(CreateMessageFont(dpi_));
    for (const ControlSpec& def : kControls) {
        HWND child = control(def.id);
        if (!child) continue;
        const RECT r = ToPixels(def.twips, dpi_);
        SetWindowPos(child, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
    }
}

int MainWindow::Value(Option option) const {
    const LRESULT state = SendMessageW(GetDlgItem(hwnd(), IdOf(option)), BM_GETCHECK, 0, 0);
    return static_cast<int>(state);
}

bool MainWindow::TakeDrop(IDataObject* data) {
    // The data object is only valid during the drop: its paths are read now.
    PendingDrop drop;
    try {
        drop.files = DroppedFiles(data);
    } catch (const std::bad_alloc&) {
        drop.files.reset();
        drop.unreadable = true;
    }
    pendingDrops_.push_back(std::move(drop));
    if (!PostMessageW(hwnd(), kRunDrop, 0, 0)) {
        pendingDrops_.pop_back();
        return false;
    }
    return true;
}

void MainWindow::RunNextDrop() {
    if (pendingDrops_.empty()) return;
    // Only a message loop inside a batch (none today) could bring this here;
    // the drop then waits its turn.
    if (batchRunning_) {
        PostMessageW(hwnd(), kRunDrop, 0, 0);
        return;
    }
    PendingDrop drop = std::move(pendingDrops_.front());
    pendingDrops_.pop_front();
    if (drop.unreadable) {
        ReportFailure(L"ドロップされたファイルの一覧を読み込めませんでした。メモリが足りません。");
        return;
    }
    if (drop.files) engine_.list1 = std::move(*drop.files);
    RunBatch();
}

void MainWindow::RunBatch() {
    // The batch hides the progress window itself however it ends; what is
    // left is to say why it stopped (once it has) and go on serving the window.
    std::wstring failure = L"エラーが起きたため、属性の変更を途中で中止しました。";
    {
        batchRunning_ = true;
        struct Running {
            bool& flag;
            ~Running() { flag = false; }
        } running{batchRunning_};
        try {
            engine_.CngATr();
            return;
        } catch (const std::bad_alloc&) {
            failure = L"メモリが足りないため、属性の変更を途中で中止しました。";
        } catch (const std::exception& e) {
            if (const std::wstring detail = Widen(e.what()); !detail.empty()) failure += L"\n\n" + detail;
        } catch (...) {
        }
    }
    ReportFailure(failure);
}

void MainWindow::ReportFailure(const std::wstring& what) {
    MessageBoxW(hwnd(), what.c_str(), L"rivak", MB_OK | MB_ICONERROR);
}

void MainWindow::Quit() {
    if (dropRegistered_) {
        RevokeDragDrop(control(kFrame1));
        dropRegistered_ = false;
    }
    // Every other window of the program (progress, version dialog) goes with
    // the process, which ends as soon as the message loop sees the quit.
    PostQuitMessage(0);
    DestroyWindow(hwnd());
}

void MainWindow::OnCommand(int id, int code) {
    switch (id) {
    case kCheck1:
    case kCheck2:
    case kCheck3:
    case kCheck4:
        if (code == BN_CLICKED) {
            const Option clicked = OptionOf(id);
            if (const auto partner = PartnerToClear(clicked, Value(clicked)))
                SendMessageW(control(static_cast<ControlId>(IdOf(*partner))), BM_SETCHECK, BST_UNCHECKED, 0);
        }
        break;
    case kCloseForm:
        Quit();
        break;
    case kMakeLink:
        ShowShortcutDialog(instance_, hwnd());
        break;
    case kOpenHelp:
        OpenHelp(hwnd());
        break;
    case kVersion:
        ShowVersionDialog(instance_, kCaption);
        break;
    default:
        break;
    }
}

LRESULT MainWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
        OnCommand(LOWORD(wp), HIWORD(wp));
        return 0;
    case WM_SIZE:
        // The window is never shown maximised: undo it at once.
        if (wp == SIZE_MAXIMIZED) ShowWindow(hwnd(), SW_RESTORE);
        return 0;
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wp);
        const auto* suggested = reinterpret_cast<const RECT*>(lp);
        SetWindowPos(hwnd(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        Layout();
        return 0;
    }
    case kRunDrop:
        RunNextDrop();
        return 0;
    case WM_CLOSE:
        Quit();
        return 0;
    case WM_DESTROY:
        if (dropRegistered_) {
            RevokeDragDrop(control(kFrame1));
            dropRegistered_ = false;
        }
        return 0;
    default:
        return Default(msg, wp, lp);
    }
}

bool TakeDialogKeys(MSG& msg) {
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    return root && IsDialogMessageW(root, &msg);
}

int RunMainWindow(HINSTANCE instance, int nCmdShow) {
    // The drop frame needs OLE on this thread (after COM, it only adds a count).
    win::OleApartment ole;
    if (!ole.ok()) {
        MessageBoxW(nullptr, L"ドラッグ＆ドロップの準備ができないため、起動できませんでした。", L"rivak",
                    MB_OK | MB_ICONERROR);
        return 1;
    }
    win::Win32ShortcutReader shortcuts;
    ProgressWindow progress(instance);
    MainWindow window(shortcuts, progress, win::Win32FileSystemFactory());
    if (!window.Create(instance)) {
        MessageBoxW(nullptr, L"メインウィンドウを作れないため、起動できませんでした。", L"rivak",
                    MB_OK | MB_ICONERROR);
        return 1;
    }
    ShowWindow(window.hwnd(), nCmdShow);
    UpdateWindow(window.hwnd());

    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (TakeDialogKeys(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : 0;
}

}  // namespace rivak::ui
