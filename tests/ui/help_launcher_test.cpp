// The help launcher through the real shell: its message table, the box it
// shows for a failed launch, and a launch from a folder whose name lies
// outside the ANSI code page.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/win32/unique_handle.h"
#include "tests/ui/window_test_support.h"
#include "ui/help_launcher.h"
#include "ui/program_folder.h"

namespace rivak::ui {
namespace {

using namespace std::chrono_literals;
using test::MessageBoxCatcher;
using test::TempFolder;

TEST(ShellOpenMessageTest, TableOfResults) {
    const struct {
        INT_PTR r;
        const wchar_t* message;
    } cases[] = {
        {0, L"メモリ不足です。"},
        {1, L"1その他のエラー"},
        {2, L"ファイルが見つかりません。"},
        {3, L"ファイルのパスが見つかりません。"},
        {5, L"5その他のエラー"},
        {8, L"8その他のエラー"},
        {31, L"31その他のエラー"},
        {32, L"32その他のエラー"},
        {-1, L"-1その他のエラー"},
        {33, L""},
        {42, L""},
        {0x7FFFFFFF, L""},
    };
    for (const auto& c : cases) EXPECT_EQ(ShellOpenMessage(c.r), c.message) << "result " << c.r;
}

std::wstring ModulePath() {
    std::wstring module(32768, L'\0');
    module.resize(GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size())));
    return module;
}

TEST(ProgramFolderTest, IsTheFolderOfThisProgram) {
    const std::wstring module = ModulePath();
    ASSERT_FALSE(module.empty());
    const std::wstring folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), L'\\');
    EXPECT_EQ(folder + L"\\" + std::filesystem::path(module).filename().wstring(), module);
}

// A copy of this program in a folder whose path is longer than MAX_PATH
// runs the test above on itself.
TEST(ProgramFolderTest, LongerThanMaxPath) {
    wchar_t variable[8]{};
    if (GetEnvironmentVariableW(L"RIVAK_LONG_PATH_CHILD", variable, 8)) GTEST_SKIP() << "running as the copy";
    TempFolder base(L"rivak-long");
    std::filesystem::path deep = base.path();
    while (deep.wstring().size() <= MAX_PATH + 20) deep /= std::wstring(40, L'd');
    std::error_code error;
    std::filesystem::create_directories(deep, error);
    if (error) GTEST_SKIP() << "cannot make a folder path of " << deep.wstring().size() << " characters here";
    const auto copy = deep / L"copy_of_test.exe";
    std::filesystem::copy_file(ModulePath(), copy, error);
    ASSERT_FALSE(error) << "cannot copy the test program";
    SetEnvironmentVariableW(L"RIVAK_LONG_PATH_CHILD", L"1");
    std::wstring command = L"\"" + copy.wstring() + L"\" --gtest_filter=ProgramFolderTest.IsTheFolderOfThisProgram";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const std::wstring application = L"\\\\?\\" + copy.wstring();
    const BOOL started = CreateProcessW(application.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &process);
    SetEnvironmentVariableW(L"RIVAK_LONG_PATH_CHILD", nullptr);
    if (!started) GTEST_SKIP() << "a program this deep cannot be started here, error " << GetLastError();
    win::UniqueFile processHandle(process.hProcess), threadHandle(process.hThread);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(code, 0u) << "ProgramFolder is wrong for a path of " << copy.wstring().size() << " characters";
}

class HelpLauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!com_.ok()) GTEST_SKIP() << "COM could not be started";
        if (!test::CanCreateWindows()) GTEST_SKIP() << "no window can be created here (no display?)";
        owner_.reset(CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                     GetModuleHandleW(nullptr), nullptr));
        ASSERT_TRUE(owner_);
        ShowWindow(owner_.get(), SW_SHOW);
        help_ = std::filesystem::path(ProgramFolder()) / L"rivak.chm";
    }
    void TearDown() override {
        std::error_code ignored;
        if (placedHelp_) std::filesystem::remove(help_, ignored);
    }

    win::ComApartment com_;
    win::UniqueWindow owner_;
    std::filesystem::path help_;
    bool placedHelp_ = false;
};

TEST_F(HelpLauncherTest, MissingHelpFileIsReportedInACriticalBox) {
    std::error_code ignored;
    if (std::filesystem::exists(help_)) GTEST_SKIP() << "a rivak.chm lies beside the test program";
    MessageBoxCatcher catcher;
    ASSERT_TRUE(catcher.installed());
    OpenHelp(owner_.get());
    ASSERT_EQ(catcher.boxes().size(), 1u);
    const auto& box = catcher.boxes()[0];
    EXPECT_EQ(box.text, L"ファイルが見つかりません。");
    EXPECT_EQ(box.title, L"rivak");
    EXPECT_EQ(box.owner, owner_.get());
    EXPECT_TRUE(box.errorIcon);
    EXPECT_TRUE(box.onlyOk);
    // The program carries on, and the next try starts from the beginning.
    EXPECT_TRUE(IsWindow(owner_.get()));
    OpenHelp(owner_.get());
    EXPECT_EQ(catcher.boxes().size(), 2u);
}

TEST_F(HelpLauncherTest, PresentHelpFileOpensWithoutMessage) {
    if (std::filesystem::exists(help_)) GTEST_SKIP() << "a rivak.chm lies beside the test program";
    {
        std::ofstream(help_, std::ios::binary) << "ITSF";
    }
    placedHelp_ = true;
    MessageBoxCatcher catcher;
    OpenHelp(owner_.get());
    EXPECT_TRUE(catcher.boxes().empty()) << (catcher.boxes().empty() ? "" : "unexpected box");
    // The viewer runs by itself; close what it opened so nothing stays behind.
    HWND viewer = nullptr;
    test::PumpUntil([&] { return (viewer = FindWindowW(L"HH Parent", nullptr)) != nullptr; }, 5s);
    if (viewer) PostMessageW(viewer, WM_CLOSE, 0, 0);
}

TEST_F(HelpLauncherTest, OtherFailuresNameTheirCode) {
    TempFolder folder;
    const auto file = folder.path() / L"nothing.rivak-no-such-type";
    { std::ofstream(file) << "x"; }
    MessageBoxCatcher catcher;
    ShellOpen(owner_.get(), file.wstring(), L"", folder.path().wstring(), SW_SHOWNORMAL);
    ASSERT_EQ(catcher.boxes().size(), 1u);
    EXPECT_EQ(catcher.boxes()[0].text, L"31その他のエラー");
    EXPECT_EQ(catcher.boxes()[0].title, L"rivak");
    EXPECT_TRUE(catcher.boxes()[0].errorIcon);
}

TEST_F(HelpLauncherTest, MissingFolderIsAPathNotFound) {
    TempFolder folder;
    const auto missing = folder.path() / L"no such folder";
    MessageBoxCatcher catcher;
    ShellOpen(owner_.get(), (missing / L"rivak.chm").wstring(), L"", missing.wstring(), SW_SHOWNORMAL);
    ASSERT_EQ(catcher.boxes().size(), 1u);
    const std::wstring text = catcher.boxes()[0].text;
    // Which of the two the shell reports for a missing folder is its own choice.
    EXPECT_TRUE(text == L"ファイルのパスが見つかりません。" || text == L"ファイルが見つかりません。") << "got another text";
}

// A folder name that the Japanese ANSI code page cannot spell: a launch
// through it works only when the names stay wide all the way.
TEST_F(HelpLauncherTest, FolderOutsideTheAnsiCodePageWorks) {
    TempFolder folder(L"rivak-\u00E9\u0416\uD55C");
    const auto script = folder.path() / L"\u00E9t\u00E9.cmd";
    { std::ofstream(script) << "@echo ok> launched.txt\r\n"; }
    MessageBoxCatcher catcher;
    ShellOpen(owner_.get(), script.wstring(), L"", folder.path().wstring(), SW_HIDE);
    EXPECT_TRUE(catcher.boxes().empty()) << "the launch failed: " << catcher.boxes().size() << " box(es)";
    EXPECT_TRUE(test::PumpUntil([&] { return std::filesystem::exists(folder.path() / L"launched.txt"); }, 15s))
        << "the script did not run";
    Sleep(200);
}

}  // namespace
}  // namespace rivak::ui
