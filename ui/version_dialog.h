#pragma once
// Form6, the version dialog: the main window's caption, the program icon, the
// contact address and the home-page link.
#include <windows.h>

#include <string>

namespace rivak::ui {

// Child ids of Form6, in keyboard focus order (Image1 takes no focus).
enum VersionDialogControl : int {
    kVersionLabel1 = 101,  // the main window's caption
    kVersionCommand1,      // OK
    kVersionLabel3,        // mail address
    kVersionLabel2,        // home-page link
    kVersionImage1,        // program icon
};

// The build's home page and contact address.
const std::wstring& HomePageUrl();
const std::wstring& MailAddress();

// Shows Form6 modeless and returns at once. The first call (or the first
// after the dialog was closed from its title bar) creates it and puts
// `mainCaption` into Label1; while it exists the same dialog is shown.
void ShowVersionDialog(HINSTANCE instance, const std::wstring& mainCaption);

// Form6's window while it exists, shown or hidden; nullptr otherwise.
HWND VersionDialogWindow();

// What a click on the link calls with the URL; true when the browser was
// started. Tests put a recorder here; nullptr restores OpenHomePage.
using HomePageOpener = bool (*)(const std::wstring& url);
void SetHomePageOpener(HomePageOpener opener);

}  // namespace rivak::ui
