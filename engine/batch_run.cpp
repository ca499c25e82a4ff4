#include <algorithm>
#include <utility>

#include "engine/attribute_engine.h"

namespace rivak {

AttributeEngine::AttributeEngine(const OptionSource& options, ShortcutReader& shortcuts,
                                 ProgressDisplay& progress, FileSystemFactory openFileSystem)
    : options_(options),
      shortcuts_(shortcuts),
      progress_(progress),
      openFileSystem_(std::move(openFileSystem)) {}

void AttributeEngine::OpenFileSystem() {
    fs_ = openFileSystem_ ? openFileSystem_() : nullptr;
    pool_ = std::make_unique<WorkPool>(fs_ ? std::max(1u, std::min(jobs, fs_->Workers())) : 1u, workerStart);
    walks_ = {};
    leftOut_ = {};
    leftOutCount_ = 0;
    foldersLeftOut_ = 0;
    firstLeftOut_.clear();
}

void AttributeEngine::ReleaseFileSystem() {
    pool_.reset();
    fs_.reset();
    SettleLeftOut();
    walks_ = {};
    listing_ = {};
    pending_ = {};
}

// What the limit kept out stays to be read after the batch.
void AttributeEngine::SettleLeftOut() {
    foldersLeftOut_ = leftOutCount_;
    for (Path& folder : leftOut_) {
        if (folder.empty()) continue;
        firstLeftOut_ = std::move(folder);
        break;
    }
    leftOut_ = {};
    leftOutCount_ = 0;
}

void AttributeEngine::RunBatch() {
    processedCount_ = 0;
    batchOptions_.emplace(options_);
    OpenFileSystem();

    // Whatever ends the batch, the display goes away, and the next batch
    // starts with a fresh file-system object and reads the options afresh.
    struct EndOfBatch {
        AttributeEngine& engine;
        ~EndOfBatch() {
            engine.ReleaseFileSystem();
            engine.batchOptions_.reset();
            try {
                engine.progress_.Hide();
            } catch (...) {
            }
        }
    } end{*this};

    progress_.Show();
    const std::size_t count = paths.size();
    for (std::size_t i = 0; i < count; ++i) {
        CheckStop();
        const Descent d = Process(paths[i]);
        if (d.walk) Walk(d.folder, 1);
    }
}

}  // namespace rivak
