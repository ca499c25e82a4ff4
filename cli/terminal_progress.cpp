#include "cli/terminal_progress.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace rivak::cli {

namespace {

constexpr char kEraseLine[] = "\r\033[K";

// What the handler of Ctrl-C needs: where the count is, and whether it is
// there now.
int countFd = -1;
volatile sig_atomic_t countShown = 0;

void WriteAll(int fd, const char* text, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, text, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a terminal gone: nothing more to draw on it
        text += n;
        size -= static_cast<std::size_t>(n);
    }
}

// While a batch runs, the first signal asks it to stop at the next entry.
volatile sig_atomic_t stopping = 0;
volatile sig_atomic_t stopSignal = 0;
constexpr unsigned kStopGraceSeconds = 2;
std::atomic<bool> stopAsked{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Takes the count off the terminal, then ends the program by the same
// signal, its handler reset first, so the exit status is the signal's, as
// without a handler. Only async-signal-safe calls.
extern "C" [[noreturn]] void EraseAndDie(int signal) {
    if (countShown) {
        const ssize_t ignored = write(countFd, kEraseLine, sizeof kEraseLine - 1);
        (void)ignored;
    }
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
    _exit(128 + signal);
}

// A second signal, or one outside a batch, ends the program at once.
extern "C" void StopOrDie(int signal) {
    if (!stopping || stopAsked.load()) EraseAndDie(signal);
    stopSignal = signal;
    stopAsked.store(true);
    // A batch held up (a reader that stopped reading, a share that stopped
    // answering) would never reach the next entry: it gets a moment.
    alarm(kStopGraceSeconds);
}

extern "C" void StopTooLate(int) { EraseAndDie(stopSignal ? stopSignal : SIGINT); }

}  // namespace

void HandleStopSignals() {
    struct sigaction late = {};
    late.sa_handler = StopTooLate;
    sigemptyset(&late.sa_mask);
    sigaction(SIGALRM, &late, nullptr);
    for (const int signal : {SIGINT, SIGTERM}) {
        struct sigaction old;
        // A signal the caller ignores (a job started with &) stays ignored.
        if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
        struct sigaction action = {};
        action.sa_handler = StopOrDie;
        action.sa_flags = SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

StopWindow::StopWindow() { stopping = 1; }
StopWindow::~StopWindow() { stopping = 0; }
const std::atomic<bool>& StopWindow::Asked() { return stopAsked; }

void DieByStopSignal() { EraseAndDie(stopSignal ? stopSignal : SIGINT); }

void KeepStopSignalsForMainThread() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, signal);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

namespace {

}  // namespace

TerminalProgress::TerminalProgress(std::FILE* out, bool terminal, Language language)
    : out_(out), terminal_(terminal), language_(language) {
    if (!terminal_) return;
    countFd = fileno(out_);
}

void TerminalProgress::Show() {
    start_ = Clock::now();
    last_ = {};
    drawn_ = false;
    skipped_ = 0;
}

void TerminalProgress::RepaintCounter() {
    if (!terminal_) return;
    // The clock is asked every 64th entry only: a count of a million entries
    // costs nothing.
    if (++skipped_ % 64 != 0) return;
    const Clock::time_point now = Clock::now();
    // Erased for a line of output, it comes back at the same pace.
    if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    drawn_ = true;
    // Marked before it is drawn, and drawn in one write: Ctrl-C at any
    // moment finds a whole count to erase, or a line erased anew.
    const std::string line = kEraseLine + Format(language_, Text::Counter, {counter_});
    std::fflush(out_);
    countShown = 1;
    WriteAll(countFd, line.data(), line.size());
}

void TerminalProgress::Hide() { Erase(); }

void TerminalProgress::Erase() {
    if (!drawn_) return;
    WriteAll(countFd, kEraseLine, sizeof kEraseLine - 1);
    countShown = 0;
    drawn_ = false;
}

}  // namespace rivak::cli
