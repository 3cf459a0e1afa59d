#pragma once

// The time a simulated camera streams by. The steady clock is wall time;
// the manual clock moves only when a test advances it, so pacing can be
// checked without depending on the machine's load.
//
// Threads: any thread may read or advance; sleepUntil() returns early once
// interrupt() was called (until resume()). Each camera owns its clock.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace korvane {

class CameraClock {
public:
    virtual ~CameraClock() = default;
    virtual uint64_t now_us() = 0;
    // False when interrupted before t.
    bool sleepUntil(uint64_t t_us);
    void interrupt();
    void resume();

protected:
    // Waits on cv_ under lock until t or an interrupt; the subclass says how.
    virtual void waitLocked(std::unique_lock<std::mutex>& lock, uint64_t t_us) = 0;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool interrupted_ = false;
};

class SteadyCameraClock : public CameraClock {
public:
    SteadyCameraClock() : origin_(std::chrono::steady_clock::now()) {}
    uint64_t now_us() override;

protected:
    void waitLocked(std::unique_lock<std::mutex>& lock, uint64_t t_us) override;

private:
    std::chrono::steady_clock::time_point origin_;
};

class ManualCameraClock : public CameraClock {
public:
    uint64_t now_us() override;
    void advance(uint64_t duration_us);
    // True while a thread sleeps for a time still ahead: a camera on this
    // clock has then made everything that is due.
    bool idle();

protected:
    void waitLocked(std::unique_lock<std::mutex>& lock, uint64_t t_us) override;

private:
    uint64_t now_ = 0;
    int sleepers_ = 0;
    uint64_t earliestSleep_us_ = UINT64_MAX;  // of the sleepers
};

}  // namespace korvane
