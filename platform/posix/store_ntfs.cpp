// NTFS: the attribute word of the file's standard information, which both
// drivers show as a 4-byte extended attribute: ntfs3 (kernel) as
// "system.ntfs_attrib" in host order, ntfs-3g (FUSE) as
// "system.ntfs_attrib_be" in big-endian order. The whole word is read and
// written back; never "system.dos_attrib" (one byte: it would drop the high
// bits), and never a "user." attribute (ntfs-3g makes it a named stream,
// junk for Windows).
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/attribute_store.h"
#include "platform/posix/entry_calls.h"
#include "platform/posix/file_system_posix.h"

namespace rivak::posix {

std::optional<std::uint32_t> ReadWordAttribute(const StoreEntry& e, const char* name, bool bigEndian,
                                              const StoreFailure& fail) {
    unsigned char b[4];
    RecordCache* kept = e.record;
    if (kept && kept->valid && kept->size == 4) {
        std::memcpy(b, kept->bytes.data(), 4);
    } else {
        const ssize_t n = GetAttr(e.fd, e.pathOnly, name, b, sizeof b);
        if (n != 4) {
            fail(Problem::Access, n < 0 ? errno : EINVAL);
            return std::nullopt;
        }
        if (kept) *kept = RecordCache{true, 4, 0, {b, b + 4}};
    }
    if (bigEndian) return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
    std::uint32_t word;
    std::memcpy(&word, b, 4);
    return word;
}

bool WriteWordAttribute(const StoreEntry& e, const char* name, std::uint32_t word, bool bigEndian,
                        const StoreFailure& fail) {
    unsigned char b[4];
    if (bigEndian) {
        for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(word >> (24 - 8 * i));
    } else {
        std::memcpy(b, &word, 4);
    }
    if (e.record) e.record->valid = false;  // what the volume kept is read again
    if (SetAttr(e.fd, e.pathOnly, name, b, sizeof b) == 0) return true;
    fail(Problem::Write, errno);
    return false;
}

namespace {

class Ntfs final : public AttributeStore {
public:
    Ntfs(const StoreSettings& s, bool ntfs3g)
        : settings_(s), name_(ntfs3g ? "system.ntfs_attrib_be" : "system.ntfs_attrib"), bigEndian_(ntfs3g) {}
    const char* Describe() const override { return bigEndian_ ? "NTFS attributes, ntfs-3g" : "NTFS attributes, ntfs3"; }

    std::optional<AttributeWord> Read(const StoreEntry& e, const StoreFailure& fail) override {
        return ReadWordAttribute(e, name_, bigEndian_, fail);
    }

    StoreOutcome Write(StoreEntry& e, AttributeWord before, AttributeWord want, const StoreFailure& fail) override {
        return MergeAndCommit(settings_, ReadWordAttribute(e, name_, bigEndian_, fail), before, want,
                              [&](std::uint32_t word) { return WriteWordAttribute(e, name_, word, bigEndian_, fail); });
    }

    const char* Kind() const override { return bigEndian_ ? "ntfs-3g" : "ntfs3"; }

    StoreOutcome Restore(StoreEntry& e, const SavedState& saved, const StoreFailure& fail) override {
        StoreOutcome out{false, false, saved.word};
        const std::optional<std::uint32_t> now = ReadWordAttribute(e, name_, bigEndian_, fail);
        if (!now) return out;
        out.touched = *now != saved.word;
        out.ok = !out.touched || settings_.dryRun || WriteWordAttribute(e, name_, saved.word, bigEndian_, fail);
        return out;
    }

private:
    StoreSettings settings_;
    const char* name_;
    bool bigEndian_;
};

}  // namespace

std::unique_ptr<AttributeStore> NtfsStore(const StoreSettings& settings, bool ntfs3g) {
    return std::make_unique<Ntfs>(settings, ntfs3g);
}

}  // namespace rivak::posix
