// The fusion data processor on a real fusion recording: a simulated Quenta
// records base.raw, base.mp4 (H.264) and base.json, and the processor loads
// them through the camera library's own frame reader. Checks what the
// window relies on: the signals after a load, frames advancing at their
// boundaries while stepping, and events drawn over the frame where the
// frame shows the bars (the recording stores columns mirrored; playback
// mirrors them back).

#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <memory>

#include "../driver/camera/RingWindow.h"
#include "AppConfig.h"
#include "AppTestMain.h"
#include "korvane/video/ApsFileReader.h"
#include "Calibrator.h"
#include "korvane/file/DvsFileReader.h"
#include "korvane/video/H264FrameWriter.h"
#include "KvFusionCameraDataProcessor.h"
#include "korvane/sim/SimulatedFusionCamera.h"
#include "ThreadSafeSignalSpy.h"
#include "Utils/JsonUtils.h"

using korvane::ApsFrame;

namespace {

constexpr uint64_t kPeriod_us = 33333;
constexpr int kWidth = KvFusionCameraDataProcessor::kImageWidth;
constexpr int kHeight = KvFusionCameraDataProcessor::kImageHeight;

// A recording made once for all cases: a Quenta on a manual clock, so every
// frame of the recording is written however loaded the machine is.
struct Recording {
    QTemporaryDir dir;
    QString raw, frames, calibration;
    uint64_t apsStart_us = 0;
    uint64_t end_us = 0;
    korvane::PixelRect lamp{};
    bool ok = false;

    Recording() {
        auto clock = std::make_shared<korvane::ManualCameraClock>();
        std::atomic<korvane::H264FrameWriter*> writer{nullptr};
        korvane::SimulatedFusionOptions options;
        options.serial = "KVTEST-QUENTA-PLAY";
        options.eventsPerSecond = 1000000;
        options.frameWidth = 960;  // small frames keep sanitizer runs short
        options.frameHeight = 540;
        options.clock = clock;
        options.calibrationDirectory = dir.filePath("calibration").toStdString();
        options.frameWriterFactory = [&writer](const std::string& path, int w, int h, int fps,
                                               std::string* error) {
            auto made = korvane::H264FrameWriter::create(path, w, h, fps, error);
            writer = made.get();
            return std::unique_ptr<korvane::FrameFileWriter>(std::move(made));
        };
        auto camera = std::make_shared<korvane::SimulatedFusionCamera>(options);
        lamp = camera->eventCamera().lamp();
        if (camera->start(korvane::STREAM_BOTH) != 0) return;
        // Moves camera time on in the camera's own steps, each delivered
        // with its frames before the next, as in real time.
        auto advance = [&](uint64_t duration_us) {
            for (uint64_t done = 0; done < duration_us;
                 done += korvane::SimulatedFusionCamera::kBatch_us) {
                clock->advance(korvane::SimulatedFusionCamera::kBatch_us);
                const uint64_t now = clock->now_us();
                if (!QTest::qWaitFor(
                        [&] {
                            return clock->idle() &&
                                   camera->deliveredUntil_us() +
                                           korvane::SimulatedFusionCamera::kBatch_us >
                                       now &&
                                   camera->framesDelivered() >=
                                       camera->deliveredUntil_us() / kPeriod_us;
                        },
                        20000))
                    return false;
            }
            return true;
        };
        if (!advance(kPeriod_us + 5000)) return;
        if (!camera->startRecording(dir.path().toStdString(), "take", korvane::STREAM_BOTH)) return;
        for (uint64_t n = 1; n <= 40; ++n) {  // about 1.3 s
            if (!advance(kPeriod_us)) return;
            if (!QTest::qWaitFor([&] { return writer.load()->framesEncoded() + 2 >= n; }, 20000))
                return;
        }
        camera->stop(korvane::STREAM_BOTH);
        if (!camera->stopRecording(korvane::STREAM_BOTH)) return;
        apsStart_us = camera->recordingApsStart_us();
        raw = dir.filePath("take.raw");
        frames = dir.filePath("take.mp4");
        calibration = dir.filePath("take.json");
        auto events = korvane::DvsFileReader::createFileReader(raw.toStdString());
        ok = events && events->openForReading() && events->getEndTime(end_us);
    }
};

Recording& recording() {
    static Recording r;
    return r;
}

bool isEventColour(QRgb p) {
    static const QRgb on = AppConfig::instance().theme().on.rgb();
    static const QRgb off = AppConfig::instance().theme().off.rgb();
    return p == on || p == off;
}

struct Bars {
    int column = 0;  // centre of the vertical bar
    int row = 0;     // centre of the horizontal bar
};

// Where the drawn events put the bars, leaving out the flickering lamp.
Bars eventBars(const QImage& image, const korvane::PixelRect& lamp) {
    std::vector<int> cols(kWidth, 0), rows(kHeight, 0);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (isEventColour(image.pixel(x, y)) && !lamp.contains(uint32_t(x), uint32_t(y))) {
                ++cols[size_t(x)];
                ++rows[size_t(y)];
            }
    return {bestWindow(cols, 64), bestWindow(rows, 8)};
}

// Where the frame under them shows the bars: the brightest band along a
// row away from the horizontal bar, and along a column away from the
// vertical one; pixels covered by events count as dark.
Bars frameBars(const QImage& image, const Bars& near) {
    const int row = (near.row + kHeight / 2) % kHeight;
    const int col = (near.column + kWidth / 2) % kWidth;
    std::vector<int> cols(kWidth), rows(kHeight);
    for (int x = 0; x < kWidth; ++x) {
        const QRgb p = image.pixel(x, row);
        cols[size_t(x)] = isEventColour(p) ? 0 : qGreen(p);
    }
    for (int y = 0; y < kHeight; ++y) {
        const QRgb p = image.pixel(col, y);
        rows[size_t(y)] = isEventColour(p) ? 0 : qGreen(p);
    }
    return {bestWindow(cols, 64), bestWindow(rows, 8)};
}

// Mean difference between the image's frame pixels (not under events) and
// a remapped frame.
double frameDifference(const QImage& image, const ApsFrame& frame) {
    double sum = 0;
    int n = 0;
    for (int y = 0; y < kHeight; y += 3)
        for (int x = 0; x < kWidth; x += 3) {
            const QRgb p = image.pixel(x, y);
            if (isEventColour(p)) continue;
            const uint8_t* f = frame.data() + (size_t(y) * kWidth + size_t(x)) * 3;
            sum += std::abs(qBlue(p) - int(f[0])) + std::abs(qGreen(p) - int(f[1])) +
                   std::abs(qRed(p) - int(f[2]));
            ++n;
        }
    return n ? sum / (3.0 * n) : 1e9;
}

// Which recorded frame (remapped as the processor does) the image shows.
int shownFrame(const QImage& image, const std::vector<ApsFrame>& remapped) {
    int best = -1;
    double bestDiff = 2.0;  // the same decoded frame: nearly no difference
    for (size_t k = 0; k < remapped.size(); ++k) {
        const double d = frameDifference(image, remapped[k]);
        if (d < bestDiff) bestDiff = d, best = int(k);
    }
    return best;
}

struct Loaded {
    std::unique_ptr<KvFusionCameraDataProcessor> p =
        std::make_unique<KvFusionCameraDataProcessor>();
    bool load() {
        ThreadSafeSignalSpy loading(p.get(), &KvFusionCameraDataProcessor::signalLoadingStatus);
        if (!p->slotReadFusionFile(recording().raw)) return false;
        return QTest::qWaitFor([&] { return loading.size() >= 2 && !loading.last()[0].toBool(); },
                               20000) &&
               p->hasRecording();
    }
};

QImage lastImage(const ThreadSafeSignalSpy& images) {
    return images.isEmpty() ? QImage() : images.last()[0].value<QImage>();
}

}  // namespace

class TestFusionPlayback : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        qRegisterMetaType<uint64_t>("uint64_t");
        qRegisterMetaType<KvMessageType>("KvMessageType");
        QVERIFY(recording().ok);
        const ThemeColors theme = AppConfig::instance().theme();
        // Event pixels are told from frame pixels by colour.
        QVERIFY(theme.on.red() != theme.on.green() || theme.on.green() != theme.on.blue());
        QVERIFY(theme.off.red() != theme.off.green() || theme.off.green() != theme.off.blue());
    }

    // The range starts at the header's aps_start_timestamp (the first
    // frame, after the first event) and ends at the last event; the signal
    // order is checked on a written recording in the processor's own test.
    void loadReportsTheRecordingsRange() {
        const Recording& r = recording();
        auto events = korvane::DvsFileReader::createFileReader(r.raw.toStdString());
        QVERIFY(events && events->openForReading());
        korvane::DvsFileInfo info;
        QVERIFY(events->getFileInfo(info));
        QCOMPARE(info.apsStartTimestamp, r.apsStart_us);
        uint64_t first = 0;
        QVERIFY(events->getStartTime(first));
        QVERIFY(first < r.apsStart_us);  // events from before the first frame

        Loaded l;
        ThreadSafeSignalSpy start(l.p.get(), &KvFusionCameraDataProcessor::signalStartTimeStamp);
        ThreadSafeSignalSpy end(l.p.get(), &KvFusionCameraDataProcessor::signalEndTimeStamp);
        QVERIFY(l.load());
        QCOMPARE(start.size(), 1);
        QCOMPARE(start[0][0].value<uint64_t>(), r.apsStart_us);
        QCOMPARE(end.size(), 1);
        QCOMPARE(end[0][0].value<uint64_t>(), r.end_us);
        QCOMPARE(l.p->lowerBound(), r.apsStart_us);
        QCOMPARE(l.p->upperBound(), r.end_us);
    }

    // Steps shorter than a frame period keep the frame until its boundary,
    // then show the next one; the frames are the recorded ones, remapped.
    void steppingAdvancesFramesAtTheirBoundaries() {
        const Recording& r = recording();
        auto reader = korvane::ApsFileReader::createFileReader(r.frames.toStdString());
        QVERIFY(reader && reader->openForReading());
        korvane::CalibratorParameters calibration;
        QVERIFY(jsonFileToParam(r.calibration.toStdString(), calibration));
        korvane::Calibrator calibrator;
        calibrator.loadCalibrationParam(calibration);
        std::vector<ApsFrame> remapped;
        for (int k = 0; k < 8; ++k) {
            ApsFrame f(1, 1);
            QVERIFY(reader->readNextFrame(f));
            remapped.push_back(calibrator.mapApsToDvs(f));
        }

        Loaded l;
        QVERIFY(l.load());
        auto* p = l.p.get();
        ThreadSafeSignalSpy images(p, &KvFusionCameraDataProcessor::signalFusionImage);
        p->setFps(120);  // steps of 8333 us
        p->setPlayPos(r.apsStart_us + 4 * kPeriod_us + 10000);
        QVERIFY(!images.isEmpty());
        QCOMPARE(shownFrame(lastImage(images), remapped), 4);
        p->nextFrame();  // 4 P + 18333
        QCOMPARE(shownFrame(lastImage(images), remapped), 4);
        p->nextFrame();  // 4 P + 26666
        QCOMPARE(shownFrame(lastImage(images), remapped), 4);
        p->nextFrame();  // 5 P + 1666: across the boundary
        QCOMPARE(p->timeBase(), r.apsStart_us + 4 * kPeriod_us + 10000 + 3 * 8333);
        QCOMPARE(shownFrame(lastImage(images), remapped), 5);
        p->preFrame();  // back before it
        QCOMPARE(shownFrame(lastImage(images), remapped), 4);
        QCOMPARE(images.size(), 5);

        // From the lower bound, steps of a whole period land on each frame.
        p->setFps(30);
        p->setPlayPos(r.apsStart_us);
        QCOMPARE(shownFrame(lastImage(images), remapped), 0);
        for (int k = 1; k < 8; ++k) {
            p->nextFrame();
            QCOMPARE(shownFrame(lastImage(images), remapped), k);
        }
    }

    // The same recording with its frames file cut short: the load says so,
    // and the events play on to their end over the last frame it can read.
    void framesFileCutShortPlaysOnToTheEnd() {
        const Recording& r = recording();
        QTemporaryDir cut;
        const QString raw = cut.filePath("take.raw");
        QVERIFY(QFile::copy(r.raw, raw));
        QVERIFY(QFile::copy(r.calibration, cut.filePath("take.json")));
        QFile whole(r.frames);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QByteArray bytes = whole.readAll();
        QFile part(cut.filePath("take.mp4"));
        QVERIFY(part.open(QIODevice::WriteOnly));
        part.write(bytes.left(bytes.size() * 2 / 5));
        part.close();

        KvFusionCameraDataProcessor p;
        ThreadSafeSignalSpy tips(&p, &KvFusionCameraDataProcessor::signalShowLeftBottomTips);
        ThreadSafeSignalSpy loading(&p, &KvFusionCameraDataProcessor::signalLoadingStatus);
        QVERIFY(p.slotReadFusionFile(raw));
        QVERIFY(QTest::qWaitFor([&] { return loading.size() >= 2 && !loading.last()[0].toBool(); },
                                20000));
        QVERIFY(p.hasRecording());
        QCOMPARE(p.upperBound(), r.end_us);
        QTRY_VERIFY_WITH_TIMEOUT(!tips.isEmpty(), 5000);
        QVERIFY2(tips[0][0].toString().contains("damaged or cut short"),
                 qPrintable(tips[0][0].toString()));

        ThreadSafeSignalSpy images(&p, &KvFusionCameraDataProcessor::signalFusionImage);
        ThreadSafeSignalSpy times(&p, &KvFusionCameraDataProcessor::signalTimeStamp);
        const uint64_t late = r.end_us - 50000;
        p.setPlayPos(late);
        p.setPlayPos(late);  // the first may end a playback started by the load
        QVERIFY(!images.isEmpty());
        QCOMPARE(times.last()[0].value<uint64_t>(), late);
        const QImage image = lastImage(images);
        int framePixels = 0, eventPixels = 0;
        for (int y = 0; y < kHeight; y += 2)
            for (int x = 0; x < kWidth; x += 2) {
                const QRgb px = image.pixel(x, y);
                eventPixels += isEventColour(px);
                framePixels += !isEventColour(px) && qGray(px) > 0;
            }
        QVERIFY(framePixels > 1000);  // a frame, not black
        QVERIFY(eventPixels > 50);    // and the events of that time

        // Played from the middle: every tick shows a picture up to the end.
        images.clear();
        const uint64_t from = r.apsStart_us + (r.end_us - r.apsStart_us) / 2;
        ThreadSafeSignalSpy finished(&p, &KvFusionCameraDataProcessor::signalPalyFileFinished);
        p.setPlayPos(from);
        p.slotPlaybackCtrl(true);
        QVERIFY(QTest::qWaitFor([&] { return finished.size() == 1; }, 30000));
        const qsizetype ticks = qsizetype((r.end_us - from) / kPeriod_us);
        QVERIFY2(images.size() >= ticks,
                 qPrintable(QString("%1 of %2").arg(images.size()).arg(ticks)));
    }

    // At a frame's time, the events of the last 2 ms (drawn with their
    // columns mirrored back) lie on the bars the frame shows, at frames
    // across the recording; the bars move, so a frame drawn at the wrong
    // time or unmirrored events would not line up.
    void overlayLinesUpInPlayback() {
        const Recording& r = recording();
        Loaded l;
        QVERIFY(l.load());
        auto* p = l.p.get();
        ThreadSafeSignalSpy images(p, &KvFusionCameraDataProcessor::signalFusionImage);
        p->setAccTime(2000);
        for (uint64_t k : {2u, 20u, 38u}) {
            const uint64_t before = uint64_t(images.size());
            p->setPlayPos(r.apsStart_us + k * kPeriod_us);
            QCOMPARE(uint64_t(images.size()), before + 1);
            const QImage image = lastImage(images);
            const Bars ev = eventBars(image, r.lamp);
            const Bars fr = frameBars(image, ev);
            const QByteArray where =
                "frame " + QByteArray::number(qulonglong(k)) + ": frame bars " +
                QByteArray::number(fr.column) + "," + QByteArray::number(fr.row) + " events " +
                QByteArray::number(ev.column) + "," + QByteArray::number(ev.row);
            QVERIFY2(ringDistance(fr.column, ev.column, kWidth) <= 4, where.constData());
            QVERIFY2(ringDistance(fr.row, ev.row, kHeight) <= 4, where.constData());
        }
    }
};

VELQORA_TEST_MAIN(TestFusionPlayback)
#include "test_fusion_playback.moc"
