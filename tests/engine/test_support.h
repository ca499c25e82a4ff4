#pragma once
// Pieces the engine tests share: options that can be set per test, a
// progress display that records what it was told, and a tree builder.
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/attribute_engine.h"
#include "platform/fake/memory_file_system.h"

namespace rivak::testing_support {

class TestOptions final : public OptionSource {
public:
    TestOptions() {
        for (int i = 0; i < 6; ++i) values[i] = DefaultValue(static_cast<Option>(i));
    }
    int Value(Option o) const override { return values[static_cast<int>(o)]; }
    void Set(Option o, int v) { values[static_cast<int>(o)] = v; }
    std::array<int, 6> values{};
};

class RecordingProgress final : public ProgressDisplay {
public:
    using Clock = std::chrono::steady_clock;
    void Show() override {
        visible = true;
        ++shows;
    }
    void SetCounter(const NativeString& text) override {
        counter = text;
        ++sets;
        repainted = false;
    }
    void RepaintCounter() override {
        repainted = true;
        ++repaints;
        drawn.push_back(counter);
        drawTimes.push_back(Clock::now());
        if (engine) countAtDraw.push_back(engine->ProcessedCount());
    }
    void Hide() override {
        visible = false;
        ++hides;
        counterAtHide = counter;
    }
    bool visible = false;
    bool repainted = true;
    int shows = 0, hides = 0, sets = 0, repaints = 0;
    NativeString counter, counterAtHide;
    // Every drawing: the text drawn, when, and the engine's count then.
    const AttributeEngine* engine = nullptr;
    std::vector<NativeString> drawn;
    std::vector<Clock::time_point> drawTimes;
    std::vector<std::int64_t> countAtDraw;
};

// Passes every call on; tests override the calls they watch or break.
class ForwardingFileSystem : public FileSystem {
public:
    explicit ForwardingFileSystem(std::unique_ptr<FileSystem> inner) : inner_(std::move(inner)) {}
    Path Dir(const Path& path, unsigned mask) override { return inner_->Dir(path, mask); }
    std::optional<FsObject> GetFile(const Path& p) override { return inner_->GetFile(p); }
    std::optional<FsObject> GetFolder(const Path& p) override { return inner_->GetFolder(p); }
    bool SetAttributes(const FsObject& o, AttributeWord w) override { return inner_->SetAttributes(o, w); }
    bool HoldsFile(const FsObject& f, const Path& n) override { return inner_->HoldsFile(f, n); }
    std::unique_ptr<OpenFolder> OpenFolderAt(const Path& p) override { return inner_->OpenFolderAt(p); }
    std::unique_ptr<OpenFolder> OpenSubfolder(OpenFolder& f, const FolderEntry& e) override {
        return inner_->OpenSubfolder(f, e);
    }
    std::optional<FolderKey> Identity(OpenFolder& f) override { return inner_->Identity(f); }
    bool List(OpenFolder& f, const Path& p, std::vector<FolderEntry>& e) override { return inner_->List(f, p, e); }
    bool LookUp(OpenFolder& f, FolderEntry& e) override { return inner_->LookUp(f, e); }
    void TellListing(OpenFolder& f) override { inner_->TellListing(f); }
    void Tell(OpenFolder& f, FolderEntry& e) override { inner_->Tell(f, e); }
    unsigned Workers() const override { return inner_->Workers(); }
    std::size_t LookAhead() const override { return inner_->LookAhead(); }
    bool ChangesInParallel() const override { return inner_->ChangesInParallel(); }
    bool Change(OpenFolder& f, const FolderEntry& e, AttributeWord w) override { return inner_->Change(f, e, w); }
    bool SubfolderHolds(OpenFolder& f, const FolderEntry& e, const Path& n) override {
        return inner_->SubfolderHolds(f, e, n);
    }
    void Visited(OpenFolder& f) override { inner_->Visited(f); }

private:
    std::unique_ptr<FileSystem> inner_;
};

// Runs `onWrite` after each attribute write.
class HookedWrites final : public ForwardingFileSystem {
public:
    HookedWrites(std::unique_ptr<FileSystem> inner, std::function<void()> onWrite)
        : ForwardingFileSystem(std::move(inner)), onWrite_(std::move(onWrite)) {}
    bool SetAttributes(const FsObject& o, AttributeWord w) override {
        const bool done = ForwardingFileSystem::SetAttributes(o, w);
        onWrite_();
        return done;
    }
    bool Change(OpenFolder& f, const FolderEntry& e, AttributeWord w) override {
        const bool done = ForwardingFileSystem::Change(f, e, w);
        onWrite_();
        return done;
    }

private:
    std::function<void()> onWrite_;
};

// ASCII test names in the platform's string type.
inline NativeString N(const char* ascii) { return NativeString(ascii, ascii + std::char_traits<char>::length(ascii)); }
inline const NativeString& N(const NativeString& s) { return s; }

// A path below the fake's root: P("a", "b") is "M:\a\b" ("M:/a/b" on POSIX).
template <class... Names>
Path P(const Names&... names) {
    Path p = MemoryFileSystem::Root();
    ((p += kPathSeparator, p += N(names)), ...);
    return p;
}

inline NativeString Num(long long n) {
    const std::string s = std::to_string(n);
    return NativeString(s.begin(), s.end());
}

// An engine over a fresh in-memory tree.
struct Rig {
    MemoryFileSystem fs;
    TestOptions options;
    RecordingProgress progress;
    AttributeEngine engine{options, fs.Shortcuts(), progress, fs.Factory()};

    void Run(std::vector<Path> paths) {
        engine.paths = std::move(paths);
        engine.RunBatch();
    }
    AttributeWord W(const Path& p) const { return fs.Word(p).value(); }
};

}  // namespace rivak::testing_support
