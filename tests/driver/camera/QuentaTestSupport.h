#pragma once

// Helpers of the Quenta tests: scratch folders, a Quenta on a manual clock,
// what its callbacks delivered, and where the scene's bars lie.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "CameraTestSupport.h"
#include "DvsApsFusionProccessor.h"
#include "RingWindow.h"
#include "korvane/sim/SimulatedFusionCamera.h"

namespace quenta_test {

using namespace korvane;
using kvtest::waitFor;
namespace fs = std::filesystem;

using Scratch = kvtest::ScratchDir;  // also keeps the RAW index cache inside it

inline constexpr uint64_t kPeriod = 33333;

// A Quenta on a manual clock with its calibration kept in a scratch folder.
struct ManualQuenta {
    std::shared_ptr<ManualCameraClock> clock = std::make_shared<ManualCameraClock>();
    SimulatedFusionOptions options;
    std::shared_ptr<SimulatedFusionCamera> camera;

    explicit ManualQuenta(const Scratch& dir, FrameFileWriterFactory writers = nullptr) {
        options.serial = "KVTEST-QUENTA";
        options.clock = clock;
        options.calibrationDirectory = dir.file("calibration");
        options.frameWriterFactory = std::move(writers);
        camera = std::make_shared<SimulatedFusionCamera>(options);
    }
    // Moves camera time on in small steps, each made in full by the camera
    // and delivered (the camera starts at clock time 0, so the two agree).
    void advance(uint64_t duration_us) {
        for (uint64_t done = 0; done < duration_us; done += SimulatedFusionCamera::kBatch_us) {
            clock->advance(SimulatedFusionCamera::kBatch_us);
            const uint64_t now = clock->now_us();
            // ...and the frames of the edges delivered so far, as a camera
            // running in real time keeps up with its own frames.
            ASSERT_TRUE(waitFor([&] {
                return clock->idle() &&
                       camera->deliveredUntil_us() + SimulatedFusionCamera::kBatch_us > now &&
                       camera->framesDelivered() >= camera->deliveredUntil_us() / kPeriod;
            }));
        }
    }
};

// What the three callbacks saw, in order, with the threads they came on.
struct Delivery {
    std::mutex mutex;
    std::set<std::thread::id> eventThreads, edgeThreads, frameThreads;
    std::vector<EventTriggerIn> edges;
    std::vector<uint64_t> frameTimes;
    uint64_t events = 0;
    uint64_t lastEventTime = 0;
    bool eventsInOrder = true;
    // An event delivered after an edge must not be older than it.
    bool eventBeforeEdgeAfterIt = false;

    void attach(FusionCamera& cam, DvsApsFusionProccessor* pairing) {
        cam.addEventsCallback([this, pairing](const Event2D* first, const Event2D* last) {
            std::lock_guard lock(mutex);
            eventThreads.insert(std::this_thread::get_id());
            for (const Event2D* e = first; e != last; ++e) {
                eventsInOrder = eventsInOrder && e->timestamp >= lastEventTime;
                lastEventTime = e->timestamp;
                if (!edges.empty() && e->timestamp < edges.back().timestamp)
                    eventBeforeEdgeAfterIt = true;
            }
            events += uint64_t(last - first);
            if (pairing) pairing->addDvsData(first, last);
        });
        cam.addTriggerInCallback([this, pairing](const EventTriggerIn& edge) {
            {
                std::lock_guard lock(mutex);
                edgeThreads.insert(std::this_thread::get_id());
                if (lastEventTime > edge.timestamp) eventBeforeEdgeAfterIt = true;
                edges.push_back(edge);
            }
            if (pairing) pairing->addSyncSignal(edge);
        });
        cam.addApsFrameCallback([this, pairing](ApsFrame frame) {
            {
                std::lock_guard lock(mutex);
                frameThreads.insert(std::this_thread::get_id());
                frameTimes.push_back(frame.timestamp);
            }
            if (pairing) pairing->addApsData(frame);
        });
    }
    size_t frames() {
        std::lock_guard lock(mutex);
        return frameTimes.size();
    }
};

struct Pair {
    ApsFrame frame;
    std::vector<Event2D> events;
};

}  // namespace quenta_test
