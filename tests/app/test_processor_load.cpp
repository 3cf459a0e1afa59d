// Loading recordings: what a play request around a load does, how files that
// cannot be played are reported, and what a load tells the window.

#include <QTemporaryDir>
#include <condition_variable>
#include <fstream>
#include <mutex>

#include "AppTestMain.h"
#include "DvsFileReader.h"
#include "KvEventProcessor.h"
#include "SyntheticRecording.h"
#include "ThreadSafeSignalSpy.h"
#include "Utils/FuncUtils.h"

namespace {

QString generate(const QTemporaryDir& dir, const QString& name, uint64_t duration_us,
                 uint64_t rate) {
    korvane::SyntheticOptions o;
    o.startTime_us = 1000;
    o.duration_us = duration_us;
    o.eventsPerSecond = rate;
    o.serialNumber = "KVTEST42";
    const QString path = dir.filePath(name);
    if (!korvane::writeSyntheticRecording(path.toStdString(), o)) qFatal("cannot generate");
    return path;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const std::string& bytes) {
    const QString path = dir.filePath(name);
    std::ofstream out(path.toStdString(), std::ios::binary);
    out << bytes;
    return path;
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

}  // namespace

class ProcessorLoadTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString recording_;

private slots:
    void initTestCase() { recording_ = generate(dir_, "one.raw", 1000000, 1000000); }

    // The play button answers "playing" with a play command on the GUI thread.
    // However late the load thread runs after it said so, the command is taken.
    void playCommandAnsweringTheLoadIsTaken() {
        KvEventProcessor p;
        std::mutex m;
        std::condition_variable cv;
        bool answered = false;
        // Queued to the GUI thread, as the button's toggle is.
        connect(&p, &KvEventProcessor::signalPlayStatus, &p, [&](bool play) {
            if (!play) return;
            p.slotPlaybackCtrl(true);
            std::lock_guard<std::mutex> lock(m);
            answered = true;
            cv.notify_all();
        });
        // On the load thread: hold it right after "playing" until the answer ran.
        connect(
            &p, &KvEventProcessor::signalPlayStatus, &p,
            [&](bool play) {
                if (!play) return;
                std::unique_lock<std::mutex> lock(m);
                cv.wait_for(lock, std::chrono::seconds(10), [&] { return answered; });
            },
            Qt::DirectConnection);
        p.loadFile(recording_);
        QTRY_VERIFY_WITH_TIMEOUT(answered, 20000);
        QVERIFY(p.isPlaying());
        p.slotPlaybackCtrl(false);
    }

    void playRequestDuringTheLoadPlaysOnceLoaded() {
        KvEventProcessor p;
        // The load thread waits at its start until the requests below are made.
        std::mutex m;
        std::condition_variable cv;
        bool go = false;
        connect(
            &p, &KvEventProcessor::signalLoadingStatus, &p,
            [&](bool on) {
                if (!on) return;
                std::unique_lock<std::mutex> lock(m);
                cv.wait_for(lock, std::chrono::seconds(10), [&] { return go; });
            },
            Qt::DirectConnection);
        auto release = [&] {
            std::lock_guard<std::mutex> lock(m);
            go = true;
            cv.notify_all();
        };
        ThreadSafeSignalSpy loading(&p, &KvEventProcessor::signalLoadingStatus);
        ThreadSafeSignalSpy status(&p, &KvEventProcessor::signalPlayStatus);
        p.loadFile(recording_);
        QVERIFY(p.isLoading());
        p.slotPlaybackCtrl(true);  // Space while the waiting window shows
        QVERIFY(!p.isPlaying());
        release();
        QVERIFY(waitForLoadEnd(p, loading));
        QVERIFY(p.isPlaying());
        QVERIFY(status.last().at(0).toBool());
        p.slotPlaybackCtrl(false);

        // Play then pause during a load: nothing is left asked for.
        go = false;
        loading.clear();
        p.loadFile(recording_);
        QVERIFY(p.isLoading());
        p.slotPlaybackCtrl(true);
        p.slotPlaybackCtrl(false);
        release();
        QVERIFY(waitForLoadEnd(p, loading));
        QVERIFY(!p.isPlaying());
    }

    void unplayableFilesAreReportedAndLeaveNoRecording() {
        QTemporaryDir dir;
        const std::string header = korvane::generateDvsFileHeader(korvane::DvsFileInfo{});
        std::string text;
        for (int i = 0; i < 200; ++i)
            text += "This is a plain text file, not a recording.\n";
        struct Case {
            QString path;
            QString reason;
        };
        const QList<Case> cases{
            {writeFile(dir, "empty.raw", ""), "the file is empty"},
            {writeFile(dir, "notes.raw", text), "it is not a RAW recording"},
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

    void emptyPathLeavesPlaybackQuietly() {
        KvEventProcessor p;
        ThreadSafeSignalSpy tips(&p, &KvEventProcessor::signalShowLeftBottomTips);
        ThreadSafeSignalSpy failed(&p, &KvEventProcessor::signalLoadFailed);
        p.loadFile(QString());
        QCOMPARE(tips.count(), 0);
        QCOMPARE(failed.count(), 0);
        QVERIFY(!p.hasReader());
    }

    void loadReportsProgressSerialAndEventRate() {
        QTemporaryDir dir;  // a fresh file: its index is built, not cached
        const QString path = generate(dir, "fresh.raw", 2000000, 2000000);
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
};

VELQORA_TEST_MAIN(ProcessorLoadTest)
#include "test_processor_load.moc"
