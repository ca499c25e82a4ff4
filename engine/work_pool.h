#pragma once
// Threads that share out the entries of one folder: ForEach hands out the
// indices a few neighbours at a time, works on them on the calling thread
// too, and returns when every one is done. A pool of one runs everything
// inline. One task may also run beside them on a thread of its own (Start,
// Join): that thread takes no indices until it is done.
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace rivak {

class WorkPool {
public:
    // `onStart` runs first on each thread the pool starts (a front end
    // keeps signals for its main thread there).
    WorkPool(unsigned threads, const std::function<void()>& onStart);
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    unsigned Threads() const { return static_cast<unsigned>(threads_.size()) + 1; }
    // The first exception a task throws comes out here, once all are done.
    void ForEach(std::size_t count, const std::function<void(std::size_t)>& task);
    // Runs `task` on one of the threads (a pool of more than one), and Join
    // waits for it and gives its exception; one task at a time.
    void Start(std::function<void()> task);
    void Join();

private:
    void Serve();
    void Work();
    void RunAside(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable start_, finished_;
    const std::function<void(std::size_t)>* task_ = nullptr;
    static constexpr std::size_t kMostGrain = 64;
    std::size_t count_ = 0, next_ = 0, busy_ = 0, grain_ = 1;
    std::size_t round_ = 0;
    bool closing_ = false;
    std::exception_ptr error_;
    std::function<void()> aside_;  // started, not yet taken by a thread
    bool asideRunning_ = false;
    std::exception_ptr asideError_;
    std::vector<std::thread> threads_;
};

}  // namespace rivak
