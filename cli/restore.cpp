#include "cli/restore.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

#include "cli/quote.h"
#include "platform/posix/read_all.h"
#include "platform/posix/unique_fd.h"

namespace rivak::cli {

namespace {

using posix::SaveDamage;

Text Damage(SaveDamage::Why why) {
    switch (why) {
    case SaveDamage::Why::Empty: return Text::SaveEmpty;
    case SaveDamage::Why::NotASaveFile: return Text::SaveNotASaveFile;
    case SaveDamage::Why::Newer: return Text::SaveNewer;
    case SaveDamage::Why::CutShort: return Text::SaveCutShort;
    case SaveDamage::Why::Checksum: return Text::SaveChecksum;
    case SaveDamage::Why::Malformed: return Text::SaveMalformed;
    case SaveDamage::Why::Missing: return Text::SaveMissing;
    }
    return Text::SaveMalformed;
}

// The whole file, read before anything is changed.
std::optional<std::string> ReadWhole(const std::string& file) {
    posix::UniqueFd fd(open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));  // a FIFO never waits
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0) return std::nullopt;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return std::nullopt;
    }
    return posix::ReadAll(fd.get());
}

}  // namespace

std::variant<Undo, UsageError> PrepareUndo(const Arguments& a, Language language) {
    Undo undo;
    if (!a.save.empty()) {
        undo.file = a.save;
        undo.save = posix::SaveWriter::Create(a.save);
        const int error = errno;
        if (!undo.save && error == EEXIST) return UsageError{Text::SaveExists, {ShellQuoted(a.save, true)}};
        if (!undo.save) return UsageError{Text::CannotSave, {ShellQuoted(a.save, true), SystemError(language, error)}};
    }
    if (!a.restore.empty()) {
        undo.file = a.restore;
        const std::optional<std::string> text = ReadWhole(a.restore);
        const int error = errno;
        if (!text)
            return UsageError{Text::CannotReadSave, {ShellQuoted(a.restore, true), SystemError(language, error)}};
        auto read = posix::ReadSaveFile(*text);
        if (const SaveDamage* damage = std::get_if<SaveDamage>(&read))
            return UsageError{Text::SaveRefused, {ShellQuoted(a.restore, true), std::to_string(damage->line),
                                                  Format(language, Damage(damage->why), {damage->detail})}};
        undo.restore = std::move(std::get<posix::SavedFile>(read));
    }
    return undo;
}

std::int64_t RestoreSaved(const Undo& undo, const posix::PosixSettings& settings, Language language,
                          const Streams& streams) {
    const posix::SavedFile& file = *undo.restore;
    const std::string name = ShellQuoted(undo.file, true);
    if (file.unsealed)
        std::fprintf(streams.err, "rivak: %s\n",
                     Format(language, Text::SaveUnsealed, {name, std::to_string(file.unsealed)}).c_str());
    else if (!file.finished)
        std::fprintf(streams.err, "rivak: %s\n", Format(language, Text::SaveUnfinished, {name}).c_str());
    posix::PosixFileSystem fs(settings);
    for (const std::string& root : file.roots) fs.Follow(root);
    // An entry saved twice (met again within one run) goes back to the first state.
    std::set<std::pair<dev_t, ino_t>> done;
    for (const posix::SavedEntry& e : file.entries) {
        if (!done.insert({e.dev, e.ino}).second) continue;
        fs.PutBack(file.PathOf(e), e, file.MountOf(e.dev)->kind);
    }
    return static_cast<std::int64_t>(done.size());
}

bool FinishSave(Undo& undo, Language language, const Streams& streams) {
    if (!undo.save || undo.save->Finish()) return true;
    const std::string why = SystemError(language, errno);
    std::fprintf(streams.err, "rivak: %s\n",
                 Format(language, Text::CannotWriteSave, {ShellQuoted(undo.file, true), why}).c_str());
    return false;
}

}  // namespace rivak::cli
