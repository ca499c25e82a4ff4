// Linux file systems of their own (ext4, xfs, btrfs, tmpfs...): the
// attributes as Samba and Wine keep them there, each tree as its reader
// reads it (readers.h):
//   - hidden, system and archive in "user.DOSATTRIB" (hex text or Samba's
//     NDR record); a dot name is hidden whatever the value says (to Wine,
//     and to smbd unless the share says "hide dot files = no");
//   - read-only in a share as its smbd keeps it: in the value alone, or with
//     "store dos attributes = no" as the owner's write bit where "map
//     readonly = yes" and nowhere otherwise; in a Wine prefix as a mode with
//     no write bit; elsewhere in both, read-only where both say so (one of
//     them alone is kReadOnlyToOne), and a change brings both. Wine reads
//     hidden and system from a hex value only (never Samba's record) and
//     shows every file as archive.
// A folder's mode is changed only to clear read-only where its reader takes
// it from the mode alone (elsewhere a folder with no write bit at all is
// read-only to Wine only); giving write back gives the owner's write bit alone.
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <unordered_map>
#include <vector>

#include "platform/posix/attribute_store.h"
#include "platform/posix/dosattrib.h"
#include "platform/posix/entry_calls.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/readers.h"
#include "platform/posix/signals_held.h"

namespace rivak::posix {

namespace {

constexpr AttributeWord kFromValue = attr::kHidden | attr::kSystem | attr::kArchive;
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// How one reader keeps the attributes.
struct Rule {
    enum class ReadOnly {
        Both,        // elsewhere: the value (Samba) and no write bit (Wine)
        Value,       // smbd storing DOS attributes: the value alone
        OwnerWrite,  // smbd without them, mapping read-only: no owner write bit
        NoWriteBit,  // Wine
        Unseen,      // smbd without them, not mapping it: no client sees it
    };
    ReadOnly readOnly = ReadOnly::Both;
    bool value = true;         // hidden, system and archive in user.DOSATTRIB
    bool hiddenByName = true;  // a dot name is hidden whatever is stored
    // Without the value, smbd maps these to the execute bits.
    bool mapArchive = false, mapSystem = false, mapHidden = false;
};

Rule RuleOf(const Reader* reader) {
    Rule rule;
    if (!reader) return rule;
    if (reader->kind == Reader::Kind::Wine) {
        rule.readOnly = Rule::ReadOnly::NoWriteBit;
        return rule;
    }
    const ShareRule& share = reader->rule;
    rule.hiddenByName = share.hideDotFiles;
    // smbd reads the mode only where it keeps no value, whatever "map readonly" says.
    if (share.storeDosAttributes) {
        rule.readOnly = Rule::ReadOnly::Value;
        return rule;
    }
    rule.value = false;
    const bool mapped = share.mapReadOnly == ShareRule::MapReadOnly::Yes;
    rule.readOnly = mapped ? Rule::ReadOnly::OwnerWrite : Rule::ReadOnly::Unseen;
    rule.mapArchive = share.mapArchive;
    rule.mapSystem = share.mapSystem;
    rule.mapHidden = share.mapHidden;
    return rule;
}

struct Value {
    enum class State { None, Present, Unparsable, Unreadable, Unsupported };
    State state = State::None;
    std::vector<unsigned char> raw;
    DosAttrib parsed;
    int error = 0;
    std::uint32_t Bits() const { return state == State::Present ? parsed.attributes : 0; }
};

Value ReadValue(const StoreEntry& e) {
    Value v;
    RecordCache own;
    RecordCache& read = e.record ? *e.record : own;
    if (!read.valid) {
        unsigned char buffer[256];
        ssize_t n = GetAttr(e.fd, e.pathOnly, kDosAttribName, buffer, sizeof buffer);
        if (n >= 0) {
            read.bytes.assign(buffer, buffer + n);
        } else if (errno == ERANGE) {
            // Larger than any record Samba writes; read it whole all the same.
            const ssize_t size = GetAttr(e.fd, e.pathOnly, kDosAttribName, nullptr, 0);
            if (size > 0) {
                read.bytes.resize(static_cast<std::size_t>(size));
                n = GetAttr(e.fd, e.pathOnly, kDosAttribName, read.bytes.data(), read.bytes.size());
                if (n >= 0) read.bytes.resize(static_cast<std::size_t>(n));
            }
        }
        read.size = n;
        read.error = n >= 0 ? 0 : errno;
        read.valid = true;
    }
    if (read.size >= 0) {
        v.raw = read.bytes;
        std::optional<DosAttrib> parsed = ParseDosAttrib(v.raw);
        v.state = parsed ? Value::State::Present : Value::State::Unparsable;
        if (parsed) v.parsed = *parsed;
    } else if (read.error == ENODATA) {
        v.state = Value::State::None;
    } else if (read.error == ENOTSUP) {
        v.state = Value::State::Unsupported;
    } else {
        v.error = read.error;
        v.state = Value::State::Unreadable;
    }
    return v;
}

bool ValueProblem(const Value& v, const StoreFailure& fail) {
    if (v.state == Value::State::Unparsable) fail(Problem::UnreadableRecord, 0);
    else if (v.state == Value::State::Unreadable) fail(Problem::Access, v.error);
    else return false;
    return true;
}

class SambaWine final : public AttributeStore {
public:
    SambaWine(const StoreSettings& s, Rule rule) : settings_(s), rule_(rule) {}
    const char* Describe() const override { return "Samba/Wine user.DOSATTRIB"; }

    std::optional<AttributeWord> Read(const StoreEntry& e, const StoreFailure& fail) override {
        const Value v = rule_.value ? ReadValue(e) : Value{};
        if (ValueProblem(v, fail)) return std::nullopt;
        return WordOf(e, v);
    }

    StoreOutcome Write(StoreEntry& e, AttributeWord before, AttributeWord want, const StoreFailure& fail) override {
        const Value v = rule_.value ? ReadValue(e) : Value{};
        StoreOutcome out;
        if (ValueProblem(v, fail)) {
            out.ok = false;
            return out;
        }
        const AttributeWord bits = WrittenBits(settings_, before, want);
        AttributeWord refused = 0;  // asked for, and left as they were
        const auto refuse = [&](AttributeWord bit, Problem problem, int error) {
            fail(problem, error);
            refused |= bit;
        };
        const bool stored = rule_.value && v.state != Value::State::Unsupported;
        // A dot name stays hidden whatever is stored: told once, below.
        const bool byName = e.dotName && rule_.hiddenByName && (bits & attr::kHidden) && !(want & attr::kHidden);
        const mode_t mode = e.mode;
        const mode_t target = TargetMode(e, bits, before, want, stored, refuse);
        AttributeWord lost = stored ? 0 : (before ^ want) & bits & kFromValue & ~MappedBits(e);
        if (rule_.value) {
            if (lost) refuse(lost, Problem::HiddenNotStorable, ENOTSUP);  // no user attributes here
        } else if ((lost &= ~(byName ? attr::kHidden : 0))) {
            refuse(lost, Problem::NotKeptInShare, 0);
        }
        bool ok = true;
        if (stored) {
            // Wine reads no read-only from the value: it stays as it is there.
            const bool wine = rule_.readOnly == Rule::ReadOnly::NoWriteBit;
            const AttributeWord kept = bits & ~refused & ~(wine ? attr::kReadOnly : 0u);
            std::uint32_t x = (v.Bits() & ~kept) | (want & kept);
            if (e.folder && x != 0 && x != v.Bits()) x |= attr::kDirectory;  // as Samba writes a folder's value
            // Write bits given back come first, taken away last: the value
            // is written while the entry can be written.
            if ((target & ~mode & kWriteBits) != 0) ok = Chmod(e, target, out, fail);
            if (ok) ok = WriteValue(e, v, x, out, fail);
        }
        if (ok && target != e.mode) ok = Chmod(e, target, out, fail);

        out.planned = (before & ~bits) | (want & bits);
        out.planned = (out.planned & ~refused) | (before & refused);
        if (e.folder && rule_.readOnly == Rule::ReadOnly::Both) {
            out.planned &= ~kReadOnlyToOne;
            if (!(out.planned & attr::kReadOnly) && (target & kWriteBits) == 0) out.planned |= kReadOnlyToOne;
        } else if ((bits & attr::kReadOnly) && !(refused & attr::kReadOnly)) {
            out.planned &= ~kReadOnlyToOne;  // both agree now
        }
        if (!ok) out.planned = before;
        if (byName && !(refused & attr::kHidden)) {
            fail(Problem::HiddenByName, 0);
            out.planned |= attr::kHidden;
            ok = false;
        }
        out.ok = ok && refused == 0;
        return out;
    }

    const char* Kind() const override { return "samba-wine"; }

    // A share whose smbd keeps no value has its value left alone by every
    // change: only the mode is saved there.
    std::optional<AttributeWord> ReadSaving(const StoreEntry& e, const StoreFailure& fail,
                                            std::optional<SavedState>& saved) override {
        Value v = rule_.value ? ReadValue(e) : Value{};
        if (ValueProblem(v, fail)) return std::nullopt;
        const AttributeWord word = WordOf(e, v);
        const SavedState::Record record = rule_.value ? RecordOf(v) : SavedState::Record::NotKept;
        saved = SavedState{word, e.mode, record, std::move(v.raw)};
        return word;
    }

    // The record's very bytes (or none), then the mode: the record may need
    // the write bit the mode is about to lose (SetValue lends it otherwise).
    StoreOutcome Restore(StoreEntry& e, const SavedState& saved, const StoreFailure& fail) override {
        StoreOutcome out;
        out.planned = saved.word;
        const Value v = saved.record == SavedState::Record::NotKept ? Value{} : ReadValue(e);
        if (v.state == Value::State::Unreadable) {
            fail(Problem::Access, v.error);
            out.ok = false;
            return out;
        }
        const SavedState::Record now = RecordOf(v);
        const bool sameRecord = now == saved.record && v.raw == saved.bytes;
        if (!sameRecord && saved.record != SavedState::Record::NoXattrs && saved.record != SavedState::Record::NotKept)
            out.ok = SetValue(e, saved.record == SavedState::Record::Present ? &saved.bytes : nullptr, out, fail);
        if (out.ok && e.mode != saved.mode) out.ok = Chmod(e, saved.mode, out, fail);
        return out;
    }

private:
    static SavedState::Record RecordOf(const Value& v) {
        switch (v.state) {
        case Value::State::None: return SavedState::Record::None;
        case Value::State::Unsupported: return SavedState::Record::NoXattrs;
        default: return SavedState::Record::Present;
        }
    }

    AttributeWord WordOf(const StoreEntry& e, const Value& v) const {
        const std::uint32_t x = v.Bits();
        AttributeWord word = (x & kFromValue) | Mapped(e);
        // Wine reads hidden and system from a hex value only, and shows every file as archive.
        if (rule_.readOnly == Rule::ReadOnly::NoWriteBit)
            word = (v.parsed.form == DosAttrib::Form::Hex ? x & (attr::kHidden | attr::kSystem) : 0) |
                   (e.folder ? 0 : attr::kArchive);
        const bool noWriteBit = (e.mode & kWriteBits) == 0;
        switch (rule_.readOnly) {
        case Rule::ReadOnly::Both:
            if (e.folder) {
                // Its mode is never changed here: no write bit at all is Wine's read-only alone.
                word |= x & attr::kReadOnly ? attr::kReadOnly : noWriteBit ? kReadOnlyToOne : 0;
            } else {
                // Without user attributes, only the mode holds it: nothing to disagree with.
                const bool inValue = v.state == Value::State::Unsupported ? noWriteBit : (x & attr::kReadOnly) != 0;
                if (inValue && noWriteBit) word |= attr::kReadOnly;
                else if (inValue || noWriteBit) word |= kReadOnlyToOne;
            }
            break;
        case Rule::ReadOnly::Value: word |= x & attr::kReadOnly; break;
        case Rule::ReadOnly::OwnerWrite:
            if (!(e.mode & S_IWUSR)) word |= attr::kReadOnly;
            break;
        case Rule::ReadOnly::NoWriteBit:
            if (noWriteBit) word |= attr::kReadOnly;
            break;
        case Rule::ReadOnly::Unseen: break;
        }
        if (e.dotName && rule_.hiddenByName) word |= attr::kHidden;
        return word;
    }

    // The attributes smbd maps to the execute bits of a file, where it keeps no value.
    AttributeWord MappedBits(const StoreEntry& e) const {
        if (rule_.value || e.folder) return 0;
        return (rule_.mapArchive ? attr::kArchive : 0) | (rule_.mapSystem ? attr::kSystem : 0) |
               (rule_.mapHidden ? attr::kHidden : 0);
    }
    static mode_t ExecuteBit(AttributeWord bit) {
        return bit == attr::kArchive ? S_IXUSR : bit == attr::kSystem ? S_IXGRP : S_IXOTH;
    }
    AttributeWord Mapped(const StoreEntry& e) const {
        AttributeWord word = 0;
        for (AttributeWord bit : {attr::kArchive, attr::kSystem, attr::kHidden})
            if ((MappedBits(e) & bit) && (e.mode & ExecuteBit(bit))) word |= bit;
        return word;
    }

    // The mode the entry gets: read-only where the reader reads it from the
    // mode (or where both read it, for a file), and the mapped execute bits.
    template <typename Refuse>
    mode_t TargetMode(const StoreEntry& e, AttributeWord bits, AttributeWord before, AttributeWord want, bool stored,
                      const Refuse& refuse) const {
        mode_t mode = e.mode;
        const bool wantR = want & attr::kReadOnly;
        // Read-only given back is the owner's write bit, never the umask's more.
        const auto toMode = [&](bool hasWrite) {
            mode = wantR ? mode & ~kWriteBits : hasWrite ? mode : mode | S_IWUSR;
        };
        if (bits & attr::kReadOnly) {
            switch (rule_.readOnly) {
            case Rule::ReadOnly::Both:
                if (!e.folder) toMode((mode & kWriteBits) != 0);
                else if (!stored && wantR) refuse(attr::kReadOnly, Problem::FolderReadOnlyNotStorable, ENOTSUP);
                break;
            case Rule::ReadOnly::Value:
                if (!stored && wantR) refuse(attr::kReadOnly, Problem::NotKeptInShare, 0);
                break;
            case Rule::ReadOnly::OwnerWrite:
            case Rule::ReadOnly::NoWriteBit:
                // Neither smbd nor Wine sets read-only on a folder; both clear it.
                if (e.folder && wantR) {
                    if (!(before & attr::kReadOnly)) refuse(attr::kReadOnly, Problem::FolderReadOnlyNotStorable, 0);
                    break;
                }
                toMode(rule_.readOnly == Rule::ReadOnly::OwnerWrite ? (mode & S_IWUSR) != 0 : (mode & kWriteBits) != 0);
                break;
            case Rule::ReadOnly::Unseen:
                if (wantR) refuse(attr::kReadOnly, Problem::NotKeptInShare, 0);
                break;
            }
        }
        for (AttributeWord bit : {attr::kArchive, attr::kSystem, attr::kHidden}) {
            if (!(MappedBits(e) & bit & bits)) continue;
            mode = want & bit ? mode | ExecuteBit(bit) : mode & ~ExecuteBit(bit);
        }
        return mode;
    }

    bool Chmod(StoreEntry& e, mode_t mode, StoreOutcome& out, const StoreFailure& fail) {
        out.touched = true;
        if (settings_.dryRun) return true;
        if (ChangeMode(e.fd, e.pathOnly, mode) != 0) {
            fail(Problem::Write, errno);
            return false;
        }
        e.mode = mode;
        return true;
    }

    // The value that stores `x`, or nothing to store: Samba's record is
    // patched in place (its creation time stays); a hex text that becomes 0
    // goes away as Wine removes it, except where the name or a second link
    // of a file would still make Samba or Wine hide the entry.
    bool WriteValue(StoreEntry& e, const Value& v, std::uint32_t x, StoreOutcome& out, const StoreFailure& fail) {
        const std::uint32_t byName = e.dotName && rule_.hiddenByName ? attr::kHidden : 0u;
        if (v.state == Value::State::Present) {
            if (x == v.parsed.attributes) return true;
            if (v.parsed.form == DosAttrib::Form::Ndr) {
                const std::vector<unsigned char> patched = PatchDosAttrib(v.raw, v.parsed, x);
                return SetValue(e, &patched, out, fail);
            }
        } else if (x == byName) {
            return true;  // nothing stored and nothing to store
        }
        if (x == 0 && !e.dotName && (e.folder || e.links <= 1))
            return v.state == Value::State::Present ? SetValue(e, nullptr, out, fail) : true;
        const std::string hex = DosAttribHex(x);
        const std::vector<unsigned char> value(hex.begin(), hex.end());
        return SetValue(e, &value, out, fail);
    }

    bool SetValue(StoreEntry& e, const std::vector<unsigned char>* value, StoreOutcome& out, const StoreFailure& fail) {
        out.touched = true;
        if (settings_.dryRun) return true;
        if (e.record) e.record->valid = false;  // read afresh after a change
        auto write = [&] {
            if (!value) return RemoveAttr(e.fd, e.pathOnly, kDosAttribName);
            return SetAttr(e.fd, e.pathOnly, kDosAttribName, value->data(), value->size());
        };
        if (write() == 0) return true;
        const int error = errno;
        // A user attribute needs write permission. Its owner (not root) may
        // lend it for the moment, as the file keeps its read-only mode after.
        if (error != EACCES || e.folder || (e.mode & S_IWUSR)) {
            fail(Problem::Write, error);
            return false;
        }
        const mode_t mode = e.mode;
        // Ctrl-C between the two chmods would leave the file writable: the
        // signals that end the run wait until the mode is back.
        const SignalsHeld held;
        if (!Chmod(e, mode | S_IWUSR, out, fail)) return false;
        const bool ok = write() == 0;
        if (!ok) fail(Problem::Write, errno);
        if (ChangeMode(e.fd, e.pathOnly, mode) != 0) {
            // Left writable where it should not be: never a quiet success.
            fail(Problem::ModeNotRestored, errno);
            return false;
        }
        e.mode = mode;
        return ok;
    }

    StoreSettings settings_;
    Rule rule_;
};

// The store of a mount of Linux's own: one for each reader met on it.
class LinuxStore final : public AttributeStore {
public:
    explicit LinuxStore(const StoreSettings& s) : settings_(s), both_(s, Rule{}) {}
    const char* Describe() const override { return both_.Describe(); }
    const char* Kind() const override { return both_.Kind(); }
    std::optional<AttributeWord> Read(const StoreEntry& e, const StoreFailure& fail) override {
        return both_.Read(e, fail);
    }
    StoreOutcome Write(StoreEntry& e, AttributeWord before, AttributeWord want, const StoreFailure& fail) override {
        return both_.Write(e, before, want, fail);
    }
    AttributeStore& Within(const StoreEntry& e, const StoreFolder& holder) override {
        const Reader* reader = settings_.readers ? settings_.readers->Of(e, holder) : nullptr;
        if (!reader) return both_;
        std::unique_ptr<SambaWine>& store = byReader_[reader];
        if (!store) store = std::make_unique<SambaWine>(settings_, RuleOf(reader));
        return *store;
    }

private:
    StoreSettings settings_;
    SambaWine both_;
    std::unordered_map<const Reader*, std::unique_ptr<SambaWine>> byReader_;
};

}  // namespace

std::unique_ptr<AttributeStore> SambaWineStore(const StoreSettings& settings) {
    return std::make_unique<LinuxStore>(settings);
}

}  // namespace rivak::posix
