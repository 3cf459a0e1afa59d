// The fusion data processor: opening a fusion recording (base names, bounds,
// signal order, unreadable parts, bad calibration files), stepping and
// playing through it, the live views, the manual calibration's apply, and
// its own lifetime rules (destroyed while loading, last camera handle).
// Frames come from a fake frame reader (frame k is grey k + 1), events from
// a RAW file written here with our writer.

#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "AppConfig.h"
#include "AppTestMain.h"
#include "FakeFrameReader.h"
#include "KvFusionCameraDataProcessor.h"
#include "korvane/file/RawWriter.h"
#include "korvane/sim/SimulatedFusionCamera.h"
#include "ThreadSafeSignalSpy.h"
#include "Utils/FuncUtils.h"
#include "Utils/JsonUtils.h"

using korvane::Event2D;

namespace {

constexpr uint64_t kOffset_us = 1000000;  // aps_start_timestamp of the recordings
constexpr uint64_t kEnd_us = 2000000;     // last event

// Identity between the two grids: frame pixels land where they are.
korvane::CalibratorParameters identityCalibration() {
    korvane::CalibratorParameters p;
    p.apsWidth = 1280;
    p.apsHeight = 720;
    p.affineMatrices["1"] = korvane::Matrix{2, 3, 6, {1, 0, 0, 0, 1, 0}};
    p.affineMatrices["0"] = korvane::Matrix{2, 3, 6, {1, 0, 0, 0, 1, 0}};
    return p;
}

// Events: a sparse background row from 0.5 s to 2 s (so the first event lies
// before the first frame), plus the marked ones the tests look for.
const Event2D kEdgeOn{0, 10, 1, kOffset_us + 10};       // left edge, ON
const Event2D kEdgeOff{1279, 10, 0, kOffset_us + 20};   // right edge, OFF
const Event2D kLater{100, 100, 1, kOffset_us + 40000};  // second window only

void writeRecording(const QString& rawPath) {
    std::vector<Event2D> events;
    for (uint64_t t = 500000; t <= kEnd_us; t += 10000)
        events.emplace_back(600, 700, 1, t);
    events.push_back(kEdgeOn);
    events.push_back(kEdgeOff);
    events.push_back(kLater);
    std::stable_sort(events.begin(), events.end(),
                     [](const Event2D& a, const Event2D& b) { return a.timestamp < b.timestamp; });
    korvane::DvsFileInfo info;
    info.dvsStartTimestamp = events.front().timestamp;
    info.apsStartTimestamp = kOffset_us;
    info.serialNumber = "KVTEST-FUSION";
    korvane::RawWriter writer;
    if (!writer.open(rawPath.toStdString(), korvane::generateDvsFileHeader(info)))
        qFatal("cannot write recording");
    writer.writeEvents(events.data(), events.size());
    if (!writer.close()) qFatal("cannot write recording");
}

struct Fixture {
    QTemporaryDir dir;
    std::shared_ptr<FakeFrameState> frames = std::make_shared<FakeFrameState>();
    std::unique_ptr<KvFusionCameraDataProcessor> p =
        std::make_unique<KvFusionCameraDataProcessor>();
    QString raw;

    explicit Fixture(const QString& name = "rec_01.raw") {
        raw = dir.filePath(name);
        writeRecording(raw);
        QFile(dir.filePath(QFileInfo(name).completeBaseName() + ".mp4")).open(QIODevice::WriteOnly);
        auto state = frames;
        p->setFrameReaderFactory([state](const std::string& path) {
            state->requestedPaths.push_back(path);
            return std::make_unique<FakeFrameReader>(state);
        });
        p->loadCalibration(identityCalibration());
    }

    // Loads the recording (or another) and waits until the load has ended.
    bool load(const QString& path = QString()) {
        ThreadSafeSignalSpy loading(p.get(), &KvFusionCameraDataProcessor::signalLoadingStatus);
        if (!p->slotReadFusionFile(path.isEmpty() ? raw : path)) return false;
        return QTest::qWaitFor([&] { return loading.size() >= 2 && !loading.last()[0].toBool(); },
                               10000);
    }
};

QColor pixel(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

int grey(const QImage& image) {
    return qRed(image.pixel(500, 500));  // no event lands there
}

QImage lastImage(const ThreadSafeSignalSpy& images) {
    return images.isEmpty() ? QImage() : images.last()[0].value<QImage>();
}

// A frame and an edge that close one live period (the pairing hands the
// frame and the period's events to the processor at once).
void closeLivePeriod(KvFusionCameraDataProcessor& p, uint64_t t_us) {
    korvane::ApsFrame frame(1280, 720, 1, t_us);
    std::fill(frame.data(), frame.data() + frame.getDataSize(), uint8_t(77));
    p.addLiveFrame(frame);
    p.addLiveTrigger(korvane::EventTriggerIn(0, 1, t_us));
}

size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * size_t(sysconf(_SC_PAGESIZE));
}

}  // namespace

class TestFusionProcessor : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        qRegisterMetaType<uint64_t>("uint64_t");
        qRegisterMetaType<KvMessageType>("KvMessageType");
    }

    // rec_01.raw looks for rec_01.mp4 beside it; a name without '.' is its
    // own base, also when a folder name holds one.
    void baseNameRules() {
        Fixture f;
        QVERIFY(f.load());
        QCOMPARE(f.frames->requestedPaths.back(), f.dir.filePath("rec_01.mp4").toStdString());

        QTemporaryDir dotted(QDir::tempPath() + "/fusion.dir-XXXXXX");
        const QString bare = dotted.filePath("take");
        writeRecording(bare + ".raw");
        QVERIFY(f.load(bare));
        QCOMPARE(f.frames->requestedPaths.back(), (bare + ".mp4").toStdString());
        QVERIFY(f.p->hasRecording());  // found take.raw too
    }

    // Bounds come from the header's aps_start_timestamp, not the first
    // event; signals arrive as start, end, time stamp, loading false, play.
    void loadReportsBoundsInOrder() {
        Fixture f;
        QStringList order;
        QList<uint64_t> values;
        auto* p = f.p.get();
        QObject ctx;
        auto note = [&](const char* what) {
            return [&order, &values, what](uint64_t t) {
                order << what;
                values << t;
            };
        };
        connect(p, &KvFusionCameraDataProcessor::signalStartTimeStamp, &ctx, note("start"));
        connect(p, &KvFusionCameraDataProcessor::signalEndTimeStamp, &ctx, note("end"));
        connect(p, &KvFusionCameraDataProcessor::signalTimeStamp, &ctx, note("time"));
        connect(p, &KvFusionCameraDataProcessor::signalLoadingStatus, &ctx,
                [&](bool on) { order << (on ? "loading" : "loaded"); });
        connect(p, &KvFusionCameraDataProcessor::signalPlayStatus, &ctx,
                [&](bool on) { order << (on ? "play" : "pause"); });
        QVERIFY(p->slotReadFusionFile(f.raw));
        QVERIFY(!p->slotReadFusionFile(f.raw));  // refused while loading
        QVERIFY(QTest::qWaitFor([&] { return order.contains("play"); }, 10000));
        QCOMPARE(order, QStringList({"loading", "start", "end", "time", "loaded", "play"}));
        QCOMPARE(values, QList<uint64_t>({kOffset_us, kEnd_us, kOffset_us}));
        QCOMPARE(p->lowerBound(), kOffset_us);
        QCOMPARE(p->timeBase(), kOffset_us);
    }

    // Forward by one interval draws the events of the window ending there
    // (columns mirrored in playback) over the frame that covers it; frames
    // advance at their boundaries; back lands exactly on the lower bound.
    void stepsAcrossFramesAndBack() {
        Fixture f;
        QVERIFY(f.load());
        auto* p = f.p.get();
        const ThemeColors theme = ThemeColors{};
        ThreadSafeSignalSpy images(p, &KvFusionCameraDataProcessor::signalFusionImage);
        ThreadSafeSignalSpy times(p, &KvFusionCameraDataProcessor::signalTimeStamp);

        p->nextFrame();
        QCOMPARE(p->timeBase(), kOffset_us + 33333);
        QImage image = lastImage(images);
        QCOMPARE(image.size(), QSize(1280, 720));
        QCOMPARE(image.format(), QImage::Format_BGR888);
        QCOMPARE(grey(image), 1);                                   // frame 0
        QCOMPARE(pixel(image, 1279, 10), theme.on);                 // x = 0, mirrored
        QCOMPARE(pixel(image, 0, 10), theme.off);                   // x = 1279, mirrored
        QCOMPARE(grey(image), qRed(image.pixel(1279 - 100, 100)));  // not yet in the window
        QCOMPARE(times.last()[0].value<uint64_t>(), kOffset_us + 33333);

        p->nextFrame();
        image = lastImage(images);
        QCOMPARE(grey(image), 2);  // frame 1 reached
        QCOMPARE(pixel(image, 1279 - 100, 100), theme.on);
        QCOMPARE(grey(image), qRed(image.pixel(1279, 10)));  // left the window

        p->preFrame();
        p->preFrame();
        QCOMPARE(p->timeBase(), kOffset_us);
        QCOMPARE(grey(lastImage(images)), 1);  // went back: frame 0 read again

        p->setPlayPos(kOffset_us + 5 * 33333 + 10);
        QCOMPARE(grey(lastImage(images)), 6);
        p->setPlayPos(kOffset_us + 1000);
        p->preFrame();
        QCOMPARE(p->timeBase(), kOffset_us);  // less than one interval above: the bound
    }

    // A recording whose first frame comes after the range's start: the
    // steps before it show black under the events, never unread memory.
    void stepBeforeTheFirstFrame() {
        Fixture f;
        f.frames->first_us = 100000;
        QVERIFY(f.load());
        ThreadSafeSignalSpy images(f.p.get(), &KvFusionCameraDataProcessor::signalFusionImage);
        f.p->nextFrame();
        QCOMPARE(images.size(), 1);
        QImage image = lastImage(images);
        QCOMPARE(grey(image), 0);
        QCOMPARE(pixel(image, 1279, 10), ThemeColors{}.on);
        f.p->nextFrame();
        f.p->nextFrame();
        f.p->nextFrame();
        QCOMPARE(grey(lastImage(images)), 1);  // the first frame's time reached
    }

    // Play while playing keeps one playback thread; the end of the range
    // without replay stops at the lower bound and says so.
    void playbackControl() {
        Fixture f;
        f.frames->frames = 40;
        QVERIFY(f.load());
        auto* p = f.p.get();
        p->setFps(30);

        ThreadSafeSignalSpy finished(p, &KvFusionCameraDataProcessor::signalPalyFileFinished);
        p->setPlayPos(kEnd_us - 5 * 33333);
        p->slotPlaybackCtrl(true);
        p->slotPlaybackCtrl(true);
        QVERIFY(QTest::qWaitFor([&] { return finished.size() == 1; }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return !p->isPlaying(); }, 10000));
        QCOMPARE(p->timeBase(), kOffset_us);

        p->slotSetReplayFlag(true);
        p->slotPlaybackCtrl(true);
        QVERIFY(p->isPlaying());
        p->slotPlaybackCtrl(false);
        QVERIFY(!p->isPlaying());
        QCOMPARE(finished.size(), 1);

        // With the range's start moved, reset and the loop show that
        // start's frame, not the file's first one.
        ThreadSafeSignalSpy images(p, &KvFusionCameraDataProcessor::signalFusionImage);
        const uint64_t lower = kOffset_us + 10 * 33333 + 100;
        p->slotSetLowerTimeStamp(lower);
        p->slotPlaybackReset();
        QCOMPARE(p->timeBase(), lower);
        QCOMPARE(grey(lastImage(images)), 11);
        p->slotSetReplayFlag(false);
        p->setPlayPos(kEnd_us - 2 * 33333);
        const qsizetype before = images.size();
        p->slotPlaybackCtrl(true);
        QVERIFY(QTest::qWaitFor([&] { return finished.size() == 2; }, 10000));
        QCOMPARE(p->timeBase(), lower);
        p->nextFrame();
        QVERIFY(images.size() > before);
        QCOMPARE(grey(lastImage(images)), 12);  // one interval on: frame 11, not the file's first
    }

    // Playback shows the three views as live does: events alone on the
    // background, the frame alone, the events over the frame; a paused
    // recording redraws at once when the view changes.
    void playbackViews() {
        Fixture f;
        QVERIFY(f.load());
        auto* p = f.p.get();
        const ThemeColors theme = AppConfig::instance().theme();
        ThreadSafeSignalSpy images(p, &KvFusionCameraDataProcessor::signalFusionImage);
        p->setPlayPos(kOffset_us + 10000);
        QCOMPARE(images.size(), 1);
        QImage image = lastImage(images);
        QCOMPARE(grey(image), 1);                    // the frame
        QCOMPARE(pixel(image, 1279, 10), theme.on);  // and the events
        struct View {
            korvane::STREAM_TYPE type;
            bool frame, events;
        };
        for (const View& v :
             {View{korvane::STREAM_DVS, false, true}, View{korvane::STREAM_APS, true, false},
              View{korvane::STREAM_BOTH, true, true}}) {
            const qsizetype before = images.size();
            p->slotSetViewerType(v.type);
            QCOMPARE(images.size(), before + 1);
            image = lastImage(images);
            const QByteArray what = "view " + QByteArray::number(int(v.type));
            QVERIFY2((pixel(image, 500, 500) == theme.background) == !v.frame, what);
            QVERIFY2((pixel(image, 1279, 10) == theme.on) == v.events, what);
            p->nextFrame();  // stepping keeps the view
            image = lastImage(images);
            QVERIFY2((pixel(image, 500, 500) == theme.background) == !v.frame, what);
            QVERIFY2((pixel(image, 1279 - 100, 100) == theme.on) == v.events, what);
            p->preFrame();
        }
        p->slotSetViewerType(korvane::STREAM_BOTH);  // unchanged: no new picture
        QCOMPARE(images.size(), 10);
    }

    // A frames file whose index lists frames it cannot read (cut short):
    // the load says so; seeking past its last readable frame, stepping and
    // playing show that frame under the events up to the end of the events.
    void framesFileCutShort() {
        Fixture f;
        f.frames->frames = 30;
        f.frames->readable = 20;
        ThreadSafeSignalSpy tips(f.p.get(), &KvFusionCameraDataProcessor::signalShowLeftBottomTips);
        QVERIFY(f.load());
        QVERIFY(f.p->hasRecording());
        QCOMPARE(f.p->upperBound(), kEnd_us);  // the events' end
        QTRY_COMPARE_WITH_TIMEOUT(tips.size(), 1, 5000);
        QVERIFY2(tips[0][0].toString().contains("damaged or cut short"),
                 qPrintable(tips[0][0].toString()));
        QCOMPARE(tips[0][1].value<KvMessageType>(), KvMessageType::Warning);
        QCOMPARE(tips[0][2].toString(), f.dir.filePath("rec_01.mp4"));

        auto* p = f.p.get();
        const ThemeColors theme = AppConfig::instance().theme();
        ThreadSafeSignalSpy images(p, &KvFusionCameraDataProcessor::signalFusionImage);
        ThreadSafeSignalSpy times(p, &KvFusionCameraDataProcessor::signalTimeStamp);
        const uint64_t late = kEnd_us - 200000;  // far past frame 19 (at 0.63 s)
        p->setPlayPos(late);
        QCOMPARE(images.size(), 1);
        QCOMPARE(grey(lastImage(images)), 20);  // frame 19, the last readable one
        QCOMPARE(times.last()[0].value<uint64_t>(), late);
        QCOMPARE(pixel(lastImage(images), 1279 - 600, 700), theme.on);  // events go on
        p->nextFrame();
        QCOMPARE(images.size(), 2);
        QCOMPARE(grey(lastImage(images)), 20);
        QCOMPARE(times.last()[0].value<uint64_t>(), late + 33333);

        // Stepping from before the cut across it.
        p->setPlayPos(kOffset_us + 18 * 33333);
        QCOMPARE(grey(lastImage(images)), 19);
        for (int k = 0; k < 5; ++k)
            p->nextFrame();
        QCOMPARE(grey(lastImage(images)), 20);
        QCOMPARE(p->timeBase(), kOffset_us + 23 * 33333);

        // Played to the end: a picture for every tick, then the start again.
        ThreadSafeSignalSpy finished(p, &KvFusionCameraDataProcessor::signalPalyFileFinished);
        const qsizetype before = images.size();
        p->setPlayPos(kEnd_us - 10 * 33333);
        p->slotPlaybackCtrl(true);
        QVERIFY(QTest::qWaitFor([&] { return finished.size() == 1; }, 10000));
        QVERIFY(images.size() - before >= 10);
        QCOMPARE(p->timeBase(), kOffset_us);
        p->nextFrame();
        QCOMPARE(grey(lastImage(images)), 2);  // frames again from the start
    }

    // A load that cannot start the frames ends quietly and leaves the
    // processor ready for another file.
    void unreadableFramesEndTheLoad() {
        Fixture f;
        f.frames->failFirstRead = true;
        ThreadSafeSignalSpy start(f.p.get(), &KvFusionCameraDataProcessor::signalStartTimeStamp);
        QVERIFY(f.load());
        QVERIFY(!f.p->isLoading());
        QVERIFY(!f.p->hasRecording());
        QVERIFY(start.isEmpty());
        f.p->nextFrame();  // refused, no reader touched

        f.frames->failFirstRead = false;
        QVERIFY(f.load());
        QVERIFY(f.p->hasRecording());
        QCOMPARE(start.size(), 1);

        f.frames->failOpen = true;
        ThreadSafeSignalSpy tips(f.p.get(), &KvFusionCameraDataProcessor::signalShowLeftBottomTips);
        QVERIFY(f.load());
        QVERIFY(!f.p->hasRecording());
        // The failure says why.
        QCOMPARE(tips.size(), 1);
        QCOMPARE(tips[0][1].value<KvMessageType>(), KvMessageType::Error);
        QVERIFY(tips[0][0].toString().contains(".mp4"));
    }

    // Calibration files beside the recording that cannot be used: one that
    // is not JSON, and one naming an event sensor of 20000 x 20000 pixels
    // (valid JSON, but a frame resampled onto that grid is 1.2 GB, made for
    // every frame shown). Each gives the default calibration and an error
    // notice, and the recording still opens and shows its 1280 x 720 frames;
    // from a live camera the absurd grid is not taken either. A good file is
    // taken as it is.
    void calibrationFilesNotJsonOrAbsurdAreRefused() {
        Fixture f;
        auto* p = f.p.get();
        const QString json = f.dir.filePath("rec_01.json");
        ThreadSafeSignalSpy tips(p, &KvFusionCameraDataProcessor::signalShowLeftBottomTips);

        korvane::CalibratorParameters huge = identityCalibration();
        huge.dvsWidth = 20000;
        huge.dvsHeight = 20000;
        huge.affineMatrices["1"].data = {1, 0, 9, 0, 1, 0};  // tells whether it was taken
        QVERIFY(korvane::paramToJsonFile(huge, json.toStdString()));
        const std::vector<double> fallback = korvane::Calibrator().forwardAffine();
        const size_t resident = residentBytes();
        QVERIFY(f.load());
        QVERIFY(p->hasRecording());
        QCOMPARE(p->forwardAffine(), fallback);
        QCOMPARE(tips.size(), 1);
        QCOMPARE(tips[0][1].value<KvMessageType>(), KvMessageType::Error);
        QCOMPARE(tips[0][0].toString(),
                 QString("The calibration file cannot be read (its event grid is larger than the "
                         "view); the default calibration is used."));
        ThreadSafeSignalSpy images(p, &KvFusionCameraDataProcessor::signalFusionImage);
        p->nextFrame();
        p->nextFrame();
        QCOMPARE(images.size(), 2);
        const QImage image = lastImage(images);
        QCOMPARE(image.size(), QSize(1280, 720));
        QCOMPARE(qGray(image.pixel(200, 150)), 2);  // the second frame is shown
        QVERIFY(residentBytes() < resident + (300u << 20));
        p->loadCalibration(huge);
        QCOMPARE(p->forwardAffine(), fallback);

        QFile bad(json);
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("this is { not json");
        bad.close();
        p->loadCalibration(identityCalibration());
        QVERIFY(f.load());
        QCOMPARE(p->forwardAffine(), fallback);
        QCOMPARE(tips.size(), 2);
        QCOMPARE(tips[1][1].value<KvMessageType>(), KvMessageType::Error);
        // The parser's own English stays in the log.
        QCOMPARE(tips[1][0].toString(),
                 QString("The calibration file cannot be read (it is not a valid calibration "
                         "file); the default calibration is used."));
        QVERIFY(p->hasRecording());

        // Valid JSON without the required members; a FIFO nobody writes (it
        // would hang the window); a link to an endless device (it would
        // fill the memory). Each: the default calibration and a notice
        // that says why, read off the window's thread.
        struct Bad {
            const char* what;
            std::function<void()> make;
            const char* why;
        };
        const Bad cases[] = {
            {"members missing",
             [&] {
                 QFile::remove(json);
                 QFile partial(json);
                 QVERIFY(partial.open(QIODevice::WriteOnly));
                 partial.write(R"({"0": {"camera_serial": "X"}})");
             },
             "missing"},
            {"fifo",
             [&] {
                 QFile::remove(json);
                 QCOMPARE(::mkfifo(json.toLocal8Bit().constData(), 0600), 0);
             },
             "regular"},
            {"link to /dev/zero",
             [&] {
                 QFile::remove(json);
                 QVERIFY(QFile::link("/dev/zero", json));
             },
             "regular"},
        };
        for (const Bad& c : cases) {
            c.make();
            p->loadCalibration(identityCalibration());
            const qsizetype before = tips.size();
            QVERIFY2(f.load(), c.what);
            QVERIFY2(p->hasRecording(), c.what);
            QCOMPARE(p->forwardAffine(), fallback);
            QCOMPARE(tips.size(), before + 1);
            QCOMPARE(tips.last()[1].value<KvMessageType>(), KvMessageType::Error);
            QVERIFY2(tips.last()[0].toString().contains(c.why),
                     qPrintable(tips.last()[0].toString()));
        }
        QFile::remove(json);

        korvane::CalibratorParameters good = identityCalibration();
        good.affineMatrices["1"].data = {1, 0, 7, 0, 1, 0};
        QVERIFY(korvane::paramToJsonFile(good, json.toStdString()));
        QVERIFY(f.load());
        QCOMPARE(p->forwardAffine(), good.affineMatrices["1"].data);
    }

    // Live event view: majority per pixel (ties to ON), one image per
    // camera frame, counters zero again afterwards.
    void liveEventView() {
        KvFusionCameraDataProcessor p;
        const ThemeColors theme = ThemeColors{};
        p.slotSetViewerType(korvane::STREAM_DVS);
        std::vector<Event2D> events;
        for (int i = 0; i < 3; ++i) {
            events.emplace_back(5, 5, 0, 10);
            events.emplace_back(5, 5, 1, 11);
        }
        events.emplace_back(6, 5, 0, 12);
        events.emplace_back(7, 5, 1, 13);
        events.emplace_back(2000, 5, 1, 14);  // off the grid: ignored, not put at (720, 6)
        ThreadSafeSignalSpy images(&p, &KvFusionCameraDataProcessor::signalFusionImage);
        p.accumulateLiveEvents(events.data(), events.data() + events.size());
        p.addLiveEvents(events.data(), events.data() + events.size());
        closeLivePeriod(p, 1000);
        QCOMPARE(images.size(), 1);
        QImage image = lastImage(images);
        QCOMPARE(pixel(image, 5, 5), theme.on);
        QCOMPARE(pixel(image, 6, 5), theme.off);
        QCOMPARE(pixel(image, 7, 5), theme.on);
        QCOMPARE(pixel(image, 8, 5), theme.background);
        QCOMPARE(pixel(image, 720, 6), theme.background);

        closeLivePeriod(p, 2000);
        QCOMPARE(images.size(), 2);
        image = lastImage(images);
        QCOMPARE(pixel(image, 5, 5), theme.background);
        QCOMPARE(pixel(image, 7, 5), theme.background);
    }

    // Live frame and fusion views: the remapped frame, with the period's
    // events at their own columns in the fusion view, which needs a
    // connected camera.
    void liveFrameAndFusionViews() {
        QTemporaryDir dir;
        KvFusionCameraDataProcessor p;
        p.loadCalibration(identityCalibration());
        const ThemeColors theme = ThemeColors{};
        ThreadSafeSignalSpy images(&p, &KvFusionCameraDataProcessor::signalFusionImage);
        ThreadSafeSignalSpy times(&p, &KvFusionCameraDataProcessor::signalTimeStamp);
        const std::vector<Event2D> events{{0, 10, 1, 5}, {1279, 10, 0, 6}};

        p.addLiveEvents(events.data(), events.data() + events.size());
        closeLivePeriod(p, 1000);
        QCOMPARE(images.size(), 0);  // fusion view without a camera

        korvane::SimulatedFusionOptions o;
        o.calibrationDirectory = dir.path().toStdString();
        auto camera = std::make_shared<korvane::SimulatedFusionCamera>(o);
        p.setCamera(camera);
        p.addLiveEvents(events.data(), events.data() + events.size());
        closeLivePeriod(p, 2000);
        QCOMPARE(images.size(), 1);
        QImage image = lastImage(images);
        QCOMPARE(pixel(image, 0, 10), theme.on);
        QCOMPARE(pixel(image, 1279, 10), theme.off);
        QCOMPARE(qRed(image.pixel(500, 500)), 77);
        QCOMPARE(times.last()[0].value<uint64_t>(), uint64_t(2000));

        p.slotSetViewerType(korvane::STREAM_APS);
        p.addLiveEvents(events.data(), events.data() + events.size());
        closeLivePeriod(p, 3000);
        image = lastImage(images);
        QCOMPARE(qRed(image.pixel(0, 10)), 77);  // frame alone

        // A manual offset moves the next frame.
        p.slotSetApsOffset(-10, 0);
        closeLivePeriod(p, 4000);
        image = lastImage(images);
        QCOMPARE(qRed(image.pixel(5, 300)), 0);  // shifted right: black at the left
        QCOMPARE(qRed(image.pixel(500, 300)), 77);

        p.clearFusion();
        QCOMPARE(p.queuedFrames(), size_t(0));
    }

    // Apply reports what happened: success when written (and, with a live
    // camera, uploaded), failure otherwise.
    void applyOffsetReportsTheTruth() {
        QTemporaryDir dir, calibrations;
        QString folder = dir.path();  // the window gives the recordings' folder
        const QString file = dir.filePath("tmp_calibration_file.json");

        KvFusionCameraDataProcessor p;
        p.setCalibrationFolder([&] { return folder; });
        p.loadCalibration(identityCalibration());
        ThreadSafeSignalSpy tips(&p, &KvFusionCameraDataProcessor::signalShowLeftBottomTips);
        p.slotSetApsOffset(5, -3);
        p.slotApplyOffset();  // playback: no camera
        QCOMPARE(tips.size(), 1);
        QCOMPARE(tips[0][1].value<KvMessageType>(), KvMessageType::Success);
        korvane::CalibratorParameters written;
        QVERIFY(korvane::jsonFileToParam(file.toStdString(), written));
        QCOMPARE(written.affineMatrices["1"].data, std::vector<double>({1, 0, 5, 0, 1, -3}));
        QCOMPARE(p.offsetX(), 0.0);

        korvane::SimulatedFusionOptions o;
        o.calibrationDirectory = calibrations.path().toStdString();
        auto camera = std::make_shared<korvane::SimulatedFusionCamera>(o);
        p.setCamera(camera);
        p.slotSetApsOffset(2, 0);
        p.slotApplyOffset();
        QCOMPARE(tips.last()[1].value<KvMessageType>(), KvMessageType::Success);
        korvane::CalibratorParameters fromCamera;
        QVERIFY(camera->getCalibrationParameters(fromCamera));
        QCOMPARE(fromCamera.affineMatrices["1"].data, std::vector<double>({1, 0, 7, 0, 1, -3}));

        camera->close();  // set but gone: the upload cannot happen
        p.slotApplyOffset();
        QCOMPARE(tips.last()[1].value<KvMessageType>(), KvMessageType::Error);

        p.setCamera(nullptr);
        folder = dir.filePath("missing/folder");
        p.slotApplyOffset();
        QCOMPARE(tips.last()[1].value<KvMessageType>(), KvMessageType::Error);
        QCOMPARE(tips.size(), 4);
    }

    // Destroyed while the load is inside the reader: the processor goes at
    // once (after a short grace), the load ends later without touching it.
    void destroyedWhileLoading() {
        Fixture f;
        f.frames->gateClosed = true;
        QVERIFY(f.p->slotReadFusionFile(f.raw));
        QVERIFY(QTest::qWaitFor([&] { return f.frames->openEntered.load(); }, 10000));
        f.p.reset();
        f.frames->release();
        QVERIFY(QTest::qWaitFor([&] { return f.frames->readersAlive.load() == 0; }, 10000));
    }

    // The window and the processor each hold the camera; dropping both
    // closes it. When the processor's handle is the last, the camera closes
    // while its frame thread still hands a frame on, completing a pair that
    // looks at the camera: dropped by setCamera that must not deadlock, and
    // dropped with the processor it must find the processor whole. The
    // frame thread is held in its callback until the close has begun (the
    // camera lives until then: its close waits for that thread).
    void lastHandleDroppedByTheProcessorWhileStreaming() {
        QTemporaryDir dir;
        korvane::SimulatedFusionOptions options;
        options.eventsPerSecond = 300000;
        options.frameWidth = 640;
        options.frameHeight = 360;
        options.calibrationDirectory = dir.path().toStdString();
        options.frameWriterFactory = nullptr;

        struct Gate {
            std::mutex mutex;
            std::condition_variable changed;
            bool closed = false;
            std::atomic<bool> holding{false};
            void pass() {
                std::unique_lock<std::mutex> lock(mutex);
                holding = closed;
                changed.wait(lock, [&] { return !closed; });
                holding = false;
            }
            void set(bool close) {
                std::lock_guard<std::mutex> lock(mutex);
                closed = close;
                changed.notify_all();
            }
        };
        // Streams into `p` in the fusion view until frames reach it, then
        // holds the frame thread; returns the camera (the only handle).
        auto stream = [&](KvFusionCameraDataProcessor* p, Gate& gate) {
            auto camera = std::make_shared<korvane::SimulatedFusionCamera>(options);
            p->slotSetViewerType(korvane::STREAM_BOTH);
            camera->addApsFrameCallback([p, &gate](korvane::ApsFrame frame) {
                gate.pass();
                p->addLiveFrame(frame);
            });
            camera->addEventsCallback(
                [p](const Event2D* first, const Event2D* last) { p->addLiveEvents(first, last); });
            camera->addTriggerInCallback(
                [p](const korvane::EventTriggerIn& edge) { p->addLiveTrigger(edge); });
            p->setCamera(camera);
            ThreadSafeSignalSpy images(p, &KvFusionCameraDataProcessor::signalFusionImage);
            if (camera->start(korvane::STREAM_BOTH) != 0) qFatal("camera does not start");
            if (!QTest::qWaitFor([&] { return images.size() >= 2; }, 20000))
                qFatal("no live images");
            gate.set(true);
            if (!QTest::qWaitFor([&] { return gate.holding.load(); }, 20000))
                qFatal("frame thread not held");
            return camera;
        };
        // Opens the gate once the camera's close has begun.
        auto openWhenClosing = [](korvane::SimulatedFusionCamera* camera, Gate& gate) {
            return std::thread([camera, &gate] {
                while (camera->isConnected())
                    std::this_thread::yield();
                gate.set(false);
            });
        };

        {
            KvFusionCameraDataProcessor p;
            Gate gate;
            std::shared_ptr<korvane::SimulatedFusionCamera> camera = stream(&p, gate);
            std::thread opener = openWhenClosing(camera.get(), gate);
            camera.reset();
            std::atomic<bool> released{false};
            std::thread release([&] {
                p.setCamera(nullptr);
                released = true;
            });
            if (!QTest::qWaitFor([&] { return released.load(); }, 30000))
                qFatal("setCamera(nullptr) never returned: the camera's close waits on it");
            release.join();
            opener.join();
        }
        {
            auto q = std::make_unique<KvFusionCameraDataProcessor>();
            Gate gate;
            std::shared_ptr<korvane::SimulatedFusionCamera> camera = stream(q.get(), gate);
            std::weak_ptr<korvane::SimulatedFusionCamera> watch = camera;
            std::thread opener = openWhenClosing(camera.get(), gate);
            camera.reset();
            q.reset();
            opener.join();
            QVERIFY(watch.expired());
        }
    }

    // An idle processor holds no image, counter or pairing memory.
    void idleHoldsLittleMemory() {
        const size_t before = residentBytes();
        auto p = std::make_unique<KvFusionCameraDataProcessor>();
        const size_t after = residentBytes();
        QVERIFY2(after < before + (32u << 20),
                 qPrintable(QString("grew by %1 MB").arg((after - before) >> 20)));
    }
};

VELQORA_TEST_MAIN(TestFusionProcessor)
#include "test_fusion_processor.moc"
