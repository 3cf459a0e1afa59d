#pragma once

// The on-sensor filters of a simulated camera, applied to each slice of
// stream in the order a sensor applies them: region of interest, event
// trail filter, anti-flicker, then event rate control. Each keeps the
// events' order and removes events in place.
//
// One thread at a time (the camera's). Per-pixel state is kept only for
// the filters that were switched on.

#include <cstdint>
#include <vector>

#include "KvRecords.h"

namespace korvane {

struct PixelRect {
    uint32_t x = 0, y = 0, width = 0, height = 0;
    bool contains(uint32_t px, uint32_t py) const {
        return px >= x && px < x + width && py >= y && py < y + height;
    }
};

struct FilterSettings {
    bool roiEnabled = false;
    PixelRect roi;

    bool trailEnabled = false;
    bool trailKeepsPolarityChanges = false;  // else every repeat within the threshold goes
    uint32_t trailThreshold_us = 10000;

    bool antiFlickerEnabled = false;
    bool antiFlickerBandPass = false;  // else the band is removed
    uint32_t antiFlickerLow_hz = 50;
    uint32_t antiFlickerHigh_hz = 520;

    bool rateControlEnabled = false;
    uint64_t maxEventRate = 0;  // events per second
};

class StreamFilters {
public:
    StreamFilters(uint32_t width, uint32_t height);
    // Filters events[first, end), the events of the slice [t0, t1), in place.
    void apply(const FilterSettings& settings, uint64_t t0_us, uint64_t t1_us,
               std::vector<Event2D>& events, size_t first = 0);

private:
    void trail(const FilterSettings& s, std::vector<Event2D>& events, size_t first);
    void antiFlicker(const FilterSettings& s, std::vector<Event2D>& events, size_t first);
    void rateControl(const FilterSettings& s, uint64_t t0_us, uint64_t t1_us,
                     std::vector<Event2D>& events, size_t first);

    uint32_t width_, height_;
    // Times are stored as t + 1 in 32 bits (0: none yet); differences stay
    // right across the wrap.
    std::vector<uint32_t> trailLast_;
    std::vector<uint8_t> trailPolarity_;
    std::vector<uint32_t> flickerLast_;      // per pixel and polarity
    std::vector<uint32_t> flickerInterval_;  // the interval before the last event
    uint64_t rateCarry_ = 0;
};

}  // namespace korvane
