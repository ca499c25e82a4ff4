#pragma once
// Form6, the version dialog: the main window's caption, the program icon, the
// contact address and the home-page link.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/unique_handle.h"
#include "ui/dialog_window.h"

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

// What a click on the link calls with the URL; true when the browser was
// started. Tests put a recorder here; nullptr restores OpenHomePage.
using HomePageOpener = bool (*)(const std::wstring& url);
void SetHomePageOpener(HomePageOpener opener);

class VersionDialog final : public DialogWindow<VersionDialog> {
public:
    static constexpr const wchar_t* kClassName = L"RivakForm6";
    static const DialogDesign kDesign;

    // `mainCaption` goes into Label1 each time the dialog is created.
    explicit VersionDialog(std::wstring mainCaption) : mainCaption_(std::move(mainCaption)) {}

    // Shows the dialog modeless and returns at once; the first call (or the
    // first after it was closed from its title bar) creates it.
    void Show(HINSTANCE instance);

private:
    friend class DialogWindow<VersionDialog>;
    void OnCreated(HINSTANCE instance);
    std::vector<win::UniqueFont> MakeFonts(UINT dpi);
    void OnDpi(UINT dpi);
    LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
    void OnLink();

    std::wstring mainCaption_;
    HINSTANCE instance_ = nullptr;
    win::UniqueIcon icon_;
};

}  // namespace rivak::ui
