#pragma once
// The boundary between the system and our code. Window, subclass and
// enumeration procedures and OLE methods are called from user32, comctl32
// and OLE frames that a C++ exception cannot unwind through: whatever throws
// below them (an allocation while wrapping a caption, say) stops here.
#include <utility>

namespace rivak::ui {

// `body()`, or `onThrow()` when it throws; nothing leaves.
template <class Body, class OnThrow>
auto Guarded(Body&& body, OnThrow&& onThrow) noexcept -> decltype(body()) {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return std::forward<OnThrow>(onThrow)();
    }
}

}  // namespace rivak::ui
