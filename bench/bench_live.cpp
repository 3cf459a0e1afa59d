// Live view of a simulated camera in the main window: images per second that
// reach the image view, batches dropped, how late a 10 ms timer on the
// GUI thread fires meanwhile, and (on Linux) the CPU the simulation's own
// threads take per event streamed, which a real camera's host would not
// spend. The GUI thread waits in its event loop as the application's does.
// With --record the record button runs for the whole time and the file's
// events are counted against the stream's.
// With --trigger, trigger-in recording runs (edges every 5 s, 1 s before and
// 2 s after each rising edge) and the files made are listed.
//   build/bin/bench_live [--seconds 30] [--rate 50000000] [--record | --trigger]

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AppConfig.h"
#include "CamerasList.h"
#include "korvane/file/DvsFileReader.h"
#include "KvEventProcessor.h"
#include "MainWidget.h"
#include "ShowImageForm.h"
#include "korvane/sim/SimulatedBackend.h"
#include "ui_MainWidget.h"

namespace {

// Runs the GUI thread's event loop for ms milliseconds. Waiting in the loop,
// as QApplication::exec() does, rather than polling processEvents(): a GUI
// thread that polls keeps a whole core busy, which the application's never
// does, and takes it from the camera and the live view.
void runEventLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Nanoseconds on the CPU so far of this process's threads whose name starts
// with prefix (the kernel's per-task schedstat); -1 where it cannot tell.
double threadsCpu_ns(const QByteArray& prefix) {
    QDir tasks("/proc/self/task");
    if (!tasks.exists()) return -1;
    double total = 0;
    bool any = false;
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + "/comm")), stat(tasks.filePath(tid + "/schedstat"));
        if (!comm.open(QIODevice::ReadOnly) || !comm.readAll().startsWith(prefix)) continue;
        if (!stat.open(QIODevice::ReadOnly)) continue;
        bool ok = false;
        const double ns = stat.readAll().split(' ').value(0).toDouble(&ok);
        if (!ok) continue;
        total += ns;
        any = true;
    }
    return any ? total : -1;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 30;
    uint64_t rate = 50000000;
    bool record = false, trigger = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--rate") && i + 1 < argc)
            rate = std::stoull(argv[++i]);
        else if (!std::strcmp(argv[i], "--record"))
            record = true;
        else if (!std::strcmp(argv[i], "--trigger"))
            trigger = true;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir scratch;
    for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(var, scratch.path().toUtf8());
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    AppConfig& config = AppConfig::instance();
    config.output_raw_file_path = scratch.path();
    config.app_data_dir = scratch.path();
    config.dvs_trigger_in_rec_enable = trigger;
    config.dvs_trigger_in_rec_edge_type = "Rising Edge";
    config.dvs_before_tirgger_in_save_time = 1;
    config.dvs_after_tirgger_in_save_time = 2;

    korvane::SimulatedCameraOptions o;
    o.serial = "BENCH";
    o.product = "EVK4";
    o.eventsPerSecond = rate;
    o.triggerPeriod_us = 5000000;
    auto backend = std::make_shared<korvane::SimulatedBackend>(
        std::vector<korvane::SimulatedCameraOptions>{o});

    MainWidget w;
    w.setCameraManager(korvane::DvsCameraManager({backend}));
    w.setRunCameraList([](CamerasList&) { return true; });
    w.show();
    int images = 0;
    bool counting = false;
    QObject::connect(w.rawProcessor(), &KvEventProcessor::signalEventImage, &w, [&] {
        if (counting) ++images;
    });
    w.slotOpenCamera();
    auto camera = std::dynamic_pointer_cast<korvane::SimulatedDvsCamera>(w.dvsCamera());
    if (!camera || !w.isStreaming()) {
        std::printf("camera did not open\n");
        return 1;
    }
    std::printf("live view of %llu ev/s for %d s%s\n", (unsigned long long)rate, seconds,
                record ? ", recording" : "");

    // One second to settle, then measure.
    runEventLoopFor(1000);

    std::vector<double> late_ms;
    QElapsedTimer tick;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        late_ms.push_back(std::max(0.0, tick.nsecsElapsed() / 1e6 - 10.0));
        tick.restart();
    });
    const uint64_t dropped0 = camera->batchesDropped();
    const uint64_t delivered0 = camera->batchesDelivered();
    const uint64_t streamed0 = camera->eventsStreamed();
    const QByteArray simThreads = "sim-";
    const double simCpu0 = threadsCpu_ns(simThreads);
    if (record) w.form()->pb_record->click();
    if (trigger) camera->getTool(korvane::ToolType::TriggerIn)->setParameter("channel_0", true);
    counting = true;
    tick.start();
    timer.start(10);
    QElapsedTimer run;
    run.start();
    runEventLoopFor(seconds * 1000);
    timer.stop();
    counting = false;
    const double elapsed_s = run.elapsed() / 1000.0;
    const double simCpu1 = threadsCpu_ns(simThreads);
    uint64_t written = 0;
    QString file;
    if (record) {
        file = w.buttonRecordingPath();
        w.form()->pb_record->click();
        written = camera->recordingStatus().eventsWritten;
    }
    const uint64_t streamed = camera->eventsStreamed() - streamed0;
    std::printf("images: %d in %.1f s = %.1f /s\n", images, elapsed_s, images / elapsed_s);
    std::printf("batches delivered: %llu dropped: %llu, late passes: %llu\n",
                (unsigned long long)(camera->batchesDelivered() - delivered0),
                (unsigned long long)(camera->batchesDropped() - dropped0),
                (unsigned long long)w.lateBatches());
    std::sort(late_ms.begin(), late_ms.end());
    if (!late_ms.empty()) {
        auto at = [&](double q) { return late_ms[size_t(q * (late_ms.size() - 1))]; };
        std::printf("10 ms timer late (ms): p50 %.1f p99 %.1f max %.1f over %zu ticks\n", at(0.5),
                    at(0.99), late_ms.back(), late_ms.size());
    }
    std::printf("events streamed while measured: %llu\n", (unsigned long long)streamed);
    if (simCpu0 >= 0 && simCpu1 >= 0 && streamed > 0)
        std::printf("simulation CPU: %.2f ns per event, %.1f %% of a core\n",
                    (simCpu1 - simCpu0) / double(streamed),
                    100.0 * (simCpu1 - simCpu0) / (elapsed_s * 1e9));
    else
        std::printf("simulation CPU: unknown here\n");
    if (record) {
        auto reader = korvane::DvsFileReader::createFileReader(file.toStdString());
        uint64_t inFile = 0;
        uint64_t start = 0;
        if (reader && reader->openForReading() && reader->getStartTime(start) &&
            reader->seekToTime(start)) {
            while (true) {
                auto batch = reader->readEventsFor(1000000);
                if (!batch || batch->empty()) break;
                inFile += batch->size();
            }
        }
        std::printf("recording: written by the camera %llu, read back %llu (%s)\n",
                    (unsigned long long)written, (unsigned long long)inFile,
                    written == inFile && inFile > 0 ? "all" : "MISMATCH");
    }
    w.close();
    if (trigger) {
        QDir dir(scratch.path());
        for (const QString& name : dir.entryList({"*.raw"}, QDir::Files, QDir::Name)) {
            auto reader =
                korvane::DvsFileReader::createFileReader(dir.filePath(name).toStdString());
            uint64_t first = 0, last = 0;
            if (reader && reader->openForReading() && reader->getStartTime(first) &&
                reader->getEndTime(last)) {
                uint64_t edge = 0;
                for (const auto& t : reader->readTriggersInWindow(first, last - first + 1))
                    if (t.id == 0 && t.polarity == 1) {
                        edge = t.timestamp;
                        break;
                    }
                std::printf(
                    "%s: first_t %llu last_t %llu span %.2f s, rising edge at %llu "
                    "(%.2f s before, %.2f s after)\n",
                    qPrintable(name), (unsigned long long)first, (unsigned long long)last,
                    (last - first) / 1e6, (unsigned long long)edge, (edge - first) / 1e6,
                    (last - edge) / 1e6);
            }
        }
        if (argc > 0 && std::getenv("BENCH_LIVE_KEEP")) {
            scratch.setAutoRemove(false);
            std::printf("files kept in %s\n", qPrintable(scratch.path()));
        }
    }
    return 0;
}
