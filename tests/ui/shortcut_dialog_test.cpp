// Form2, the shortcut installer, driven from inside its own modal loop: its
// layout and keys, the main window it holds off, and the shortcuts it really
// writes into the Wine prefix's SendTo and Desktop folders.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/win32/unique_handle.h"
#include "tests/ui/window_test_support.h"
#include "ui/layout.h"
#include "ui/program_folder.h"
#include "ui/shortcut_dialog.h"
#include "ui/version_dialog.h"

namespace rivak::ui {
namespace {

namespace fs = std::filesystem;
using test::MessageBoxCatcher;
using test::TextOf;

std::optional<fs::path> Known(REFKNOWNFOLDERID id) {
    win::UniqueCoTaskMem<wchar_t> raw;
    if (FAILED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, raw.put())) || !raw) return std::nullopt;
    return fs::path(raw.get());
}

// The target stored in a shortcut file, as the shell reads it back.
std::wstring TargetOf(const fs::path& file) {
    win::ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
        return L"<no shell link object>";
    win::ComPtr<IPersistFile> persist;
    if (FAILED(link->QueryInterface(IID_IPersistFile, persist.put_void()))) return L"<no IPersistFile>";
    if (FAILED(persist->Load(file.c_str(), STGM_READ))) return L"<cannot load>";
    wchar_t target[MAX_PATH * 4]{};
    if (FAILED(link->GetPath(target, MAX_PATH * 4, nullptr, SLGP_RAWPATH))) return L"<no path>";
    return target;
}

bool WriteShortcut(const fs::path& file, const std::wstring& target) {
    win::ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
        return false;
    win::ComPtr<IPersistFile> persist;
    return SUCCEEDED(link->SetPath(target.c_str())) &&
           SUCCEEDED(link->QueryInterface(IID_IPersistFile, persist.put_void())) &&
           SUCCEEDED(persist->Save(file.c_str(), TRUE));
}

class ShortcutDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!com_.ok()) GTEST_SKIP() << "COM could not be started";
        if (!test::CanCreateWindows()) GTEST_SKIP() << "no window can be created here (no display?)";
        const auto sendTo = Known(FOLDERID_SendTo);
        const auto desktop = Known(FOLDERID_Desktop);
        ASSERT_TRUE(sendTo && desktop) << "the prefix has no SendTo or Desktop folder";
        sendToLink_ = *sendTo / L"rivak.lnk";
        desktopLink_ = *desktop / L"rivak.lnk";
        RemoveLinks();
        main_.reset(CreateWindowExW(0, L"STATIC", L"main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200,
                                    nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
        ASSERT_TRUE(main_);
        SetForegroundWindow(main_.get());
        test::Pump();
    }
    void TearDown() override {
        // Every test starts with no dialog, as after a close from the title bar.
        if (HWND dialog = Dialog()) SendMessageW(dialog, WM_CLOSE, 0, 0);
        RemoveLinks();
    }
    void RemoveLinks() {
        std::error_code ignored;
        fs::remove_all(sendToLink_, ignored);
        fs::remove_all(desktopLink_, ignored);
    }

    HWND Dialog() const { return dialog_.hwnd(); }
    HWND Item(int id) const { return dialog_.item(id); }
    void Click(int id) const { SendMessageW(Item(id), BM_CLICK, 0, 0); }
    bool Checked(int id) const { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    void Key(WPARAM key) const {
        HWND focus = GetFocus();
        PostMessageW(focus ? focus : Dialog(), WM_KEYDOWN, key, 1);
        PostMessageW(focus ? focus : Dialog(), WM_KEYUP, key, 0xC0000001);
    }

    // Opens the dialog and runs `steps` from inside its modal loop, one per
    // timer tick; only the last may dismiss it. A dialog still open after the
    // last step is closed and reported, so a fault cannot hang the test.
    void Run(std::deque<std::function<void()>> steps) {
        leftOpen_ = false;
        steps.push_back([this] {
            leftOpen_ = true;
            if (Dialog()) PostMessageW(Dialog(), WM_CLOSE, 0, 0);
        });
        test::Steps runner(std::move(steps));
        dialog_.Show(GetModuleHandleW(nullptr), main_.get());
        EXPECT_FALSE(leftOpen_) << "the dialog was still open after the last step";
        EXPECT_EQ(runner.remaining(), 1u) << "the dialog went away before the last step";
    }

    std::wstring ExpectedTarget() const { return ProgramFolder() + L"\\rivak.exe"; }

    win::ComApartment com_;
    win::UniqueWindow main_;
    ShortcutDialog dialog_;
    fs::path sendToLink_, desktopLink_;
    bool leftOpen_ = false;
};

TEST_F(ShortcutDialogTest, LayoutCaptionsAndInitialState) {
    struct Expected {
        int id;
        const wchar_t* caption;
        LONG type;
        int left, top, width, height;
    };
    const Expected controls[] = {
        {kShortcutCheck1, L"「送る」メニューに追加する", BS_AUTOCHECKBOX, 240, 120, 2415, 375},
        {kShortcutCheck2, L"デスクトップに作成する", BS_AUTOCHECKBOX, 240, 600, 2295, 375},
        {kShortcutCommand1, L"作成", BS_PUSHBUTTON, 480, 1200, 650, 450},
        {kShortcutCommand2, L"中止", BS_PUSHBUTTON, 1560, 1200, 650, 450},
    };
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    Run({[&] {
        HWND dialog = Dialog();
        ASSERT_TRUE(dialog);
        const UINT dpi = DpiOf(dialog);
        test::ExpectDialogFrame(dialog, L"ショートカットの作成", 2760, 1860, SIZE{184, 124});
        for (const auto& c : controls) {
            SCOPED_TRACE(testing::Message() << "control " << c.id);
            HWND item = Item(c.id);
            ASSERT_TRUE(item);
            EXPECT_EQ(TextOf(item), c.caption);
            EXPECT_EQ(GetWindowLongW(item, GWL_STYLE) & BS_TYPEMASK, c.type);
            EXPECT_TRUE(GetWindowLongW(item, GWL_STYLE) & WS_TABSTOP);
            test::ExpectPlacedAt(item, {c.left, c.top, c.width, c.height}, dpi);
            EXPECT_STREQ(test::FontOf(item).lfFaceName, metrics.lfMessageFont.lfFaceName);
        }
        EXPECT_TRUE(Checked(kShortcutCheck1));
        EXPECT_TRUE(Checked(kShortcutCheck2));
        // No button answers to DM_GETDEFID: neither is the default.
        EXPECT_NE(HIWORD(SendMessageW(dialog, DM_GETDEFID, 0, 0)), DC_HASDEFID);
        Click(kShortcutCommand2);
    }});
    EXPECT_FALSE(IsWindowVisible(Dialog()));
    EXPECT_FALSE(fs::exists(sendToLink_));
    EXPECT_FALSE(fs::exists(desktopLink_));
}

TEST_F(ShortcutDialogTest, ModalHoldsOffTheMainWindowUntilHidden) {
    bool mainEnabledWhileOpen = true;
    Run({[&] {
        mainEnabledWhileOpen = IsWindowEnabled(main_.get()) != FALSE;
        EXPECT_EQ(GetActiveWindow(), Dialog());
        Click(kShortcutCommand2);
    }});
    EXPECT_FALSE(mainEnabledWhileOpen);
    EXPECT_TRUE(IsWindowEnabled(main_.get()));
    EXPECT_EQ(GetActiveWindow(), main_.get());
}

// Like a modal form, it holds off every other window of the program that
// is open, the modeless version dialog too.
TEST_F(ShortcutDialogTest, ModalHoldsOffTheOtherOpenWindows) {
    VersionDialog versionDialog(L"RIVAK ver 1.5");
    versionDialog.Show(GetModuleHandleW(nullptr));
    HWND version = versionDialog.hwnd();
    ASSERT_TRUE(version);
    bool versionEnabledWhileOpen = true;
    Run({[&] {
        versionEnabledWhileOpen = IsWindowEnabled(version) != FALSE;
        Click(kShortcutCommand2);
    }});
    EXPECT_FALSE(versionEnabledWhileOpen);
    EXPECT_TRUE(IsWindowEnabled(version));
    EXPECT_TRUE(IsWindowEnabled(main_.get()));
    SendMessageW(version, WM_CLOSE, 0, 0);
}

// Moved to a monitor of another dpi, the dialog keeps its twips, and each
// control is given the new font before the old one goes.
TEST_F(ShortcutDialogTest, FollowsADpiChange) {
    ASSERT_TRUE(dialog_.EnsureCreated(GetModuleHandleW(nullptr)));
    for (UINT dpi : {144u, 120u, 96u}) {
        SCOPED_TRACE(testing::Message() << dpi << " dpi");
        const test::FontHandOverWatch watch(Dialog());
        test::SendDpiChange(Dialog(), dpi);
        test::ExpectLaidOutAt(dialog_, dpi);
        EXPECT_EQ(watch.handOvers(), 4);
        EXPECT_EQ(watch.deadFonts(), 0) << "a control held a deleted font when the new one came";
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        ASSERT_TRUE(SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi));
        EXPECT_EQ(test::FontOf(Item(kShortcutCommand1)).lfHeight, metrics.lfMessageFont.lfHeight);
    }
}

TEST_F(ShortcutDialogTest, TabOrderAndKeys) {
    std::vector<int> order;
    auto record = [&] { order.push_back(GetDlgCtrlID(GetFocus())); };
    Run({
        [&] { record(); Key(VK_TAB); },
        [&] { record(); Key(VK_TAB); },
        [&] { record(); Key(VK_TAB); },
        [&] { record(); Key(VK_TAB); },
        [&] { record(); Key(VK_RETURN); },  // on Check1: no button fires
        [&] { Key(VK_ESCAPE); },
        [&] { SetFocus(Item(kShortcutCommand1)); Key(VK_RETURN); },
        [&] { Key(VK_ESCAPE); },
        [&] {
            EXPECT_TRUE(IsWindowVisible(Dialog())) << "Enter or Escape dismissed the dialog";
            EXPECT_TRUE(Checked(kShortcutCheck1));
            EXPECT_FALSE(fs::exists(sendToLink_)) << "Enter pressed Command1";
            Key(VK_SPACE);  // Space does press the focused button
        },
    });
    const std::vector<int> expected{kShortcutCheck1, kShortcutCheck2, kShortcutCommand1, kShortcutCommand2,
                                    kShortcutCheck1};
    EXPECT_EQ(order, expected);
    EXPECT_FALSE(IsWindowVisible(Dialog()));
    EXPECT_TRUE(fs::exists(sendToLink_));
}

TEST_F(ShortcutDialogTest, InstallWritesWhatTheBoxesAsk) {
    const struct {
        const char* name;
        bool check1, check2;
    } cases[] = {
        {"both", true, true},
        {"neither", false, false},
        {"desktop only", false, true},
        {"SendTo only", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveLinks();
        Run({[&] {
            if (!c.check1) Click(kShortcutCheck1);
            if (!c.check2) Click(kShortcutCheck2);
            Click(kShortcutCommand1);
        }});
        EXPECT_FALSE(IsWindowVisible(Dialog()));
        EXPECT_TRUE(IsWindowEnabled(main_.get()));
        EXPECT_EQ(fs::exists(sendToLink_), c.check1);
        EXPECT_EQ(fs::exists(desktopLink_), c.check2);
        if (c.check1) {
            EXPECT_EQ(TargetOf(sendToLink_), ExpectedTarget());
        }
        if (c.check2) {
            EXPECT_EQ(TargetOf(desktopLink_), ExpectedTarget());
        }
        // Reopened in the same run, the boxes are as they were left.
        Run({[&] {
            EXPECT_EQ(Checked(kShortcutCheck1), c.check1);
            EXPECT_EQ(Checked(kShortcutCheck2), c.check2);
            Click(kShortcutCommand2);
        }});
        SendMessageW(Dialog(), WM_CLOSE, 0, 0);
    }
}

TEST_F(ShortcutDialogTest, InstallSavesOverEarlierShortcuts) {
    ASSERT_TRUE(WriteShortcut(sendToLink_, L"C:\\windows\\notepad.exe"));
    ASSERT_TRUE(WriteShortcut(desktopLink_, L"C:\\windows\\notepad.exe"));
    Run({[&] { Click(kShortcutCommand1); }});
    Run({[&] { Click(kShortcutCommand1); }});
    EXPECT_EQ(TargetOf(sendToLink_), ExpectedTarget());
    EXPECT_EQ(TargetOf(desktopLink_), ExpectedTarget());
    // The target is named rivak.exe, though this program has another name.
    EXPECT_EQ(fs::path(ExpectedTarget()).filename(), L"rivak.exe");
}

TEST_F(ShortcutDialogTest, CancelKeepsBoxesAndCloseBoxStartsAfresh) {
    Run({[&] {
        Click(kShortcutCheck1);
        Click(kShortcutCommand2);
    }});
    HWND first = Dialog();
    ASSERT_TRUE(first);
    EXPECT_FALSE(IsWindowVisible(first));
    EXPECT_FALSE(fs::exists(sendToLink_));
    EXPECT_FALSE(fs::exists(desktopLink_));

    bool closedFromTitleBar = false;
    Run({[&] {
        EXPECT_EQ(Dialog(), first) << "hiding made a new dialog";
        EXPECT_FALSE(Checked(kShortcutCheck1));
        EXPECT_TRUE(Checked(kShortcutCheck2));
        closedFromTitleBar = true;
        SendMessageW(Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
    }});
    EXPECT_TRUE(closedFromTitleBar);
    EXPECT_EQ(Dialog(), nullptr) << "a dialog closed from its title bar is discarded";
    EXPECT_TRUE(IsWindowEnabled(main_.get()));

    Run({[&] {
        EXPECT_TRUE(Checked(kShortcutCheck1));
        EXPECT_TRUE(Checked(kShortcutCheck2));
        Click(kShortcutCommand2);
    }});
    EXPECT_FALSE(fs::exists(sendToLink_));
}

// A shortcut that cannot be saved (its name is taken by a folder): a critical
// message naming it, the later steps skipped, what was saved before stays,
// and the dialog stays open.
TEST_F(ShortcutDialogTest, RefusedSaveIsReportedAndStopsTheClick) {
    const struct {
        const char* name;
        bool blockSendTo;
    } cases[] = {{"SendTo refused", true}, {"desktop refused", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveLinks();
        const fs::path blocked = c.blockSendTo ? sendToLink_ : desktopLink_;
        fs::create_directory(blocked);
        MessageBoxCatcher catcher;
        bool openAfterFailure = false;
        Run({
            [&] { Click(kShortcutCommand1); },
            [&] {
                openAfterFailure = IsWindowVisible(Dialog()) != FALSE;
                Click(kShortcutCommand2);
            },
        });
        EXPECT_TRUE(openAfterFailure);
        ASSERT_EQ(catcher.boxes().size(), 1u);
        const auto& box = catcher.boxes()[0];
        EXPECT_EQ(box.title, L"rivak");
        EXPECT_TRUE(box.errorIcon);
        EXPECT_TRUE(box.onlyOk);
        EXPECT_EQ(box.owner, Dialog());
        EXPECT_NE(box.text.find(blocked.wstring()), std::wstring::npos) << "the message does not name the file";
        if (c.blockSendTo) {
            EXPECT_FALSE(fs::exists(desktopLink_)) << "the desktop shortcut was written after the failure";
        } else {
            EXPECT_EQ(TargetOf(sendToLink_), ExpectedTarget()) << "the SendTo shortcut saved first is gone";
        }
        std::error_code ignored;
        fs::remove_all(blocked, ignored);
    }
}

}  // namespace
}  // namespace rivak::ui
