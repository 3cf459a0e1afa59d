// Playback frame rate: plays a recording at slow rate 1 (fps 30) for ten
// seconds of wall clock and counts the frames the processor renders.
//   build/bin/bench_playback [FILE.raw]
// Without a file it generates 12 s at 30 Mev/s in a temporary folder.

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "KvEventProcessor.h"
#include "korvane/sim/SyntheticRecording.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir scratch;
    qputenv("XDG_CACHE_HOME", scratch.filePath("cache").toUtf8());
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : scratch.filePath("play.raw");
    if (argc <= 1) {
        korvane::SyntheticOptions o;
        o.duration_us = 12000000;
        o.eventsPerSecond = 30000000;
        std::printf("generating 12 s at 30 Mev/s...\n");
        if (!korvane::writeSyntheticRecording(path.toStdString(), o)) return 1;
    }

    KvEventProcessor processor;
    int frames = 0;
    QElapsedTimer clock;
    // The processor as context: these run on this thread, not the emitting one.
    QObject::connect(&processor, &KvEventProcessor::signalEventImage, &processor, [&] {
        if (clock.isValid()) ++frames;
    });
    QObject::connect(&processor, &KvEventProcessor::signalLoadingStatus, &processor,
                     [&](bool loading) {
                         if (loading) return;
                         processor.setFps(30);
                         processor.slotPlaybackCtrl(true);
                         clock.start();
                         QTimer::singleShot(10000, &app, [&] {
                             const double seconds = double(clock.elapsed()) / 1000.0;
                             processor.slotPlaybackCtrl(false);
                             std::printf("frames: %d\nseconds: %.3f\nframes_per_second: %.2f\n",
                                         frames, seconds, double(frames) / seconds);
                             app.quit();
                         });
                     });
    processor.loadFile(path);
    return app.exec();
}
