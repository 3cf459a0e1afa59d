// Resampling a frame-sensor frame into the 1280 x 720 event grid, once per
// displayed fusion frame; target at most 3 ms per frame.
#include <benchmark/benchmark.h>

#include "Calibrator.h"
#include "DvsApsFusionProccessor.h"
#include "korvane/sim/SimulatedFusionCamera.h"

using namespace korvane;

static void BM_MapApsToDvs(benchmark::State& state) {
    Calibrator calibrator;
    ApsFrame frame(3840, 2160, 1, 0);
    for (uint64_t i = 0; i < frame.getDataSize(); ++i)
        frame.data()[i] = uint8_t(i * 31);
    calibrator.adjustAffineTranslation(state.range(0), 0);
    for (auto _ : state) {
        ApsFrame out = calibrator.mapApsToDvs(frame);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 1280 * 720);
}
// Offset 0, and a large one that leaves a wide black band.
BENCHMARK(BM_MapApsToDvs)->Arg(0)->Arg(500)->Unit(benchmark::kMillisecond);

// A calibration with a slight rotation takes the general, per-pixel path.
static void BM_MapApsToDvsRotated(benchmark::State& state) {
    Calibrator calibrator;
    CalibratorParameters p;
    p.affineMatrices["1"] = {2, 3, 6, {3.35, 0.02, -230, -0.02, 3.35, -110}};
    calibrator.loadCalibrationParam(p);
    ApsFrame frame(3840, 2160, 1, 0);
    for (auto _ : state) {
        ApsFrame out = calibrator.mapApsToDvs(frame);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_MapApsToDvsRotated)->Unit(benchmark::kMillisecond);

// What the simulated fusion camera spends per frame on its frame thread:
// drawing the bars at its frame size, and the pairing's deep copy on entry.
static void BM_QuentaRenderFrame(benchmark::State& state) {
    SimulatedFusionOptions o;
    o.calibrationDirectory = "/nonexistent";  // only read, never written here
    SimulatedFusionCamera camera(o);
    uint64_t t = 0;
    for (auto _ : state) {
        ApsFrame f = camera.renderFrame(t += 33333, 0);
        benchmark::DoNotOptimize(f.data());
    }
}
BENCHMARK(BM_QuentaRenderFrame)->Unit(benchmark::kMillisecond);

static void BM_PairingFrameEntry(benchmark::State& state) {
    DvsApsFusionProccessor pairing;
    const SimulatedFusionOptions quenta;
    ApsFrame frame(quenta.frameWidth, quenta.frameHeight, 0, 0);
    const EventTriggerIn rise(0, 1, 0);
    for (auto _ : state) {
        pairing.addSyncSignal(rise);
        pairing.addApsData(frame);
    }
}
BENCHMARK(BM_PairingFrameEntry)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
