#include "korvane/sim/SyntheticRecording.h"

#include <algorithm>
#include <cstdio>

#include "korvane/file/RawWriter.h"
#include "korvane/file/SafeOutput.h"
#include "Utils/FuncUtils.h"

namespace korvane {

namespace {
// Camera mix: a readout burst carries at least this many events, unless
// this long has passed since the last one.
constexpr uint64_t kBurstEvents = 24;
constexpr uint64_t kBurstWait_us = 128;
}  // namespace

SyntheticScene::SyntheticScene(const SyntheticOptions& options)
    : options_(options), rng_(options.seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {
    if (options_.width == 0 || options_.width > 2048) options_.width = 1280;
    if (options_.height == 0 || options_.height > 2048) options_.height = 720;
}

uint64_t SyntheticScene::next() {
    // splitmix64: fast, and good enough for pictures.
    uint64_t z = (rng_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void SyntheticScene::generate(uint64_t t0_us, uint64_t t1_us, std::vector<Event2D>& events,
                              std::vector<EventTriggerIn>& triggers) {
    const uint32_t W = options_.width, H = options_.height;
    const uint64_t period = options_.triggerPeriod_us;
    for (uint64_t t = t0_us; t < t1_us; ++t) {
        if (period > 0) {
            const uint64_t phase = t % period;
            if (phase == 0) triggers.emplace_back(int16_t(0), int16_t(1), t);
            if (phase == period / 2 && period > 1) triggers.emplace_back(int16_t(0), int16_t(0), t);
        }
        carry_ += options_.eventsPerSecond;
        uint64_t n = carry_ / 1000000;
        if (options_.mix == SyntheticMix::Camera) {
            // A sensor reads out in bursts: below the burst size, events wait
            // for the next readout, but never long.
            if (n < kBurstEvents && ++waited_us_ < kBurstWait_us) continue;
            carry_ %= 1000000;
            waited_us_ = 0;
            if (n > 0) cameraBurst(t, n, events);
            continue;
        }
        carry_ %= 1000000;
        if (n == 0) continue;

        // A vertical bar sweeping right and a horizontal bar sweeping down.
        const uint32_t barX = uint32_t((t * 640 / 1000000) % W);
        const uint32_t barY = uint32_t((t * 360 / 1000000) % H);
        while (n > 0) {
            const uint32_t r = below(100);
            if (r < 5) {  // sensor noise: a lone event anywhere
                events.emplace_back(uint16_t(below(W)), uint16_t(below(H)), uint8_t(next() & 1), t);
                --n;
                continue;
            }
            // An edge crossing one row: a cluster of events along x.
            uint32_t y, x;
            if (r < 55) {
                y = below(H);
                x = (barX + W - 32 + below(64)) % W;
            } else {
                y = (barY + H - 4 + below(8)) % H;
                x = below(W);
            }
            const uint8_t p = uint8_t(next() & 1);
            uint32_t k = options_.dense ? 4 + below(21) : 1 + below(16);
            k = uint32_t(std::min<uint64_t>(k, n));
            for (uint32_t i = 0; i < k && x < W; ++i) {
                events.emplace_back(uint16_t(x), uint16_t(y), p, t);
                --n;
                x += options_.dense ? 1 + below(2) : 12 + below(29);
            }
        }
    }
}

void SyntheticScene::cameraBurst(uint64_t t, uint64_t n, std::vector<Event2D>& events) {
    const uint32_t W = options_.width, H = options_.height;
    const uint32_t barX = uint32_t((t * 640 / 1000000) % W);
    const uint32_t barY = uint32_t((t * 360 / 1000000) % H);
    while (n > 0) {
        // One row: a few events far enough apart to stay single words
        // (EVT_ADDR_X), then often a run of neighbours of one polarity, which
        // the writer packs into VECT_BASE_X and a vector word.
        uint32_t y, x;
        if (below(2) == 0) {
            y = below(H);
            x = (barX + W - 32 + below(64)) % W;
        } else {
            y = (barY + H - 4 + below(8)) % H;
            x = below(W);
        }
        for (uint32_t k = 1 + below(6); k > 0 && n > 0 && x < W; --k) {
            events.emplace_back(uint16_t(x), uint16_t(y), uint8_t(next() & 1), t);
            --n;
            x += 12 + below(29);
        }
        if (n == 0 || below(100) >= 48) continue;
        const uint8_t p = uint8_t(next() & 1);
        // Mostly three or four neighbours (one VECT_8), now and then a longer run.
        const uint32_t r = below(8) == 0 ? 5 + below(6) : 3 + (below(4) == 0);
        for (uint32_t i = 0; i < r && n > 0 && x < W; ++i) {
            events.emplace_back(uint16_t(x), uint16_t(y), p, t);
            --n;
            x += below(4) == 0 ? 2 : 1;
        }
    }
}

bool syntheticMixByName(const std::string& name, SyntheticMix& mix) {
    if (name == "plain") {
        mix = SyntheticMix::Plain;
    } else if (name == "camera") {
        mix = SyntheticMix::Camera;
    } else {
        return false;
    }
    return true;
}

bool writeSyntheticRecording(const std::string& path, const SyntheticOptions& options,
                             std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (options.format == RawFormat::Unknown) return fail("unknown format");
    if (options.startTime_us > kMaxSyntheticTime_us ||
        options.duration_us > kMaxSyntheticTime_us - options.startTime_us) {
        return fail("start plus duration beyond " + std::to_string(kMaxSyntheticTime_us) + " us");
    }
    SafeOutput out;
    std::string why;
    if (!out.open(path, {}, &why)) return fail(path + ": " + why);

    SyntheticScene scene(options);
    // The header names the first event's time, so make the first slice before writing.
    constexpr uint64_t kSlice = 1000;
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    std::vector<TriggerRecord> placed;
    uint64_t t = options.startTime_us;
    const uint64_t end = options.startTime_us + options.duration_us;

    DvsFileInfo info;
    info.serialNumber = options.serialNumber;
    info.dvsStartTimestamp = options.startTime_us;
    const uint32_t width = options.width == 0 || options.width > 2048 ? 1280 : options.width;
    const uint32_t height = options.height == 0 || options.height > 2048 ? 720 : options.height;
    RawWriter writer(options.format);
    bool opened = false;
    while (t < end) {
        const uint64_t t1 = std::min(end, t + kSlice);
        events.clear();
        triggers.clear();
        scene.generate(t, t1, events, triggers);
        if (!opened) {
            if (!events.empty()) info.dvsStartTimestamp = events.front().timestamp;
            writer.open(out.fd(), recordingHeader(info, options.format, width, height));
            opened = true;
        }
        placeEdgesByTime(events.data(), events.size(), triggers, placed);
        writer.writeChunk(events.data(), events.size(), placed);
        if (!writer.ok()) break;
        t = t1;
    }
    if (!opened) writer.open(out.fd(), recordingHeader(info, options.format, width, height));
    if (!writer.close()) return fail(path + ": " + errnoText(writer.error()));
    if (!out.commit(&why)) return fail(path + ": " + why);
    return true;
}

}  // namespace korvane
