#include <QElapsedTimer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <fstream>

#include "AppConfig.h"
#include "AppTestMain.h"
#include "KvEventProcessor.h"
#include "RawWriter.h"
#include "SyntheticRecording.h"
#include "ThreadSafeSignalSpy.h"
#include "Utils/FuncUtils.h"
#include "WorkerThread.h"

using korvane::Event2D;

namespace {

QStringList g_messages;
void recordMessages(QtMsgType, const QMessageLogContext&, const QString& text) {
    g_messages << text;
}

QString generate(const QTemporaryDir& dir, const QString& name, uint64_t start_us,
                 uint64_t duration_us, uint64_t rate) {
    korvane::SyntheticOptions o;
    o.startTime_us = start_us;
    o.duration_us = duration_us;
    o.eventsPerSecond = rate;
    const QString path = dir.filePath(name);
    if (!korvane::writeSyntheticRecording(path.toStdString(), o)) qFatal("cannot generate");
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
    QElapsedTimer timer;
    timer.start();
    while (!order.contains("loading false") && timer.elapsed() < 20000)
        QTest::qWait(5);
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
    void initTestCase() { recording_ = generate(dir_, "one.raw", 1000, 1000000, 2000000); }

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

    void fpsToInterval() {
        KvEventProcessor p;
        QCOMPARE(p.frameInterval(), uint64_t(30303));
        p.setFps(30);
        QCOMPARE(p.frameInterval(), uint64_t(33333));
        p.setFps(33);
        QCOMPARE(p.frameInterval(), uint64_t(30303));
        p.setFps(3000);
        QCOMPARE(p.frameInterval(), uint64_t(333));
        p.setFps(0);  // a slow rate below 1/30: one frame per second, no division by zero
        QCOMPARE(p.frameInterval(), uint64_t(1000000));
        p.setFps(-5);
        QCOMPARE(p.frameInterval(), uint64_t(1000000));
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
        QTRY_VERIFY_WITH_TIMEOUT(images.count() >= 1, 3000);
        // Requests may coalesce; whichever frame came last shows only background.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QImage img = images.last().at(0).value<QImage>();
                return img.pixelColor(5, 5) == background && img.pixelColor(6, 6) == background &&
                       img.pixelColor(640, 360) == background;
            }(),
            3000);
        QCOMPARE(p.currentPosition(), uint64_t(300000 + 33333 + 33333));
    }

    void commandsRefusedWithoutFileOrWhileLoading() {
        QTemporaryDir dir;
        const QString other = sparseRecording(dir, 1 << 20);
        KvEventProcessor p;
        // Holds the load thread at its first signal, so the load stays in
        // progress for as long as the commands below take, however slow.
        QSemaphore gate;
        QSemaphoreReleaser open(gate);  // also on an early return
        QObject::connect(
            &p, &KvEventProcessor::signalLoadingStatus, &p,
            [&](bool loading) {
                if (loading) gate.acquire();
            },
            Qt::DirectConnection);
        g_messages.clear();
        auto old = qInstallMessageHandler(recordMessages);
        p.nextFrame();
        p.loadFile(QString());  // releases nothing, opens nothing
        QVERIFY(!p.hasReader());
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
            KvEventProcessor p;
            p.loadFile(big);
            QTest::qWait(50);
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
        QTest::qWait(20);
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
