// rivak.exe as the drop target of another process: this test program drags
// a big folder onto its drop frame, as Explorer would, and times how long
// its own DoDragDrop is held after the button goes up.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/win32/drag_onto_rivak.h"
#include "tests/win32/win_test_support.h"

namespace rivak::test {
namespace {

using std::chrono::milliseconds;

// The batch starts at the latest 250 ms after the drop; the rest is room for
// the two calls the drop makes across processes on a busy machine.
constexpr milliseconds kMostHeld{250 + 500};

// A Windows path from the environment, which may hold it with slashes.
std::wstring PathFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return {};
    std::wstring wide(std::strlen(value) + 1, L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, value, -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    return wide;
}

class DropReleaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no DISPLAY: rivak.exe opens its window (needs Xvfb)";
        folder_ = PathFromEnvironment("RIVAK_DROP_FOLDER");
        ASSERT_FALSE(folder_.empty()) << "RIVAK_DROP_FOLDER names no folder";
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ole_ = true;
    }
    void TearDown() override {
        if (ole_) OleUninitialize();
    }

    std::wstring folder_;
    bool ole_ = false;
};

TEST_F(DropReleaseTest, SourceIsFreeLongBeforeTheBatchEnds) {
    const Entries before = CountEntries(folder_);
    ASSERT_GT(before.all, 0u);
    ASSERT_EQ(before.named, before.all) << "the folder is made read-only and hidden";
    RivakWindowProcess rivak(BesideThisTest(RIVAK_EXE_FROM_TEST));
    ASSERT_NE(rivak.main(), nullptr) << rivak.why;

    std::string why;
    const std::optional<DragTiming> drag = DragOntoFrame(rivak.main(), folder_, why);
    if (!drag && why.find("pointer") != std::string::npos) GTEST_SKIP() << why;
    ASSERT_TRUE(drag) << why;
    ASSERT_EQ(drag->hr, DRAGDROP_S_DROP);
    EXPECT_EQ(drag->effect, static_cast<DWORD>(DROPEFFECT_COPY));
    const auto held = std::chrono::duration_cast<milliseconds>(drag->returned - drag->released);

    Entries left = before;
    const Clock::time_point giveUp = drag->returned + std::chrono::minutes(3);
    while (left.named && Clock::now() < giveUp) {
        Sleep(200);
        left = CountEntries(folder_);
    }
    const auto batch = std::chrono::duration_cast<milliseconds>(Clock::now() - drag->released);
    std::printf("[   NOTE   ] %llu entries: source held %lld ms, drop to end of batch %lld ms\n", before.all,
                static_cast<long long>(held.count()), static_cast<long long>(batch.count()));
    ASSERT_EQ(left.named, 0u) << "the batch did not finish";
    // A batch quicker than the limit could not show the source held by it.
    ASSERT_GT(batch, 2 * kMostHeld) << "the folder is too small to tell on this machine";
    EXPECT_LT(held, kMostHeld) << "the drag source waited for the batch";
    EXPECT_EQ(rivak.Close(), std::optional<DWORD>(0)) << "closing the window ends rivak.exe";
}

}  // namespace
}  // namespace rivak::test
