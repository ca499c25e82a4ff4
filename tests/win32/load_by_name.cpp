// load_by_name DLL...: loads each DLL by its bare name, as a system DLL does,
// without restricting the search. The planting test runs it from the planted
// folder to prove that the fakes there would be taken.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) LoadLibraryW(argv[i]);
    return 0;
}
