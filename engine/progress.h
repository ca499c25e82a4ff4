#pragma once
#include "engine/native_string.h"

namespace rivak {

// The progress window as a batch sees it.
class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    virtual void Show() = 0;
    virtual void SetCounter(const NativeString& text) = 0;
    // Draws the counter at once: the batch keeps the thread busy, so nothing
    // would be drawn otherwise.
    virtual void RepaintCounter() = 0;
    virtual void Hide() = 0;
};

}  // namespace rivak
