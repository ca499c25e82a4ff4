#include "ui/shortcut_dialog.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/unique_handle.h"
#include "ui/layout.h"
#include "ui/program_folder.h"
#include "ui/window_base.h"

namespace rivak::ui {
namespace {

constexpr int kClientWidth = 2760, kClientHeight = 1860;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
// A modal frame shows no caption icon when the class has none.
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;

struct ControlSpec {
    int id;
    const wchar_t* caption;
    DWORD style;
    TwipsRect rect;
};

// Creation order is the keyboard focus order.
constexpr ControlSpec kControls[] = {
    {kShortcutCheck1, L"「送る」メニューに追加する", BS_AUTOCHECKBOX, {240, 120, 2415, 375}},
    {kShortcutCheck2, L"デスクトップに作成する", BS_AUTOCHECKBOX, {240, 600, 2295, 375}},
    {kShortcutCommand1, L"作成", BS_PUSHBUTTON, {480, 1200, 650, 450}},
    {kShortcutCommand2, L"中止", BS_PUSHBUTTON, {1560, 1200, 650, 450}},
};

struct CoTaskMemDeleter {
    void operator()(wchar_t* p) const { CoTaskMemFree(p); }
};

// The current user's known folder, without a trailing separator.
std::optional<std::wstring> KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR raw = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &raw);
    const std::unique_ptr<wchar_t, CoTaskMemDeleter> owner(raw);
    if (FAILED(hr) || !raw || !*raw) return std::nullopt;
    std::wstring path(raw);
    while (path.size() > 1 && path.back() == L'\\') path.pop_back();
    return path;
}

bool SaveShortcut(IShellLinkW& link, const std::wstring& file, const std::wstring& target) {
    if (FAILED(link.SetPath(target.c_str()))) return false;
    win::ComPtr<IPersistFile> persist;
    if (FAILED(link.QueryInterface(IID_IPersistFile, persist.put_void()))) return false;
    return SUCCEEDED(persist->Save(file.c_str(), TRUE));
}

class ShortcutDialog final : public BaseWindow<ShortcutDialog> {
public:
    static constexpr const wchar_t* kClassName = L"RivakForm2";

    bool Create(HINSTANCE instance);
    void RunModal(HWND mainWindow);
    bool modal() const { return modal_; }

    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);

private:
    void Layout(UINT dpi);
    void Install();
    void Report(const std::wstring& message);
    void DisableOthers(HWND mainWindow);
    void EnableOthers();
    void Dismiss();

    win::UniqueGdi font_;
    UINT dpi_ = 0;
    HWND lastFocus_ = nullptr;
    bool modal_ = false;
    std::vector<HWND> disabled_;
};

bool ShortcutDialog::Create(HINSTANCE instance) {
    if (!Register(instance)) return false;
    const UINT dpi = DpiOf(nullptr);
    const SIZE size = WindowSizeForClient(kClientWidth, kClientHeight, kStyle, kExStyle, false, dpi);
    const POINT at = CentredOnScreen(size);
    if (!CreateTopLevel(instance, L"ショートカットの作成", kStyle, kExStyle, at.x, at.y, size.cx, size.cy))
        return false;
    for (const auto& c : kControls) {
        CreateWindowExW(0, L"BUTTON", c.caption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | c.style, 0, 0, 0, 0, hwnd(),
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
    }
    CheckDlgButton(hwnd(), kShortcutCheck1, BST_CHECKED);
    CheckDlgButton(hwnd(), kShortcutCheck2, BST_CHECKED);
    Layout(DpiOf(hwnd()));
    return true;
}

void ShortcutDialog::Layout(UINT dpi) {
    if (dpi != dpi_) {
        font_.reset(CreateMessageFont(dpi));
        dpi_ = dpi;
    }
    RECT frame{};
    GetWindowRect(hwnd(), &frame);
    const SIZE size = WindowSizeForClient(kClientWidth, kClientHeight, kStyle, kExStyle, false, dpi);
    SetWindowPos(hwnd(), nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (const auto& c : kControls) {
        HWND control = GetDlgItem(hwnd(), c.id);
        const RECT r = ToPixels(c.rect, dpi);
        SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
    }
}

// Like a modal form: every other window of the program that takes input now
// waits until the dialog is hidden or closed.
void ShortcutDialog::DisableOthers(HWND mainWindow) {
    struct Context {
        HWND dialog;
        std::vector<HWND>* list;
    } context{hwnd(), &disabled_};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM lp) -> BOOL {
            auto* c = reinterpret_cast<Context*>(lp);
            if (window != c->dialog && IsWindowVisible(window) && IsWindowEnabled(window)) c->list->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&context));
    if (mainWindow && mainWindow != hwnd() && IsWindowEnabled(mainWindow) &&
        std::find(disabled_.begin(), disabled_.end(), mainWindow) == disabled_.end())
        disabled_.push_back(mainWindow);
    for (HWND window : disabled_) EnableWindow(window, FALSE);
}

void ShortcutDialog::EnableOthers() {
    for (auto it = disabled_.rbegin(); it != disabled_.rend(); ++it) {
        if (IsWindow(*it)) EnableWindow(*it, TRUE);
    }
    disabled_.clear();
}

void ShortcutDialog::RunModal(HWND mainWindow) {
    modal_ = true;
    DisableOthers(mainWindow);
    ShowWindow(hwnd(), SW_SHOW);
    SetForegroundWindow(hwnd());
    MSG msg{};
    while (hwnd() && IsWindowVisible(hwnd())) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            // Leave the quit request for the program's own loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (hwnd() && IsDialogMessageW(hwnd(), &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    EnableOthers();
    modal_ = false;
}

// The waiting windows are enabled before the dialog goes, so the system hands
// activation back to them rather than to another program.
void ShortcutDialog::Dismiss() {
    EnableOthers();
    ShowWindow(hwnd(), SW_HIDE);
}

void ShortcutDialog::Report(const std::wstring& message) {
    MessageBoxW(hwnd(), message.c_str(), L"rivak", MB_ICONERROR | MB_OK);
}

void ShortcutDialog::Install() {
    win::ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()))) {
        Report(L"ショートカットを作成できません。");
        return;
    }
    const auto desktop = KnownFolder(FOLDERID_Desktop);
    if (!desktop) {
        Report(L"デスクトップのフォルダが見つかりません。");
        return;
    }
    const auto sendTo = KnownFolder(FOLDERID_SendTo);
    if (!sendTo) {
        Report(L"「送る」のフォルダが見つかりません。");
        return;
    }
    const std::wstring folder = ProgramFolder();
    if (folder.empty()) {
        Report(L"プログラムのフォルダが見つかりません。");
        return;
    }
    const std::wstring target = folder + L"\\rivak.exe";
    // Each box is read just before its shortcut, after the previous one is saved.
    for (const auto& [box, where] : {std::pair{kShortcutCheck1, &*sendTo}, std::pair{kShortcutCheck2, &*desktop}}) {
        if (IsDlgButtonChecked(hwnd(), box) != BST_CHECKED) continue;
        const std::wstring file = *where + L"\\rivak.lnk";
        if (!SaveShortcut(*link.get(), file, target)) {
            Report(L"ショートカットを保存できませんでした。\n" + file);
            return;
        }
    }
    Dismiss();
}

LRESULT ShortcutDialog::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
        // IDOK and IDCANCEL (Enter and Escape) are not buttons of this dialog.
        if (HIWORD(wp) != BN_CLICKED) return 0;
        if (LOWORD(wp) == kShortcutCommand1) Install();
        if (LOWORD(wp) == kShortcutCommand2) Dismiss();
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wp) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(hwnd(), focus)) lastFocus_ = focus;
        } else {
            HWND focus = lastFocus_ && IsChild(hwnd(), lastFocus_) ? lastFocus_ : GetDlgItem(hwnd(), kShortcutCheck1);
            SetFocus(focus);
        }
        return 0;
    case WM_DPICHANGED: {
        const auto* suggested = reinterpret_cast<const RECT*>(lp);
        SetWindowPos(hwnd(), nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        Layout(HIWORD(wp));
        return 0;
    }
    case WM_CLOSE:
        // Closed from its title bar: discarded; the next opening starts afresh.
        EnableOthers();
        DestroyWindow(hwnd());
        return 0;
    case WM_NCDESTROY:
        lastFocus_ = nullptr;
        font_.reset();
        dpi_ = 0;
        return Default(msg, wp, lp);
    default:
        return Default(msg, wp, lp);
    }
}

ShortcutDialog& Dialog() {
    static ShortcutDialog dialog;
    return dialog;
}

}  // namespace

void ShowShortcutDialog(HINSTANCE instance, HWND mainWindow) {
    ShortcutDialog& dialog = Dialog();
    if (dialog.modal()) return;
    if (!dialog.hwnd() && !dialog.Create(instance)) return;
    dialog.RunModal(mainWindow);
    if (mainWindow && IsWindow(mainWindow)) {
        SetForegroundWindow(mainWindow);
        SetActiveWindow(mainWindow);
    }
}

HWND ShortcutDialogWindow() { return Dialog().hwnd(); }

}  // namespace rivak::ui
