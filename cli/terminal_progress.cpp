#include "cli/terminal_progress.h"

namespace rivak::cli {

void TerminalProgress::Show() {
    start_ = Clock::now();
    drawn_ = false;
    skipped_ = 0;
}

void TerminalProgress::RepaintCounter() {
    if (!terminal_) return;
    // The clock is asked every 64th entry only: a count of a million entries
    // costs nothing.
    if (++skipped_ % 64 != 0) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::seconds(1) || (drawn_ && now - last_ < std::chrono::milliseconds(100))) return;
    last_ = now;
    drawn_ = true;
    std::fprintf(out_, "\r\033[K%s", Format(language_, Text::Counter, {counter_}).c_str());
    std::fflush(out_);
}

void TerminalProgress::Hide() { Erase(); }

void TerminalProgress::Erase() {
    if (!drawn_) return;
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
    drawn_ = false;
}

}  // namespace rivak::cli
