// Rendering core throughput: counting events into the frame buffer and
// painting one 1280 x 720 frame.
//   build/bin/bench_render

#include <benchmark/benchmark.h>

#include <QImage>
#include <vector>

#include "AppConfig.h"
#include "EventFrameRenderer.h"
#include "korvane/sim/SyntheticRecording.h"

namespace {

const std::vector<korvane::Event2D>& realLikeEvents() {
    static std::vector<korvane::Event2D> events = [] {
        korvane::SyntheticOptions o;
        o.eventsPerSecond = 30000000;
        korvane::SyntheticScene scene(o);
        std::vector<korvane::Event2D> ev;
        std::vector<korvane::EventTriggerIn> trig;
        scene.generate(0, 100000, ev, trig);  // 3 M events: 100 ms of a busy scene
        return ev;
    }();
    return events;
}

const ThemeColors kTheme{QColor(191, 188, 180), QColor(64, 61, 51), QColor(112, 112, 112)};

void BM_AccumulateEvents(benchmark::State& state) {
    const auto& events = realLikeEvents();
    EventFrameRenderer renderer(nullptr, [] { return kTheme; });
    for (auto _ : state) {
        renderer.accumulateEvents(events.data(), events.data() + events.size());
    }
    state.counters["Mev/s"] = benchmark::Counter(double(events.size()) * double(state.iterations()) / 1e6,
                                                 benchmark::Counter::kIsRate);
}

void BM_PaintFrame(benchmark::State& state) {
    const auto& events = realLikeEvents();
    std::vector<uint16_t> counts(1280 * 720 * 2, 0);
    for (size_t i = 0; i < events.size() / 3; ++i) {
        const auto& e = events[i];
        uint16_t& c = counts[(size_t(e.y) * 1280 + e.x) * 2 + e.polarity];
        c = uint16_t(c + (c < 10));
    }
    QImage image(1280, 720, QImage::Format_RGB888);
    for (auto _ : state) {
        EventFrameRenderer::paint(counts.data(), 1280, 720, kTheme, image.bits(),
                                  image.bytesPerLine());
        benchmark::DoNotOptimize(image.constBits());
    }
}

}  // namespace

BENCHMARK(BM_AccumulateEvents)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintFrame)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
