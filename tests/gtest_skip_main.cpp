// main() of every GoogleTest program: as gtest_main, but a run in which tests
// were skipped and none failed exits with 77, which ctest reports as
// skipped (SKIP_RETURN_CODE) instead of passed. Each skipped test is printed
// on a line of its own, for scripts/test.sh to hold against the list of
// expected skips (tests/expected_skips.txt):
//   rivak-skipped: <program> <Suite.Test>: <reason>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kSkipped = 77;

std::string ProgramName(const char* path) {
    std::string name = path ? path : "";
    const auto slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0) name.resize(name.size() - 4);
    return name;
}

// The skip message without its line breaks, so one skip stays one line.
std::string Reason(const testing::TestResult& result) {
    std::string reason;
    for (int i = 0; i < result.total_part_count(); ++i) {
        const auto& part = result.GetTestPartResult(i);
        if (part.skipped()) reason += part.message();
    }
    for (char& c : reason)
        if (c == '\n' || c == '\r') c = ' ';
    return reason;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string program = ProgramName(argc > 0 ? argv[0] : nullptr);
    testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    const auto& unit = *testing::UnitTest::GetInstance();
    for (int s = 0; s < unit.total_test_suite_count(); ++s) {
        const auto& suite = *unit.GetTestSuite(s);
        for (int t = 0; t < suite.total_test_count(); ++t) {
            const auto& info = *suite.GetTestInfo(t);
            if (!info.should_run() || !info.result()->Skipped()) continue;
            std::printf("rivak-skipped: %s %s.%s: %s\n", program.c_str(), suite.name(), info.name(),
                        Reason(*info.result()).c_str());
        }
    }
    std::fflush(stdout);
    if (failed) return failed;
    return unit.skipped_test_count() > 0 ? kSkipped : 0;
}
