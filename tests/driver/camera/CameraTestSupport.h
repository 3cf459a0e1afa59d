#pragma once

// Helpers of the camera tests: a simulated camera on a manual clock, and
// ways to stream a stretch of camera time from it without depending on the
// machine's speed (every wait is for a condition, with a generous limit).

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "../DriverTestSupport.h"
#include "korvane/sim/ReplayBackend.h"
#include "korvane/sim/SimulatedDvsCamera.h"

namespace kvtest {

using namespace korvane;

// Polls until cond holds; false after the limit.
inline bool waitFor(const std::function<bool()>& cond,
                    std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Runs f on this thread; if it has not returned within the limit, ends the
// test program saying so. A call stuck for good (a recorder waiting on
// something that never comes) would otherwise hang the run until ctest's
// timeout, without a word of where.
inline void mustReturnWithin(std::chrono::seconds limit, const char* what,
                             const std::function<void()>& f) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock lock(m);
        if (!cv.wait_for(lock, limit, [&] { return done; })) {
            std::fprintf(stderr, "%s did not return within %lld s\n", what,
                         static_cast<long long>(limit.count()));
            std::fflush(nullptr);
            std::_Exit(1);
        }
    });
    f();
    {
        std::lock_guard lock(m);
        done = true;
    }
    cv.notify_one();
    watchdog.join();
}

struct ManualCamera {
    static constexpr uint64_t kBatch_us = 50000;
    std::shared_ptr<ManualCameraClock> clock = std::make_shared<ManualCameraClock>();
    std::shared_ptr<SimulatedDvsCamera> camera;

    // A replay camera on the recording at path (ASSERT on `camera` first).
    struct ReplayOf {
        std::string path;
    };
    explicit ManualCamera(const ReplayOf& replay) {
        std::string error;
        camera =
            ReplayBackend::openFile(replay.path, ReplayBackend::serialFor("test"), clock, &error);
        EXPECT_TRUE(camera) << error;
        if (camera) camera->setBatchInterval(kBatch_us);
    }

    explicit ManualCamera(uint64_t eventsPerSecond = 1000000, uint64_t seed = 1,
                          const std::string& serial = "KVTEST0001") {
        SimulatedCameraOptions o;
        o.serial = serial;
        o.eventsPerSecond = eventsPerSecond;
        o.seed = seed;
        o.clock = clock;
        o.triggerPeriod_us = 100000;
        camera = std::make_shared<SimulatedDvsCamera>(o);
        // Before start: the first batch takes the interval in force when it begins.
        camera->setBatchInterval(kBatch_us);
    }

    std::shared_ptr<CameraTool> tool(ToolType type) { return camera->getTool(type); }

    // Moves the clock on by duration and waits until the streaming camera
    // made everything due.
    void advance(uint64_t duration_us) {
        clock->advance(duration_us);
        EXPECT_TRUE(waitFor([&] { return clock->idle(); }));
    }

    // Streams duration_us (whole batches) of camera time; returns every
    // event delivered, in order.
    std::vector<Event2D> stream(uint64_t duration_us) {
        EXPECT_EQ(duration_us % kBatch_us, 0u);
        std::vector<Event2D> all, batch;
        for (uint64_t done = 0; done < duration_us; done += kBatch_us) {
            advance(kBatch_us);
            EXPECT_TRUE(camera->getNextEvents(batch));
            all.insert(all.end(), batch.begin(), batch.end());
        }
        return all;
    }
};

// Points the user's data folder (and so the replay folder) at `dir` for a
// scope.
class DataFolderAt {
public:
#if defined(_WIN32)
    static constexpr const char* kVariable = "LOCALAPPDATA";
#else
    static constexpr const char* kVariable = "XDG_DATA_HOME";
#endif
    explicit DataFolderAt(const std::string& dir) {
        if (const char* old = std::getenv(kVariable)) old_ = old, had_ = true;
        set(dir);
    }
    ~DataFolderAt() {
        if (had_) {
            set(old_);
        } else {
#if defined(_WIN32)
            _putenv_s(kVariable, "");
#else
            ::unsetenv(kVariable);
#endif
        }
    }

private:
    static void set(const std::string& value) {
#if defined(_WIN32)
        _putenv_s(kVariable, value.c_str());
#else
        ::setenv(kVariable, value.c_str(), 1);
#endif
    }
    std::string old_;
    bool had_ = false;
};

// What a replay of `source` (a decoded recording) streams over camera time
// [from, to): each loop k replays file time t as t - first + k * span.
// Trigger edges only of the channels in `channels` (bit c: channel c).
inline Expected replayed(const Decoded& source, uint64_t from, uint64_t to, unsigned channels = 0) {
    Expected out;
    if (source.events.empty()) return out;
    std::vector<Event2D> events = source.events;
    auto byTime = [](const auto& a, const auto& b) { return a.timestamp < b.timestamp; };
    std::stable_sort(events.begin(), events.end(), byTime);
    const uint64_t first = events.front().timestamp, last = events.back().timestamp;
    const uint64_t span = last - first + 1;
    std::vector<EventTriggerIn> edges;
    for (const auto& t : source.triggers)
        if (t.timestamp >= first && t.timestamp <= last && t.id >= 0 && t.id < 16 &&
            (channels >> t.id & 1))
            edges.push_back(t);
    std::stable_sort(edges.begin(), edges.end(), byTime);
    for (uint64_t k = from / span; k * span < to; ++k) {
        for (Event2D e : events) {
            e.timestamp = e.timestamp - first + k * span;
            if (e.timestamp >= from && e.timestamp < to) out.events.push_back(e);
        }
        for (EventTriggerIn e : edges) {
            e.timestamp = e.timestamp - first + k * span;
            if (e.timestamp >= from && e.timestamp < to) out.triggers.push_back(e);
        }
    }
    return out;
}

}  // namespace kvtest
