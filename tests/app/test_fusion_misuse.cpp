// The fusion side used the wrong way: recordings whose calibration file
// names an absurd sensor, a recording started again within the same second,
// and a streaming camera whose last handle is the processor's (dropped by
// setCamera or with the processor).

#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "AppConfig.h"
#include "AppTestMain.h"
#include "CamerasList.h"
#include "FakeFrameReader.h"
#include "KvFusionCameraDataProcessor.h"
#include "MainWidget.h"
#include "RawWriter.h"
#include "SimulatedBackend.h"
#include "SimulatedFusionCamera.h"
#include "ThreadSafeSignalSpy.h"
#include "Utils/FuncUtils.h"
#include "Utils/JsonUtils.h"
#include "ui_CamerasList.h"
#include "ui_MainWidget.h"

using korvane::Event2D;
using korvane::SimulatedBackend;

namespace {

constexpr uint64_t kOffset_us = 1000000;

void writeRecording(const QString& rawPath) {
    std::vector<Event2D> events;
    for (uint64_t t = kOffset_us; t <= 2 * kOffset_us; t += 1000)
        events.emplace_back(uint16_t(t / 1000 % 1280), 100, 1, t);
    korvane::DvsFileInfo info;
    info.dvsStartTimestamp = events.front().timestamp;
    info.apsStartTimestamp = kOffset_us;
    korvane::RawWriter writer;
    if (!writer.open(rawPath.toStdString(), korvane::generateDvsFileHeader(info)))
        qFatal("cannot write recording");
    writer.writeEvents(events.data(), events.size());
    if (!writer.close()) qFatal("cannot write recording");
}

size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * size_t(sysconf(_SC_PAGESIZE));
}

}  // namespace

class FusionMisuseTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

    QString folder(const QString& name) {
        const QString path = dir_.filePath(name);
        QDir().mkpath(path);
        return path;
    }

    std::unique_ptr<MainWidget> window() {
        korvane::SimulatedFusionOptions quenta;
        quenta.eventsPerSecond = 300000;
        quenta.frameWidth = 640;
        quenta.frameHeight = 360;
        quenta.calibrationDirectory = folder("calibrations").toStdString();
        auto backend = std::make_shared<SimulatedBackend>(
            std::vector<korvane::SimulatedCameraOptions>{},
            std::vector<korvane::SimulatedFusionOptions>{quenta});
        auto w = std::make_unique<MainWidget>();
        w->setCameraManager(korvane::DvsCameraManager({backend}));
        return w;
    }

    bool openQuenta(MainWidget& w) {
        w.setRunCameraList([](CamerasList& list) {
            auto* l = list.form()->listWidget_cameras;
            for (int i = 0; i < l->count(); ++i)
                if (l->item(i)->text() == SimulatedBackend::kQuentaSerial) l->setCurrentRow(i);
            return true;
        });
        w.slotOpenCamera();
        return w.sourceKind() == SourceKind::FusionCamera && w.fusionCamera() != nullptr;
    }

private slots:
    void initTestCase() {
        qRegisterMetaType<uint64_t>("uint64_t");
        qRegisterMetaType<KvMessageType>("KvMessageType");
    }

    void init() {
        AppConfig& c = AppConfig::instance();
        c.dvs_trigger_in_rec_enable = false;
        c.app_data_dir = folder("data");
        c.output_raw_file_path = folder("out");
        c.input_raw_file_path = folder("in");
    }

    // A calibration file naming an event sensor of 20000 x 20000 pixels is
    // valid JSON, but a frame resampled onto that grid is 1.2 GB, made for
    // every frame shown. The processor keeps the calibration it has, says
    // so, and still shows the recording in its 1280 x 720 images.
    void calibrationWithAbsurdSensorIsRefused() {
        QTemporaryDir dir;
        const QString raw = dir.filePath("take.raw");
        writeRecording(raw);
        QFile(dir.filePath("take.mp4")).open(QIODevice::WriteOnly);
        korvane::CalibratorParameters huge;
        huge.dvsWidth = 20000;
        huge.dvsHeight = 20000;
        huge.apsWidth = 1280;
        huge.apsHeight = 720;
        huge.affineMatrices["1"] = korvane::Matrix{2, 3, 6, {1, 0, 0, 0, 1, 0}};
        huge.affineMatrices["0"] = korvane::Matrix{2, 3, 6, {1, 0, 0, 0, 1, 0}};
        QVERIFY(korvane::paramToJsonFile(huge, dir.filePath("take.json").toStdString()));

        KvFusionCameraDataProcessor p;
        auto frames = std::make_shared<FakeFrameState>();
        p.setFrameReaderFactory(
            [frames](const std::string&) { return std::make_unique<FakeFrameReader>(frames); });
        const std::vector<double> before = p.forwardAffine();
        ThreadSafeSignalSpy tips(&p, &KvFusionCameraDataProcessor::signalShowLeftBottomTips);
        ThreadSafeSignalSpy loading(&p, &KvFusionCameraDataProcessor::signalLoadingStatus);
        ThreadSafeSignalSpy images(&p, &KvFusionCameraDataProcessor::signalFusionImage);
        const size_t resident = residentBytes();
        QVERIFY(p.slotReadFusionFile(raw));
        QVERIFY(QTest::qWaitFor([&] { return loading.size() >= 2 && !loading.last()[0].toBool(); },
                                20000));
        QVERIFY(p.hasRecording());
        QCOMPARE(p.forwardAffine(), before);
        QVERIFY(!tips.isEmpty());
        QCOMPARE(tips.first()[1].value<KvMessageType>(), KvMessageType::Error);

        p.nextFrame();
        p.nextFrame();
        QVERIFY(QTest::qWaitFor([&] { return images.size() >= 2; }, 20000));
        const QImage image = images.last()[0].value<QImage>();
        QCOMPARE(image.size(), QSize(1280, 720));
        QVERIFY(qGray(image.pixel(200, 150)) > 0);  // the frame is shown
        QVERIFY(residentBytes() < resident + (300u << 20));

        // The same from a live camera: the absurd grid is not taken.
        p.loadCalibration(huge);
        QCOMPARE(p.forwardAffine(), before);
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

    // Recording stopped and started again within one second gets the same
    // clock-derived name: the second recording must not overwrite the first.
    void recordingAgainInTheSameSecondKeepsTheFirst() {
        auto w = window();
        QVERIFY(openQuenta(*w));
        w->form()->pb_record->click();
        QVERIFY(w->isRecording());
        const QString first = w->buttonRecordingPath();
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo(first).size() > 4096; }, 10000));
        w->form()->pb_record->click();
        QVERIFY(!w->isRecording());
        const qint64 firstSize = QFileInfo(first).size();
        const QString firstBase = first.left(first.size() - 4);
        QFile mp4(firstBase + ".mp4");
        QVERIFY(mp4.open(QIODevice::ReadOnly));
        const QByteArray firstFrames = mp4.readAll();
        mp4.close();

        // Whatever second the clock shows now, the name it gives is taken:
        // names of the coming minute are made to exist.
        const QString serial = QString::fromLatin1(SimulatedBackend::kQuentaSerial);
        const QDateTime now = QDateTime::currentDateTime();
        QStringList planted;
        for (int s = 0; s < 60; ++s) {
            const QString base = AppConfig::instance().output_raw_file_path + "/" + serial +
                                 now.addSecs(s).toString("_yyyyMMdd_HHmmss");
            if (base == firstBase) continue;
            QFile f(base + ".raw");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("planted");
            planted << base + ".raw";
        }

        w->form()->pb_record->click();
        QVERIFY(w->isRecording());
        const QString second = w->buttonRecordingPath();
        QVERIFY(second != first);
        QVERIFY(!planted.contains(second));
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo(second).size() > 4096; }, 10000));
        w->form()->pb_record->click();
        QVERIFY(!w->isRecording());

        QCOMPARE(QFileInfo(first).size(), firstSize);
        QVERIFY(mp4.open(QIODevice::ReadOnly));
        QCOMPARE(mp4.readAll(), firstFrames);
        for (const QString& path : planted) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("planted"));
        }
        const QString secondBase = second.left(second.size() - 4);
        QVERIFY(QFileInfo::exists(secondBase + ".mp4"));
        QVERIFY(QFileInfo::exists(secondBase + ".json"));
    }
};

VELQORA_TEST_MAIN(FusionMisuseTest)
#include "test_fusion_misuse.moc"
