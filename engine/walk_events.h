#pragma once
// What a batch meets that the rivak.exe window has no place to show. A front
// end that shows it (rivak for Linux) gives the engine an observer.
#include "engine/native_string.h"

namespace rivak {

class WalkEvents {
public:
    virtual ~WalkEvents() = default;
    // An entry with the system attribute, named or met in a walk, that the
    // batch leaves as it is (the system setting is Keep).
    virtual void SystemFileLeftAlone(const Path& path) = 0;
};

}  // namespace rivak
