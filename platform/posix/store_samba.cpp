// Linux file systems of their own (ext4, xfs, btrfs, tmpfs...): the
// attributes as Samba and Wine keep them there.
//   - hidden, system and archive in "user.DOSATTRIB" (hex text or Samba's
//     NDR record); a dot name is hidden to both whatever the value says;
//   - read-only of a file in the value (Samba) and as missing write bits
//     (Wine): it counts only where both say so, and a change brings both; of
//     a folder only in the value, as a folder's mode is never changed.
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <vector>

#include "platform/posix/attribute_store.h"
#include "platform/posix/dosattrib.h"
#include "platform/posix/file_system_posix.h"

namespace rivak::posix {

namespace {

constexpr AttributeWord kFromValue = attr::kHidden | attr::kSystem | attr::kArchive;

struct Value {
    enum class State { None, Present, Unparsable, Unreadable, Unsupported };
    State state = State::None;
    std::vector<unsigned char> raw;
    DosAttrib parsed;
    int error = 0;
    std::uint32_t Bits() const { return state == State::Present ? parsed.attributes : 0; }
};

Value ReadValue(int fd) {
    Value v;
    unsigned char buffer[256];
    ssize_t n = fgetxattr(fd, kDosAttribName, buffer, sizeof buffer);
    if (n >= 0) {
        v.raw.assign(buffer, buffer + n);
    } else if (errno == ERANGE) {
        // Larger than any record Samba writes; read it whole all the same.
        const ssize_t size = fgetxattr(fd, kDosAttribName, nullptr, 0);
        if (size > 0) {
            v.raw.resize(static_cast<std::size_t>(size));
            n = fgetxattr(fd, kDosAttribName, v.raw.data(), v.raw.size());
            if (n >= 0) v.raw.resize(static_cast<std::size_t>(n));
        }
    }
    if (n >= 0) {
        std::optional<DosAttrib> parsed = ParseDosAttrib(v.raw);
        v.state = parsed ? Value::State::Present : Value::State::Unparsable;
        if (parsed) v.parsed = *parsed;
    } else if (errno == ENODATA) {
        v.state = Value::State::None;
    } else if (errno == ENOTSUP) {
        v.state = Value::State::Unsupported;
    } else {
        v.error = errno;
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

AttributeWord WordOf(const StoreEntry& e, const Value& v) {
    const std::uint32_t x = v.Bits();
    AttributeWord word = x & kFromValue;
    if (e.folder) word |= attr::kDirectory | (x & attr::kReadOnly);
    else if ((e.mode & 0222) == 0 && (v.state == Value::State::Unsupported || (x & attr::kReadOnly)))
        word |= attr::kReadOnly;
    if (e.dotName) word |= attr::kHidden;
    return word;
}

class SambaWine final : public AttributeStore {
public:
    explicit SambaWine(const StoreSettings& s) : settings_(s) {}
    const char* Describe() const override { return "Samba/Wine user.DOSATTRIB"; }

    std::optional<AttributeWord> Read(const StoreEntry& e, const StoreFailure& fail) override {
        const Value v = ReadValue(e.fd);
        if (ValueProblem(v, fail)) return std::nullopt;
        return WordOf(e, v);
    }

    StoreOutcome Write(StoreEntry& e, AttributeWord before, AttributeWord want, const StoreFailure& fail) override {
        Value v = ReadValue(e.fd);
        StoreOutcome out;
        if (ValueProblem(v, fail)) {
            out.ok = false;
            return out;
        }
        const bool wantR = want & attr::kReadOnly;
        const bool wantH = want & attr::kHidden;
        const mode_t mode = e.mode;
        const mode_t writable = mode | ((0600 | ((mode & 044) >> 1)) & ~settings_.umask);
        const AttributeWord bits = WrittenBits(settings_, before, want);
        const bool changeR = bits & attr::kReadOnly;
        out.planned = (before & ~bits) | (want & bits);
        if (v.state == Value::State::Unsupported) {
            if ((before ^ want) & bits & ~attr::kReadOnly) {
                fail(Problem::HiddenNotStorable, ENOTSUP);
                out.ok = false;
                out.planned = (out.planned & attr::kReadOnly) | (before & ~attr::kReadOnly);
            }
            if (e.folder && changeR && wantR) {
                fail(Problem::FolderReadOnlyNotStorable, ENOTSUP);
                out.ok = false;
                out.planned &= ~attr::kReadOnly;
            } else if (!e.folder && changeR && wantR != ((mode & 0222) == 0)) {
                out.ok = Chmod(e, wantR ? mode & ~0222 : writable, out, fail) && out.ok;
            }
            return out;
        }
        std::uint32_t x = (v.Bits() & ~bits) | (want & bits);
        if (e.folder && x != 0 && x != v.Bits()) x |= attr::kDirectory;  // as Samba writes a folder's value
        bool ok = true;
        // Clear: write bits back first, as Wine gives them (owner, plus group
        // and others where they may read, less the umask). Set: the value
        // while the file can still be written, then the mode.
        if (!e.folder && changeR && !wantR && (mode & 0222) == 0) ok = Chmod(e, writable, out, fail);
        if (ok) ok = WriteValue(e, v, x, out, fail);
        if (ok && !e.folder && changeR && wantR && (mode & 0222) != 0) ok = Chmod(e, mode & ~0222, out, fail);
        if (!ok) out.planned = before;
        if (e.dotName && (bits & attr::kHidden) && !wantH) {
            fail(Problem::HiddenByName, 0);
            out.planned |= attr::kHidden;
            ok = false;
        }
        out.ok = ok;
        return out;
    }

    const char* Kind() const override { return "samba-wine"; }

    std::optional<AttributeWord> ReadSaving(const StoreEntry& e, const StoreFailure& fail,
                                            std::optional<SavedState>& saved) override {
        Value v = ReadValue(e.fd);
        if (ValueProblem(v, fail)) return std::nullopt;
        const AttributeWord word = WordOf(e, v);
        saved = SavedState{word, e.mode, RecordOf(v), std::move(v.raw)};
        return word;
    }

    // The record's very bytes (or none), then the mode: the record may need
    // the write bit the mode is about to lose (SetValue lends it otherwise).
    StoreOutcome Restore(StoreEntry& e, const SavedState& saved, const StoreFailure& fail) override {
        StoreOutcome out;
        out.planned = saved.word;
        const Value v = ReadValue(e.fd);
        if (v.state == Value::State::Unreadable) {
            fail(Problem::Access, v.error);
            out.ok = false;
            return out;
        }
        const SavedState::Record now = RecordOf(v);
        const bool sameRecord = now == saved.record && v.raw == saved.bytes;
        if (!sameRecord && saved.record != SavedState::Record::NoXattrs)
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

    bool Chmod(StoreEntry& e, mode_t mode, StoreOutcome& out, const StoreFailure& fail) {
        out.touched = true;
        if (settings_.dryRun) return true;
        if (fchmod(e.fd, mode) != 0) {
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
        if (v.state == Value::State::Present) {
            if (x == v.parsed.attributes) return true;
            if (v.parsed.form == DosAttrib::Form::Ndr) {
                const std::vector<unsigned char> patched = PatchDosAttrib(v.raw, v.parsed, x);
                return SetValue(e, &patched, out, fail);
            }
        } else if (x == (e.dotName ? attr::kHidden : 0u)) {
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
        auto write = [&] {
            if (!value) return fremovexattr(e.fd, kDosAttribName);
            return fsetxattr(e.fd, kDosAttribName, value->data(), value->size(), 0);
        };
        if (write() == 0) return true;
        const int error = errno;
        // A user attribute needs write permission. Its owner (not root) may
        // lend it for the moment, as the file keeps its read-only mode after.
        if (error != EACCES || e.folder || (e.mode & 0200)) {
            fail(Problem::Write, error);
            return false;
        }
        const mode_t mode = e.mode;
        if (!Chmod(e, mode | 0200, out, fail)) return false;
        const bool ok = write() == 0;
        if (!ok) fail(Problem::Write, errno);
        if (fchmod(e.fd, mode) != 0) {
            // Left writable where it should not be: never a quiet success.
            fail(Problem::ModeNotRestored, errno);
            return false;
        }
        e.mode = mode;
        return ok;
    }

    StoreSettings settings_;
};

}  // namespace

std::unique_ptr<AttributeStore> SambaWineStore(const StoreSettings& settings) {
    return std::make_unique<SambaWine>(settings);
}

}  // namespace rivak::posix
