#pragma once
// Resource ids of rivak.exe, shared by rivak.rc and the windows that load them.

// The program icon (32 x 32, 256 colours): main window and version dialog.
#define IDI_RIVAK 101
