#include "ui/main_window_commands.h"

#if __has_include("ui/shortcut_dialog.h") && __has_include("ui/shortcut_dialog.cpp")
#include "ui/shortcut_dialog.h"
#define RIVAK_HAVE_SHORTCUT_DIALOG 1
#endif
#if __has_include("ui/version_dialog.h") && __has_include("ui/version_dialog.cpp")
#include "ui/version_dialog.h"
#define RIVAK_HAVE_VERSION_DIALOG 1
#endif
#if __has_include("ui/help_launcher.h") && __has_include("ui/help_launcher.cpp")
#include "ui/help_launcher.h"
#define RIVAK_HAVE_HELP_LAUNCHER 1
#endif

namespace rivak::ui {

void ShowShortcutDialogFromMenu([[maybe_unused]] HINSTANCE instance, [[maybe_unused]] HWND mainWindow) {
#ifdef RIVAK_HAVE_SHORTCUT_DIALOG
    ShowShortcutDialog(instance, mainWindow);
#endif
}

void ShowVersionDialogFromMenu([[maybe_unused]] HINSTANCE instance,
                               [[maybe_unused]] const std::wstring& mainCaption) {
#ifdef RIVAK_HAVE_VERSION_DIALOG
    ShowVersionDialog(instance, mainCaption);
#endif
}

void OpenHelpFromMenu([[maybe_unused]] HWND mainWindow) {
#ifdef RIVAK_HAVE_HELP_LAUNCHER
    OpenHelp(mainWindow);
#endif
}

}  // namespace rivak::ui
