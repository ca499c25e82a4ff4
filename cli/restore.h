#pragma once
// --save and --restore on the command line: the save file opened, or read
// and checked whole, before anything is changed; the restore run; the end of
// the save file once the run is over.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "cli/arguments.h"
#include "cli/run.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/save_file.h"

namespace rivak::cli {

struct Undo {
    std::string file;
    std::unique_ptr<posix::SaveWriter> save;   // --save
    std::optional<posix::SavedFile> restore;   // --restore
};

// What --save or --restore names, made ready; the message to print (exit 2,
// nothing changed) when the file cannot be created, read or trusted.
std::variant<Undo, UsageError> PrepareUndo(const Arguments& a, Language language);

// Puts each saved state back, oldest first where an entry was saved twice;
// how many entries it went over.
std::int64_t RestoreSaved(const Undo& undo, const posix::PosixSettings& settings, Language language,
                          const Streams& streams);

// The save file's end line; false, having said why, when it could not be written.
bool FinishSave(Undo& undo, Language language, const Streams& streams);

}  // namespace rivak::cli
