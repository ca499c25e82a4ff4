// rivak for Linux: the attribute engine of rivak.exe on a Linux file system.
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "cli/arguments.h"
#include "cli/restore.h"
#include "cli/run.h"
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
    std::fprintf(stderr, "rivak: %s\n", Format(language, Text::WriteError, {std::strerror(error ? error : EIO)}).c_str());
    return status == 0 ? 1 : status;
}

}  // namespace

int main(int argc, char** argv) {
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
        std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
        if (std::cin.bad()) {
            std::fprintf(stderr, "rivak: %s\n", Format(language, Text::CannotReadInput, {std::strerror(errno)}).c_str());
            return 2;
        }
        for (std::string& p : SplitNul(input)) a.paths.push_back(std::move(p));
    }
    if (a.paths.empty() && a.restore.empty()) return Usage(language, {Text::NoPaths, {}});
    auto undo = PrepareUndo(a, language);
    if (const UsageError* error = std::get_if<UsageError>(&undo)) {
        std::fprintf(stderr, "rivak: %s\n", Format(language, error->text, error->args).c_str());
        return 2;
    }
    return CloseStdout(language, Run(a, language, Streams{stdout, stderr, isatty(STDERR_FILENO) == 1}, &std::get<Undo>(undo)));
}
