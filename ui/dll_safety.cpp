// rivak.exe's entry point: it makes DLL loading safe before anything else runs.
//
// rivak is unpacked and started where it was downloaded, often a Downloads
// folder full of other downloads. Windows looks for a DLL that is not one of
// its KnownDLLs in the program's own folder first, so a system DLL that loads
// "version.dll" or "uxtheme.dll" by name would run a copy planted beside
// rivak.exe. Here, before the C runtime starts and before any static
// constructor, the search is cut down to System32. shell32, ole32 and comctl32
// are delay-loaded (ui/CMakeLists.txt), so they and everything they pull in
// load under that rule on first use; the manifest's activation context still
// sends comctl32 to version 6. Only DLL loading is restricted: the help file
// and the shortcuts are still looked for in the program folder.
#include <windows.h>

// The MinGW-w64 runtime's own start-up (crt2u.o): C runtime, static
// constructors, then wWinMain.
extern "C" int WinMainCRTStartup();

extern "C" int RivakStart() {
    if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        // Never seen on Windows 10 and later; running on unprotected would be worse than not running.
        MessageBoxW(nullptr, L"DLL の読み込み先を制限できないため、起動を中止しました。", L"rivak",
                    MB_ICONERROR | MB_OK);
        return 1;
    }
    return WinMainCRTStartup();
}
