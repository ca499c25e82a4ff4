#include <gtest/gtest.h>

#include "platform/win32/command_line_win.h"

namespace rivak::win {
namespace {

TEST(ArgumentText, SkipsTheProgramPathAsTheRuntimeDoes) {
    struct Row { const wchar_t* commandLine; const wchar_t* want; };
    const Row rows[] = {
        {L"rivak.exe", L""},
        {L"rivak.exe ", L""},
        {L"\"C:\\Program Files\\rivak\\rivak.exe\"", L""},
        {L"\"C:\\Program Files\\rivak\\rivak.exe\" \"C:\\My Files\\c.txt\" \"C:\\b.txt\"",
         L"\"C:\\My Files\\c.txt\" \"C:\\b.txt\""},
        {L"\"C:\\rivak.exe\"\"C:\\a.txt\"", L"\"C:\\a.txt\""},
        {L"C:\\rivak\\rivak.exe C:\\a.txt C:\\b.txt", L"C:\\a.txt C:\\b.txt"},
        // Blanks after the program's path are the runtime's; those at the end are kept.
        {L"rivak.exe   C:\\a.txt  C:\\b.txt ", L"C:\\a.txt  C:\\b.txt "},
        {L"rivak.exe\tC:\\a.txt\tC:\\b.txt", L"C:\\a.txt\tC:\\b.txt"},
        {L"rivak.exe \u3000C:\\a.txt", L"\u3000C:\\a.txt"},  // a full-width blank is text
        // Only a leading quote protects blanks in the program's path.
        {L"C:\\\"odd dir\"\\rivak.exe x", L"dir\"\\rivak.exe x"},
        {L"\"C:\\unclosed\\rivak.exe x", L""},
        {L"", L""},
    };
    for (const Row& r : rows)
        EXPECT_EQ(ArgumentText(r.commandLine), std::wstring(r.want)) << testing::PrintToString(r.commandLine);
    EXPECT_EQ(ArgumentText(nullptr), std::wstring());
}

}  // namespace
}  // namespace rivak::win
