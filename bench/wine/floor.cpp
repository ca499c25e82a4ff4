// floor.exe ROOT: the least work a bulk attribute change can do on a tree:
// each folder listed once, each entry written once (read-only and hidden
// cleared from the word the listing gave), no other call. The time rivak.exe
// is measured against.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

unsigned long long entries = 0, refused = 0;

void Walk(const std::wstring& folder) {
    WIN32_FIND_DATAW d;
    HANDLE find = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &d, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = d.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        DWORD word = d.dwFileAttributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
        if (!SetFileAttributesW(path.c_str(), word ? word : FILE_ATTRIBUTE_NORMAL)) ++refused;
        ++entries;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Walk(path);
    } while (FindNextFileW(find, &d));
    FindClose(find);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: floor.exe ROOT\n");
        return 2;
    }
    std::wstring root = argv[1];
    if (root.rfind(L"\\\\?\\", 0) != 0) root = L"\\\\?\\" + root;
    const auto t0 = std::chrono::steady_clock::now();
    Walk(root);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("floor: %llu entries, %llu refused, %.3f s inside the process\n", entries, refused, s);
    return 0;
}
