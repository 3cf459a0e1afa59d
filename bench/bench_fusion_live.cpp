// The live fusion path without a window: a simulated Quenta on the wall
// clock, its events and edges into the pairing on the events' thread, its
// frames on the frames' thread, each pair's frame resampled into the event
// grid. Prints key: value lines; every frame should be paired, none
// dropped, the queues should stay short.
//   build/bin/bench_fusion_live [seconds=10] [events_per_second=20000000]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "Calibrator.h"
#include "DvsApsFusionProccessor.h"
#include "korvane/sim/SimulatedFusionCamera.h"

using namespace korvane;

int main(int argc, char** argv) {
    const uint64_t seconds = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10;
    const uint64_t rate = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20000000;

    SimulatedFusionOptions o;
    o.serial = "KVBENCH-QUENTA";
    o.eventsPerSecond = rate;
    o.calibrationDirectory = "/nonexistent";  // the factory calibration
    SimulatedFusionCamera camera(o);
    CalibratorParameters params;
    camera.getCalibrationParameters(params);
    Calibrator calibrator;
    calibrator.loadCalibrationParam(params);

    DvsApsFusionProccessor pairing;
    std::atomic<uint64_t> pairs{0}, pairedEvents{0}, edges{0}, frames{0}, events{0};
    std::atomic<uint64_t> maxRemap_us{0}, maxQueuedPeriods{0}, maxQueuedFrames{0};
    pairing.addFusionDataCallback([&](ApsFrame& frame, Event2D* first, Event2D* last) {
        const auto t0 = std::chrono::steady_clock::now();
        ApsFrame m = calibrator.mapApsToDvs(frame);
        const uint64_t us = uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                                         std::chrono::steady_clock::now() - t0)
                                         .count());
        if (us > maxRemap_us.load()) maxRemap_us.store(us);
        pairs.fetch_add(1);
        pairedEvents.fetch_add(uint64_t(last - first));
    });
    camera.addEventsCallback([&](const Event2D* first, const Event2D* last) {
        events.fetch_add(uint64_t(last - first));
        pairing.addDvsData(first, last);
    });
    camera.addTriggerInCallback([&](const EventTriggerIn& edge) {
        edges.fetch_add(1);
        pairing.addSyncSignal(edge);
    });
    camera.addApsFrameCallback([&](ApsFrame frame) {
        frames.fetch_add(1);
        pairing.addApsData(frame);
    });

    const auto start = std::chrono::steady_clock::now();
    if (camera.start(STREAM_BOTH) != 0) {
        std::fprintf(stderr, "error: the camera does not start\n");
        return 1;
    }
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(seconds)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        maxQueuedPeriods.store(
            std::max<uint64_t>(maxQueuedPeriods.load(), pairing.queuedPeriods()));
        maxQueuedFrames.store(std::max<uint64_t>(maxQueuedFrames.load(), pairing.queuedFrames()));
    }
    camera.stop(STREAM_BOTH);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("seconds: %.2f\n", elapsed);
    std::printf("events: %llu\n", (unsigned long long)events.load());
    std::printf("events_per_second: %.0f\n", double(events.load()) / elapsed);
    std::printf("edges: %llu\n", (unsigned long long)edges.load());
    std::printf("frames: %llu\n", (unsigned long long)frames.load());
    std::printf("pairs: %llu\n", (unsigned long long)pairs.load());
    std::printf("pairs_per_second: %.1f\n", double(pairs.load()) / elapsed);
    std::printf("paired_events: %llu\n", (unsigned long long)pairedEvents.load());
    std::printf("dropped_frames: %llu\n", (unsigned long long)pairing.droppedFrames());
    std::printf("dropped_periods: %llu\n", (unsigned long long)pairing.droppedPeriods());
    std::printf("max_queued_frames: %llu\n", (unsigned long long)maxQueuedFrames.load());
    std::printf("max_queued_periods: %llu\n", (unsigned long long)maxQueuedPeriods.load());
    std::printf("max_remap_us: %llu\n", (unsigned long long)maxRemap_us.load());
    std::printf("camera_batches_dropped: %llu\n",
                (unsigned long long)camera.eventCamera().batchesDropped());
    return 0;
}
