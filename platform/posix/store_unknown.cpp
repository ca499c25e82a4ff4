// A FUSE file system with no place for DOS attributes that rivak knows
// (fusefat, exfat-fuse, sshfs...): some answer a chmod with success and
// change nothing, so nothing is tried. Every change the run asks for is
// reported as not storable, the first one on the mount so that it is told
// (the rest are counted); the word shown is only what the mode says.
#include "platform/posix/attribute_store.h"
#include "platform/posix/file_system_posix.h"

namespace rivak::posix {

namespace {

class UnknownFuse final : public AttributeStore {
public:
    explicit UnknownFuse(const StoreSettings& s) : settings_(s) {}
    const char* Describe() const override { return "no known place for DOS attributes"; }
    bool Knows() const override { return false; }

    std::optional<AttributeWord> Read(const StoreEntry& e, const StoreFailure&) override {
        return e.folder ? attr::kDirectory : AttributeWord{0};
    }

    // Nothing is ever changed here, so nothing is saved.
    std::optional<AttributeWord> ReadSaving(const StoreEntry& e, const StoreFailure& fail,
                                            std::optional<SavedState>&) override {
        return Read(e, fail);
    }

    StoreOutcome Write(StoreEntry&, AttributeWord before, AttributeWord, const StoreFailure& fail) override {
        StoreOutcome out;
        out.planned = before;
        if (settings_.changeReadOnly || settings_.changeHidden) {
            fail(told_ ? Problem::NotStorableAgain : Problem::NotStorable, 0);
            told_ = true;
            out.ok = false;
        }
        return out;
    }

private:
    StoreSettings settings_;
    bool told_ = false;  // one store a mount
};

}  // namespace

// A store that keeps no word rivak knows saves nothing, so has nothing to give back.
StoreOutcome AttributeStore::Restore(StoreEntry&, const SavedState&, const StoreFailure& fail) {
    fail(Problem::NotStorable, 0);
    return StoreOutcome{false, false, 0};
}

std::unique_ptr<AttributeStore> UnknownFuseStore(const StoreSettings& settings) {
    return std::make_unique<UnknownFuse>(settings);
}

}  // namespace rivak::posix
