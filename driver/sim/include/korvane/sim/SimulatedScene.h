#pragma once

// What a simulated camera sees: the synthetic scene's moving bars, a lamp
// flickering at kFlickerHz, pixels that fire in short bursts, and
// background noise. The biases shape it the way a sensor's biases would:
// ON and OFF contrast thresholds move the share of each polarity, the noise
// level the background, refractory period and gain the whole rate.
//
// The bars cost what the synthetic scene costs per event, too much for a
// live stream of tens of millions of events per second; so the scene makes
// a few short templates of them and replays those, each time moved on in
// time and along with the bars' motion. A template is remade whenever the
// rate or the biases change.
//
// Same seed and settings, same events. One thread at a time.

#include <cstdint>
#include <vector>

#include "KvRecords.h"
#include "korvane/camera/StreamFilters.h"
#include "korvane/sim/SyntheticRecording.h"

namespace korvane {

struct BiasSettings {
    int contrastOn = 0;  // each in [-50, 50]; 0 is the sensor's default
    int contrastOff = 0;
    int noiseLevel = 0;
    int refractoryPeriod = 0;
    int pixelGain = 0;
    bool operator==(const BiasSettings&) const = default;
};

class SimulatedScene {
public:
    static constexpr uint64_t kFlickerHz = 100;
    static constexpr uint64_t kBurstSpacing_us = 200;  // a burst: 3 events this far apart
    static constexpr uint64_t kTemplate_us = 2000;
    static constexpr uint64_t kTemplates = 4;
    // Highest base rate taken; more is clamped, since the bar templates are
    // held in memory (at this rate and the strongest biases about 150 MB).
    static constexpr uint64_t kMaxEventsPerSecond = 100000000;

    SimulatedScene(uint64_t eventsPerSecond, uint64_t seed, uint32_t width = 1280,
                   uint32_t height = 720);

    // Takes effect from the next slice.
    void setEventsPerSecond(uint64_t rate);
    void setBiases(const BiasSettings& biases);

    // Appends the events of [t0, t1) in time order; slices must follow
    // each other without gaps.
    void generate(uint64_t t0_us, uint64_t t1_us, std::vector<Event2D>& events);

    PixelRect lamp() const { return lamp_; }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }

private:
    void configure();
    void makeTemplates(uint64_t barRate);
    uint64_t next();
    uint32_t below(uint32_t n) { return uint32_t((next() >> 32) * n >> 32); }

    uint32_t width_, height_;
    uint64_t rate_;
    BiasSettings biases_;
    uint64_t seed_;
    // kTemplates * kTemplate_us of bars, times relative to the first template's start.
    std::vector<Event2D> templates_;
    std::vector<uint32_t> templateStart_;  // index of the first event of each microsecond
    uint64_t shiftBase_ = UINT64_MAX;      // the bars' shift for the templates starting here
    uint32_t shiftX_ = 0, shiftY_ = 0;
    uint64_t rng_;
    PixelRect lamp_;
    uint32_t lampPixels_ = 0;
    uint64_t lampPerEdge_ = 0;  // events per edge while the lamp switches
    uint32_t lampIndex_ = 0;
    uint64_t lampCarry_ = 0;
    uint64_t burstRate_ = 0, noiseRate_ = 0;
    uint64_t burstCarry_ = 0, noiseCarry_ = 0;
    uint32_t keepOn_ = 0, keepOff_ = 0;  // 32-bit keep probabilities per polarity
    bool thin_ = false;
    struct Followers {  // a queue in time order, consumed from head
        std::vector<Event2D> events;
        size_t head = 0;
    };
    Followers followers1_, followers2_;
};

}  // namespace korvane
