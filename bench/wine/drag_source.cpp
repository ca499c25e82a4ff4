// drag_source.exe RIVAK_EXE FOLDER: starts rivak.exe with its window, drags
// FOLDER (flat, read-only and hidden files) onto its drop frame from this
// process, as Explorer would, and prints how long DoDragDrop held this
// process after the button went up, and how long the batch took.
#include <windows.h>
#include <ole2.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "tests/win32/drag_onto_rivak.h"

int wmain(int argc, wchar_t** argv) {
    using namespace rivak::test;
    using std::chrono::duration;
    if (argc != 3) {
        std::fprintf(stderr, "usage: drag_source.exe RIVAK_EXE FOLDER\n");
        return 2;
    }
    if (FAILED(OleInitialize(nullptr))) return 1;
    const std::wstring folder = argv[2];
    const Entries before = CountEntries(folder);
    int status = 1;
    {
        RivakWindowProcess rivak(argv[1]);
        std::string why;
        const std::optional<DragTiming> drag =
            rivak.main() ? DragOntoFrame(rivak.main(), folder, why) : std::nullopt;
        if (!drag || drag->hr != DRAGDROP_S_DROP) {
            std::fprintf(stderr, "drag_source: no drop (%s)\n", rivak.main() ? why.c_str() : rivak.why.c_str());
        } else {
            Entries left = before;
            while (left.named && Clock::now() < drag->returned + std::chrono::minutes(5)) {
                Sleep(100);
                left = CountEntries(folder);
            }
            std::printf("drop of %llu entries: source held %.3f s, drop to end of batch %.3f s%s\n", before.all,
                        duration<double>(drag->returned - drag->released).count(),
                        duration<double>(Clock::now() - drag->released).count(),
                        left.named ? " (not finished)" : "");
            status = left.named ? 1 : 0;
        }
    }
    OleUninitialize();
    return status;
}
