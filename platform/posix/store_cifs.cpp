// An SMB share mounted by the kernel's client (cifs, smb3): the attributes
// the server keeps, as "user.cifs.dosattrib" (4 bytes, host order; setting
// needs Linux 5.6). The client sends the whole word, where 0 means "leave
// as it is": a word with nothing in it goes as NORMAL (0x80). A server may
// answer yes and keep the old word, so the word is read back.
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
    bool ReadsBack() const override { return true; }

    std::optional<AttributeWord> Read(const StoreEntry& e, const StoreFailure& fail) override {
        return ReadWordAttribute(e, kName, false, fail);
    }

    StoreOutcome Write(StoreEntry& e, AttributeWord before, AttributeWord want, const StoreFailure& fail) override {
        const AttributeWord bits = WrittenBits(settings_, before, want);
        return MergeAndCommit(
            settings_, ReadWordAttribute(e, kName, false, fail), before, want,
            [&](std::uint32_t word) { return Put(e, word, bits, fail); }, kNormal);
    }

    const char* Kind() const override { return "cifs"; }

    StoreOutcome Restore(StoreEntry& e, const SavedState& saved, const StoreFailure& fail) override {
        StoreOutcome out{false, false, saved.word};
        const std::optional<std::uint32_t> now = ReadWordAttribute(e, kName, false, fail);
        if (!now) return out;
        out.ok = true;
        if ((*now & ~kNormal) == (saved.word & ~kNormal)) return out;
        out.touched = true;
        out.ok = settings_.dryRun || Put(e, saved.word & ~kNormal ? saved.word : kNormal, ~kNormal, fail);
        return out;
    }

private:
    // Sends `word` and reads it back: the server must have kept `bits` of it.
    bool Put(StoreEntry& e, std::uint32_t word, std::uint32_t bits, const StoreFailure& fail) {
        if (!WriteWordAttribute(e, kName, word, false, fail)) return false;
        const std::optional<std::uint32_t> now = ReadWordAttribute(e, kName, false, fail);
        if (now && ((*now ^ word) & bits)) fail(Problem::NotKept, 0);
        return now && !((*now ^ word) & bits);
    }

    StoreSettings settings_;
};

}  // namespace

std::unique_ptr<AttributeStore> CifsStore(const StoreSettings& settings) { return std::make_unique<Cifs>(settings); }

}  // namespace rivak::posix
