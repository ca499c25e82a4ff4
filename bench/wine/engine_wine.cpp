// engine_wine.exe ROOT [--no-reuse] [--window [--no-text] [--no-repaint]]: one batch of the engine over
// ROOT inside this process, with the Win32 backend, counting the calls the
// engine makes and the attribute reads the backend sends to the system.
// Without --window the progress display draws nothing, which separates the
// window's cost from the file system's.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "engine/attribute_engine.h"
#include "platform/win32/file_system_win.h"
#include "platform/win32/shortcut_reader_win.h"
#include "platform/win32/unique_handle.h"
#include "ui/progress_window.h"

namespace {

struct Counts {
    unsigned long long probes = 0, lookups = 0, writes = 0, opens = 0, identities = 0, listings = 0, changes = 0,
                       reads = 0;
};

// Passes every call on to the backend and counts it.
class Counting final : public rivak::FileSystem {
public:
    Counting(bool reuse, Counts& counts) : fs_(reuse), counts_(counts) {}
    ~Counting() override { counts_.reads += fs_.AttributeReads(); }
    rivak::Path Dir(const rivak::Path& p, unsigned mask) override {
        ++counts_.probes;
        return fs_.Dir(p, mask);
    }
    std::optional<rivak::FsObject> GetFile(const rivak::Path& p) override {
        ++counts_.lookups;
        return fs_.GetFile(p);
    }
    std::optional<rivak::FsObject> GetFolder(const rivak::Path& p) override {
        ++counts_.lookups;
        return fs_.GetFolder(p);
    }
    bool SetAttributes(const rivak::FsObject& o, rivak::AttributeWord w) override {
        ++counts_.writes;
        return fs_.SetAttributes(o, w);
    }
    bool HoldsFile(const rivak::FsObject& folder, const rivak::Path& name) override {
        ++counts_.lookups;
        return fs_.HoldsFile(folder, name);
    }
    std::unique_ptr<rivak::OpenFolder> OpenFolderAt(const rivak::Path& p) override {
        ++counts_.opens;
        return fs_.OpenFolderAt(p);
    }
    std::unique_ptr<rivak::OpenFolder> OpenSubfolder(rivak::OpenFolder& parent,
                                                     const rivak::FolderEntry& sub) override {
        ++counts_.opens;
        return fs_.OpenSubfolder(parent, sub);
    }
    std::optional<rivak::FolderKey> Identity(rivak::OpenFolder& folder) override {
        ++counts_.identities;
        return fs_.Identity(folder);
    }
    bool List(rivak::OpenFolder& folder, const rivak::Path& path, std::vector<rivak::FolderEntry>& entries) override {
        ++counts_.listings;
        return fs_.List(folder, path, entries);
    }
    bool LookUp(rivak::OpenFolder& folder, rivak::FolderEntry& entry) override {
        ++counts_.lookups;
        return fs_.LookUp(folder, entry);
    }
    bool Change(rivak::OpenFolder& folder, const rivak::FolderEntry& entry, rivak::AttributeWord w) override {
        ++counts_.changes;
        return fs_.Change(folder, entry, w);
    }
    bool SubfolderHolds(rivak::OpenFolder& folder, const rivak::FolderEntry& sub, const rivak::Path& name) override {
        ++counts_.lookups;
        return fs_.SubfolderHolds(folder, sub, name);
    }

private:
    rivak::win::Win32FileSystem fs_;
    Counts& counts_;
};

// The progress window, with its counter update or its repaint left out on
// request, to tell their costs apart.
class Partial final : public rivak::ProgressDisplay {
public:
    Partial(rivak::ProgressDisplay* window, bool text, bool repaint)
        : window_(window), text_(text), repaint_(repaint) {}
    void Show() override {
        if (window_) window_->Show();
    }
    void SetCounter(const rivak::NativeString& t) override {
        if (window_ && text_) window_->SetCounter(t);
    }
    void RepaintCounter() override {
        if (window_ && repaint_) window_->RepaintCounter();
    }
    void Hide() override {
        if (window_) window_->Hide();
    }

private:
    rivak::ProgressDisplay* window_;
    bool text_, repaint_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: engine_wine.exe ROOT [--no-reuse] [--window]\n");
        return 2;
    }
    bool reuse = true, window = false, text = true, repaint = true;
    for (int i = 2; i < argc; ++i) {
        if (!std::wcscmp(argv[i], L"--no-reuse")) reuse = false;
        if (!std::wcscmp(argv[i], L"--window")) window = true;
        if (!std::wcscmp(argv[i], L"--no-text")) text = false;
        if (!std::wcscmp(argv[i], L"--no-repaint")) repaint = false;
    }
    rivak::win::ComApartment com;
    const rivak::DefaultOptions options;
    rivak::win::Win32ShortcutReader shortcuts;
    rivak::ui::ProgressWindow progressWindow(GetModuleHandleW(nullptr));
    Partial progress(window ? &progressWindow : nullptr, text, repaint);
    Counts counts;
    rivak::AttributeEngine engine(options, shortcuts, progress,
                                  [&] { return std::make_unique<Counting>(reuse, counts); });
    engine.paths.push_back(argv[1]);
    const auto t0 = std::chrono::steady_clock::now();
    engine.RunBatch();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("engine (%s, %s%s%s): %lld entries, %.3f s inside the process\n", reuse ? "probe reused" : "no reuse",
                window ? "progress window" : "no window", window && !text ? ", no counter text" : "",
                window && !repaint ? ", no repaint" : "", static_cast<long long>(engine.ProcessedCount()), s);
    std::printf("  calls: %llu probes, %llu lookups, %llu writes, %llu folders opened, %llu identities, "
                "%llu listings, %llu changes; %llu attribute reads sent to the system\n",
                counts.probes, counts.lookups, counts.writes, counts.opens, counts.identities, counts.listings,
                counts.changes, counts.reads);
    return 0;
}
