// The main window with a simulated fusion camera "Quenta": opening it, the
// three live views, streaming by button, the APS panel's manual offset
// reaching the camera, recording (again within the same second: the first
// kept), the firmware check, "Camera Info", fusion recordings opened through
// "Open Recording", and shutdown.

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include "AppConfig.h"
#include "AppTestMain.h"
#include "CamerasList.h"
#include "FakeFrameReader.h"
#include "FirmwareVersion.h"
#include "FusionCameraController.h"
#include "KvFilePathReminderForm.h"
#include "KvFusionCameraDataProcessor.h"
#include "KvThreeHandleSlider.h"
#include "MainWidget.h"
#include "SettingBaseWithLineEdit.h"
#include "SettingItemBox.h"
#include "ShowCameraInfoUI.h"
#include "SidebarApsSettingUI.h"
#include "ThreadSafeSignalSpy.h"
#include "Utils/FuncUtils.h"
#include "Utils/JsonUtils.h"
#include "WindowTestSupport.h"
#include "korvane/file/DvsFileReader.h"
#include "korvane/file/RawWriter.h"
#include "korvane/sim/DefaultFrameWriter.h"
#include "korvane/sim/SimulatedBackend.h"
#include "ui_CamerasList.h"
#include "ui_MainWidget.h"
#include "ui_ShowCameraInfoUI.h"

using korvane::SimulatedBackend;

namespace {

// Images the fusion processor sends from now on; waits for `count` of them.
QList<QImage> nextImages(MainWidget& w, int count) {
    ThreadSafeSignalSpy images(w.fusionProcessor(),
                               &KvFusionCameraDataProcessor::signalFusionImage);
    if (!QTest::qWaitFor([&] { return images.size() >= count; }, 15000)) return {};
    QList<QImage> out;
    for (const QVariantList& args : images)
        out << args[0].value<QImage>();
    return out;
}

// Every other pixel of an image, counted as event pixels (the theme's event
// colours) and frame pixels (neither those nor background, nor black).
struct Pixels {
    int events = 0, frame = 0;
};
Pixels countPixels(const QImage& image) {
    const ThemeColors theme = AppConfig::instance().theme();
    Pixels n;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) {
            const QRgb p = image.pixel(x, y);
            if (p == theme.on.rgb() || p == theme.off.rgb())
                ++n.events;
            else if (p != theme.background.rgb() && qGray(p) > 0)
                ++n.frame;
        }
    return n;
}

}  // namespace

class FusionWindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

    QString folder(const QString& name) {
        const QString path = dir_.filePath(name);
        QDir().mkpath(path);
        return path;
    }

    // A camera list that holds a Quenta (modest rate and frame size) and an EVK4.
    std::shared_ptr<SimulatedBackend> backend(const std::string& firmware = std::string()) {
        korvane::SimulatedFusionOptions quenta;
        quenta.eventsPerSecond = 300000;
        quenta.frameWidth = 960;  // small frames keep sanitizer runs short
        quenta.frameHeight = 540;
        quenta.calibrationDirectory = folder("calibrations").toStdString();
        quenta.firmwareVersion = firmware;
        quenta.frameWriterFactory = korvane::defaultFrameWriterFactory();  // as the window's
        korvane::SimulatedCameraOptions evk4;
        evk4.serial = SimulatedBackend::kEvk4Serial;
        evk4.product = "EVK4";
        evk4.eventsPerSecond = 500000;
        return std::make_shared<SimulatedBackend>(
            std::vector<korvane::SimulatedCameraOptions>{evk4},
            std::vector<korvane::SimulatedFusionOptions>{quenta});
    }
    std::unique_ptr<MainWidget> window(const std::string& firmware = std::string()) {
        auto w = std::make_unique<MainWidget>();
        w->setCameraManager(korvane::DvsCameraManager({backend(firmware)}));
        return w;
    }

    bool openQuenta(MainWidget& w) {
        chooseSerial(w, SimulatedBackend::kQuentaSerial);
        w.slotOpenCamera();
        return w.sourceKind() == SourceKind::FusionCamera && w.fusionCamera() != nullptr;
    }

private slots:
    void init() {
        AppConfig& c = AppConfig::instance();
        c.dvs_trigger_in_rec_enable = false;
        c.app_data_dir = folder("data");
        c.output_raw_file_path = folder("out");
        c.input_raw_file_path = folder("in");
    }
    void cleanup() { closeToasts(); }

    void firmwareVersionsCompare() {
        QVERIFY(isVersionAtLeast("Quenta_V1.7.2", "Quenta_V1.7.2"));
        QVERIFY(!isVersionAtLeast("Quenta_V1.7.0", "Quenta_V1.7.2"));
        QVERIFY(isVersionAtLeast("Quenta_V1.10", "Quenta_V1.9.9"));  // numbers, not text
        QVERIFY(isVersionAtLeast("2.4.1", kMinimumQuentaFirmware));
        QVERIFY(!isVersionAtLeast("2.3.9", kMinimumQuentaFirmware));
        QVERIFY(!isVersionAtLeast("no version here", kMinimumQuentaFirmware));
        QVERIFY(!isVersionAtLeast("", kMinimumQuentaFirmware));
    }

    // Opens in the fusion view, streams, shows frames with events over
    // them; the viewer button cycles event view, frame view, fusion view.
    void opensAndSwitchesViews() {
        auto w = window();
        QVERIFY(openQuenta(*w));
        QCOMPARE(w->viewerType(), korvane::STREAM_BOTH);
        QCOMPARE(w->fusionProcessor()->viewerType(), korvane::STREAM_BOTH);
        QVERIFY(w->isStreaming());
        QVERIFY(w->form()->pb_play->isChecked());
        QVERIFY(w->apsPanel()->apsBox() != nullptr);
        QVERIFY(w->apsPanel()->calibrationBox() != nullptr);

        QList<QImage> images = nextImages(*w, 3);
        QVERIFY(!images.isEmpty());
        QVERIFY(countPixels(images.last()).frame > 1000);
        QVERIFY(countPixels(images.last()).events > 100);

        w->form()->pb_viewer_type->click();  // event view
        QCOMPARE(w->fusionProcessor()->viewerType(), korvane::STREAM_DVS);
        // An event image holds the events counted since the previous frame,
        // so of two frames delivered back to back the second shows few: the
        // view is right once images without frame pixels show events.
        ThreadSafeSignalSpy eventImages(w->fusionProcessor(),
                                        &KvFusionCameraDataProcessor::signalFusionImage);
        QVERIFY(QTest::qWaitFor(
            [&] {
                for (int i = 2; i < eventImages.size();
                     ++i)  // the first two may predate the switch
                    if (countPixels(eventImages.at(i)[0].value<QImage>()).events > 100) return true;
                return false;
            },
            15000));
        QCOMPARE(countPixels(eventImages.last()[0].value<QImage>()).frame, 0);

        w->form()->pb_viewer_type->click();  // frame view
        QCOMPARE(w->fusionProcessor()->viewerType(), korvane::STREAM_APS);
        images = nextImages(*w, 3);
        QVERIFY(!images.isEmpty());
        QVERIFY(countPixels(images.last()).frame > 1000);

        w->form()->pb_viewer_type->click();
        QCOMPARE(w->fusionProcessor()->viewerType(), korvane::STREAM_BOTH);

        // The pairing keeps up with the camera: nothing dropped, short queues.
        QCOMPARE(w->fusionProcessor()->droppedFrames(), uint64_t(0));
        QVERIFY(QTest::qWaitFor(
            [&] { return w->form()->lb_status_bar->text().contains("Dropped frames"); }, 10000));
        QVERIFY(toasts().filter("firmware").isEmpty());
    }

    // The play button stops and starts the camera; stopping empties the pairing.
    void playTwiceStopsAndStarts() {
        auto w = window();
        QVERIFY(openQuenta(*w));
        QVERIFY(!nextImages(*w, 1).isEmpty());
        w->form()->pb_play->click();
        QVERIFY(!w->isStreaming());
        QVERIFY(!w->form()->pb_play->isChecked());
        QCOMPARE(w->fusionProcessor()->queuedFrames(), size_t(0));
        QCOMPARE(w->fusionProcessor()->queuedPeriods(), size_t(0));
        w->form()->pb_play->click();
        QVERIFY(w->isStreaming());
        QVERIFY(!nextImages(*w, 2).isEmpty());
    }

    // "Apply" writes the offset into the calibration file and the camera,
    // whose next calibration carries it.
    void manualOffsetReachesTheCamera() {
        auto w = window();
        QVERIFY(openQuenta(*w));
        korvane::CalibratorParameters before;
        QVERIFY(w->fusionCamera()->getCalibrationParameters(before));
        w->apsPanel()->offsetXRow()->setValue(6);
        w->apsPanel()->offsetYRow()->setValue(-4);
        QCOMPARE(w->fusionProcessor()->offsetX(), 6.0);
        QCOMPARE(w->fusionProcessor()->offsetY(), -4.0);
        emit w->apsPanel()->applyButton()->pressed();

        const QString file =
            AppConfig::instance().input_raw_file_path + "/tmp_calibration_file.json";
        QVERIFY(QFileInfo::exists(file));
        korvane::CalibratorParameters after;
        QVERIFY(w->fusionCamera()->getCalibrationParameters(after));
        const std::vector<double> b = before.affineMatrices["1"].data;
        const std::vector<double> a = after.affineMatrices["1"].data;
        QCOMPARE(a.size(), size_t(6));
        QCOMPARE(a[2], b[2] + 6);
        QCOMPARE(a[5], b[5] - 4);
        QVERIFY(QTest::qWaitFor(
            [] {
                return toasts().contains(
                    "Manual calibration parameters were written successfully!");
            },
            5000));

        // The rows start again from 0: a further edit adds to the applied shift once.
        QCOMPARE(w->apsPanel()->offsetX(), 0.0);
        QCOMPARE(w->apsPanel()->offsetY(), 0.0);
        QCOMPARE(w->fusionProcessor()->offsetX(), 0.0);
        w->apsPanel()->offsetXRow()->setValue(2);
        QCOMPARE(w->fusionProcessor()->offsetX(), 2.0);
        emit w->apsPanel()->applyButton()->pressed();
        QVERIFY(w->fusionCamera()->getCalibrationParameters(after));
        QCOMPARE(after.affineMatrices["1"].data[2], b[2] + 8);
        QCOMPARE(after.affineMatrices["1"].data[5], b[5] - 4);

        // A recording made next carries the applied calibration, the one
        // the live overlay uses.
        w->form()->pb_record->click();
        QVERIFY(w->isRecording());
        const QString raw = w->buttonRecordingPath();
        w->form()->pb_record->click();
        QVERIFY(!w->isRecording());
        korvane::CalibratorParameters recorded;
        QVERIFY(jsonFileToParam((raw.left(raw.size() - 4) + ".json").toStdString(), recorded));
        QCOMPARE(recorded.affineMatrices["1"].data, w->fusionProcessor()->forwardAffine());
        QCOMPARE(recorded.affineMatrices["1"].data[2], b[2] + 8);
        QCOMPARE(recorded.affineMatrices["1"].data[5], b[5] - 4);

        // Also when the camera could not take the applied file (its
        // calibration folder is a file here): the overlay shifted, and so
        // does what the next recording carries.
        const QString calibrations = dir_.filePath("calibrations");
        QVERIFY(QDir(calibrations).removeRecursively());
        QFile blocker(calibrations);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        w->apsPanel()->offsetYRow()->setValue(3);
        emit w->apsPanel()->applyButton()->pressed();
        QVERIFY(QTest::qWaitFor(
            [] { return toasts().contains("Manual calibration parameters were written failed!"); },
            5000));
        QCOMPARE(w->fusionProcessor()->forwardAffine()[5], b[5] - 1);
        w->form()->pb_record->click();
        QVERIFY(w->isRecording());
        const QString second = w->buttonRecordingPath();
        w->form()->pb_record->click();
        QVERIFY(
            jsonFileToParam((second.left(second.size() - 4) + ".json").toStdString(), recorded));
        QCOMPARE(recorded.affineMatrices["1"].data[5], b[5] - 1);
        QVERIFY(QFile::remove(calibrations));
    }

    void oldFirmwareWarns() {
        auto w = window("2.3.0");
        QVERIFY(openQuenta(*w));
        QCOMPARE(w->firmwareText(), QString("2.3.0"));
        QVERIFY(QTest::qWaitFor(
            [] { return toasts().contains("The Quenta camera firmware needs to be upgraded!"); },
            5000));
        QVERIFY(w->isStreaming());  // used anyway
    }

    // Every open camera shows what it tells; without one a notice says so.
    void cameraInfoForEveryCamera() {
        auto w = window();
        int shown = 0;
        QString serial, firmware;
        w->setRunCameraInfo([&](ShowCameraInfoUI& d) {
            ++shown;
            serial = d.form()->lb_serial->text();
            firmware = d.form()->lb_firm_ver->text();
        });
        w->action("Camera Info")->trigger();
        QCOMPARE(shown, 0);
        QTRY_VERIFY(noticeSaying("No camera is open: there is no camera information to show."));
        chooseSerial(*w, SimulatedBackend::kEvk4Serial);
        w->slotOpenCamera();
        QCOMPARE(w->sourceKind(), SourceKind::DvsCamera);
        w->action("Camera Info")->trigger();
        QCOMPARE(shown, 1);
        QCOMPARE(serial, QString(SimulatedBackend::kEvk4Serial));
        QCOMPARE(firmware, QString("not reported"));
        QVERIFY(openQuenta(*w));
        QVERIFY(w->apsPanel()->calibrationBox() != nullptr);
        w->action("Camera Info")->trigger();
        QCOMPARE(shown, 2);
        QCOMPARE(serial, QString(SimulatedBackend::kQuentaSerial));
        QCOMPARE(firmware, QString(korvane::SimulatedFusionCamera::kCurrentFirmware));
        // Back to a DVS camera: the APS panel empties.
        chooseSerial(*w, SimulatedBackend::kEvk4Serial);
        w->slotOpenCamera();
        QVERIFY(w->apsPanel()->calibrationBox() == nullptr);
        QVERIFY(w->fusionCamera() == nullptr);
    }

    // The record button writes base.raw, base.mp4 and base.json named after
    // the serial and the time, in the output folder; "Open Recording" on
    // that RAW file then plays it as a fusion recording with its frames.
    void recordsByButtonAndPlaysItBack() {
        auto w = window();
        QVERIFY(openQuenta(*w));
        QVERIFY(!nextImages(*w, 2).isEmpty());
        w->form()->pb_record->click();
        QVERIFY(w->isRecording());
        const QString raw = w->buttonRecordingPath();
        QVERIFY(QFileInfo(raw).fileName().startsWith(SimulatedBackend::kQuentaSerial));
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo(raw).size() > 4096; }, 10000));
        const QString base = raw.left(raw.size() - 4);
        auto camera = std::dynamic_pointer_cast<korvane::SimulatedFusionCamera>(w->fusionCamera());
        QVERIFY(camera);
        // Twelve frames from the recording's first one on have been handed
        // out (frame n is taken at n periods of camera time, counted from
        // the camera's start), so the file holds them however far the
        // delivery lags behind the camera's clock.
        const uint64_t firstFrame = camera->recordingApsStart_us() / 33333;
        QVERIFY(firstFrame > 0);
        QVERIFY(
            QTest::qWaitFor([&] { return camera->framesDelivered() >= firstFrame + 12; }, 30000));
        QVERIFY(QTest::qWaitFor(
            [&] { return w->form()->lb_status_bar->text().contains("Dropped frames"); }, 10000));
        w->form()->pb_record->click();
        QVERIFY(!w->isRecording());
        const korvane::FrameRecordingStats frames = camera->recordingFrameStats();
        QVERIFY2(frames.framesWritten > 0, frames.error.c_str());
        QVERIFY(QFileInfo::exists(base + ".json"));
        auto reader = korvane::DvsFileReader::createFileReader(raw.toStdString());
        QVERIFY(reader && reader->openForReading());
        korvane::DvsFileInfo info;
        QVERIFY(reader->getFileInfo(info));
        QVERIFY(info.apsStartTimestamp > 0);
        QVERIFY(QTest::qWaitFor([] { return toasts().contains("Save file success!"); }, 5000));

        ThreadSafeSignalSpy images(w->fusionProcessor(),
                                   &KvFusionCameraDataProcessor::signalFusionImage);
        w->openRecordingPath(raw);
        QCOMPARE(w->sourceKind(), SourceKind::FusionRecording);
        QVERIFY(w->fusionCamera() == nullptr);
        // The closed camera's figures are gone from the status line; the
        // serial shown is the recording's.
        QVERIFY(!w->form()->lb_status_bar->text().contains("Bandwidth"));
        QCOMPARE(w->form()->label_show_camera_info->text(),
                 QString::fromStdString(info.serialNumber));
        QVERIFY(!info.serialNumber.empty());
        QVERIFY(QTest::qWaitFor([&] { return w->fusionProcessor()->hasRecording(); }, 20000));
        QCOMPARE(w->fusionProcessor()->lowerBound(), info.apsStartTimestamp);
        // The range reaches the timeline by a queued signal from the load thread.
        QTRY_COMPARE_WITH_TIMEOUT(w->timeline()->minimum(), info.apsStartTimestamp, 5000);
        // The recording is short and may have played to its end already: a
        // position shows its image in any case, frame and events together
        // (the first call ends the playback thread, so no image of it
        // arrives after the count starts).
        const uint64_t at = info.apsStartTimestamp + 5 * 33333 + 1000;
        w->fusionProcessor()->setPlayPos(at);
        images.clear();
        w->fusionProcessor()->setPlayPos(at);
        QCOMPARE(images.size(), 1);
        const QImage image = images.last()[0].value<QImage>();
        QVERIFY(countPixels(image).frame > 1000);
        QVERIFY(countPixels(image).events > 100);
        // Its event rate, as for a DVS recording.
        QTRY_VERIFY_WITH_TIMEOUT(w->form()->lb_status_bar->text().startsWith("Event rate: "), 5000);
        QVERIFY(w->form()->lb_status_bar->text().endsWith("ev/s"));
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

    // "Open Recording" on a RAW file with an MP4 beside it plays the pair
    // through the fusion processor; the camera is closed first.
    void opensFusionRecording() {
        auto w = window();
        QVERIFY(openQuenta(*w));
        std::shared_ptr<korvane::FusionCamera> camera = w->fusionCamera();

        const QString in = folder("fusion");
        std::vector<korvane::Event2D> events;
        for (uint64_t t = 1000000; t < 31000000; t += 1000)  // 30 s: still playing when checked
            events.emplace_back(uint16_t(t / 1000 % 1280), 50, 1, t);
        korvane::DvsFileInfo info;
        info.dvsStartTimestamp = 1000000;
        info.apsStartTimestamp = 1000000;
        korvane::RawWriter writer;
        QVERIFY(
            writer.open((in + "/take.raw").toStdString(), korvane::generateDvsFileHeader(info)));
        writer.writeEvents(events.data(), events.size());
        QVERIFY(writer.close());
        QFile(in + "/take.mp4").open(QIODevice::WriteOnly);
        auto frames = std::make_shared<FakeFrameState>();
        frames->frames = 900;
        w->fusionProcessor()->setFrameReaderFactory(
            [frames](const std::string&) { return std::make_unique<FakeFrameReader>(frames); });

        w->form()->pb_viewer_type->click();  // the live camera's event view
        QCOMPARE(w->fusionProcessor()->viewerType(), korvane::STREAM_DVS);
        w->openRecordingPath(in + "/take.raw");
        QCOMPARE(w->sourceKind(), SourceKind::FusionRecording);
        // A recording starts in the overlay, button and processor alike.
        QCOMPARE(w->viewerType(), korvane::STREAM_BOTH);
        QCOMPARE(w->fusionProcessor()->viewerType(), korvane::STREAM_BOTH);
        QVERIFY(!camera->isConnected());  // closed, not left streaming
        QVERIFY(w->apsPanel()->calibrationBox() == nullptr);
        // The load ends by asking the play button to play.
        QVERIFY(QTest::qWaitFor([&] { return w->fusionProcessor()->isPlaying(); }, 20000));
        QVERIFY(w->form()->pb_play->isChecked());
        ThreadSafeSignalSpy images(w->fusionProcessor(),
                                   &KvFusionCameraDataProcessor::signalFusionImage);
        QVERIFY(QTest::qWaitFor([&] { return images.size() >= 3; }, 20000));
        QTRY_COMPARE_WITH_TIMEOUT(w->timeline()->minimum(), uint64_t(1000000), 5000);
        w->form()->pb_play->click();  // pause
        QVERIFY(QTest::qWaitFor([&] { return !w->fusionProcessor()->isPlaying(); }, 5000));

        // The view button works in playback too: events alone, then the frame alone.
        images.clear();
        w->form()->pb_viewer_type->click();
        QCOMPARE(w->fusionProcessor()->viewerType(), korvane::STREAM_DVS);
        QTRY_VERIFY_WITH_TIMEOUT(!images.isEmpty(), 5000);
        Pixels n = countPixels(images.last()[0].value<QImage>());
        QVERIFY(n.events > 0);
        QCOMPARE(n.frame, 0);
        images.clear();
        w->form()->pb_viewer_type->click();
        QCOMPARE(w->fusionProcessor()->viewerType(), korvane::STREAM_APS);
        QTRY_VERIFY_WITH_TIMEOUT(!images.isEmpty(), 5000);
        n = countPixels(images.last()[0].value<QImage>());
        QCOMPARE(n.events, 0);
        QVERIFY(n.frame > 0);
    }

    // A lost cable stops the stream and the recording and says so.
    void connectionLossStopsTheStream() {
        auto w = window();
        QVERIFY(openQuenta(*w));
        w->form()->pb_record->click();
        QVERIFY(w->isRecording());
        auto camera = std::dynamic_pointer_cast<korvane::SimulatedFusionCamera>(w->fusionCamera());
        QVERIFY(camera);
        camera->unplug();
        QVERIFY(QTest::qWaitFor([&] { return !w->isStreaming(); }, 10000));
        QVERIFY(!w->isRecording());
        QVERIFY(!w->form()->pb_play->isChecked());
        QVERIFY(!w->form()->pb_record->isChecked());
        QVERIFY(QTest::qWaitFor([] { return toasts().contains("Camera connection lost."); }, 5000));
    }

    // The fusion camera's logic alone, on a simulated Quenta: no window,
    // the processor the window would hand it.
    void theFusionControllerWorksWithoutAWindow() {
        KvFusionCameraDataProcessor processor;
        auto controller = std::make_unique<FusionCameraController>(&processor);
        using F = FusionCameraController;
        korvane::DvsCameraManager manager({backend("2.4.0")});
        QString firmware;
        QVERIFY(!controller->open(manager, "no such camera", firmware));
        std::shared_ptr<korvane::FusionCamera> camera =
            controller->open(manager, SimulatedBackend::kQuentaSerial, firmware);
        QVERIFY(camera);
        QCOMPARE(firmware, QString("2.4.0"));
        controller->adopt(camera, firmware);
        QCOMPARE(controller->firmware(), QString("2.4.0"));

        // Streaming: the callbacks feed the processor, which paints the overlay.
        ThreadSafeSignalSpy images(&processor, &KvFusionCameraDataProcessor::signalFusionImage);
        ThreadSafeSignalSpy statistics(controller.get(), &F::statistics);
        QVERIFY(controller->startStreaming());
        QVERIFY(controller->isStreaming());
        QTRY_VERIFY_WITH_TIMEOUT(images.size() >= 3, 20000);
        QVERIFY(countPixels(images.last()[0].value<QImage>()).frame > 1000);
        QTRY_VERIFY_WITH_TIMEOUT(!statistics.isEmpty(), 10000);
        QCOMPARE(controller->droppedEvents(), uint64_t(0));

        // Recording by button: the three files and the clock.
        ThreadSafeSignalSpy ticks(controller.get(), &F::recordingClockTick);
        const QString dir = folder("controller");
        QVERIFY(controller->startRecording(dir, "button"));
        QVERIFY(controller->isRecording());
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 2, 10000);
        QCOMPARE(ticks[1][0].toULongLong(), 1ull);
        QVERIFY(controller->finishRecording());
        QVERIFY(!controller->isRecording());
        for (const char* ext : {".raw", ".mp4", ".json"})
            QVERIFY2(QFileInfo(dir + "/button" + ext).size() > 0, ext);

        // Destroyed while streaming and recording: the recording is closed
        // whole and the camera closed while the processor is still there.
        QVERIFY(controller->startRecording(dir, "destroyed"));
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 3, 10000);
        controller.reset();
        QVERIFY(!camera->isConnected());
        QVERIFY(QFileInfo(dir + "/destroyed.raw").size() > 0);

        // A lost cable while streaming is told (the watch looks twice a second).
        controller = std::make_unique<FusionCameraController>(&processor);
        korvane::DvsCameraManager another({backend()});
        camera = controller->open(another, SimulatedBackend::kQuentaSerial, firmware);
        QVERIFY(camera);
        controller->adopt(camera, firmware);
        ThreadSafeSignalSpy lost(controller.get(), &F::connectionLost);
        QVERIFY(controller->startStreaming());
        std::dynamic_pointer_cast<korvane::SimulatedFusionCamera>(camera)->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(!lost.isEmpty(), 10000);
        QVERIFY(controller->stopStreaming());
        controller->release();
        QVERIFY(!controller->camera());
    }

    // Closing the window stops and closes a streaming fusion camera.
    void shutdownClosesTheCamera() {
        auto w = window();
        QVERIFY(openQuenta(*w));
        std::shared_ptr<korvane::FusionCamera> camera = w->fusionCamera();
        w->close();
        QVERIFY(!w->isStreaming());
        QVERIFY(!camera->isConnected());
        QVERIFY(w->fusionCamera() == nullptr);
    }
};

VELQORA_TEST_MAIN(FusionWindowTest)
#include "test_fusion_window.moc"
