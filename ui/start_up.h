#pragma once
// How rivak.exe ends, and what it says when it cannot start or go on.
#include <windows.h>

namespace rivak::ui {

// The exit status of rivak.exe. Every status but kExitDone has been told to
// the user in a message box before the program ends.
enum ExitStatus : int {
    kExitDone = 0,          // the batch ran to its end, or the main window was closed
    kExitBatchStopped = 1,  // the batch stopped partway
    kExitCannotStart = 2,   // COM, OLE or the main window could not be set up
    kExitUnexpected = 3,    // an error that nothing below the entry point handled
};

enum class StartUpFailure {
    kCom,          // batch mode: shortcuts could not be read
    kOle,          // interactive mode: no drag and drop, no shell
    kMainWindow,   // the main window could not be made
    kOutOfMemory,  // memory ran out outside a batch
    kUnexpected,   // anything else that reached the entry point
};

// Shows why the program stops in a critical message box titled "rivak" and
// returns the exit status that goes with it.
int ReportStartUpFailure(StartUpFailure failure);

}  // namespace rivak::ui
