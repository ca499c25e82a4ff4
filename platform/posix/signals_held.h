#pragma once
// Holds back the signals that end a run (Ctrl-C and the like) for as long
// as it lives, in the thread that made it; they are delivered after.
#include <signal.h>

namespace rivak::posix {

class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, signal);
        held_ = pthread_sigmask(SIG_BLOCK, &set, &before_) == 0;
    }
    ~SignalsHeld() {
        if (held_) pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t before_;
    bool held_ = false;
};

}  // namespace rivak::posix
