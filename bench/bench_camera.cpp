// Cost per event of what a simulated camera does on its own thread, at
// 50 Mev/s in 5 ms slices: the scene (bars alone and the whole scene),
// the filters, the bandwidth count and the EVT 3.0 encoding.
//   build/bin/bench_camera --benchmark_counters_tabular=true
// The live figures (lateness, drops, recording) come from kvcam:
//   kvcam stream KVSIM-EVK4-0001 --rate 50000000 --seconds 60

#include <benchmark/benchmark.h>

#include <vector>

#include "korvane/camera/Evt3SizeCounter.h"
#include "korvane/file/RawWriter.h"
#include "korvane/sim/SimulatedScene.h"
#include "korvane/camera/StreamFilters.h"
#include "korvane/sim/SyntheticRecording.h"

using namespace korvane;

namespace {

constexpr uint64_t kRate = 50000000;
constexpr uint64_t kSlice_us = 5000;

void perEvent(benchmark::State& state, uint64_t events) {
    state.counters["ns_per_event"] = benchmark::Counter(
        double(events), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["events_per_s"] =
        benchmark::Counter(double(events), benchmark::Counter::kIsRate);
}

void BM_SyntheticBars(benchmark::State& state) {
    SyntheticOptions o;
    o.eventsPerSecond = kRate;
    SyntheticScene scene(o);
    std::vector<Event2D> ev;
    std::vector<EventTriggerIn> trig;
    uint64_t t = 0, n = 0;
    for (auto _ : state) {
        ev.clear();
        scene.generate(t, t + kSlice_us, ev, trig);
        t += kSlice_us;
        n += ev.size();
    }
    perEvent(state, n);
}
BENCHMARK(BM_SyntheticBars)->Unit(benchmark::kMillisecond);

void BM_CameraScene(benchmark::State& state) {
    SimulatedScene scene(kRate, 1);
    std::vector<Event2D> ev;
    uint64_t t = 0, n = 0;
    for (auto _ : state) {
        ev.clear();
        scene.generate(t, t + kSlice_us, ev);
        t += kSlice_us;
        n += ev.size();
    }
    perEvent(state, n);
}
BENCHMARK(BM_CameraScene)->Unit(benchmark::kMillisecond);

// One slice of scene, kept, so the filters see realistic input.
const std::vector<Event2D>& slice() {
    static std::vector<Event2D> ev;
    if (ev.empty()) {
        SimulatedScene scene(kRate, 1);
        for (uint64_t t = 0; t < 200000; t += kSlice_us) {
            ev.clear();
            scene.generate(t, t + kSlice_us, ev);
        }
    }
    return ev;
}

void filters(benchmark::State& state, FilterSettings s) {
    StreamFilters f(1280, 720);
    std::vector<Event2D> ev;
    uint64_t n = 0;
    for (auto _ : state) {
        ev = slice();
        f.apply(s, 0, kSlice_us, ev);
        n += slice().size();
    }
    perEvent(state, n);
}
void BM_FiltersAllOn(benchmark::State& state) {
    FilterSettings s;
    s.roiEnabled = true;
    s.roi = {0, 0, 1280, 720};
    s.trailEnabled = true;
    s.antiFlickerEnabled = true;
    s.rateControlEnabled = true;
    s.maxEventRate = kRate / 2;
    filters(state, s);
}
void BM_FiltersOff(benchmark::State& state) {
    filters(state, FilterSettings{});
}
BENCHMARK(BM_FiltersOff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FiltersAllOn)->Unit(benchmark::kMillisecond);

void BM_BandwidthCount(benchmark::State& state) {
    Evt3SizeCounter counter;
    uint64_t n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(counter.addEvents(slice().data(), slice().size()));
        n += slice().size();
    }
    perEvent(state, n);
}
BENCHMARK(BM_BandwidthCount)->Unit(benchmark::kMillisecond);

// What the camera's thread does per millisecond of stream: scene, filters
// (off) and the bandwidth count, in 125 us pieces.
void BM_CameraSlice(benchmark::State& state) {
    SimulatedScene scene(kRate, 1);
    StreamFilters filters(1280, 720);
    Evt3SizeCounter counter;
    uint64_t t = 0, n = 0, bytes = 0;
    for (auto _ : state) {
        std::vector<Event2D> ev;
        ev.reserve(kRate / 1000 * 5 / 4);
        for (uint64_t a = t; a < t + 1000; a += 125) {
            const size_t first = ev.size();
            scene.generate(a, a + 125, ev);
            filters.apply(FilterSettings{}, a, a + 125, ev, first);
            bytes += counter.addEvents(ev.data() + first, ev.size() - first);
        }
        t += 1000;
        n += ev.size();
    }
    benchmark::DoNotOptimize(bytes);
    perEvent(state, n);
}
BENCHMARK(BM_CameraSlice)->Unit(benchmark::kMicrosecond);

void BM_Evt3Encode(benchmark::State& state) {
    RawWriter writer;
    uint64_t n = 0;
    for (auto _ : state) {
        writer.writeEvents(slice().data(), slice().size());
        benchmark::DoNotOptimize(writer.takeBuffer());
        n += slice().size();
    }
    perEvent(state, n);
}
BENCHMARK(BM_Evt3Encode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
