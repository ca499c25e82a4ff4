// FAT (vfat, msdos) and exFAT through the kernel: the directory entry's own
// attribute byte, through FAT_IOCTL_GET/SET_ATTRIBUTES on a descriptor of the
// entry (files and folders). exFAT has them from Linux 6.7; before, it
// answers ENOTTY and only read-only of a file can go through the mode.
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>

#include "platform/posix/attribute_store.h"
#include "platform/posix/file_system_posix.h"

namespace rivak::posix {

namespace {

constexpr ino_t kFatRootIno = 1;  // MSDOS_ROOT_INO, and EXFAT_ROOT_INO

class Fat final : public AttributeStore {
public:
    Fat(const StoreSettings& s, bool exfat) : settings_(s), exfat_(exfat) {}
    const char* Describe() const override { return exfat_ ? "exFAT attributes" : "FAT attributes"; }
    bool Opens() const override { return true; }
    bool ReadsBack() const override { return true; }  // exFAT drivers have dropped bits on folders
    // Without the ioctls only read-only of a file shows (in the mode).
    bool Knows() const override { return !noIoctl_; }

    std::optional<AttributeWord> Read(const StoreEntry& e, const StoreFailure& fail) override {
        if (!noIoctl_) {
            std::uint32_t word = 0;
            if (ioctl(e.fd, FAT_IOCTL_GET_ATTRIBUTES, &word) == 0) return word;
            if (errno != ENOTTY) {
                fail(Problem::Access, errno);
                return std::nullopt;
            }
            noIoctl_ = true;
        }
        // What the mode shows: the driver maps read-only of a file to it.
        if (e.folder) return attr::kDirectory;
        return (e.mode & 0222) == 0 ? attr::kReadOnly : 0;
    }

    StoreOutcome Write(StoreEntry& e, AttributeWord before, AttributeWord want, const StoreFailure& fail) override {
        StoreOutcome out;
        out.planned = before;
        const AttributeWord bits = WrittenBits(settings_, before, want);
        const AttributeWord change = (before ^ want) & bits;
        // The root folder has no directory entry, so no attributes: the kernel
        // refuses them (vfat) or would keep them nowhere.
        if (e.ino == kFatRootIno) {
            if (change) {
                fail(Problem::VolumeRoot, 0);
                out.ok = false;
            }
            return out;
        }
        if (noIoctl_) return WriteMode(e, before, want, fail);
        std::uint32_t old = 0;
        if (ioctl(e.fd, FAT_IOCTL_GET_ATTRIBUTES, &old) != 0) {
            fail(Problem::Access, errno);
            out.ok = false;
            return out;
        }
        return MergeAndCommit(settings_, old, before, want, [&](std::uint32_t word) { return SetWord(e, old, word, fail); });
    }

    const char* Kind() const override { return noIoctl_ ? "exfat-mode" : exfat_ ? "exfat" : "fat"; }

    StoreOutcome Restore(StoreEntry& e, const SavedState& saved, const StoreFailure& fail) override {
        StoreOutcome out;
        out.planned = saved.word;
        if (noIoctl_) {
            const mode_t mode = (e.mode & ~0222) | (saved.mode & 0222);
            if (mode == e.mode) return out;
            out.touched = true;
            if (!settings_.dryRun && fchmod(e.fd, mode) != 0) {
                fail(Problem::Write, errno);
                out.ok = false;
            }
            return out;
        }
        std::uint32_t now = 0;
        if (ioctl(e.fd, FAT_IOCTL_GET_ATTRIBUTES, &now) != 0) {
            fail(Problem::Access, errno);
            out.ok = false;
            return out;
        }
        out.touched = now != saved.word;
        if (out.touched && !settings_.dryRun) out.ok = SetWord(e, now, saved.word, fail);
        return out;
    }

private:
    bool SetWord(StoreEntry& e, std::uint32_t old, std::uint32_t word, const StoreFailure& fail) {
        if (ioctl(e.fd, FAT_IOCTL_SET_ATTRIBUTES, &word) == 0) return true;
        // exFAT always, and FAT mounted with sys_immutable, guard the
        // system bit (old or new) with CAP_LINUX_IMMUTABLE.
        const int error = errno;
        fail(error == EPERM && ((old | word) & attr::kSystem) ? Problem::NeedsImmutable : Problem::Write, error);
        return false;
    }

    StoreOutcome WriteMode(StoreEntry& e, AttributeWord before, AttributeWord want, const StoreFailure& fail) {
        StoreOutcome out;
        out.planned = before;
        // Hidden cannot be read either: whatever the run asks of it is not done.
        if (settings_.changeHidden || ((before ^ want) & (attr::kHidden | attr::kSystem | attr::kArchive))) {
            fail(Problem::HiddenNotStorable, ENOTTY);
            out.ok = false;
        }
        if (!((before ^ want) & attr::kReadOnly)) return out;
        if (e.folder) {
            fail(Problem::FolderReadOnlyNotStorable, ENOTTY);
            out.ok = false;
            return out;
        }
        const mode_t mode = want & attr::kReadOnly ? e.mode & ~0222 : e.mode | (0222 & ~settings_.umask) | 0200;
        out.touched = true;
        out.planned ^= attr::kReadOnly;
        if (settings_.dryRun) return out;
        if (fchmod(e.fd, mode) != 0) {
            fail(Problem::Write, errno);
            out.ok = false;
        }
        return out;
    }

    StoreSettings settings_;
    bool exfat_;
    // The driver answered ENOTTY once: it has none. Read on the save file's
    // thread too (--save), as changes are made there.
    std::atomic<bool> noIoctl_ = false;
};

}  // namespace

std::unique_ptr<AttributeStore> FatStore(const StoreSettings& settings, bool exfat) {
    return std::make_unique<Fat>(settings, exfat);
}

}  // namespace rivak::posix
