#include "cli/run.h"

#include <poll.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "cli/listing.h"
#include "cli/quote.h"
#include "cli/restore.h"
#include "cli/terminal_progress.h"
#include "engine/attribute_engine.h"
#include "platform/posix/drive_map.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/readers.h"
#include "platform/posix/samba_config.h"
#include "platform/posix/shortcut_reader_posix.h"

namespace rivak::cli {

namespace {

// An SMB share answers each call a round trip later: many calls in flight
// hide that. A local disk is kept busy by one thread a CPU.
unsigned DefaultJobs(const PathList& paths) {
    constexpr long kCifsMagic = 0xFF534D42, kSmb2Magic = 0xFE534D42;
    constexpr unsigned kShareJobs = 16;
    for (const Path& p : paths) {
        struct statfs fs;
        if (statfs(p.c_str(), &fs) == 0 && (fs.f_type == kCifsMagic || fs.f_type == kSmb2Magic)) return kShareJobs;
    }
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    return static_cast<unsigned>(std::clamp<long>(cpus, 1, kMaxJobs));
}

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

// What the batch did, as it happens: the changes on standard output (-v,
// -n), the listing (-l), each failure on standard error, and at the end the
// notes and how many entries could not be changed, each counted once (or,
// on a terminal and with -v, a line that sums the whole run up).
class Printer final : public posix::Report, public WalkEvents {
public:
    Printer(const Streams& streams, Language language, const Arguments& a, TerminalProgress& progress)
        : streams_(streams), language_(language), listChanges_(a.verbose || a.dryRun), verbose_(a.verbose),
          list_(a.list), dryRun_(a.dryRun), progress_(progress) {}

    void Listed(const Path& path, std::optional<AttributeWord> word) override {
        if (!list_) return;
        BeforeOutput();
        PrintListed(streams_.out, path, word);
    }
    void Volume(const std::string& mountPoint, const std::string& type, const char* store) override {
        if (!verbose_) return;
        BeforeOutput();
        PrintVolume(streams_.out, mountPoint, type, store);
    }

    // The first entry of a share or a Wine prefix: how its reader keeps read-only.
    void Tree(const posix::Reader& r) {
        if (!verbose_) return;
        BeforeOutput();
        Text text = Text::TreeWine;
        if (r.kind == posix::Reader::Kind::Samba)
            text = r.rule.storeDosAttributes ? Text::TreeShareValue
                   : r.rule.mapReadOnly == posix::ShareRule::MapReadOnly::Yes ? Text::TreeShareOwnerWrite
                                                                              : Text::TreeShareUnseen;
        PrintTree(streams_.out, r.root, Format(language_, text, {ShellQuoted(r.name)}));
    }

    // What the Samba configuration did not let rivak match (-v).
    void Note(const posix::SambaNote& n) {
        if (!verbose_) return;
        using Kind = posix::SambaNote::Kind;
        const std::string why = n.error ? SystemError(language_, n.error) : std::string();
        switch (n.kind) {
        case Kind::Unreadable:
            return Note(Format(language_, Text::CannotReadSmbConf, {ShellQuoted(n.what, true), why}));
        case Kind::IncludeNotFollowed: return Note(Format(language_, Text::SmbConfIncludeNotFollowed, {n.what}));
        case Kind::PathPerUser: return Note(Format(language_, Text::SharePerUser, {ShellQuoted(n.what)}));
        case Kind::PathMissing: return Note(Format(language_, Text::ShareMissing, {ShellQuoted(n.what), why}));
        case Kind::RulePerUser: return Note(Format(language_, Text::ShareRulePerUser, {ShellQuoted(n.what)}));
        }
    }

    void Changed(const Path& path, AttributeWord before, AttributeWord after) override {
        ++changed_;
        if (!listChanges_) return;
        BeforeOutput();
        if (std::fprintf(streams_.out, "%s -> %s  %s\n", Letters(before).c_str(), Letters(after).c_str(),
                         ShellQuoted(path).c_str()) < 0 && !writeError_)
            writeError_ = errno;
    }

    // What went wrong first when writing to standard output (0: nothing).
    int WriteError() {
        if (std::fflush(streams_.out) != 0 && !writeError_) writeError_ = errno;
        if (std::ferror(streams_.out) && !writeError_) writeError_ = EIO;
        return writeError_;
    }

    void Failed(const Path& path, Problem problem, int error) override {
        // Said once for its mount already: counted, not printed again.
        if (problem == Problem::NotStorableAgain) {
            failed_.insert(path);
            return;
        }
        // Not a failure: Samba and Wine hide a dot name whatever is stored,
        // as its owner most likely meant; one note at the end says it.
        if (problem == Problem::HiddenByName) {
            if (hiddenByName_.insert(path).second && verbose_) Note(path, Reason(problem, error));
            return;
        }
        Print(path, Reason(problem, error));
    }

    void SystemFileLeftAlone(const Path& path) override {
        if (verbose_) Note(path, Format(language_, Text::SystemFileLeftAlone));
    }

    void Refused(const Path& path, Problem problem, const std::string& detail) override {
        switch (problem) {
        case Problem::Dangling: return Print(path, Format(language_, Text::ProblemDangling, {ShellQuoted(detail, true)}));
        case Problem::Shortcut:
        case Problem::ShortcutTooLarge:
        case Problem::WindowsOnly:
        case Problem::Unmapped: {
            // Not a failure: the shortcut itself is changed instead. A target
            // is the file's own bytes; a reason, the reader's own words.
            if (!verbose_) return;
            const bool target = problem == Problem::WindowsOnly || problem == Problem::Unmapped;
            return Note(path, Format(language_, NoteText(problem), {target ? ShellQuoted(detail, true) : detail}));
        }
        default: return Failed(path, problem, 0);
        }
    }

    // Not a failure: what the run asked for, bar the bit Windows needs.
    void KeptReadOnly(const Path& path) override {
        if (listChanges_) Note(path, Format(language_, Text::KeptReadOnly));
    }

    // The notes and the count on standard error; false when something failed.
    // A run stopped by a signal tells how far it came.
    bool Summarize(const AttributeEngine& engine, std::optional<std::int64_t> restored, bool stopped) const {
        const auto line = [&](Text text, const std::vector<std::string>& args) {
            std::fprintf(streams_.err, "rivak: %s\n", Format(language_, text, args).c_str());
        };
        if (engine.FoldersLeftOut() > 0)
            line(Text::DepthLimitNote, {std::to_string(engine.maxDepth), std::to_string(engine.FoldersLeftOut()),
                                        ShellQuoted(engine.FirstLeftOut(), true)});
        if (!hiddenByName_.empty()) line(Text::HiddenByNameNote, {std::to_string(hiddenByName_.size())});
        const std::string entries = std::to_string(restored.value_or(engine.ProcessedCount()));
        const std::string failed = std::to_string(failed_.size());
        const bool sumUp = verbose_ || streams_.errIsTerminal || stopped;
        if (sumUp && list_) line(Text::SummaryList, {entries, failed});
        else if (sumUp)
            line(dryRun_ ? Text::SummaryDryRun : Text::Summary, {entries, std::to_string(changed_), failed});
        else if (!failed_.empty()) line(list_ ? Text::FailedListCount : Text::FailedCount, {failed});
        return failed_.empty();
    }

private:
    void Note(const std::string& text) {
        progress_.Erase();
        std::fprintf(streams_.err, "rivak: %s\n", text.c_str());
    }

    // A line of standard output on the count's terminal takes the count away first.
    void BeforeOutput() {
        if (streams_.outOnErrTerminal) progress_.Erase();
    }

    // A line about an entry that is no failure.
    void Note(const Path& path, const std::string& text) {
        progress_.Erase();
        std::fprintf(streams_.err, "rivak: %s: %s\n", ShellQuoted(path, true).c_str(), text.c_str());
    }

    void Print(const Path& path, const std::string& reason) {
        // The engine asks about one entry several times; one line says it.
        const std::string line = Format(language_, list_ ? Text::CannotList : Text::CannotChange,
                                        {ShellQuoted(path, true), reason});
        if (path == lastFailed_ && line == lastLine_) return;
        lastFailed_ = path;
        lastLine_ = line;
        failed_.insert(path);
        progress_.Erase();
        if (std::fflush(streams_.out) != 0 && !writeError_) writeError_ = errno;
        std::fprintf(streams_.err, "rivak: %s\n", line.c_str());
    }

    static Text NoteText(Problem problem) {
        switch (problem) {
        case Problem::ShortcutTooLarge: return Text::ProblemShortcutTooLarge;
        case Problem::WindowsOnly: return Text::ProblemWindowsOnly;
        case Problem::Unmapped: return Text::ProblemUnmapped;
        default: return Text::ProblemShortcut;
        }
    }

    std::string Reason(Problem problem, int error) const {
        const std::string why = error ? SystemError(language_, error) : std::string();
        switch (problem) {
        case Problem::Access: return Format(language_, Text::ProblemAccess, {why});
        case Problem::Special: return Format(language_, Text::ProblemSpecial);
        case Problem::Listing: return Format(language_, Text::ProblemListing, {why});
        case Problem::SwappedForLink: return Format(language_, Text::ProblemSwapped);
        case Problem::UnreadableRecord: return Format(language_, Text::ProblemRecord);
        case Problem::Write: return Format(language_, Text::ProblemWrite, {why});
        case Problem::HiddenNotStorable: return Format(language_, Text::ProblemHidden);
        case Problem::FolderReadOnlyNotStorable: return Format(language_, Text::ProblemFolderReadOnly);
        case Problem::NotStorable:
        case Problem::NotStorableAgain: return Format(language_, Text::ProblemNotStorable);
        case Problem::HiddenByName: return Format(language_, Text::ProblemHiddenByName);
        case Problem::NeedsImmutable: return Format(language_, Text::ProblemNeedsImmutable, {why});
        case Problem::VolumeRoot: return Format(language_, Text::ProblemVolumeRoot);
        case Problem::NotKept: return Format(language_, Text::ProblemNotKept);
        case Problem::ModeNotRestored: return Format(language_, Text::ProblemModeNotRestored, {why});
        case Problem::NotKeptInShare: return Format(language_, Text::ProblemNotKeptInShare);
        case Problem::NotAFolder: return Format(language_, Text::ProblemNotAFolder);
        case Problem::Outside: return Format(language_, Text::ProblemOutside);
        case Problem::Dangling: return Format(language_, Text::ProblemDangling, {why});
        case Problem::Shortcut:
        case Problem::ShortcutTooLarge:
        case Problem::WindowsOnly:
        case Problem::Unmapped: return Format(language_, Text::ProblemShortcut, {why});
        case Problem::NotSaved: return Format(language_, Text::ProblemNotSaved, {why});
        case Problem::Gone: return Format(language_, Text::ProblemGone);
        case Problem::Replaced: return Format(language_, Text::ProblemReplaced);
        case Problem::OtherStore: return Format(language_, Text::ProblemOtherStore);
        }
        return why;
    }

    const Streams& streams_;
    Language language_;
    bool listChanges_;
    bool verbose_;
    bool list_;
    bool dryRun_;
    TerminalProgress& progress_;
    std::unordered_set<Path> failed_;
    std::unordered_set<Path> hiddenByName_;
    std::int64_t changed_ = 0;
    int writeError_ = 0;
    Path lastFailed_;
    std::string lastLine_;
};

// A path the way the engine should get it: no trailing separator (the walker
// adds its own), and a last name of "." or ".." (which the engine takes for
// the walker's own listing entries) replaced by the folder's real path; then
// `typed` keeps what was typed, which is what is looked up.
Path Listed(const std::string& arg, Path& typed) {
    Path p = arg;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const std::size_t slash = p.rfind('/');
    const std::string last = slash == Path::npos ? p : p.substr(slash + 1);
    if (last == "." || last == "..") {
        std::unique_ptr<char, void (*)(void*)> real(realpath(p.c_str(), nullptr), std::free);
        if (real) {
            typed = p;
            return real.get();
        }
    }
    return p;
}

// Whose links and shortcuts a run as root follows as it follows its own:
// those of the user who started it, through sudo too.
uid_t Caller() {
    if (getuid() != 0) return getuid();
    const char* sudo = std::getenv("SUDO_UID");
    char* end = nullptr;
    const unsigned long uid = sudo && *sudo ? std::strtoul(sudo, &end, 10) : 0;
    return end && *end == '\0' && uid <= UINT32_MAX ? static_cast<uid_t>(uid) : 0;
}

Path Canonical(const Path& folder) {
    std::unique_ptr<char, void (*)(void*)> real(realpath(folder.c_str(), nullptr), std::free);
    return real ? Path(real.get()) : folder;
}

Path WinePrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return prefix;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/") + "/.wine";
}

}  // namespace

int Run(const Arguments& a, Language language, const Streams& streams, Undo* undo) {
    posix::DriveMap drives;
    // Drive folders as the kernel names them, so that a target is compared
    // with the walked path the same way whichever links lead to either.
    for (const auto& [root, folder] : a.maps) drives.Add(root, Canonical(folder));
    drives.AddWinePrefix(WinePrefix());
    posix::AnsiCodePage codePage(a.codePage);

    TerminalProgress progress(streams.err, streams.errIsTerminal, language);
    Printer printer(streams, language, a, progress);
    const mode_t mask = umask(0);
    umask(mask);
    posix::PosixSettings settings{a.dryRun, mask, &printer};
    settings.list = a.list;
    settings.changeReadOnly = !a.list && a.readOnly != Change::Keep;
    settings.changeHidden = !a.list && a.hidden != Change::Keep;
    if (undo) settings.save = undo->save.get();
    settings.followOutside = a.followOutside;
    settings.caller = Caller();

    // Who reads the attributes where: the shares of smb.conf, the Wine prefix.
    const posix::SambaConfig samba = posix::ReadSambaConfig(a.smbConf.empty() ? posix::kSmbConf : a.smbConf);
    if (samba.error && !a.smbConf.empty()) {
        const std::string why = SystemError(language, samba.error);
        std::fprintf(streams.err, "rivak: %s\n",
                     Format(language, Text::CannotReadSmbConf, {ShellQuoted(a.smbConf, true), why}).c_str());
        return 2;
    }
    if (samba.error && samba.error != ENOENT)
        printer.Note({posix::SambaNote::Kind::Unreadable, posix::kSmbConf, samba.error});
    for (const posix::SambaNote& note : samba.notes) printer.Note(note);
    posix::Readers readers;
    for (const posix::SambaNote& note : readers.AddShares(samba.shares)) printer.Note(note);
    readers.AddWinePrefix(WinePrefix());
    readers.OnFirstEntry([&](const posix::Reader& r) { printer.Tree(r); });
    settings.readers = &readers;

    PathList paths;
    paths.reserve(a.paths.size());
    std::unordered_map<Path, Path> typed;  // of the paths given by their real names
    for (const std::string& p : a.paths) {
        // "file/" names a folder that is not there, as for ls and chmod.
        struct stat st;
        if (p.size() > 1 && p.back() == '/' && stat(p.c_str(), &st) != 0 && errno == ENOTDIR) {
            printer.Failed(p, Problem::NotAFolder, ENOTDIR);
            continue;
        }
        Path as;
        paths.push_back(Listed(p, as));
        if (!as.empty()) typed.try_emplace(paths.back(), std::move(as));
    }

    CommandLineOptions options(a);
    posix::PosixShortcutReader shortcuts(drives, codePage, a.followOutside);
    AttributeEngine engine(options, shortcuts, progress, [&]() -> std::unique_ptr<FileSystem> {
        auto fs = std::make_unique<posix::PosixFileSystem>(settings);
        for (const Path& p : engine.paths) {
            const auto it = typed.find(p);
            fs->Follow(p, it == typed.end() ? Path() : it->second);
        }
        shortcuts.Use(fs.get());
        return fs;
    });
    engine.maxDepth = a.maxDepth;
    engine.system = a.system == Change::Clear ? SystemBit::Clear
                    : a.system == Change::Set ? SystemBit::Set
                    : a.list                    ? SystemBit::Pass
                                              : SystemBit::Keep;
    engine.events = &printer;
    engine.jobs = a.jobs ? a.jobs : DefaultJobs(paths);
    engine.workerStart = KeepStopSignalsForMainThread;
    engine.stop = &StopWindow::Asked();
    engine.paths = std::move(paths);
    std::optional<std::int64_t> restored;  // the entries a restore went over
    bool stopped = false;
    HandleStopSignals();
    if (undo && undo->restore) {
        restored = RestoreSaved(*undo, settings, language, streams);
    } else {
        try {
            const StopWindow window;
            engine.RunBatch();
        } catch (const BatchStopped&) {
            stopped = true;
        }
    }
    shortcuts.Use(nullptr);
    bool ok = !undo || FinishSave(*undo, language, streams);
    ok = printer.Summarize(engine, restored, stopped) && ok;
    if (stopped) {
        // A reader that stopped reading is not waited for: what it did not
        // take of the listing is left, the count above says how far it came.
        pollfd out{fileno(streams.out), POLLOUT, 0};
        if (poll(&out, 1, 0) == 1 && (out.revents & POLLOUT)) std::fflush(streams.out);
        std::fflush(streams.err);
        DieByStopSignal();
    }
    // Changes that could not be listed are a failure too (a full disk, a closed pipe).
    if (const int error = printer.WriteError()) {
        std::fprintf(streams.err, "rivak: %s\n", Format(language, Text::WriteError, {SystemError(language, error)}).c_str());
        __fpurge(streams.out);  // told once: what is left is not tried again at the exit
        std::clearerr(streams.out);
        ok = false;
    }
    return ok ? 0 : 1;
}

}  // namespace rivak::cli
