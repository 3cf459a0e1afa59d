// Decoder and index throughput on in-memory recordings made by our writer.
//   build/bin/bench_decode --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>

#include <vector>

#include "korvane/file/EventDecoder.h"
#include "korvane/file/RawWriter.h"
#include "korvane/file/TimeIndex.h"
#include "korvane/sim/SyntheticRecording.h"

using namespace korvane;

namespace {

struct Recording {
    std::vector<uint8_t> words;
    uint64_t events = 0;
};

// 2 s of scene at the given rate, encoded without a file: the plain mix
// (sparse, or dense vectors) or a camera's word mix.
const Recording& recording(bool dense, RawFormat format = RawFormat::Evt3,
                           SyntheticMix mix = SyntheticMix::Plain) {
    static Recording cache[2][2][2];
    Recording& r = cache[dense][format == RawFormat::Evt2][mix == SyntheticMix::Camera];
    if (!r.words.empty()) return r;
    SyntheticOptions o;
    o.eventsPerSecond = dense ? 60000000 : 30000000;
    o.dense = dense;
    o.format = format;
    o.mix = mix;
    SyntheticScene scene(o);
    RawWriter writer(format);
    std::vector<Event2D> ev;
    std::vector<EventTriggerIn> trig;
    for (uint64_t t = 0; t < 2000000; t += 1000) {
        ev.clear();
        scene.generate(t, t + 1000, ev, trig);
        writer.writeEvents(ev.data(), ev.size());
        r.events += ev.size();
    }
    r.words = writer.takeBuffer();
    return r;
}

void decodeAll(benchmark::State& state, bool dense, RawFormat format,
               SyntheticMix mix = SyntheticMix::Plain) {
    const Recording& r = recording(dense, format, mix);
    const size_t ws = wordSizeBytes(format);
    for (auto _ : state) {
        EventStream s(r.words.data(), r.words.size(), format, 0, DecoderState{});
        const Event2D* ev;
        size_t n;
        uint64_t sum = 0;
        while (s.next(UINT64_MAX, ev, n, nullptr)) {
            if (n) sum += ev[n - 1].x;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["Mev/s"] = benchmark::Counter(
        double(r.events) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
    state.counters["B/ev"] = double(r.words.size()) / double(r.events);
    state.SetBytesProcessed(int64_t(r.words.size() / ws * ws) * state.iterations());
}

// The decoder writing where a pass that keeps its events writes them: into
// windows of 1 M events (16 MiB, Python's slices at 10 Mev/s and 100 ms),
// three of them in turn (as many as slices keep), already faulted in. The
// floor for a pass whose product is the events themselves: decodeAll's
// output stays in the cache, these go to memory.
void decodeIntoWindows(benchmark::State& state, SyntheticMix mix) {
    const Recording& r = recording(false, RawFormat::Evt3, mix);
    constexpr size_t kWindowEvents = size_t(1) << 20;
    constexpr size_t kPieceWords = 2048;  // as the scan hands its workers
    std::vector<Event2D> windows(3 * kWindowEvents + 12 * kPieceWords);
    const size_t words = r.words.size() / 2;
    for (auto _ : state) {
        DecoderState st;
        uint64_t corrupt = 0;
        size_t at = 0, window = 0, filled = 0;
        while (at < words) {
            if (filled + 12 * kPieceWords > kWindowEvents) {
                window = (window + 1) % 3;
                filled = 0;
            }
            const size_t n = std::min(kPieceWords, words - at);
            const DecodeStep step = decodeEvt3(r.words.data() + 2 * at, n, st,
                                               windows.data() + window * kWindowEvents + filled,
                                               12 * n, nullptr, 0, UINT64_MAX, corrupt);
            at += step.wordsConsumed;
            filled += step.eventsWritten;
        }
        benchmark::DoNotOptimize(windows.data());
    }
    state.counters["Mev/s"] = benchmark::Counter(
        double(r.events) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

void BM_DecodeEvt3RealLike(benchmark::State& s) {
    decodeAll(s, false, RawFormat::Evt3);
}
void BM_DecodeEvt3CameraMix(benchmark::State& s) {
    decodeAll(s, false, RawFormat::Evt3, SyntheticMix::Camera);
}
void BM_DecodeEvt3Vectors(benchmark::State& s) {
    decodeAll(s, true, RawFormat::Evt3);
}
void BM_DecodeEvt3RealLikeIntoWindows(benchmark::State& s) {
    decodeIntoWindows(s, SyntheticMix::Plain);
}
void BM_DecodeEvt3CameraMixIntoWindows(benchmark::State& s) {
    decodeIntoWindows(s, SyntheticMix::Camera);
}
void BM_DecodeEvt2(benchmark::State& s) {
    decodeAll(s, false, RawFormat::Evt2);
}

void BM_IndexScanEvt3(benchmark::State& state) {
    const Recording& r = recording(false);
    for (auto _ : state) {
        TimeIndex index = TimeIndex::build(r.words.data(), 0, r.words.size(), RawFormat::Evt3);
        benchmark::DoNotOptimize(index.entries().data());
    }
    state.SetBytesProcessed(int64_t(r.words.size()) * state.iterations());
}

}  // namespace

BENCHMARK(BM_DecodeEvt3RealLike)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeEvt3CameraMix)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeEvt3Vectors)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeEvt3RealLikeIntoWindows)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeEvt3CameraMixIntoWindows)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeEvt2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndexScanEvt3)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
