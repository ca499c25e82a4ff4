// An SMB share mounted by the kernel's client (cifs, smb3): the attributes
// the server keeps, as "user.cifs.dosattrib" (4 bytes, host order; setting
// needs Linux 5.6). The client sends the whole word, where 0 means "leave
// as it is": a word with nothing in it goes as NORMAL (0x80). A server may
// answer yes and keep the old word, so the word is read back.
#include <cerrno>

#include "platform/posix/attribute_store.h"
#include "platform/posix/file_system_posix.h"

namespace rivak::posix {

namespace {

constexpr std::uint32_t kNormal = 0x80;
constexpr char kName[] = "user.cifs.dosattrib";

class Cifs final : public AttributeStore {
public:
    explicit Cifs(const StoreSettings& s) : settings_(s) {}
    const char* Describe() const override { return "attributes on the SMB server"; }

    std::optional<AttributeWord> Read(const StoreEntry& e, const StoreFailure& fail) override {
        int error = 0;
        const std::optional<std::uint32_t> word = GetWordAttribute(e.fd, kName, false, error);
        if (!word) fail(Problem::Access, error);
        return word;
    }

    StoreOutcome Write(StoreEntry& e, AttributeWord before, AttributeWord want, const StoreFailure& fail) override {
        StoreOutcome out;
        out.planned = before;
        int error = 0;
        const std::optional<std::uint32_t> old = GetWordAttribute(e.fd, kName, false, error);
        if (!old) {
            fail(Problem::Access, error);
            out.ok = false;
            return out;
        }
        const AttributeWord bits = WrittenBits(settings_, before, want);
        std::uint32_t word = (*old & ~(bits | kNormal)) | (want & bits);
        if (word == 0) word = kNormal;
        out.planned = word;
        if ((word & ~kNormal) == (*old & ~kNormal)) return out;
        out.touched = true;
        if (settings_.dryRun) return out;
        if (!SetWordAttribute(e.fd, kName, word, false, error)) {
            fail(Problem::Write, error);
            out.ok = false;
            return out;
        }
        const std::optional<std::uint32_t> now = GetWordAttribute(e.fd, kName, false, error);
        if (!now || ((*now ^ word) & bits)) {
            fail(Problem::NotKept, now ? 0 : error);
            out.ok = false;
        }
        return out;
    }

private:
    StoreSettings settings_;
};

}  // namespace

std::unique_ptr<AttributeStore> CifsStore(const StoreSettings& settings) { return std::make_unique<Cifs>(settings); }

}  // namespace rivak::posix
