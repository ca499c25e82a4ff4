// rivak.exe started from a folder full of planted DLLs, as from a Downloads
// folder: fakes named like the system DLLs that system code loads by name lie
// beside a copy of it, and Wine is told to prefer them (native first, through
// WINEDLLOVERRIDES, set by ctest for this test and its children), as Windows'
// search order does for DLLs that are not KnownDLLs. Neither a batch nor the
// main window may load one of them.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <vector>

#include "tests/win32/win_test_support.h"

namespace rivak::test {
namespace {

constexpr const wchar_t* kPlanted[] = {L"version", L"uxtheme", L"dwmapi", L"propsys", L"cryptbase",
                                       L"profapi", L"winmm", L"userenv", L"secur32", L"sspicli",
                                       L"cryptsp", L"iertutil", L"urlmon"};

std::wstring Lower(std::wstring s) {
    std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return s;
}

class DllPlantingTest : public ComTest {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no DISPLAY: rivak.exe opens its windows (needs Xvfb)";
        wchar_t overrides[4096] = L"";
        GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 4096);
        ASSERT_NE(std::wstring(overrides).find(L"version,"), std::wstring::npos)
            << "Wine is not told to prefer the planted DLLs (run this test through ctest)";
        const std::wstring planted = BesideThisTest(L"planted");
        std::vector<std::wstring> files = {L"load_by_name.exe"};
        for (const wchar_t* name : kPlanted) files.push_back(std::wstring(name) + L".dll");
        for (const auto& f : files)
            ASSERT_TRUE(CopyFileW((planted + L"\\" + f).c_str(), temp_.At(f).c_str(), FALSE))
                << "cannot copy " << testing::PrintToString(f) << ", error " << GetLastError();
        ASSERT_TRUE(CopyFileW(BesideThisTest(RIVAK_EXE_FROM_TEST).c_str(), exe_.c_str(), FALSE))
            << "rivak.exe not built";
    }

    // Starts `program` from the planted folder, as the folder's own program.
    win::UniqueFile Start(const std::wstring& program, const std::wstring& arguments, DWORD* pid = nullptr) {
        std::wstring commandLine = L"\"" + program + L"\" " + arguments;
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                            0, nullptr, temp_.path().c_str(), &si, &pi)) {
            ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
            return win::UniqueFile();
        }
        CloseHandle(pi.hThread);
        if (pid) *pid = pi.dwProcessId;
        return win::UniqueFile(pi.hProcess);
    }

    static DWORD WaitForExit(HANDLE process, DWORD ms) {
        if (WaitForSingleObject(process, ms) != WAIT_OBJECT_0) {
            TerminateProcess(process, 99);
            ADD_FAILURE() << "the program did not end";
            return 0xFFFFFFFF;
        }
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        return code;
    }

    // The planted DLLs that left their marker, that is, were loaded.
    std::vector<std::wstring> Loaded() const {
        std::vector<std::wstring> loaded;
        for (const wchar_t* name : kPlanted)
            if (DiskWord(temp_.At(std::wstring(name) + L".dll.loaded")) != INVALID_FILE_ATTRIBUTES)
                loaded.push_back(name);
        return loaded;
    }

    TempFolder temp_;
    const std::wstring exe_ = temp_.At(L"rivak.exe");
};

// Without this, a pass below would prove nothing: a program that does not
// restrict its search does load the fakes in this very setting.
TEST_F(DllPlantingTest, AnUnprotectedProgramTakesThePlantedDlls) {
    auto process = Start(temp_.At(L"load_by_name.exe"), L"version.dll uxtheme.dll");
    ASSERT_TRUE(process);
    EXPECT_EQ(WaitForExit(process.get(), 60000), 0u);
    EXPECT_EQ(Loaded(), (std::vector<std::wstring>{L"version", L"uxtheme"}));
}

TEST_F(DllPlantingTest, BatchLoadsNoneAndDoesItsWork) {
    const std::wstring tree = temp_.At(L"tree"), file = temp_.At(L"tree\\a.txt"), away = temp_.At(L"away");
    const std::wstring awayFile = temp_.At(L"away\\b.txt"), link = temp_.At(L"tree\\to away.lnk");
    ASSERT_TRUE(MakeFolderAt(tree, FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(MakeFileAt(file, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(MakeFolderAt(away, FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(MakeFileAt(awayFile, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    // A shortcut, so the shell's link object and what it pulls in are loaded too.
    ASSERT_TRUE(MakeShortcut(link, away));

    auto process = Start(exe_, L"\"" + tree + L"\"");
    ASSERT_TRUE(process);
    EXPECT_EQ(WaitForExit(process.get(), 120000), 0u);
    EXPECT_EQ(Loaded(), std::vector<std::wstring>{});
    constexpr DWORD kNamed = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    for (const std::wstring& p : {tree, file, away, awayFile})
        EXPECT_EQ(DiskWord(p) & kNamed, 0u) << testing::PrintToString(p);
}

struct Module {
    std::wstring name, path;
};

std::vector<Module> ModulesOf(DWORD pid) {
    std::vector<Module> modules;
    win::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
    if (snapshot.get() == INVALID_HANDLE_VALUE) return modules;
    MODULEENTRY32W m{};
    m.dwSize = sizeof m;
    for (BOOL more = Module32FirstW(snapshot.get(), &m); more; more = Module32NextW(snapshot.get(), &m))
        modules.push_back({Lower(m.szModule), Lower(m.szExePath)});
    return modules;
}

TEST_F(DllPlantingTest, MainWindowLoadsNoneAndKeepsCommonControls6) {
    DWORD pid = 0;
    auto process = Start(exe_, L"", &pid);
    ASSERT_TRUE(process);
    HWND main = nullptr;
    for (int i = 0; i < 600 && !main; ++i) {
        if (WaitForSingleObject(process.get(), 50) == WAIT_OBJECT_0) break;
        struct Search {
            DWORD pid;
            HWND found;
        } search{pid, nullptr};
        EnumWindows(
            [](HWND w, LPARAM p) -> BOOL {
                auto* s = reinterpret_cast<Search*>(p);
                DWORD owner = 0;
                GetWindowThreadProcessId(w, &owner);
                wchar_t cls[64];
                if (owner != s->pid || !GetClassNameW(w, cls, 64) || wcscmp(cls, L"RivakForm1") != 0) return TRUE;
                s->found = w;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.found && IsWindowVisible(search.found)) main = search.found;
    }
    ASSERT_TRUE(main) << "the main window did not open";

    const auto modules = ModulesOf(pid);
    EXPECT_FALSE(modules.empty()) << "no module list of the running program";
    const std::wstring folder = Lower(temp_.path()) + L"\\";
    bool commonControls6 = false;
    for (const auto& m : modules) {
        if (m.name == L"comctl32.dll") commonControls6 = m.path.find(L"common-controls_6595b64144ccf1df_6.") != std::wstring::npos;
        if (m.path.rfind(folder, 0) == 0) {
            EXPECT_EQ(m.name, L"rivak.exe") << "loaded from the program folder";
        }
    }
    EXPECT_TRUE(commonControls6) << "the manifest's common controls 6 were not used";

    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(process.get(), 60000), 0u);
    EXPECT_EQ(Loaded(), std::vector<std::wstring>{});
}

}  // namespace
}  // namespace rivak::test
