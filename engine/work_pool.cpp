#include "engine/work_pool.h"

#include <algorithm>
#include <utility>

namespace rivak {

WorkPool::WorkPool(unsigned threads, const std::function<void()>& onStart) {
    for (unsigned i = 1; i < threads; ++i)
        threads_.emplace_back([this, onStart] {
            if (onStart) onStart();
            Serve();
        });
}

WorkPool::~WorkPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    start_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void WorkPool::ForEach(std::size_t count, const std::function<void(std::size_t)>& task) {
    if (threads_.empty() || count < 2) {
        for (std::size_t i = 0; i < count; ++i) task(i);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        task_ = &task;
        count_ = count;
        next_ = 0;
        // Neighbours go to one thread: entries listed together lie together
        // on the disk (an inode table block), which two threads would share.
        grain_ = std::clamp<std::size_t>(count / (4 * Threads()), 1, kMostGrain);
        error_ = nullptr;
        ++round_;
    }
    start_.notify_all();
    Work();
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&] { return busy_ == 0 && next_ >= count_; });
    task_ = nullptr;
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

void WorkPool::Start(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        aside_ = std::move(task);
        asideRunning_ = true;
    }
    start_.notify_one();
}

void WorkPool::Join() {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&] { return !asideRunning_; });
    if (asideError_) std::rethrow_exception(std::exchange(asideError_, nullptr));
}

void WorkPool::RunAside(std::unique_lock<std::mutex>& lock) {
    std::function<void()> task = std::move(aside_);
    aside_ = nullptr;
    lock.unlock();
    std::exception_ptr error;
    try {
        task();
    } catch (...) {
        error = std::current_exception();
    }
    task = nullptr;
    lock.lock();
    asideError_ = error;
    asideRunning_ = false;
    finished_.notify_all();
}

void WorkPool::Serve() {
    std::size_t seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            start_.wait(lock, [&] { return closing_ || aside_ || (round_ != seen && task_ && next_ < count_); });
            if (closing_) return;
            if (aside_) {
                RunAside(lock);
                continue;
            }
            seen = round_;
        }
        Work();
    }
}

// Takes indices until none is left; an exception stops the handing out.
void WorkPool::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (task_ && next_ < count_) {
        const std::size_t first = next_;
        const std::size_t end = std::min(count_, first + grain_);
        next_ = end;
        ++busy_;
        const auto* task = task_;
        lock.unlock();
        std::exception_ptr error;
        try {
            for (std::size_t i = first; i < end; ++i) (*task)(i);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        --busy_;
        if (error && !error_) {
            error_ = error;
            next_ = count_;
        }
    }
    if (busy_ == 0) finished_.notify_all();
}

}  // namespace rivak
