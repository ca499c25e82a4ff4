#include "ui/shortcut_dialog.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/win32/unique_handle.h"
#include "ui/callback_guard.h"
#include "ui/program_folder.h"

namespace rivak::ui {
namespace {

constexpr DWORD kBox = WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kButton = WS_TABSTOP | BS_PUSHBUTTON;

// The current user's known folder, without a trailing separator.
std::optional<std::wstring> KnownFolder(REFKNOWNFOLDERID id) {
    win::UniqueCoTaskMem<wchar_t> path;
    if (FAILED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, path.put())) || !path || !*path.get())
        return std::nullopt;
    std::wstring folder(path.get());
    while (folder.size() > 1 && folder.back() == L'\\') folder.pop_back();
    return folder;
}

bool SaveShortcut(IShellLinkW& link, const std::wstring& file, const std::wstring& target) {
    if (FAILED(link.SetPath(target.c_str()))) return false;
    win::ComPtr<IPersistFile> persist;
    if (FAILED(link.QueryInterface(IID_IPersistFile, persist.put_void()))) return false;
    return SUCCEEDED(persist->Save(file.c_str(), TRUE));
}

// Creation order is the keyboard focus order.
constexpr ControlSpec kControls[] = {
    {kShortcutCheck1, L"BUTTON", L"「送る」メニューに追加する", kBox, {240, 120, 2415, 375}},
    {kShortcutCheck2, L"BUTTON", L"デスクトップに作成する", kBox, {240, 600, 2295, 375}},
    {kShortcutCommand1, L"BUTTON", L"作成", kButton, {480, 1200, 650, 450}},
    {kShortcutCommand2, L"BUTTON", L"中止", kButton, {1560, 1200, 650, 450}},
};

}  // namespace

const DialogDesign ShortcutDialog::kDesign{L"ショートカットの作成", 2760, 1860, kControls, kShortcutCheck1};

void ShortcutDialog::OnCreated(HINSTANCE) {
    CheckDlgButton(hwnd(), kShortcutCheck1, BST_CHECKED);
    CheckDlgButton(hwnd(), kShortcutCheck2, BST_CHECKED);
}

void ShortcutDialog::Show(HINSTANCE instance, HWND mainWindow) {
    if (modal_) return;
    if (!EnsureCreated(instance)) return;
    RunModal(mainWindow);
    if (mainWindow && IsWindow(mainWindow)) {
        SetForegroundWindow(mainWindow);
        SetActiveWindow(mainWindow);
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
            return Guarded(
                [&] {
                    auto* c = reinterpret_cast<Context*>(lp);
                    if (window != c->dialog && IsWindowVisible(window) && IsWindowEnabled(window))
                        c->list->push_back(window);
                    return TRUE;
                },
                [] { return FALSE; });
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

LRESULT ShortcutDialog::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
        // IDOK and IDCANCEL (Enter and Escape) are not buttons of this dialog.
        if (HIWORD(wp) != BN_CLICKED) return 0;
        if (LOWORD(wp) == kShortcutCommand1) Install();
        if (LOWORD(wp) == kShortcutCommand2) Dismiss();
        return 0;
    case WM_CLOSE:
        // Closed from its title bar: discarded; the next opening starts afresh.
        EnableOthers();
        DestroyWindow(hwnd());
        return 0;
    default:
        return Default(msg, wp, lp);
    }
}

}  // namespace rivak::ui
