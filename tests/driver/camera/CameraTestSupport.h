#pragma once

// Helpers of the camera tests: a simulated camera on a manual clock, and
// ways to stream a stretch of camera time from it without depending on the
// machine's speed (every wait is for a condition, with a generous limit).

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "../DriverTestSupport.h"
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

struct ManualCamera {
    static constexpr uint64_t kBatch_us = 50000;
    std::shared_ptr<ManualCameraClock> clock = std::make_shared<ManualCameraClock>();
    std::shared_ptr<SimulatedDvsCamera> camera;

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

}  // namespace kvtest
