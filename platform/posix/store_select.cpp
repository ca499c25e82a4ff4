// Which store a mount gets: from the file-system type fstatfs gives for an
// open entry of it, and for FUSE from what the driver answers.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>

#include <cstdint>
#include <fstream>
#include <sstream>

#include "platform/posix/attribute_store.h"
#include "platform/posix/entry_calls.h"

namespace rivak::posix {

namespace {

constexpr std::uint32_t kMsdos = 0x4d44;
constexpr std::uint32_t kExfat = 0x2011bab0;
constexpr std::uint32_t kNtfs3 = 0x7366746e;
constexpr std::uint32_t kOldNtfs = 0x5346544e;  // the read-only driver before 6.9: no word to set
constexpr std::uint32_t kCifs = 0xff534d42;
constexpr std::uint32_t kSmb2 = 0xfe534d42;
constexpr std::uint32_t kFuse = 0x65735546;
// fstatfs failed: no store that writes, since a guess could put
// user.DOSATTRIB on an NTFS volume.
constexpr std::uint32_t kUntold = 0;

// A mountinfo field, with the octal escapes of blanks and backslashes undone.
std::string Unescape(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                out += static_cast<char>(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

// The mount point and type of the mount that holds `fd`.
void NameMount(int fd, ChosenStore& chosen) {
    struct statx sx;
    if (statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &sx) != 0 || !(sx.stx_mask & STATX_MNT_ID)) return;
    std::ifstream in("/proc/self/mountinfo");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::uint64_t id = 0;
        std::string parent, devno, root, point, field;
        if (!(fields >> id >> parent >> devno >> root >> point) || id != sx.stx_mnt_id) continue;
        while (fields >> field && field != "-") {}
        std::string type;
        fields >> type;
        chosen.mountPoint = Unescape(point);
        chosen.type = type;
        return;
    }
}

}  // namespace

// `fd` may be an O_PATH descriptor.
ChosenStore SelectStore(int fd, const StoreSettings& settings) {
    ChosenStore chosen;
    NameMount(fd, chosen);
    struct statfs fs;
    const std::uint32_t type = fstatfs(fd, &fs) == 0 ? static_cast<std::uint32_t>(fs.f_type) : kUntold;
    unsigned char probe[4];
    switch (type) {
    case kMsdos: chosen.store = FatStore(settings, false); break;
    case kExfat: chosen.store = FatStore(settings, true); break;
    case kNtfs3: chosen.store = NtfsStore(settings, false); break;
    case kCifs:
    case kSmb2: chosen.store = CifsStore(settings); break;
    case kUntold:
    case kOldNtfs: chosen.store = UnknownFuseStore(settings); break;
    case kFuse:
        // fuseblk shows no driver name; ntfs-3g is the one that answers this.
        if (GetAttr(fd, true, "system.ntfs_attrib_be", probe, sizeof probe) == 4) chosen.store = NtfsStore(settings, true);
        else chosen.store = UnknownFuseStore(settings);
        break;
    default: chosen.store = SambaWineStore(settings); break;
    }
    if (chosen.type.empty()) chosen.type = "?";
    return chosen;
}

}  // namespace rivak::posix
