// RunBatch over the in-memory file system on flat and deep trees of 10
// thousand to 1 million entries. Prints entries per second and the peak of
// memory the batch itself allocates (the tree's own memory is not counted):
// the cost per entry should stay flat, and the batch's memory should follow
// the depth and the largest folder, not the size of the tree.
#include <malloc.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "engine/attribute_engine.h"
#include "platform/fake/memory_file_system.h"

namespace {

std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

void Track(long long delta) {
    const long long now = g_live.fetch_add(delta) + delta;
    long long peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
}

}  // namespace

void* operator new(std::size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    Track(static_cast<long long>(malloc_usable_size(p)));
    return p;
}
void operator delete(void* p) noexcept {
    if (!p) return;
    Track(-static_cast<long long>(malloc_usable_size(p)));
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

using namespace rivak;

class NullProgress final : public ProgressDisplay {
public:
    void Show() override {}
    void SetCounter(const NativeString& text) override { last = text; }
    void RepaintCounter() override {}
    void Hide() override {}
    NativeString last;
};

Path Child(const Path& folder, const std::string& name) { return folder + kPathSeparator + name; }

// One folder holding every entry.
long long BuildFlat(MemoryFileSystem& fs, long long entries) {
    const Path root = Child(MemoryFileSystem::Root(), "flat");
    fs.AddFolder(root, attr::kReadOnly | attr::kHidden);
    for (long long i = 0; i < entries - 1; ++i)
        fs.AddFile(Child(root, "f" + std::to_string(i)), attr::kReadOnly | attr::kHidden);
    return entries;
}

// Folders of 8 files and 4 subfolders, filled breadth first: the depth grows
// with the logarithm of the size, the largest folder stays at 12 entries.
long long BuildDeep(MemoryFileSystem& fs, long long entries, int& depth) {
    struct Item {
        Path path;
        int level;
    };
    std::vector<Item> queue{{Child(MemoryFileSystem::Root(), "deep"), 0}};
    fs.AddFolder(queue[0].path, attr::kReadOnly | attr::kHidden);
    long long made = 1;
    depth = 0;
    for (std::size_t head = 0; head < queue.size() && made < entries; ++head) {
        const Item item = queue[head];
        for (int i = 0; i < 12 && made < entries; ++i, ++made) {
            const Path p = Child(item.path, (i < 8 ? "f" : "d") + std::to_string(i));
            if (i < 8) {
                fs.AddFile(p, attr::kReadOnly | attr::kHidden);
            } else {
                fs.AddFolder(p, attr::kReadOnly | attr::kHidden);
                queue.push_back({p, item.level + 1});
                depth = std::max(depth, item.level + 1);
            }
        }
    }
    return made;
}

void Run(const char* shape, long long entries) {
    MemoryFileSystem fs;
    int depth = 1;
    const long long made = std::string(shape) == "flat" ? BuildFlat(fs, entries) : BuildDeep(fs, entries, depth);
    DefaultOptions options;
    NullProgress progress;
    AttributeEngine engine(options, fs.Shortcuts(), progress, fs.Factory());
    engine.paths = {Child(MemoryFileSystem::Root(), shape)};

    const long long before = g_live.load();
    g_peak.store(before);
    const auto start = std::chrono::steady_clock::now();
    engine.RunBatch();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long long peak = g_peak.load() - before;

    if (engine.ProcessedCount() != made) {
        std::fprintf(stderr, "counted %lld of %lld entries\n", static_cast<long long>(engine.ProcessedCount()), made);
        std::exit(1);
    }
    std::printf("%-5s %9lld entries  depth %2d  %8.3f s  %11.0f entries/s  %7.1f ns/entry  batch peak %9.1f KiB\n",
                shape, made, depth, seconds, made / seconds, seconds * 1e9 / made, peak / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    long long largest = 1000000;
    if (argc > 1) largest = std::atoll(argv[1]);
    for (const char* shape : {"flat", "deep"})
        for (long long n = 10000; n <= largest; n *= 10) Run(shape, n);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("process peak RSS %.1f MiB (trees included)\n", usage.ru_maxrss / 1024.0);
}
