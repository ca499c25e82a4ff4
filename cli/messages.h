#pragma once
// Every text the Linux program prints, in English and in Japanese (chosen
// from the locale of the messages, as gettext would).
#include <string>
#include <vector>

namespace rivak::cli {

enum class Language { English, Japanese };

enum class Text {
    Usage,
    TryHelp,
    UnknownOption,
    AmbiguousOption,
    MissingValue,
    UnexpectedValue,
    BadChange,
    BadDepth,
    BadJobs,
    BadMap,
    BadCodePage,
    NoPaths,
    CannotReadInput,
    FailedCount,
    FailedListCount,
    CannotChange,
    CannotList,
    WriteError,
    Counter,
    ProblemAccess,
    ProblemSpecial,
    ProblemListing,
    ProblemSwapped,
    ProblemRecord,
    ProblemWrite,
    ProblemHidden,
    ProblemFolderReadOnly,
    ProblemNotStorable,
    ProblemHiddenByName,
    ProblemNeedsImmutable,
    ProblemVolumeRoot,
    ProblemNotKept,
    ProblemModeNotRestored,
    ProblemNotAFolder,
    ProblemOutside,
    ProblemDangling,
    ProblemShortcut,
    ProblemShortcutTooLarge,
    ProblemWindowsOnly,
    ProblemUnmapped,
    KeptReadOnly,
    ProblemNotKeptInShare,
    TreeShareValue,
    TreeShareOwnerWrite,
    TreeShareUnseen,
    TreeWine,
    CannotReadSmbConf,
    SmbConfIncludeNotFollowed,
    SharePerUser,
    ShareMissing,
    ShareRulePerUser,
    SystemFileLeftAlone,
    DepthLimitNote,
    HiddenByNameNote,
    Summary,
    SummaryDryRun,
    SummaryList,
    RestoreAlone,
    SaveDryRun,
    SaveExists,
    CannotSave,
    CannotWriteSave,
    CannotReadSave,
    SaveRefused,
    SaveEmpty,
    SaveNotASaveFile,
    SaveNewer,
    SaveCutShort,
    SaveUnsealed,
    SaveChecksum,
    SaveMalformed,
    SaveMissing,
    SaveUnfinished,
    ProblemNotSaved,
    ProblemGone,
    ProblemReplaced,
    ProblemOtherStore,
};

// The language of LC_MESSAGES: Japanese for "ja...", where a UTF-8 locale of
// it exists; English otherwise.
Language LanguageOfLocale();
// strerror in `language` (the C locale's English for English), as UTF-8.
std::string SystemError(Language language, int error);
// The text with each "%s" replaced by the next of `args`.
std::string Format(Language language, Text text, const std::vector<std::string>& args = {});

}  // namespace rivak::cli
