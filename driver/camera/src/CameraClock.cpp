#include "korvane/camera/CameraClock.h"

#include <algorithm>

namespace korvane {

bool CameraClock::sleepUntil(uint64_t t_us) {
    std::unique_lock lock(mutex_);
    if (!interrupted_) waitLocked(lock, t_us);
    return !interrupted_;
}

void CameraClock::interrupt() {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
    cv_.notify_all();
}

void CameraClock::resume() {
    std::lock_guard lock(mutex_);
    interrupted_ = false;
}

uint64_t SteadyCameraClock::now_us() {
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - origin_)
                        .count());
}

void SteadyCameraClock::waitLocked(std::unique_lock<std::mutex>& lock, uint64_t t_us) {
    const auto deadline = origin_ + std::chrono::microseconds(t_us);
    cv_.wait_until(lock, deadline,
                   [&] { return interrupted_ || std::chrono::steady_clock::now() >= deadline; });
}

uint64_t ManualCameraClock::now_us() {
    std::lock_guard lock(mutex_);
    return now_;
}

void ManualCameraClock::advance(uint64_t duration_us) {
    std::lock_guard lock(mutex_);
    now_ += duration_us;
    cv_.notify_all();
}

bool ManualCameraClock::idle() {
    std::lock_guard lock(mutex_);
    return sleepers_ > 0 && earliestSleep_us_ > now_;
}

void ManualCameraClock::waitLocked(std::unique_lock<std::mutex>& lock, uint64_t t_us) {
    // One sleeper per clock is what cameras do; the earliest is kept for idle().
    ++sleepers_;
    earliestSleep_us_ = std::min(earliestSleep_us_, t_us);
    cv_.wait(lock, [&] { return interrupted_ || now_ >= t_us; });
    if (--sleepers_ == 0) earliestSleep_us_ = UINT64_MAX;
}

}  // namespace korvane
