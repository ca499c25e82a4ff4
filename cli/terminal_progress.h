#pragma once
// The live count on standard error: only on a terminal, only once a batch
// has run for a second, at most ten times a second, erased before any other
// line and at the end.
#include <chrono>
#include <cstdio>

#include "cli/messages.h"
#include "engine/progress.h"

namespace rivak::cli {

class TerminalProgress final : public ProgressDisplay {
public:
    // On a terminal, Ctrl-C (SIGINT) and SIGTERM erase the count before the
    // program ends by them.
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
