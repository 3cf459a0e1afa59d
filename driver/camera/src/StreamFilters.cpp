#include "korvane/camera/StreamFilters.h"

#include <algorithm>

namespace korvane {

StreamFilters::StreamFilters(uint32_t width, uint32_t height) : width_(width), height_(height) {}

void StreamFilters::apply(const FilterSettings& s, uint64_t t0_us, uint64_t t1_us,
                          std::vector<Event2D>& events, size_t first) {
    if (s.roiEnabled) {
        const PixelRect r = s.roi;
        events.erase(std::remove_if(events.begin() + long(first), events.end(),
                                    [&](const Event2D& e) { return !r.contains(e.x, e.y); }),
                     events.end());
    }
    if (s.trailEnabled) {
        trail(s, events, first);
    } else if (!trailLast_.empty()) {
        trailLast_ = {};
        trailPolarity_ = {};
    }
    if (s.antiFlickerEnabled) {
        antiFlicker(s, events, first);
    } else if (!flickerLast_.empty()) {
        flickerLast_ = {};
        flickerInterval_ = {};
    }
    if (s.rateControlEnabled) {
        rateControl(s, t0_us, t1_us, events, first);
    } else {
        rateCarry_ = 0;
    }
}

void StreamFilters::trail(const FilterSettings& s, std::vector<Event2D>& events, size_t first) {
    const size_t pixels = size_t(width_) * height_;
    if (trailLast_.empty()) {
        trailLast_.assign(pixels, 0);
        trailPolarity_.assign(pixels, 0);
    }
    size_t out = first;
    for (size_t i = first; i < events.size(); ++i) {
        const Event2D e = events[i];
        if (e.x >= width_ || e.y >= height_) continue;
        const size_t p = size_t(e.y) * width_ + e.x;
        const uint32_t t = uint32_t(e.timestamp) + 1;
        const uint32_t last = trailLast_[p];
        bool drop = last != 0 && t - last <= s.trailThreshold_us;
        if (drop && s.trailKeepsPolarityChanges) drop = trailPolarity_[p] == e.polarity;
        trailLast_[p] = t;
        trailPolarity_[p] = e.polarity;
        if (!drop) events[out++] = e;
    }
    events.resize(out);
}

void StreamFilters::antiFlicker(const FilterSettings& s, std::vector<Event2D>& events,
                                size_t first) {
    const size_t pixels = size_t(width_) * height_;
    if (flickerLast_.empty()) {
        flickerLast_.assign(2 * pixels, 0);
        flickerInterval_.assign(2 * pixels, 0);
    }
    const uint32_t low = std::max<uint32_t>(1, s.antiFlickerLow_hz);
    const uint32_t high = std::max(low, s.antiFlickerHigh_hz);
    const uint32_t minInterval = 1000000 / high, maxInterval = 1000000 / low;
    size_t out = first;
    for (size_t i = first; i < events.size(); ++i) {
        const Event2D e = events[i];
        if (e.x >= width_ || e.y >= height_) continue;
        const size_t p = (size_t(e.y) * width_ + e.x) * 2 + (e.polarity ? 1 : 0);
        const uint32_t t = uint32_t(e.timestamp) + 1;
        const uint32_t last = flickerLast_[p];
        const uint32_t interval = last == 0 ? 0 : t - last;
        const uint32_t before = flickerInterval_[p];
        // Flicker: the same polarity comes back twice in a row with an
        // interval inside the band and within an eighth of the last one.
        const bool periodic =
            interval >= minInterval && interval <= maxInterval && before != 0 &&
            (interval > before ? interval - before : before - interval) <= interval / 8;
        flickerLast_[p] = t;
        flickerInterval_[p] = interval;
        if (periodic == s.antiFlickerBandPass) events[out++] = e;
    }
    events.resize(out);
}

void StreamFilters::rateControl(const FilterSettings& s, uint64_t t0_us, uint64_t t1_us,
                                std::vector<Event2D>& events, size_t first) {
    // The budget of the slice, carried in millionths so slices add up to
    // exactly the limit per second; evenly spaced events are kept.
    rateCarry_ += s.maxEventRate * (t1_us - t0_us);
    const uint64_t allowed = rateCarry_ / 1000000;
    const size_t n = events.size() - first;
    if (n <= allowed) {
        // Unused budget is not saved up: no window of slices exceeds the limit.
        rateCarry_ %= 1000000;
        return;
    }
    size_t out = first;
    for (size_t i = 0; i < n; ++i) {
        if ((i + 1) * allowed / n > i * allowed / n) events[out++] = events[first + i];
    }
    events.resize(out);
    rateCarry_ -= uint64_t(out - first) * 1000000;
}

}  // namespace korvane
