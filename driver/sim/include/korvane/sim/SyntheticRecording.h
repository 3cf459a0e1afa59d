#pragma once

// A deterministic synthetic event scene (two moving bars plus noise) and a
// writer of whole recordings made from it. Used by kvraw generate, tests,
// benchmarks, and the simulated cameras. Same seed, same events.

#include <cstdint>
#include <string>
#include <vector>

#include "KvRecords.h"
#include "korvane/file/RawHeader.h"

namespace korvane {

// How the scene's events fall into words. Plain: clusters along rows, most
// of them too sparse for vectors, one time per microsecond (the mix of the
// first recordings; tests and fixtures rely on its exact events). Camera:
// what a sensor's readout looks like in EVT 3.0 (about 19 % rows, 64 %
// single events, 14 % vector words and 3 % time lows): bursts of rows at
// one time, each row a few separate events and often a run of neighbours.
enum class SyntheticMix { Plain, Camera };

struct SyntheticOptions {
    uint64_t duration_us = 1000000;
    uint64_t eventsPerSecond = 1000000;
    uint64_t seed = 1;
    uint64_t triggerPeriod_us = 0;  // 0: no trigger edges
    uint64_t startTime_us = 0;
    bool dense = false;  // tight clusters that encode as vectors (plain mix only)
    SyntheticMix mix = SyntheticMix::Plain;
    RawFormat format = RawFormat::Evt3;
    std::string serialNumber = "KVSIM0001";
    uint32_t width = 1280;
    uint32_t height = 720;
};

class SyntheticScene {
public:
    explicit SyntheticScene(const SyntheticOptions& options);

    // Appends the events and edges of [t0, t1) in time order; slices must
    // be asked for in order, without gaps, for the rate to come out right.
    void generate(uint64_t t0_us, uint64_t t1_us, std::vector<Event2D>& events,
                  std::vector<EventTriggerIn>& triggers);

    // Changes the event rate from the next slice on (the camera's rate control).
    void setEventsPerSecond(uint64_t rate) { options_.eventsPerSecond = rate; }

private:
    uint64_t next();
    uint32_t below(uint32_t n) { return uint32_t((next() >> 32) * n >> 32); }
    // One readout burst of the camera mix: n events at time t.
    void cameraBurst(uint64_t t, uint64_t n, std::vector<Event2D>& events);

    SyntheticOptions options_;
    uint64_t rng_;
    uint64_t carry_ = 0;
    uint64_t waited_us_ = 0;  // camera mix: microseconds since the last burst
};

// "plain" or "camera"; false for any other name.
bool syntheticMixByName(const std::string& name, SyntheticMix& mix);

// Latest time a synthetic recording may reach (about 36 years).
constexpr uint64_t kMaxSyntheticTime_us = uint64_t(1) << 50;

// Writes a recording of the scene to path (all or nothing: SafeOutput).
// The header carries the serial, the geometry and the first event's time.
// Fails with a one-line reason when start + duration passes
// kMaxSyntheticTime_us or the file cannot be written.
bool writeSyntheticRecording(const std::string& path, const SyntheticOptions& options,
                             std::string* error = nullptr);

}  // namespace korvane
