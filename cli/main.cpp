// rivak for Linux: the attribute engine of rivak.exe on a Linux file system.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/arguments.h"
#include "cli/restore.h"
#include "cli/run.h"
#include "platform/posix/read_all.h"
#include "platform/posix/shortcut_reader_posix.h"
#include "rivak_version.h"

namespace {

using namespace rivak::cli;

int Usage(Language language, const UsageError& error) {
    std::fprintf(stderr, "rivak: %s\n%s\n", Format(language, error.text, error.args).c_str(),
                 Format(language, Text::TryHelp).c_str());
    return 2;
}

// Standard output closed before the exit, its failure reported: output
// that did not reach its file is an error, as in coreutils.
int CloseStdout(Language language, int status) {
    int error = std::fflush(stdout) == 0 ? 0 : errno;
    const bool failed = error || std::ferror(stdout);
    if (std::fclose(stdout) != 0 && !error) error = errno;
    if (!failed && !error) return status;
    // A write that failed earlier left no errno behind.
    std::fprintf(stderr, "rivak: %s\n", Format(language, Text::WriteError, {SystemError(language, error ? error : EIO)}).c_str());
    return status == 0 ? 1 : status;
}

// A standard descriptor the caller closed is held by /dev/null opened the
// other way round: no file the run opens takes its number (and the output
// meant for it), and reading or writing it fails as on a closed one. So a
// closed standard output is an error only once something is printed.
void HoldClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int held = open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY) | O_NOCTTY);
        if (held >= 0 && held != fd) close(held);
    }
}

// Standard output on the terminal the count is drawn on (standard error).
bool OutputOnCountsTerminal() {
    struct stat out, err;
    return isatty(STDOUT_FILENO) == 1 && isatty(STDERR_FILENO) == 1 && fstat(STDOUT_FILENO, &out) == 0 &&
           fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}

}  // namespace

int main(int argc, char** argv) {
    HoldClosedStandardDescriptors();
    // System errors follow LC_MESSAGES as the program's own texts do, not
    // gettext's list of languages.
    unsetenv("LANGUAGE");
    std::setlocale(LC_ALL, "");
    const Language language = LanguageOfLocale();
    auto parsed = ParseArguments(argc, argv);
    if (const UsageError* error = std::get_if<UsageError>(&parsed)) return Usage(language, *error);
    Arguments& a = std::get<Arguments>(parsed);
    if (a.help) {
        std::fputs(Format(language, Text::Usage).c_str(), stdout);
        return CloseStdout(language, 0);
    }
    if (a.version) {
        std::printf("rivak %s\n", RIVAK_VERSION);
        return CloseStdout(language, 0);
    }
    if (!rivak::posix::AnsiCodePage(a.codePage).valid()) return Usage(language, {Text::BadCodePage, {a.codePage}});
    for (const auto& [root, folder] : a.maps) {
        if (!rivak::posix::DriveMap().Add(root, folder)) return Usage(language, {Text::BadMap, {root + "=" + folder}});
    }
    if (a.nulSeparated) {
        const std::optional<std::string> input = rivak::posix::ReadAll(STDIN_FILENO);
        if (!input) {
            std::fprintf(stderr, "rivak: %s\n", Format(language, Text::CannotReadInput, {SystemError(language, errno)}).c_str());
            return 2;
        }
        for (std::string& p : SplitNul(*input)) a.paths.push_back(std::move(p));
        if (a.paths.empty()) return CloseStdout(language, 0);  // nothing found, nothing to do
    }
    if (a.paths.empty() && a.restore.empty()) return Usage(language, {Text::NoPaths, {}});
    auto undo = PrepareUndo(a, language);
    if (const UsageError* error = std::get_if<UsageError>(&undo)) {
        std::fprintf(stderr, "rivak: %s\n", Format(language, error->text, error->args).c_str());
        return 2;
    }
    const Streams streams{stdout, stderr, isatty(STDERR_FILENO) == 1, OutputOnCountsTerminal()};
    return CloseStdout(language, Run(a, language, streams, &std::get<Undo>(undo)));
}
