// The RAW playback processor: what a load tells the window and in which
// order, files that cannot be played, play requests around a load, commands
// refused without a file or while loading, stepping, seeking and playing a
// range (once or in a loop), and destruction during a load.

#include <QElapsedTimer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>

#include "AppConfig.h"
#include "AppTestMain.h"
#include "korvane/file/DvsFileReader.h"
#include "KvEventProcessor.h"
#include "KvFusionCameraDataProcessor.h"
#include "korvane/file/RawWriter.h"
#include "korvane/sim/SyntheticRecording.h"
#include "ThreadSafeSignalSpy.h"
#include "Utils/FuncUtils.h"
#include "WindowTestSupport.h"
#include "WorkerThread.h"

using korvane::Event2D;

namespace {

QStringList g_messages;
void recordMessages(QtMsgType, const QMessageLogContext&, const QString& text) {
    g_messages << text;
}

// The recordings played here: from 1 ms on, at 2 Mev/s.
korvane::SyntheticOptions scene(uint64_t duration_us) {
    return {.duration_us = duration_us,
            .eventsPerSecond = 2000000,
            .startTime_us = 1000,
            .serialNumber = "KVTEST42"};
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const std::string& bytes) {
    const QString path = dir.filePath(name);
    std::ofstream out(path.toStdString(), std::ios::binary);
    out << bytes;
    return path;
}

// Our header, then a hole: reading the zeros to index them takes a while.
QString sparseRecording(const QTemporaryDir& dir, uint64_t holeBytes) {
    const QString path = dir.filePath("sparse.raw");
    std::ofstream out(path.toStdString(), std::ios::binary);
    out << korvane::generateDvsFileHeader(korvane::DvsFileInfo{});
    out.seekp(std::streamoff(holeBytes));
    const uint16_t words[] = {0x8001, 0x6005, 0x0007, 0x2009};
    out.write(reinterpret_cast<const char*>(words), sizeof words);
    return path;
}

// Waits for the load to finish and returns the recorded order of signals.
QStringList loadAndWait(KvEventProcessor& p, const QString& path) {
    QStringList order;
    auto tag = [&](const QString& t) { order << t; };
    QList<QMetaObject::Connection> c{
        // With &p as context the tags are taken on this thread, in emission order.
        QObject::connect(&p, &KvEventProcessor::signalEndTimeStamp, &p, [&] { tag("end"); }),
        QObject::connect(&p, &KvEventProcessor::signalStartTimeStamp, &p, [&] { tag("start"); }),
        QObject::connect(&p, &KvEventProcessor::signalRealTimeTimeStamp, &p,
                         [&] { tag("current"); }),
        QObject::connect(&p, &KvEventProcessor::signalPlayStatus, &p,
                         [&](bool b) { tag(b ? "play true" : "play false"); }),
        QObject::connect(&p, &KvEventProcessor::signalLoadingStatus, &p,
                         [&](bool b) { tag(b ? "loading true" : "loading false"); }),
    };
    p.loadFile(path);
    if (!QTest::qWaitFor([&] { return order.contains("loading false"); }, 20000))
        qWarning("the load did not end");
    for (auto& conn : c)
        QObject::disconnect(conn);
    return order;
}

// The image the renderer paints for one read window of a recording.
QImage renderedWindow(const QString& path, uint64_t start_us, uint64_t duration_us) {
    auto reader = korvane::DvsFileReader::createFileReader(path.toStdString());
    if (!reader || !reader->openForReading()) qFatal("cannot read %s", qPrintable(path));
    const korvane::EventBatch batch = reader->readEventsInWindow(start_us, duration_us);
    if (!batch || batch->empty()) qFatal("no events in the window");
    QImage painted;
    QSemaphore done;
    {
        EventFrameRenderer renderer(
            [&](const QImage& image) {
                painted = image.copy();
                done.release();
            },
            [] { return AppConfig::instance().theme(); });
        renderer.accumulateEvents(batch->data(), batch->data() + batch->size());
        renderer.requestFrame();
        done.acquire();
    }
    return painted;
}

// Waits until the load thread has reported the end of the load, then runs
// what it queued for the processor before that report.
bool waitForLoadEnd(KvEventProcessor& p, ThreadSafeSignalSpy& loading) {
    const bool ended = QTest::qWaitFor(
        [&] {
            for (const auto& args : loading)
                if (!args.at(0).toBool()) return true;
            return false;
        },
        20000);
    QCoreApplication::sendPostedEvents(&p, QEvent::MetaCall);
    return ended && !p.isLoading();
}

// Holds a thread until opened (at most ten seconds, so a fault cannot hang
// the run).
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    void wait() {
        std::unique_lock<std::mutex> lock(m);
        cv.wait_for(lock, std::chrono::seconds(10), [&] { return open; });
    }
    void set(bool o) {
        std::lock_guard<std::mutex> lock(m);
        open = o;
        cv.notify_all();
    }
};

QList<uint64_t> positions(const QList<QVariantList>& spy) {
    QList<uint64_t> out;
    for (const auto& args : spy)
        out << args.at(0).value<uint64_t>();
    return out;
}

}  // namespace

class ProcessorTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString recording_;  // 1 s from t = 1000 at 2 Mev/s

private slots:
    void initTestCase() { recording_ = writeRecording(dir_.filePath("one.raw"), scene(1000000)); }

    void loadEmitsInOrderAndSetsBounds() {
        KvEventProcessor p;
        QStringList order = loadAndWait(p, recording_);
        QCOMPARE(order, (QStringList{"play false", "loading true", "end", "start", "current",
                                     "play true", "loading false"}));
        QCOMPARE(p.lowerBound(), uint64_t(1000));
        QCOMPARE(p.upperBound(), uint64_t(1000999));
        QCOMPARE(p.currentPosition(), uint64_t(1000));
        QVERIFY(!p.isLoading());
    }

    // The play button answers "playing" with a play command on the GUI thread.
    // However late the load thread runs after it said so, the command is taken.
    void playCommandAnsweringTheLoadIsTaken() {
        Gate answered;  // outlives the processor: its load thread may wait on it
        KvEventProcessor p;
        // Queued to the GUI thread, as the button's toggle is.
        connect(&p, &KvEventProcessor::signalPlayStatus, &p, [&](bool play) {
            if (!play) return;
            p.slotPlaybackCtrl(true);
            answered.set(true);
        });
        // On the load thread: hold it right after "playing" until the answer ran.
        connect(
            &p, &KvEventProcessor::signalPlayStatus, &p,
            [&](bool play) {
                if (play) answered.wait();
            },
            Qt::DirectConnection);
        ThreadSafeSignalSpy loading(&p, &KvEventProcessor::signalLoadingStatus);
        p.loadFile(recording_);
        QVERIFY(waitForLoadEnd(p, loading));  // what the load thread does after "playing" too
        QVERIFY(answered.open);
        QVERIFY(p.isPlaying());
        p.slotPlaybackCtrl(false);
    }

    void playRequestDuringTheLoadPlaysOnceLoaded() {
        // The load thread waits at its start until the requests below are made.
        Gate go;
        KvEventProcessor p;
        connect(
            &p, &KvEventProcessor::signalLoadingStatus, &p,
            [&](bool on) {
                if (on) go.wait();
            },
            Qt::DirectConnection);
        ThreadSafeSignalSpy loading(&p, &KvEventProcessor::signalLoadingStatus);
        ThreadSafeSignalSpy status(&p, &KvEventProcessor::signalPlayStatus);
        p.loadFile(recording_);
        QVERIFY(p.isLoading());
        p.slotPlaybackCtrl(true);  // Space while the waiting window shows
        QVERIFY(!p.isPlaying());
        go.set(true);
        QVERIFY(waitForLoadEnd(p, loading));
        QVERIFY(p.isPlaying());
        QVERIFY(status.last().at(0).toBool());
        p.slotPlaybackCtrl(false);

        // Play then pause during a load: nothing is left asked for.
        go.set(false);
        loading.clear();
        p.loadFile(recording_);
        QVERIFY(p.isLoading());
        p.slotPlaybackCtrl(true);
        p.slotPlaybackCtrl(false);
        go.set(true);
        QVERIFY(waitForLoadEnd(p, loading));
        QVERIFY(!p.isPlaying());
    }

    void unplayableFilesAreReportedAndLeaveNoRecording() {
        QTemporaryDir dir;
        const std::string header = korvane::generateDvsFileHeader(korvane::DvsFileInfo{});
        std::string text;
        for (int i = 0; i < 200; ++i)
            text += "This is a plain text file, not a recording.\n";
        // Random bytes without header: no longer "a blank recording".
        std::string noise(300, '\0');
        for (size_t i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 151 + 17) & 0xFF);
        struct Case {
            QString path;
            QString reason;
        };
        const QList<Case> cases{
            {writeFile(dir, "empty.raw", ""), "the file is empty"},
            {writeFile(dir, "notes.raw", text), "it is not a RAW recording"},
            {writeFile(dir, "noise.raw", noise), "it is not a RAW recording"},
            {writeFile(dir, "header.raw", header), "the recording holds no events"},
            {writeFile(dir, "evt9.raw", "% format EVT9\n% end\n1234"), "it is not a RAW recording"},
            {dir.filePath("missing.raw"), "the file cannot be read"},
        };
        for (const Case& c : cases) {
            KvEventProcessor p;
            ThreadSafeSignalSpy tips(&p, &KvEventProcessor::signalShowLeftBottomTips);
            ThreadSafeSignalSpy failed(&p, &KvEventProcessor::signalLoadFailed);
            ThreadSafeSignalSpy status(&p, &KvEventProcessor::signalPlayStatus);
            ThreadSafeSignalSpy opened(&p, &KvEventProcessor::signalRecordingOpened);
            ThreadSafeSignalSpy loading(&p, &KvEventProcessor::signalLoadingStatus);
            p.loadFile(c.path);
            if (p.isLoading()) QVERIFY(waitForLoadEnd(p, loading));
            QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 20000);
            QCoreApplication::sendPostedEvents(&p, QEvent::MetaCall);
            QCOMPARE(failed.at(0).at(0).toString(), c.path);
            QCOMPARE(failed.at(0).at(1).toString(), c.reason);
            QCOMPARE(tips.count(), 1);
            const QString name = QFileInfo(c.path).fileName();
            QCOMPARE(tips.at(0).at(0).toString(), "Cannot play " + name + ": " + c.reason + ".");
            QCOMPARE(tips.at(0).at(1).value<KvMessageType>(), KvMessageType::Error);
            QCOMPARE(opened.count(), 0);
            for (const auto& args : status)
                QVERIFY2(!args.at(0).toBool(), qPrintable(name));  // never "playing"
            QVERIFY2(!p.hasReader(), qPrintable(name));
            p.slotPlaybackCtrl(true);
            QVERIFY(!p.isPlaying());
            p.nextFrame();
            QCOMPARE(p.currentPosition(), uint64_t(0));
        }
    }

    // Refused when opened or only by the load: either way the recording that
    // was open stays, paused where it was and still steppable.
    void refusedFileKeepsTheOpenRecording() {
        QTemporaryDir dir;
        const std::string header = korvane::generateDvsFileHeader(korvane::DvsFileInfo{});
        std::string noise(300, '\0');
        for (size_t i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 151 + 17) & 0xFF);
        struct Case {
            QString path;
            QString reason;
        };
        const QList<Case> cases{
            {writeFile(dir, "header.raw", header), "the recording holds no events"},
            {writeFile(dir, "cut.raw", header.substr(0, header.size() / 2)),
             "the file ends inside its header"},
            {writeFile(dir, "noise.raw", noise), "it is not a RAW recording"},
            {writeFile(dir, "empty.raw", ""), "the file is empty"},
        };
        for (const Case& c : cases) {
            const QString name = QFileInfo(c.path).fileName();
            KvEventProcessor p;
            loadAndWait(p, recording_);
            p.slotPlaybackCtrl(false);
            p.setPlayPos(p.lowerBound() + 50000);
            const uint64_t L = p.lowerBound(), U = p.upperBound(), at = p.currentPosition();
            ThreadSafeSignalSpy failed(&p, &KvEventProcessor::signalLoadFailed);
            ThreadSafeSignalSpy loading(&p, &KvEventProcessor::signalLoadingStatus);
            ThreadSafeSignalSpy opened(&p, &KvEventProcessor::signalRecordingOpened);
            p.loadFile(c.path);
            if (p.isLoading()) QVERIFY(waitForLoadEnd(p, loading));
            QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 20000);
            QCoreApplication::sendPostedEvents(&p, QEvent::MetaCall);
            QCOMPARE(failed.at(0).at(1).toString(), c.reason);
            QCOMPARE(opened.count(), 0);
            QVERIFY2(p.hasReader(), qPrintable(name));
            QVERIFY(!p.isPlaying());
            QCOMPARE(p.lowerBound(), L);
            QCOMPARE(p.upperBound(), U);
            QCOMPARE(p.currentPosition(), at);
            p.nextFrame();
            QCOMPARE(p.currentPosition(), at + p.frameInterval());
        }
    }

    void loadReportsProgressSerialAndEventRate() {
        QTemporaryDir dir;  // a fresh file: its index is built, not cached
        const QString path = writeRecording(dir.filePath("fresh.raw"), scene(2000000));
        KvEventProcessor p;
        ThreadSafeSignalSpy progress(&p, &KvEventProcessor::signalLoadProgress);
        ThreadSafeSignalSpy opened(&p, &KvEventProcessor::signalRecordingOpened);
        ThreadSafeSignalSpy loading(&p, &KvEventProcessor::signalLoadingStatus);
        ThreadSafeSignalSpy rate(&p, &KvEventProcessor::signalEventRate);
        p.loadFile(path);
        QVERIFY(waitForLoadEnd(p, loading));
        QVERIFY(progress.count() >= 1);
        int last = -1;
        for (const auto& args : progress) {
            const int percent = args.at(0).toInt();
            QVERIFY(percent >= 0 && percent <= 100);
            QVERIFY(percent > last);  // one report per new percent
            last = percent;
        }
        QCOMPARE(opened.count(), 1);
        QCOMPARE(opened.at(0).at(0).toString(), path);
        QCOMPARE(opened.at(0).at(1).toString(), QString("KVTEST42"));

        // A step reports the rate of the window it shows at once.
        p.setPlayPos(p.lowerBound() + 500000);
        QCOMPARE(rate.count(), 1);
        auto reader = korvane::DvsFileReader::createFileReader(path.toStdString());
        QVERIFY(reader && reader->openForReading());
        const auto batch = reader->readEventsInWindow(p.lowerBound() + 500000, 33333);
        QVERIFY(batch && !batch->empty());
        QCOMPARE(rate.at(0).at(0).toDouble(), double(batch->size()) * 1e6 / 33333.0);
    }

    // One rule for the event and the fusion player: 1,000,000 / fps, and a
    // rate below one (a slow rate under 1/30) plays one frame per second,
    // whatever rate was set before.
    void fpsToInterval() {
        KvEventProcessor events;
        KvFusionCameraDataProcessor fusion;
        QCOMPARE(events.frameInterval(), uint64_t(30303));  // start-up rates: 33 and 30
        QCOMPARE(fusion.frameInterval(), uint64_t(33333));
        const struct {
            int fps;
            uint64_t interval;
        } cases[] = {{30, 33333}, {33, 30303},   {3000, 333}, {0, 1000000},
                     {25, 40000}, {-5, 1000000}, {1, 1000000}};
        for (const auto& c : cases) {
            events.setFps(c.fps);
            fusion.setFps(c.fps);
            QCOMPARE(events.frameInterval(), c.interval);
            QCOMPARE(fusion.frameInterval(), c.interval);
            QCOMPARE(events.fps(), uint64_t(std::max(c.fps, 1)));
        }
    }

    void rangePlaysFourFramesThenStops() {
        KvEventProcessor p;
        loadAndWait(p, recording_);
        const uint64_t L = 200000;
        p.setFps(30);
        p.slotSetLowerTimeStamp(L);
        p.slotSetUpperTimeStamp(L + 100000);
        p.slotPlaybackReset();
        QCOMPARE(p.currentPosition(), L);
        ThreadSafeSignalSpy pos(&p, &KvEventProcessor::signalRealTimeTimeStamp);
        ThreadSafeSignalSpy status(&p, &KvEventProcessor::signalPlayStatus);
        ThreadSafeSignalSpy images(&p, &KvEventProcessor::signalEventImage);
        p.slotPlaybackCtrl(true);
        QTRY_COMPARE_WITH_TIMEOUT(status.count(), 1, 30000);
        QCOMPARE(status.at(0).at(0).toBool(), false);
        QCOMPARE(positions(pos), (QList<uint64_t>{L + 33333, L + 66666, L + 99999, L + 100000}));
        QCOMPARE(p.currentPosition(), L);
        QVERIFY(!p.isPlaying());
        // Frames may merge while the render thread is busy, so their number says
        // little; the last request is always painted, so the last image must be
        // the shortened window that reaches the upper bound.
        const QImage expected = renderedWindow(recording_, L + 99999, 2);
        QTRY_VERIFY_WITH_TIMEOUT(
            !images.isEmpty() && images.last().at(0).value<QImage>() == expected, 30000);
        // The thread ended on its own: play again works and does not abort.
        p.slotPlaybackCtrl(true);
        QTRY_COMPARE_WITH_TIMEOUT(status.count(), 2, 30000);
        QCOMPARE(positions(pos).size(), 8);
    }

    void loopContinuesPastTheEnd() {
        KvEventProcessor p;
        loadAndWait(p, recording_);
        p.setFps(30);
        p.slotSetLowerTimeStamp(100000);
        p.slotSetUpperTimeStamp(166666);
        p.slotPlayLoop(true);
        p.slotPlaybackReset();
        ThreadSafeSignalSpy pos(&p, &KvEventProcessor::signalRealTimeTimeStamp);
        ThreadSafeSignalSpy status(&p, &KvEventProcessor::signalPlayStatus);
        p.slotPlaybackCtrl(true);
        p.slotPlaybackCtrl(true);  // a second start while running is ignored
        QTRY_VERIFY_WITH_TIMEOUT(pos.count() >= 7, 5000);
        QVERIFY(p.isPlaying());
        QCOMPARE(status.count(), 0);
        const QList<uint64_t> seen = positions(pos);
        QCOMPARE(seen.mid(0, 3), (QList<uint64_t>{133333, 166666, 133333}));
        p.slotPlaybackCtrl(false);
        QVERIFY(!p.isPlaying());
    }

    void stepsSeeksAndBounds() {
        KvEventProcessor p;
        loadAndWait(p, recording_);
        p.setFps(30);
        const uint64_t L = p.lowerBound(), U = p.upperBound();
        p.slotPlaybackReset();
        QSignalSpy pos(&p, &KvEventProcessor::signalRealTimeTimeStamp);

        p.nextFrame();
        QCOMPARE(p.currentPosition(), L + 33333);
        p.preFrame();
        QCOMPARE(p.currentPosition(), L);
        p.preFrame();  // within one interval of the lower bound: stays there
        QCOMPARE(p.currentPosition(), L);
        QCOMPARE(positions(pos), (QList<uint64_t>{L + 33333, L, L}));

        pos.clear();
        p.setPlayPos(L - 1);
        p.setPlayPos(U + 1);
        QCOMPARE(pos.count(), 0);
        QCOMPARE(p.currentPosition(), L);
        p.setPlayPos(L + 50000);
        QCOMPARE(p.currentPosition(), L + 50000 + 33333);
        QCOMPARE(positions(pos), (QList<uint64_t>{L + 50000 + 33333}));

        pos.clear();
        p.setPlayPos(U - 10);  // the next window would reach the upper bound
        const uint64_t before = p.currentPosition();
        p.nextFrame();
        QCOMPARE(p.currentPosition(), before);
        QCOMPARE(pos.count(), 1);  // only the seek's own position

        p.slotPlaybackReset();
        QCOMPARE(p.currentPosition(), L);
    }

    void stepIntoSilenceShowsBackground() {
        QTemporaryDir dir;
        const QString path = dir.filePath("gap.raw");
        korvane::RawWriter w;
        w.open(path.toStdString(), korvane::generateDvsFileHeader({}));
        std::vector<Event2D> ev{{5, 5, 1, 1000}, {6, 6, 1, 900000}};
        w.writeEvents(ev.data(), ev.size());
        QVERIFY(w.close());
        KvEventProcessor p;
        loadAndWait(p, path);
        p.setFps(30);
        ThreadSafeSignalSpy images(&p, &KvEventProcessor::signalEventImage);
        p.setPlayPos(300000);  // an empty window inside the recording
        p.nextFrame();         // and the next one: background frames
        const QColor background = AppConfig::instance().theme().background;
        QTRY_VERIFY_WITH_TIMEOUT(images.count() >= 1, 20000);
        // Requests may coalesce; whichever frame came last shows only background.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QImage img = images.last().at(0).value<QImage>();
                return img.pixelColor(5, 5) == background && img.pixelColor(6, 6) == background &&
                       img.pixelColor(640, 360) == background;
            }(),
            20000);
        QCOMPARE(p.currentPosition(), uint64_t(300000 + 33333 + 33333));

        // Paused, a longer accumulation time draws the same moment again at
        // once, now reaching the event at 900000; the position stays.
        p.setPlayPos(850000);
        QTRY_VERIFY_WITH_TIMEOUT(images.last().at(0).value<QImage>().pixelColor(6, 6) == background,
                                 20000);
        const int before = images.count();
        QSignalSpy pos(&p, &KvEventProcessor::signalRealTimeTimeStamp);
        p.setAccTime(100000);
        QTRY_VERIFY_WITH_TIMEOUT(images.count() > before, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(images.last().at(0).value<QImage>().pixelColor(6, 6) != background,
                                 20000);
        QCOMPARE(pos.count(), 0);
        QCOMPARE(p.currentPosition(), uint64_t(850000 + 33333));
    }

    // A fusion camera's RAW (its header names the first frame's time)
    // stores columns mirrored; opened without its frames file it is shown
    // the right way round, and the user is told the frames are missing. A
    // plain recording with the same words is shown as stored.
    void fusionEventsWithoutTheirFramesShowTheRightWayRound() {
        QTemporaryDir dir;
        for (const bool fusion : {true, false}) {
            const QString path = dir.filePath(fusion ? "fus.raw" : "plain.raw");
            korvane::DvsFileInfo info;
            info.apsStartTimestamp = fusion ? 33333 : 0;
            korvane::RawWriter w;
            w.open(path.toStdString(), korvane::generateDvsFileHeader(info));
            std::vector<Event2D> ev{{10, 5, 1, 1000}, {11, 5, 1, 2000}};  // stored columns
            w.writeEvents(ev.data(), ev.size());
            QVERIFY(w.close());
            KvEventProcessor p;
            ThreadSafeSignalSpy tips(&p, &KvEventProcessor::signalShowLeftBottomTips);
            ThreadSafeSignalSpy images(&p, &KvEventProcessor::signalEventImage);
            loadAndWait(p, path);
            p.setPlayPos(1000);
            const QColor background = AppConfig::instance().theme().background;
            const int shown = fusion ? 1279 - 10 : 10, other = fusion ? 10 : 1279 - 10;
            QTRY_VERIFY_WITH_TIMEOUT(
                !images.isEmpty() &&
                    images.last().at(0).value<QImage>().pixelColor(shown, 5) != background,
                20000);
            QCOMPARE(images.last().at(0).value<QImage>().pixelColor(other, 5), background);
            QCOMPARE(tips.size(), fusion ? 1 : 0);
            if (fusion) {
                QCOMPARE(tips[0][1].value<KvMessageType>(), KvMessageType::Warning);
                QVERIFY(tips[0][0].toString().contains(".mp4"));
            }
        }
    }

    void commandsRefusedWithoutFileOrWhileLoading() {
        QTemporaryDir dir;
        const QString other = sparseRecording(dir, 1 << 20);
        // Holds the load thread at its first signal, so the load stays in
        // progress for as long as the commands below take, however slow. The
        // semaphore outlives the processor; the releaser opens it before the
        // processor waits for its load thread.
        QSemaphore gate;
        KvEventProcessor p;
        QSemaphoreReleaser open(gate);  // also on an early return
        QObject::connect(
            &p, &KvEventProcessor::signalLoadingStatus, &p,
            [&](bool loading) {
                if (loading) gate.acquire();
            },
            Qt::DirectConnection);
        ThreadSafeSignalSpy tips(&p, &KvEventProcessor::signalShowLeftBottomTips);
        ThreadSafeSignalSpy failed(&p, &KvEventProcessor::signalLoadFailed);
        g_messages.clear();
        auto old = qInstallMessageHandler(recordMessages);
        p.nextFrame();
        p.loadFile(QString());  // only leaves playback: opens nothing, reports nothing
        QVERIFY(!p.hasReader());
        QCOMPARE(tips.count(), 0);
        QCOMPARE(failed.count(), 0);
        p.loadFile(other);
        QVERIFY(p.isLoading());
        p.nextFrame();
        p.setPlayPos(0);
        p.slotPlaybackCtrl(true);
        p.loadFile(recording_);
        qInstallMessageHandler(old);
        QVERIFY(p.isLoading());
        QVERIFY(!p.isPlaying());
        QCOMPARE(g_messages.count("not raw file."), 4);
        QCOMPARE(g_messages.count("is loading."), 1);
        gate.release();
        open.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(!p.isLoading(), 60000);
        QCOMPARE(p.lowerBound(), uint64_t(4101));  // the first file's, not recording_'s
    }

    void destroyedWhileLoadingReturnsPromptly() {
        QTemporaryDir dir;
        const QString big = sparseRecording(dir, 8ull << 30);
        QElapsedTimer timer;
        {
            std::atomic<bool> indexing{false};  // set on the load thread until p is gone
            KvEventProcessor p;
            connect(
                &p, &KvEventProcessor::signalLoadProgress, &p, [&] { indexing = true; },
                Qt::DirectConnection);
            p.loadFile(big);
            QVERIFY(QTest::qWaitFor([&] { return indexing.load(); }, 20000));
            timer.start();
        }
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    }

    void workerThread() {
        int runs = 0;
        WorkerThread withTask([&] { ++runs; });
        ThreadSafeSignalSpy done(&withTask, &WorkerThread::taskCompleted);
        withTask.start(QThread::InheritPriority);
        QVERIFY(withTask.wait(5000));
        QCOMPARE(runs, 1);
        QTRY_COMPARE(done.count(), 1);

        WorkerThread empty(nullptr);
        ThreadSafeSignalSpy none(&empty, &WorkerThread::taskCompleted);
        empty.start();
        QVERIFY(empty.wait(5000));
        QCoreApplication::sendPostedEvents();  // a signal it sent would have been queued
        QCOMPARE(none.count(), 0);

        WorkerThread throwing([] { throw std::runtime_error("boom"); });
        ThreadSafeSignalSpy thrown(&throwing, &WorkerThread::taskCompleted);
        throwing.start();
        QVERIFY(throwing.wait(5000));
        QTRY_COMPARE(thrown.count(), 1);
    }
};

VELQORA_TEST_MAIN(ProcessorTest)
#include "test_processor.moc"
