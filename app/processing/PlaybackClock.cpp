#include "PlaybackClock.h"

#include <chrono>

namespace {
// How long an abandoning owner waits for a load before leaving it behind.
constexpr auto kLoadAbandonWait = std::chrono::seconds(2);
}  // namespace

PlaybackClock::PlaybackClock(int fps) : fps_(1), interval_(1000000) {
    setFps(fps);
}

PlaybackClock::~PlaybackClock() {
    stop();
    finishLoad(/*abandon=*/true);
}

void PlaybackClock::setFps(int fps) {
    const uint64_t f = fps < 1 ? 1 : uint64_t(fps);
    fps_ = f;
    interval_ = 1000000 / f;
}

uint64_t PlaybackClock::stepBack() {
    const uint64_t step = interval_.load(), lower = lower_.load(), pos = position_.load();
    const uint64_t back = pos >= lower + step ? pos - step : lower;
    position_ = back;
    return back;
}

bool PlaybackClock::start(std::function<bool()> step) {
    if (playbackThread_.joinable()) {
        if (playing_.load()) return false;
        playbackThread_.join();  // ended by itself
        runner_ = std::thread::id();
    }
    playing_ = true;
    playbackThread_ = std::thread([this, step = std::move(step)] { run(step); });
    return true;
}

void PlaybackClock::stop() {
    {
        std::lock_guard<std::mutex> lock(tickMutex_);
        playing_ = false;
    }
    tickWake_.notify_all();
    if (runner_.load() == std::this_thread::get_id()) return;  // a step ends its own loop
    if (playbackThread_.joinable()) playbackThread_.join();
    runner_ = std::thread::id();
}

void PlaybackClock::run(std::function<bool()> step) {
    using clock = std::chrono::steady_clock;
    runner_ = std::this_thread::get_id();
    while (playing_.load()) {
        const auto next = clock::now() + std::chrono::microseconds(kTick_us);
        if (!step()) {
            playing_ = false;
            return;
        }
        std::unique_lock<std::mutex> lock(tickMutex_);
        tickWake_.wait_until(lock, next, [this] { return !playing_.load(); });
    }
}

void PlaybackClock::startLoad(std::shared_ptr<LoadJob> job, std::function<void()> body) {
    loadJob_ = job;
    loading_ = true;
    loadThread_ = std::thread([job = std::move(job), body = std::move(body)] {
        body();
        {
            std::lock_guard<std::mutex> lock(job->mutex);
            job->done = true;
        }
        job->finished.notify_all();
    });
}

void PlaybackClock::finishLoad(bool abandon, const std::function<void()>& cancelOpen) {
    if (!loadThread_.joinable()) return;
    if (!abandon) {
        loadThread_.join();
        return;
    }
    const std::shared_ptr<LoadJob> job = loadJob_;
    bool done = false;
    {
        std::unique_lock<std::mutex> lock(job->mutex);
        job->cancelled = true;
        if (cancelOpen) cancelOpen();
        done = job->finished.wait_for(lock, kLoadAbandonWait, [&] { return job->done; });
    }
    if (done) {
        loadThread_.join();
    } else {
        // Still inside the driver: it holds the job and what its body captured, nothing else.
        loadThread_.detach();
    }
}
