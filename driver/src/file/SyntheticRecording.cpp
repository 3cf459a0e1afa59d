#include "SyntheticRecording.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "RawWriter.h"
#include "Utils/FuncUtils.h"

namespace korvane {

namespace fs = std::filesystem;

namespace {
// Our header, with the encoding lines naming EVT 2.0 when that is written.
std::string headerFor(const DvsFileInfo& info, RawFormat format) {
    std::string header = generateDvsFileHeader(info);
    if (format == RawFormat::Evt2) {
        header.replace(header.find("% evt 3.0"), 9, "% evt 2.0");
        header.replace(header.find("% format EVT3;"), 14, "% format EVT2;");
    }
    return header;
}
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

bool writeSyntheticRecording(const std::string& path, const SyntheticOptions& options,
                             std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (options.format == RawFormat::Unknown) return fail("unknown format");
    fs::path target(path);
    std::error_code ec;
    if (fs::is_directory(target, ec)) return fail("output is a directory");
    fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string name = ".";
    name += target.filename().string();
    name += ".part-";
    name += std::to_string(::getpid());
    const std::string tmp = (dir / name).string();

    SyntheticScene scene(options);
    // The header names the first event's time, so make the first slice before writing.
    constexpr uint64_t kSlice = 1000;
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    uint64_t t = options.startTime_us;
    const uint64_t end = options.startTime_us + options.duration_us;

    DvsFileInfo info;
    info.serialNumber = options.serialNumber;
    info.dvsStartTimestamp = options.startTime_us;
    RawWriter writer(options.format);
    bool opened = false;
    while (t < end) {
        const uint64_t t1 = std::min(end, t + kSlice);
        events.clear();
        triggers.clear();
        scene.generate(t, t1, events, triggers);
        if (!opened) {
            if (!events.empty()) info.dvsStartTimestamp = events.front().timestamp;
            if (!writer.open(tmp, headerFor(info, options.format))) {
                return fail("cannot create " + tmp);
            }
            opened = true;
        }
        size_t e = 0;
        for (const auto& trig : triggers) {
            size_t until = e;
            while (until < events.size() && events[until].timestamp < trig.timestamp)
                ++until;
            writer.writeEvents(events.data() + e, until - e);
            e = until;
            writer.writeTrigger(trig);
        }
        writer.writeEvents(events.data() + e, events.size() - e);
        if (!writer.ok()) break;
        t = t1;
    }
    if (!opened && !writer.open(tmp, headerFor(info, options.format))) {
        return fail("cannot create " + tmp);
    }
    if (!writer.close()) {
        fs::remove(tmp, ec);
        return fail("write failed (disk full?)");
    }
    fs::rename(tmp, target, ec);
    if (ec) {
        fs::remove(tmp, ec);
        return fail("cannot rename to " + path + ": " + ec.message());
    }
    return true;
}

}  // namespace korvane
