#include "cli/run.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/listing.h"
#include "cli/quote.h"
#include "cli/terminal_progress.h"
#include "engine/attribute_engine.h"
#include "platform/posix/drive_map.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/shortcut_reader_posix.h"

namespace rivak::cli {

namespace {

using posix::Problem;

// The window's six boxes, from the command line.
class CommandLineOptions final : public OptionSource {
public:
    explicit CommandLineOptions(const Arguments& a) {
        values_[0] = a.readOnly == Change::Clear;
        values_[1] = a.readOnly == Change::Set;
        values_[2] = a.hidden == Change::Set;
        values_[3] = a.hidden == Change::Clear;
        values_[4] = a.shortcuts && !a.list;  // a listing shows the shortcut files themselves
        values_[5] = a.keepFolders;
    }
    int Value(Option option) const override { return values_[static_cast<int>(option)] ? kChecked : kUnchecked; }

private:
    bool values_[6] = {};
};

class Printer final : public posix::Report {
public:
    Printer(const Streams& streams, Language language, const Arguments& a)
        : streams_(streams), language_(language), listChanges_(a.verbose || a.dryRun), list_(a.list),
          volumes_(a.list && a.verbose) {}

    void Listed(const Path& path, std::optional<AttributeWord> word) override {
        if (list_) PrintListed(streams_.out, path, word);
    }
    void Volume(const std::string& mountPoint, const std::string& type, const char* store) override {
        if (volumes_) PrintVolume(streams_.out, mountPoint, type, store);
    }

    void Changed(const Path& path, AttributeWord before, AttributeWord after) override {
        if (!listChanges_) return;
        std::fprintf(streams_.out, "%s -> %s  %s\n", Letters(before).c_str(), Letters(after).c_str(),
                     ShellQuoted(path).c_str());
    }

    void Failed(const Path& path, Problem problem, int error) override {
        const std::string line = ShellQuoted(path) + ": " + Reason(problem, error);
        if (!first_.empty() && path == lastFailed_ && line == lastLine_) return;  // the same lookup, asked twice
        ++reports_;
        if (path != lastFailed_ || failedEntries_ == 0) ++failedEntries_;
        lastFailed_ = path;
        lastLine_ = line;
        if (first_.size() < 10) first_.push_back(line);
    }

    // The summary on standard error; false when nothing failed.
    bool Summarize() const {
        if (failedEntries_ == 0) return true;
        std::fprintf(streams_.err, "rivak: %s\n",
                     Format(language_, Text::FailedCount, {std::to_string(failedEntries_)}).c_str());
        for (const std::string& line : first_) std::fprintf(streams_.err, "  %s\n", line.c_str());
        const std::size_t more = reports_ - first_.size();
        if (more > 0) std::fprintf(streams_.err, "  %s\n", Format(language_, Text::AndMore, {std::to_string(more)}).c_str());
        return false;
    }

private:
    std::string Reason(Problem problem, int error) const {
        const std::string why = error ? std::strerror(error) : std::string();
        switch (problem) {
        case Problem::Access: return Format(language_, Text::ProblemAccess, {why});
        case Problem::Special: return Format(language_, Text::ProblemSpecial);
        case Problem::Listing: return Format(language_, Text::ProblemListing, {why});
        case Problem::SwappedForLink: return Format(language_, Text::ProblemSwapped);
        case Problem::UnreadableRecord: return Format(language_, Text::ProblemRecord);
        case Problem::Write: return Format(language_, Text::ProblemWrite, {why});
        case Problem::HiddenNotStorable: return Format(language_, Text::ProblemHidden);
        case Problem::FolderReadOnlyNotStorable: return Format(language_, Text::ProblemFolderReadOnly);
        case Problem::NotStorable: return Format(language_, Text::ProblemNotStorable);
        case Problem::HiddenByName: return Format(language_, Text::ProblemHiddenByName);
        case Problem::NeedsImmutable: return Format(language_, Text::ProblemNeedsImmutable, {why});
        case Problem::VolumeRoot: return Format(language_, Text::ProblemVolumeRoot);
        case Problem::NotKept: return Format(language_, Text::ProblemNotKept);
        case Problem::ModeNotRestored: return Format(language_, Text::ProblemModeNotRestored, {why});
        }
        return why;
    }

    const Streams& streams_;
    Language language_;
    bool listChanges_;
    bool list_;
    bool volumes_;
    std::size_t failedEntries_ = 0;
    std::size_t reports_ = 0;  // an entry can fail in two ways
    Path lastFailed_;
    std::string lastLine_;
    std::vector<std::string> first_;
};

// A path the way the engine should get it: no trailing separator (the walker
// adds its own), and a last name of "." or ".." (which the engine takes for
// the walker's own listing entries) replaced by the folder's real path.
Path Listed(const std::string& arg) {
    Path p = arg;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const std::size_t slash = p.rfind('/');
    const std::string last = slash == Path::npos ? p : p.substr(slash + 1);
    if (last == "." || last == "..") {
        std::unique_ptr<char, void (*)(void*)> real(realpath(p.c_str(), nullptr), std::free);
        if (real) return real.get();
    }
    return p;
}

Path WinePrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return prefix;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/") + "/.wine";
}

}  // namespace

int Run(const Arguments& a, Language language, const Streams& streams) {
    posix::DriveMap drives;
    for (const auto& [root, folder] : a.maps) drives.Add(root, folder);
    drives.AddWinePrefix(WinePrefix());
    posix::AnsiCodePage codePage(a.codePage);

    Printer printer(streams, language, a);
    const mode_t mask = umask(0);
    umask(mask);
    posix::PosixSettings settings{a.dryRun, mask, &printer};
    settings.list = a.list;
    settings.changeReadOnly = !a.list && a.readOnly != Change::Keep;
    settings.changeHidden = !a.list && a.hidden != Change::Keep;

    PathList paths;
    paths.reserve(a.paths.size());
    for (const std::string& p : a.paths) paths.push_back(Listed(p));

    CommandLineOptions options(a);
    posix::PosixShortcutReader shortcuts(drives, codePage);
    TerminalProgress progress(streams.err, streams.errIsTerminal, language);
    AttributeEngine engine(options, shortcuts, progress, [&]() -> std::unique_ptr<FileSystem> {
        auto fs = std::make_unique<posix::PosixFileSystem>(settings);
        for (const Path& p : engine.list1) fs->Follow(p);
        shortcuts.Use(fs.get());
        return fs;
    });
    engine.maxDepth = a.maxDepth;
    engine.list1 = std::move(paths);
    engine.CngATr();
    shortcuts.Use(nullptr);
    std::fflush(streams.out);
    return printer.Summarize() ? 0 : 1;
}

}  // namespace rivak::cli
