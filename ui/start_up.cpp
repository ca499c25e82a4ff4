#include "ui/start_up.h"

#include <iterator>

namespace rivak::ui {

namespace {

struct FailureText {
    StartUpFailure failure;
    const wchar_t* text;
    ExitStatus status;
};

// The batch refuses to start without COM rather than run without following
// shortcuts: it would rewrite the shortcut files instead of their targets.
constexpr FailureText kTexts[] = {
    {StartUpFailure::kCom,
     L"COM を初期化できないため、ショートカットのリンク先をたどれません。ファイル属性は変更せずに終了します。",
     kExitCannotStart},
    {StartUpFailure::kOle, L"ドラッグ＆ドロップの準備ができないため、起動できませんでした。", kExitCannotStart},
    {StartUpFailure::kMainWindow, L"メインウィンドウを作れないため、起動できませんでした。", kExitCannotStart},
    {StartUpFailure::kOutOfMemory, L"メモリが足りないため、rivak を終了します。", kExitUnexpected},
    {StartUpFailure::kUnexpected, L"予期しないエラーが起きたため、rivak を終了します。", kExitUnexpected},
};

}  // namespace

int ReportStartUpFailure(StartUpFailure failure) {
    const FailureText* said = &kTexts[std::size(kTexts) - 1];  // the unexpected error
    for (const FailureText& t : kTexts) {
        if (t.failure == failure) said = &t;
    }
    MessageBoxW(nullptr, said->text, L"rivak", MB_OK | MB_ICONERROR);
    return said->status;
}

}  // namespace rivak::ui
