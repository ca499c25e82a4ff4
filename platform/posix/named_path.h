#pragma once
// Paths resolved by their names, the two ways a run as root may follow
// them when other users can write on the way.
//
// Below a folder: a shortcut's target, or what another user's link points
// to, is reached from the folder's descriptor without following any link
// and without climbing above it.
//
// A path the user named: its links are followed as chmod follows them, but
// as root, one that belongs to another user (neither root nor the caller)
// only below the folder that holds it, as the kernel's protected_symlinks
// reasons for sticky folders: that user could have planted it there.
#include <sys/types.h>

#include <string>

#include "platform/posix/unique_fd.h"

namespace rivak::posix {

enum class Reach { Inside, Outside, Missing };

// `rest` below the folder `root`; Inside gives its descriptor (O_PATH) in
// `found`. The kernel checks it where it can (openat2), else name by name.
Reach OpenBeneath(int root, const std::string& rest, UniqueFd& found);

struct LinkOwners {
    bool guarded = false;  // false: every link is followed (not root, or --follow-outside)
    uid_t caller = 0;      // whose links root trusts besides its own
    bool Trusts(uid_t owner) const { return !guarded || owner == 0 || owner == caller; }
};

// `path` opened with O_PATH, its links followed by that rule; -1 with errno,
// EXDEV where another user's link would lead out of the folder holding it.
UniqueFd OpenNamed(const std::string& path, const LinkOwners& owners);

}  // namespace rivak::posix
