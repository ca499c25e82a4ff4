#include "ui/main_window.h"

#include <commctrl.h>

#include <array>
#include <exception>
#include <new>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ui/callback_guard.h"
#include "ui/help_launcher.h"
#include "ui/main_window_label.h"
#include "ui/shortcut_dialog.h"
#include "ui/version_dialog.h"

namespace rivak::ui {

namespace {

// Client area of Form1, in twips.
constexpr int kClientWidth = 3405;
constexpr int kClientHeight = 2730;

// No WS_CLIPCHILDREN: the group box leaves its inside to the parent to paint.
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;
constexpr DWORD kExStyle = 0;

constexpr DWORD kBox = WS_TABSTOP | BS_AUTOCHECKBOX;

constexpr UINT_PTR kSourceTimer = 1;

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
    {MainWindow::kLabel1, L"STATIC", L"ファイルは、ここへ Drop        \u2192", WS_GROUP | SS_LEFT | SS_NOPREFIX,
     {120, 2040, 975, 495}},
    {MainWindow::kFrame1, L"BUTTON", L"", BS_GROUPBOX, {1200, 1920, 1815, 615}},
    // A line two pixels thick (etched) from x -240 to x 5880 along the top edge.
    {MainWindow::kLine1, L"STATIC", L"", SS_ETCHEDHORZ, {-240, 0, 6120, 30}},
}};

Option OptionOf(int id) { return static_cast<Option>(id - MainWindow::kCheck1); }
int IdOf(Option option) { return MainWindow::kCheck1 + static_cast<int>(option); }

// A group box answers hit tests with HTTRANSPARENT, so OLE would look for a
// drop target under it, on the main window. The frame is the drop target.
LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR) {
    return Guarded(
        [&]() -> LRESULT {
            if (msg == WM_NCHITTEST) return HTCLIENT;
            if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, &FrameProc, id);
            return DefSubclassProc(hwnd, msg, wp, lp);
        },
        [&] { return DefSubclassProc(hwnd, msg, wp, lp); });
}

// A popup belongs to the bar once appended to it; until then to its owner.
bool AppendPopup(HMENU bar, win::UniqueMenu popup, const wchar_t* caption) {
    if (!popup || !AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup.get()), caption)) return false;
    popup.release();
    return true;
}

win::UniqueMenu CreateMainMenu() {
    win::UniqueMenu bar(CreateMenu());
    win::UniqueMenu file(CreatePopupMenu()), other(CreatePopupMenu()), help(CreatePopupMenu());
    if (!bar || !file || !other || !help) return win::UniqueMenu();
    AppendMenuW(file.get(), MF_STRING, MainWindow::kCloseForm, L"閉じる");
    AppendMenuW(other.get(), MF_STRING, MainWindow::kMakeLink, L"ショートカットの作成");
    AppendMenuW(help.get(), MF_STRING, MainWindow::kOpenHelp, L"ヘルプを見る");
    AppendMenuW(help.get(), MF_STRING, MainWindow::kVersion, L"バージョン情報");
    if (!AppendPopup(bar.get(), std::move(file), L"ファイル") || !AppendPopup(bar.get(), std::move(other), L"その他") ||
        !AppendPopup(bar.get(), std::move(help), L"ヘルプ"))
        return win::UniqueMenu();
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
    *calls_.put() = new IncomingCallFilter({[this] { remoteDrop_ = true; },
                                            [this] {
                                                // Run once the release has been served.
                                                if (heldDrops_) PostMessageW(hwnd(), kSourceLetGo, 0, 0);
                                            }});
}

MainWindow::~MainWindow() {
    calls_->Remove();
    // The dialogs first, then the window before the fonts and icons it uses.
    shortcutDialog_.reset();
    versionDialog_.reset();
    if (hwnd()) DestroyWindow(hwnd());
}

bool MainWindow::Create(HINSTANCE instance) {
    if (hwnd()) return true;
    instance_ = instance;
    if (!Register(instance)) return false;

    win::UniqueMenu menu = CreateMainMenu();
    if (!menu) return false;
    if (!CreateCentred(instance, kCaption, kStyle, kExStyle, kClientWidth, kClientHeight, menu.get())) return false;
    menu.release();  // the window's now
    dpi_ = DpiOf(hwnd());
    LoadIcons();
    CreateControls(hwnd(), instance, kControls);
    SetWindowSubclass(control(kFrame1), &FrameProc, 1, 0);
    InstallWrappedLabel(control(kLabel1));
    for (int id = kCheck1; id <= kCheck6; ++id)
        SendMessageW(control(static_cast<ControlId>(id)), BM_SETCHECK,
                     DefaultValue(OptionOf(id)) == kChecked ? BST_CHECKED : BST_UNCHECKED, 0);
    Layout();
    if (SUCCEEDED(RegisterDragDrop(control(kFrame1), drop_.get()))) {
        dropRegistration_.reset(control(kFrame1));
        // Without it a source in another process waits for the batch.
        calls_->Install();
    }
    return true;
}

void MainWindow::Open(int nCmdShow) {
    ShowWindow(hwnd(), nCmdShow);
    UpdateWindow(hwnd());
    if (dropRegistered()) return;
    MessageBoxW(hwnd(),
                L"ドラッグ＆ドロップの受け付けを準備できませんでした。"
                L"このウィンドウにファイルやフォルダをドロップしても処理されません。\n\n"
                L"「送る」メニューやコマンドラインからは使えます。",
                L"rivak", MB_OK | MB_ICONWARNING);
}

// The window's icons at its dpi; each new one is in place before the old one goes.
void MainWindow::LoadIcons() {
    for (auto [which, metric, owner] : {std::tuple{ICON_BIG, SM_CXICON, &bigIcon_},
                                        std::tuple{ICON_SMALL, SM_CXSMICON, &smallIcon_}}) {
        win::UniqueIcon icon = LoadProgramIcon(instance_, MetricForDpi(metric, dpi_));
        if (!icon) continue;
        SendMessageW(hwnd(), WM_SETICON, which, reinterpret_cast<LPARAM>(icon.get()));
        *owner = std::move(icon);
    }
}

// Places every control at its twips, converted at the window's dpi, and gives
// it the message font of that dpi.
void MainWindow::Layout() {
    PlaceControls(hwnd(), kControls, dpi_);
    std::vector<win::UniqueFont> fonts;
    fonts.push_back(CreateMessageFont(dpi_));
    fonts_.Apply(hwnd(), kControls, std::move(fonts));
}

HWND MainWindow::shortcutDialogWindow() const { return shortcutDialog_ ? shortcutDialog_->hwnd() : nullptr; }
HWND MainWindow::versionDialogWindow() const { return versionDialog_ ? versionDialog_->hwnd() : nullptr; }

void MainWindow::ShowShortcutDialog() {
    if (!shortcutDialog_) shortcutDialog_ = std::make_unique<ShortcutDialog>();
    shortcutDialog_->Show(instance_, hwnd());
}

void MainWindow::ShowVersionDialog() {
    if (!versionDialog_) versionDialog_ = std::make_unique<VersionDialog>(kCaption);
    versionDialog_->Show(instance_);
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
    if (std::exchange(remoteDrop_, false) && SetTimer(hwnd(), kSourceTimer, kSourceWaitMs, nullptr)) {
        ++heldDrops_;
        return true;
    }
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
    if (drop.files) engine_.paths = std::move(*drop.files);
    RunBatch();
}

// Each held drop is one of the first in the queue: running the front one as
// often keeps the drop order, whatever kRunDrop messages are still to come.
void MainWindow::RunHeldDrops() {
    KillTimer(hwnd(), kSourceTimer);
    while (heldDrops_ > 0) {
        --heldDrops_;
        RunNextDrop();
    }
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
            engine_.RunBatch();
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
    dropRegistration_.reset();
    // The progress window goes with the process, which ends as soon as the
    // message loop sees the quit; the dialogs go with this window.
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
        ShowShortcutDialog();
        break;
    case kOpenHelp:
        OpenHelp(hwnd());
        break;
    case kVersion:
        ShowVersionDialog();
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
    case WM_DPICHANGED:
        dpi_ = FollowDpiChange(hwnd(), wp, lp);
        Layout();
        LoadIcons();
        return 0;
    case kRunDrop:
        RunNextDrop();
        return 0;
    case kSourceLetGo:
        RunHeldDrops();
        return 0;
    case WM_TIMER:
        if (wp == kSourceTimer) RunHeldDrops();
        return 0;
    case WM_CLOSE:
        Quit();
        return 0;
    case WM_DESTROY:
        // Every window goes at once: the dialogs too, shown or hidden.
        dropRegistration_.reset();
        calls_->Remove();
        if (HWND dialog = shortcutDialogWindow()) DestroyWindow(dialog);
        if (HWND dialog = versionDialogWindow()) DestroyWindow(dialog);
        return 0;
    default:
        return Default(msg, wp, lp);
    }
}

}  // namespace rivak::ui
