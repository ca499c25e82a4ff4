#pragma once
// The live count on standard error: only on a terminal, only once a batch
// has run for a second, at most ten times a second, erased before any other
// line and at the end.
#include <atomic>
#include <chrono>
#include <cstdio>

#include "cli/messages.h"
#include "engine/progress.h"

namespace rivak::cli {

// Ctrl-C (SIGINT) and SIGTERM: within a StopWindow the first one asks the
// batch to stop at the next entry (Asked), so that what was done is told;
// otherwise, or the second time, they erase the count and end the program.
void HandleStopSignals();
class StopWindow {
public:
    StopWindow();
    ~StopWindow();
    StopWindow(const StopWindow&) = delete;
    StopWindow& operator=(const StopWindow&) = delete;
    static const std::atomic<bool>& Asked();
};
// Ends the program by the signal that asked it to stop.
[[noreturn]] void DieByStopSignal();
// For the batch's worker threads: the signals go to the main thread.
void KeepStopSignalsForMainThread();

class TerminalProgress final : public ProgressDisplay {
public:
    TerminalProgress(std::FILE* out, bool terminal, Language language);
    void Show() override;
    void SetCounter(const NativeString& text) override { counter_ = text; }
    void RepaintCounter() override;
    void Hide() override;
    // Takes the count off the line, to print something else there; the next
    // count comes back as usual.
    void Erase();

private:
    using Clock = std::chrono::steady_clock;
    std::FILE* out_;
    bool terminal_;
    Language language_;
    NativeString counter_;
    Clock::time_point start_{}, last_{};
    bool drawn_ = false;
    unsigned skipped_ = 0;
};

}  // namespace rivak::cli
