// A stand-in for a system DLL planted beside rivak.exe. It has none of the
// real one's exports; being loaded at all is the fault, so it leaves
// "<its own path>.loaded" behind for the test to find.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    static wchar_t path[32768];
    const DWORD n = GetModuleFileNameW(self, path, 32760);
    if (n == 0 || n >= 32760) return TRUE;
    lstrcpyW(path + n, L".loaded");
    HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    return TRUE;
}
