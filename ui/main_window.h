#pragma once
// The main window Form1: the six option boxes, the drop frame, the menus and
// the engine that a drop runs.
#include <windows.h>

namespace rivak::ui {

// Interactive mode: shows the main window and serves it until it is closed.
// Returns the process exit code.
int RunMainWindow(HINSTANCE instance, int nCmdShow);

}  // namespace rivak::ui
