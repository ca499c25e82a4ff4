#pragma once
// Who reads the DOS attributes of a folder on Linux's own file systems:
// smbd in the folders a share serves, Wine below a prefix's drives, and
// anywhere else both. A tree is known by the device and inode of its top
// folder, each resolved once at the start; an entry belongs to the nearest
// tree above it, found by climbing "..", and each folder's answer is kept.
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/posix/samba_config.h"

namespace rivak::posix {

struct StoreEntry;
struct StoreFolder;

struct Reader {
    enum class Kind { Samba, Wine };
    Kind kind = Kind::Samba;
    std::string name;  // the share's name, or the prefix's folder
    std::string root;  // the tree's top folder, as configured
    ShareRule rule;    // Samba's
};

class Readers {
public:
    // Shares rivak cannot match, or whose rule depends on the user, are left
    // out and told in the notes returned.
    std::vector<SambaNote> AddShares(const std::vector<SambaShare>& shares);
    // The prefix's drive_c and every drive letter of its dosdevices other than "/".
    void AddWinePrefix(const std::string& prefix);
    // Called the first time an entry of a tree is met.
    void OnFirstEntry(std::function<void(const Reader&)> told) { told_ = std::move(told); }

    // The reader of the entry `e` (nullptr: both). `holder` is the folder that
    // holds it; without one, it is found from the entry itself.
    const Reader* Of(const StoreEntry& e, const StoreFolder& holder);

private:
    struct Id {
        dev_t dev = 0;
        ino_t ino = 0;
        bool operator==(const Id&) const = default;
    };
    struct IdHash {
        std::size_t operator()(const Id& id) const { return std::hash<ino_t>()(id.ino) * 31 + id.dev; }
    };
    bool AddRoot(const std::string& path, Reader reader, int& error);
    const Reader* Above(int folderFd, Id folder);
    const Reader* Tell(const Reader* reader);

    std::vector<std::unique_ptr<Reader>> readers_;
    std::unordered_map<Id, const Reader*, IdHash> roots_;
    std::unordered_map<Id, const Reader*, IdHash> folders_;  // folders met, and their reader
    std::vector<const Reader*> toldOf_;
    std::function<void(const Reader&)> told_;
};

}  // namespace rivak::posix
