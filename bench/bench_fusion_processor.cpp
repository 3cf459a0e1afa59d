// The fusion data processor as the window drives it, without the window.
//
//   live [seconds=60] [events_per_second=20000000] [view=2]
//     A simulated Quenta on the wall clock (30 frames/s) whose events, edges
//     and frames go through the processor; images counted as they reach the
//     GUI thread. Targets: every frame paired, queues stay short, no drops,
//     at least 29 images per second.
//   playback FILE.raw [seconds=10]
//     A fusion recording (FILE.raw with FILE.mp4 beside it) played at slow
//     rate 1 (30 fps, one frame interval per 33,333 us tick); images per
//     second reaching the GUI thread. Target: at least 29.
//
// Prints key: value lines.

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "KvFusionCameraDataProcessor.h"
#include "korvane/sim/SimulatedFusionCamera.h"

using namespace korvane;

namespace {

struct Counts {
    uint64_t images = 0;
    std::vector<uint64_t> perSecond;
};

// Counts the images that reach this (GUI) thread and ends the loop after
// `seconds`; sample() runs every 100 ms.
void runFor(QApplication& app, KvFusionCameraDataProcessor& p, uint64_t seconds, Counts& counts,
            const std::function<void()>& sample) {
    QElapsedTimer clock;
    uint64_t lastSecondImages = 0;
    QObject::connect(
        &p, &KvFusionCameraDataProcessor::signalFusionImage, &app,
        [&](const QImage&) { ++counts.images; }, Qt::QueuedConnection);
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        sample();
        const uint64_t elapsed_s = uint64_t(clock.elapsed() / 1000);
        if (elapsed_s > counts.perSecond.size()) {
            counts.perSecond.push_back(counts.images - lastSecondImages);
            lastSecondImages = counts.images;
        }
        if (elapsed_s >= seconds) app.quit();
    });
    clock.start();
    sampler.start(100);
    app.exec();
}

void printRates(const Counts& counts, uint64_t seconds) {
    // The first second holds the start-up; the minimum is taken over the rest.
    uint64_t lowest = UINT64_MAX;
    for (size_t i = 1; i < counts.perSecond.size(); ++i)
        lowest = std::min(lowest, counts.perSecond[i]);
    std::printf("images_on_gui: %llu\n", (unsigned long long)counts.images);
    std::printf("images_per_second: %.2f\n", double(counts.images) / double(seconds));
    std::printf("lowest_images_in_a_second: %llu\n",
                (unsigned long long)(lowest == UINT64_MAX ? 0 : lowest));
}

int live(QApplication& app, uint64_t seconds, uint64_t rate, int view) {
    SimulatedFusionOptions o;
    o.serial = "KVBENCH-QUENTA";
    o.eventsPerSecond = rate;
    o.calibrationDirectory = "/nonexistent";  // the factory calibration
    auto camera = std::make_shared<SimulatedFusionCamera>(o);

    KvFusionCameraDataProcessor p;
    CalibratorParameters params;
    camera->getCalibrationParameters(params);
    p.loadCalibration(params);
    p.slotSetViewerType(STREAM_TYPE(view));
    std::atomic<uint64_t> emitted{0};
    QObject::connect(
        &p, &KvFusionCameraDataProcessor::signalFusionImage, &p,
        [&](const QImage&) { emitted.fetch_add(1); }, Qt::DirectConnection);
    camera->addApsFrameCallback([&p](ApsFrame frame) { p.addLiveFrame(frame); });
    camera->addEventsCallback([&p](const Event2D* first, const Event2D* last) {
        p.accumulateLiveEvents(first, last);
        p.addLiveEvents(first, last);
    });
    camera->addTriggerInCallback([&p](const EventTriggerIn& t) { p.addLiveTrigger(t); });
    p.setCamera(camera);
    if (camera->start(STREAM_BOTH) != 0) {
        std::fprintf(stderr, "camera does not start\n");
        return 1;
    }
    size_t maxFrames = 0, maxPeriods = 0;
    Counts counts;
    runFor(app, p, seconds, counts, [&] {
        maxFrames = std::max(maxFrames, p.queuedFrames());
        maxPeriods = std::max(maxPeriods, p.queuedPeriods());
    });
    camera->stop(STREAM_BOTH);
    const uint64_t frames = camera->framesDelivered();
    camera->close();
    p.setCamera(nullptr);

    std::printf("seconds: %llu\n", (unsigned long long)seconds);
    std::printf("events_per_second: %llu\n", (unsigned long long)rate);
    std::printf("viewer_type: %d\n", view);
    std::printf("frames_delivered: %llu\n", (unsigned long long)frames);
    std::printf("frames_paired: %llu\n", (unsigned long long)emitted.load());
    std::printf("dropped_frames: %llu\n", (unsigned long long)p.droppedFrames());
    std::printf("dropped_periods: %llu\n", (unsigned long long)p.droppedPeriods());
    std::printf("max_queued_frames: %zu\n", maxFrames);
    std::printf("max_queued_periods: %zu\n", maxPeriods);
    printRates(counts, seconds);
    return 0;
}

int playback(QApplication& app, const QString& path, uint64_t seconds) {
    KvFusionCameraDataProcessor p;
    p.setFps(30);
    p.slotSetReplayFlag(true);
    // The measured seconds start once the recording plays: first the load's
    // end, then the processor's own state says whether it opened.
    const QMetaObject::Connection loadEnd =
        QObject::connect(&p, &KvFusionCameraDataProcessor::signalLoadingStatus, &app, [&](bool on) {
            if (!on) app.quit();
        });
    if (!p.slotReadFusionFile(path)) {
        std::fprintf(stderr, "cannot start loading %s\n", qPrintable(path));
        return 1;
    }
    app.exec();  // the end of the load is queued to this thread: it ends the loop
    QObject::disconnect(loadEnd);
    if (p.isLoading() || !p.hasRecording()) {
        std::fprintf(stderr, "the fusion recording does not open: %s\n", qPrintable(path));
        return 1;
    }
    p.slotPlaybackCtrl(true);
    if (!p.isPlaying()) {
        std::fprintf(stderr, "the fusion recording does not play: %s\n", qPrintable(path));
        return 1;
    }
    Counts counts;
    runFor(app, p, seconds, counts, [] {});
    p.slotPlaybackCtrl(false);
    std::printf("seconds: %llu\n", (unsigned long long)seconds);
    printRates(counts, seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qRegisterMetaType<uint64_t>("uint64_t");
    qRegisterMetaType<KvMessageType>("KvMessageType");
    // The processor's per-image debug lines would measure the terminal.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type != QtDebugMsg && type != QtInfoMsg) std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    const QString mode = argc > 1 ? QString(argv[1]) : QString("live");
    if (mode == "live") {
        const uint64_t seconds = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 60;
        const uint64_t rate = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 20000000;
        const int view = argc > 4 ? std::atoi(argv[4]) : 2;
        return live(app, std::max<uint64_t>(2, seconds), rate, view);
    }
    if (mode == "playback" && argc > 2) {
        const uint64_t seconds = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 10;
        return playback(app, QString::fromLocal8Bit(argv[2]), std::max<uint64_t>(2, seconds));
    }
    std::fprintf(stderr,
                 "usage: bench_fusion_processor live [seconds] [events_per_second] [view]\n"
                 "       bench_fusion_processor playback FILE.raw [seconds]\n");
    return 2;
}
