// bare_window.exe: what every short run of a windowed program costs under
// Wine: start, show one small window and draw it, hide it, end. A one-file
// batch of rivak.exe does this and handles one entry; the difference is ours.
#include <windows.h>

namespace {

LRESULT CALLBACK Procedure(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcW(hwnd, msg, wp, lp); }

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Procedure;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = L"BareWindow";
    if (!RegisterClassExW(&wc)) return 1;
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"bare", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 160,
                                70, nullptr, nullptr, instance, nullptr);
    if (!hwnd) return 1;
    CreateWindowExW(0, L"STATIC", L"1", WS_CHILD | WS_VISIBLE | SS_LEFT, 80, 8, 65, 17, hwnd, nullptr, instance,
                    nullptr);
    ShowWindow(hwnd, SW_SHOW);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    ShowWindow(hwnd, SW_HIDE);
    DestroyWindow(hwnd);
    return 0;
}
