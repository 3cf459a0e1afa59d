#include "RecordingClock.h"

#include <chrono>

RecordingClock::~RecordingClock() {
    stop();
}

void RecordingClock::start() {
    stop();
    running_ = true;
    thread_ = std::thread(&RecordingClock::run, this);
}

void RecordingClock::stop() {
    {
        // Cleared under the lock: the clock thread cannot miss the wake-up.
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
        wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

// Clock thread: one pass per second of recording.
void RecordingClock::run() {
    using namespace std::chrono;
    uint64_t n = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    while (running_.load()) {
        const auto pass = steady_clock::now();
        emit tick(quint64(n));
        wake_.wait_until(lock, pass + seconds(1), [this] { return !running_.load(); });
        ++n;
    }
}
