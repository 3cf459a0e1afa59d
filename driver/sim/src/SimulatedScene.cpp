#include "korvane/sim/SimulatedScene.h"

#include <algorithm>
#include <cmath>

namespace korvane {

namespace {
// Shares of the base rate.
constexpr double kBarShare = 0.75;
constexpr double kLampShare = 0.10;
constexpr double kBurstShare = 0.05;  // leaders; each brings two followers
constexpr double kNoiseShare = 0.02;
constexpr uint64_t kLampSwitch_us = 500;  // a lamp edge is seen over this long

SyntheticOptions barOptions(uint64_t seed, uint32_t width, uint32_t height) {
    SyntheticOptions o;
    o.seed = seed;
    o.width = width;
    o.height = height;
    o.eventsPerSecond = 0;
    return o;
}
}  // namespace

SimulatedScene::SimulatedScene(uint64_t eventsPerSecond, uint64_t seed, uint32_t width,
                               uint32_t height)
    : width_(width),
      height_(height),
      rate_(std::min(eventsPerSecond, kMaxEventsPerSecond)),
      seed_(seed),
      rng_(seed * 0xD1B54A32D192ED03ull + 1) {
    configure();
}

void SimulatedScene::setEventsPerSecond(uint64_t rate) {
    rate_ = std::min(rate, kMaxEventsPerSecond);
    configure();
}

void SimulatedScene::setBiases(const BiasSettings& biases) {
    if (biases == biases_) return;
    biases_ = biases;
    configure();
}

void SimulatedScene::configure() {
    const double on = std::exp2(-biases_.contrastOn / 25.0);
    const double off = std::exp2(-biases_.contrastOff / 25.0);
    const double all =
        std::exp2(-biases_.refractoryPeriod / 50.0) * std::exp2(biases_.pixelGain / 50.0);
    const double top = std::max(on, off);
    const double r = double(rate_) * all * top;  // before the polarity thinning
    makeTemplates(uint64_t(r * kBarShare));
    burstRate_ = uint64_t(r * kBurstShare);
    noiseRate_ = uint64_t(r * kNoiseShare * std::exp2(biases_.noiseLevel / 20.0));

    // The lamp's size follows the base rate so each pixel fires once per edge.
    const double lampRate = double(rate_) * kLampShare;
    const uint32_t side = uint32_t(std::clamp(std::sqrt(lampRate / double(2 * kFlickerHz)), 2.0,
                                              double(std::min(width_, height_) / 4)));
    lamp_ = {width_ - side - width_ / 16, height_ / 8, side, side};
    lampPixels_ = side * side;
    lampPerEdge_ = uint64_t(double(lampPixels_) * all * top);
    lampIndex_ = 0;
    lampCarry_ = 0;

    keepOn_ = uint32_t(std::min(1.0, on / top) * 4294967295.0);
    keepOff_ = uint32_t(std::min(1.0, off / top) * 4294967295.0);
    thin_ = keepOn_ != 0xFFFFFFFFu || keepOff_ != 0xFFFFFFFFu;
}

void SimulatedScene::makeTemplates(uint64_t barRate) {
    SyntheticOptions o = barOptions(seed_, width_, height_);
    o.eventsPerSecond = barRate;
    SyntheticScene bars(o);
    templates_.clear();
    std::vector<EventTriggerIn> none;  // the bars make none (period 0)
    bars.generate(0, kTemplates * kTemplate_us, templates_, none);
    templateStart_.assign(kTemplates * kTemplate_us + 1, 0);
    size_t i = 0;
    for (uint64_t t = 0; t <= kTemplates * kTemplate_us; ++t) {
        while (i < templates_.size() && templates_[i].timestamp < t)
            ++i;
        templateStart_[t] = uint32_t(i);
    }
}

uint64_t SimulatedScene::next() {
    uint64_t z = (rng_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void SimulatedScene::generate(uint64_t t0_us, uint64_t t1_us, std::vector<Event2D>& events) {
    const size_t first = events.size();
    const uint64_t halfPeriod = 1000000 / kFlickerHz / 2;
    const uint64_t lampSize = std::min<uint64_t>(lampPerEdge_, lampPixels_);
    for (uint64_t t = t0_us; t < t1_us; ++t) {
        // The bars: the template microsecond of this one, carried along with
        // the bars' motion since the template was made (640 and 360 px/s).
        {
            const uint64_t span = kTemplates * kTemplate_us;
            const uint64_t rel = t % span;
            const uint64_t base = t - rel;
            if (base != shiftBase_) {
                shiftBase_ = base;
                shiftX_ = uint32_t(base * 640 / 1000000 % width_);
                shiftY_ = uint32_t(base * 360 / 1000000 % height_);
            }
            const uint32_t dx = shiftX_, dy = shiftY_;
            const uint32_t from = templateStart_[rel], to = templateStart_[rel + 1];
            // Appended one by one: a resize would first write every event as zeros.
            for (uint32_t k = from; k < to; ++k) {
                const Event2D& e = templates_[k];
                uint32_t x = e.x + dx, y = e.y + dy;
                if (x >= width_) x -= width_;
                if (y >= height_) y -= height_;
                events.emplace_back(uint16_t(x), uint16_t(y), e.polarity, t);
            }
        }

        // The lamp: ON at the start of each period, OFF half way; every lit
        // pixel fires once per edge, always in the same order, so each one
        // repeats with the lamp's exact period.
        const uint64_t phase = t % halfPeriod;
        if (phase < kLampSwitch_us && lampSize > 0) {
            const uint8_t p = (t / halfPeriod) % 2 == 0 ? 1 : 0;
            if (phase == 0) {
                lampIndex_ = 0;
                lampCarry_ = 0;
            }
            lampCarry_ += lampSize;
            const uint64_t upto = std::min<uint64_t>(lampCarry_ / kLampSwitch_us, lampSize);
            if (lampIndex_ < upto) {
                uint32_t lx = lampIndex_ % lamp_.width, ly = lampIndex_ / lamp_.width;
                for (; lampIndex_ < upto; ++lampIndex_) {
                    events.emplace_back(uint16_t(lamp_.x + lx), uint16_t(lamp_.y + ly), p, t);
                    if (++lx == lamp_.width) {
                        lx = 0;
                        ++ly;
                    }
                }
            }
        }

        // Bursts: a pixel fires three times in a row.
        for (auto* f : {&followers1_, &followers2_}) {
            while (f->head < f->events.size() && f->events[f->head].timestamp == t)
                events.push_back(f->events[f->head++]);
            if (f->head > 4096 && f->head * 2 > f->events.size()) {
                f->events.erase(f->events.begin(), f->events.begin() + long(f->head));
                f->head = 0;
            }
        }
        burstCarry_ += burstRate_;
        for (; burstCarry_ >= 1000000; burstCarry_ -= 1000000) {
            const uint64_t r = next();
            Event2D e(uint16_t((r >> 32) * width_ >> 32),
                      uint16_t((r & 0xFFFFFFFFu) * height_ >> 32), uint8_t((r >> 31) & 1), t);
            events.push_back(e);
            e.timestamp = t + kBurstSpacing_us;
            followers1_.events.push_back(e);
            e.timestamp = t + 2 * kBurstSpacing_us;
            followers2_.events.push_back(e);
        }

        noiseCarry_ += noiseRate_;
        for (; noiseCarry_ >= 1000000; noiseCarry_ -= 1000000) {
            events.emplace_back(uint16_t(below(width_)), uint16_t(below(height_)),
                                uint8_t(next() & 1), t);
        }
    }

    if (!thin_) return;
    size_t out = first;
    for (size_t i = first; i < events.size(); ++i) {
        const uint32_t keep = events[i].polarity ? keepOn_ : keepOff_;
        if (uint32_t(next()) < keep) events[out++] = events[i];
    }
    events.resize(out);
}

}  // namespace korvane
