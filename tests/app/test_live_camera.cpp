// The live camera in the main window, on simulated cameras: the camera
// list, opening by product, the live view and its status line, tuning
// through the DVS panel, recording by button and around trigger edges,
// connection loss and shutdown; a replay camera; and the file recorder on
// its own.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <limits>

#include "AppConfig.h"
#include "AppTestMain.h"
#include "CamerasList.h"
#include "KvEventProcessor.h"
#include "KvFilePathReminderForm.h"
#include "KvLabelElider.h"
#include "LiveCameraController.h"
#include "MainWidget.h"
#include "SettingBaseWithLineEdit.h"
#include "SettingBaseWithSwitchButton.h"
#include "SettingItemBox.h"
#include "ShowImageForm.h"
#include "SidebarCameraSettingUI.h"
#include "SidebarDvsSettingUI.h"
#include "ThreadSafeSignalSpy.h"
#include "WindowTestSupport.h"
#include "korvane/camera/CameraClock.h"
#include "korvane/file/DvsFileReader.h"
#include "korvane/sim/ReplayBackend.h"
#include "korvane/sim/SimulatedBackend.h"
#include "korvane/sim/SyntheticRecording.h"
#include "kvfilerecorder.h"
#include "ui_CamerasList.h"
#include "ui_MainWidget.h"
#include "ui_SettingBaseWithLineEdit.h"
#include "ui_SettingBaseWithSwitchButton.h"

using korvane::SimulatedBackend;
using korvane::SimulatedCameraOptions;
using korvane::SimulatedDvsCamera;

namespace {

SimulatedCameraOptions cameraOptions(const std::string& serial, const std::string& product,
                                     uint64_t rate = 2000000, uint64_t triggerPeriod_us = 1000000) {
    SimulatedCameraOptions o;
    o.serial = serial;
    o.product = product;
    o.eventsPerSecond = rate;
    o.triggerPeriod_us = triggerPeriod_us;
    return o;
}

std::shared_ptr<SimulatedBackend> backendOf(std::vector<SimulatedCameraOptions> cameras) {
    return std::make_shared<SimulatedBackend>(std::move(cameras));
}

// A recording opened for reading with its first and last event times; null
// when it does not open or holds no events.
std::unique_ptr<korvane::DvsFileReader> openRecording(const QString& path, uint64_t& start,
                                                      uint64_t& end) {
    auto reader = korvane::DvsFileReader::createFileReader(path.toStdString());
    if (!reader || !reader->openForReading() || !reader->getStartTime(start) ||
        !reader->getEndTime(end))
        return nullptr;
    return reader;
}

// Span of a recording in microseconds, or -1 when it does not open.
int64_t spanOf(const QString& path) {
    uint64_t start = 0, end = 0;
    return openRecording(path, start, end) ? int64_t(end - start) : -1;
}

// Pixels of the image that are not the background.
int litPixels(const QImage& image, int fromColumn = 0) {
    const QRgb background = AppConfig::instance().background_color.rgb();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = fromColumn; x < image.width(); ++x)
            if (image.pixel(x, y) != background) ++n;
    return n;
}

// The next few images the live view shows (waits for them, not for a time).
QList<QImage> nextImages(MainWidget& w, int count) {
    ThreadSafeSignalSpy images(w.rawProcessor(), &KvEventProcessor::signalEventImage);
    if (!QTest::qWaitFor([&] { return images.size() >= count; }, 10000)) return {};
    QList<QImage> out;
    for (const QVariantList& args : images)
        out << args[0].value<QImage>();
    return out;
}

double meanLit(MainWidget& w, int frames, int fromColumn = 0) {
    const QList<QImage> images = nextImages(w, frames);
    if (images.isEmpty()) return -1;
    double sum = 0;
    for (const QImage& i : images)
        sum += litPixels(i, fromColumn);
    return sum / images.size();
}

uint64_t eventsIn(const QString& path) {
    uint64_t start = 0, end = 0;
    auto reader = openRecording(path, start, end);
    if (!reader || !reader->seekToTime(start)) return 0;
    uint64_t n = 0;
    for (;;) {
        auto batch = reader->readEventsFor(1000000);
        if (!batch || batch->empty()) return n;
        n += batch->size();
    }
}

// Where the first rising edge of channel 0 lies in a recording: camera time
// before it and after it, in microseconds; {-1, -1} when there is none.
std::pair<int64_t, int64_t> aroundFirstRisingEdge(const QString& path) {
    uint64_t start = 0, end = 0;
    auto reader = openRecording(path, start, end);
    if (!reader) return {-1, -1};
    for (const korvane::EventTriggerIn& t : reader->readTriggersInWindow(start, end - start + 1))
        if (t.id == 0 && t.polarity == 1)
            return {int64_t(t.timestamp - start), int64_t(end - t.timestamp)};
    return {-1, -1};
}

// Opens the only camera of a fresh simulated backend in the window.
std::shared_ptr<SimulatedBackend> openOnly(MainWidget& w, const std::string& serial) {
    auto backend = backendOf({cameraOptions(serial, "EVK4")});
    w.setCameraManager(korvane::DvsCameraManager({backend}));
    chooseSerial(w, QString::fromStdString(serial));
    w.slotOpenCamera();
    return backend;
}

// Waits until the camera runs a recording that holds events (the status of
// an earlier, finished one does not count).
bool recordingHoldsEvents(const korvane::DvsCamera& camera) {
    return QTest::qWaitFor(
        [&] {
            const auto status = camera.recordingStatus();
            return status.running && status.eventsWritten > 0;
        },
        10000);
}

QStringList rawFiles(const QString& dir) {
    return QDir(dir).entryList({"*.raw"}, QDir::Files, QDir::Name);
}

}  // namespace

class LiveCameraTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

    QString folder(const QString& name) {
        const QString path = dir_.filePath(name);
        QDir().mkpath(path);
        return path;
    }

    // Trigger recording of 1 s before and 1 s after each rising edge into
    // the folder `name`, set as the panel sets it.
    static void armRisingEdgeRecording(MainWidget& w, const QString& out) {
        AppConfig& c = AppConfig::instance();
        c.output_raw_file_path = out;
        c.dvs_trigger_in_rec_enable = true;
        c.dvs_trigger_in_rec_edge_type = "Rising Edge";
        c.dvs_before_tirgger_in_save_time = 1;
        c.dvs_after_tirgger_in_save_time = 1;
        w.initDvsCameraSettings();
    }

private slots:
    void init() {
        AppConfig& c = AppConfig::instance();
        c.dvs_trigger_in_rec_enable = false;
        c.app_data_dir = folder("data");
        c.output_raw_file_path = folder("out");
    }
    void cleanup() { closeToasts(); }

    void textsAndTriggerEdgesOfTheLiveView() {
        QCOMPARE(formatStatusLine(10485760, 2500000),
                 QString(" Bandwidth: 10.00 MB/s  Events: 2.50 Mev/s "));
        // An event rate limit of 1000 ev/s still reads as a rate.
        QCOMPARE(formatStatusLine(4000, 1000), QString(" Bandwidth: 3.9 KB/s  Events: 1.0 kev/s "));
        // The two halves make up the line.
        QCOMPARE(formatStatusBandwidth(10485760) + formatStatusEvents(2500000),
                 formatStatusLine(10485760, 2500000));
        // The camera library's reasons reach the user as translatable sentences.
        const struct {
            std::string driver;
            QString shown;
        } reasons[] = {
            {"disk full", "the disk is full"},
            {"camera unplugged", "the camera was unplugged"},
            {"a recording is already running", "a recording is already running"},
            {"cannot create /no/such/a.raw: " + std::string(std::strerror(ENOENT)),
             "the file cannot be created: the folder does not exist"},
            {"cannot create /x: not a regular file",
             "the file cannot be created: the path is not a file"},
            {std::strerror(EROFS), "the disk is read-only"},
            {"some reason not known yet", "the file cannot be written"},
            {"", "the file cannot be written"},
        };
        for (const auto& r : reasons)
            QCOMPARE(recordingFailureReason(r.driver), r.shown);
        QCOMPARE(formatDuration(0), QString("00:00:00"));
        QCOMPARE(formatDuration(1), QString("00:00:01"));
        QCOMPARE(formatDuration(3600 + 61), QString("01:01:01"));
        QCOMPARE(formatDuration(100 * 3600), QString("100:00:00"));
        const QDateTime at(QDate(2025, 3, 1), QTime(9, 5, 7));
        QCOMPARE(recordingFilePath("/data/out", "S", at),
                 QString("/data/out/S_20250301_090507.raw"));
        // A second recording within the same second must not truncate the first.
        QTemporaryDir dir;
        QFile(dir.filePath("S_20250301_090507.raw")).open(QIODevice::WriteOnly);
        QCOMPARE(recordingFilePath(dir.path(), "S", at), dir.path() + "/S_20250301_090507_2.raw");

        // Rising edges carry polarity 1 (as the camera and the RAW format mark them).
        TriggerInRecording t{"Rising Edge", "/o", "S", 2};
        const korvane::EventTriggerIn rising(0, 1, 10), falling(0, 0, 20);
        QCOMPARE(t.pathFor(rising, at), QString("/o/S_20250301_090507.raw"));
        QVERIFY(t.pathFor(falling, at).isEmpty());
        t.edgeType = "Falling Edge";
        QVERIFY(t.pathFor(rising, at).isEmpty());
        QCOMPARE(t.pathFor(falling, at), QString("/o/S_20250301_090507.raw"));
        t.edgeType = "rising edge";  // any other text: nothing
        QVERIFY(t.pathFor(rising, at).isEmpty());
        QVERIFY(t.pathFor(falling, at).isEmpty());
    }

    // The live camera's logic alone, on a simulated camera: no window, the
    // processor and the recorder the window would hand it.
    // A camera that hands over several batches at once (its stream catching
    // up, as at its start on a busy machine) right after the view emptied its
    // queue: the view did not fall behind, and says so.
    void aBunchFromTheCameraIsNotLate() {
        KvEventProcessor processor;
        KvFileRecorder recorder(nullptr);
        auto clock = std::make_shared<korvane::ManualCameraClock>();
        auto options = cameraOptions("B1", "EVK4", 100000);
        options.clock = clock;
        korvane::DvsCameraManager manager({backendOf({options})});
        LiveCameraController controller(&processor, &recorder);
        std::shared_ptr<korvane::DvsCamera> camera = controller.open(manager, "B1");
        QVERIFY(camera);
        controller.adopt(camera);
        constexpr uint64_t kInterval_us = 33333;
        controller.setBatchInterval(kInterval_us);
        connect(&controller, &LiveCameraController::framesReady, &controller,
                &LiveCameraController::showAccumulated, Qt::QueuedConnection);
        ThreadSafeSignalSpy images(&processor, &KvEventProcessor::signalEventImage);
        QVERIFY(controller.startStreaming());
        for (const uint64_t batches : {1, 1, 1, 3, 1, 3}) {
            const int before = images.size();
            clock->advance(batches * kInterval_us);
            QTRY_VERIFY(images.size() > before);
            QTest::qWait(100);  // the view takes what is left and finds the queue empty
        }
        QCOMPARE(controller.lateBatches(), uint64_t(0));
        QCOMPARE(controller.droppedBatches(), uint64_t(0));
        QVERIFY(controller.stopStreaming());
        controller.release();
    }

    void theLiveControllerWorksWithoutAWindow() {
        KvEventProcessor processor;
        KvFileRecorder recorder(nullptr);
        recorder.setDataFolder(folder("data"));
        korvane::DvsCameraManager manager(
            {backendOf({cameraOptions("C1", "EVK4"), cameraOptions("C2", "EVK4")})});
        auto controller = std::make_unique<LiveCameraController>(&processor, &recorder);
        using L = LiveCameraController;
        QVERIFY(!controller->open(manager, "no such camera"));
        std::shared_ptr<korvane::DvsCamera> camera = controller->open(manager, "C1");
        QVERIFY(camera);
        controller->adopt(camera);
        QCOMPARE(controller->camera(), camera);

        // Streaming: the live thread feeds the processor, one request at a
        // time answered on this thread as the window does.
        connect(controller.get(), &L::framesReady, controller.get(), &L::showAccumulated,
                Qt::QueuedConnection);
        ThreadSafeSignalSpy images(&processor, &KvEventProcessor::signalEventImage);
        ThreadSafeSignalSpy statistics(controller.get(), &L::statistics);
        ThreadSafeSignalSpy edges(controller.get(), &L::triggerRecording);
        QVERIFY(camera->getTool(korvane::ToolType::TriggerIn)->setParameter("channel_0", true));
        controller->armTriggerRecording({"Rising Edge", folder("edges"), "C1", 3});
        QVERIFY(controller->triggerArmed());
        QVERIFY(controller->startStreaming());
        QVERIFY(controller->isStreaming());
        QTRY_VERIFY_WITH_TIMEOUT(images.size() >= 3, 10000);
        QVERIFY(litPixels(images.last()[0].value<QImage>()) > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!statistics.isEmpty(), 10000);
        QVERIFY(statistics.last()[1].toULongLong() > 0);
        // A rising edge asks for its recording: seconds after it and a free path.
        QTRY_VERIFY_WITH_TIMEOUT(!edges.isEmpty(), 10000);
        QCOMPARE(edges.first()[0].toUInt(), 3u);
        QVERIFY(edges.first()[1].toString().startsWith(folder("edges") + "/C1_"));
        controller->disarmTriggerRecording();
        QVERIFY(!controller->triggerArmed());

        // Recording by button with its clock, from 0 a second at a time.
        ThreadSafeSignalSpy ticks(controller.get(), &L::recordingClockTick);
        const QString path = folder("controller") + "/button.raw";
        QVERIFY(controller->startRecording(path));
        QVERIFY(controller->isRecording());
        QCOMPARE(controller->recordingPath(), path);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 2, 10000);
        QCOMPARE(ticks[0][0].toULongLong(), 0ull);
        QCOMPARE(ticks[1][0].toULongLong(), 1ull);
        const L::Finished finished = controller->finishRecording();
        QVERIFY(finished.whole);
        QVERIFY(!controller->isRecording());
        QVERIFY(spanOf(path) > 0);
        // An error for another file, or the cable, leaves a recording alone.
        QVERIFY(controller->startRecording(path + "2.raw"));
        QVERIFY(!controller->recordingFailed(path, "disk full"));
        QVERIFY(!controller->recordingFailed(path + "2.raw", "camera unplugged"));
        QVERIFY(controller->isRecording());
        QVERIFY(controller->recordingFailed(path + "2.raw", "disk full"));
        QVERIFY(!controller->isRecording());
        controller->finishRecording();

        // Unplugged: the live thread notices, ends streaming and says so.
        ThreadSafeSignalSpy lost(controller.get(), &L::cameraLost);
        std::dynamic_pointer_cast<SimulatedDvsCamera>(camera)->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(!lost.isEmpty(), 10000);
        QVERIFY(!controller->isStreaming());
        // The loop ended on its own: stopping joins it and stops the camera, once.
        QVERIFY(controller->stopStreaming());
        QVERIFY(!controller->stopStreaming());
        controller->release();
        QVERIFY(!controller->camera());

        // Destroyed while streaming and recording: the threads are joined,
        // the callbacks removed and the file closed whole, while the
        // processor and the recorder it used are still there.
        camera = controller->open(manager, "C2");
        QVERIFY(camera);
        controller->adopt(camera);
        QVERIFY(controller->startStreaming());
        const QString last = folder("controller") + "/destroyed.raw";
        QVERIFY(controller->startRecording(last));
        QVERIFY(recordingHoldsEvents(*camera));
        controller.reset();
        QVERIFY(!camera->recordingStatus().running);
        QVERIFY(spanOf(last) > 0);
        camera->stop();
    }

    void cameraListEntriesAndSelection() {
        QWidget parent;
        parent.resize(800, 600);
        std::vector<korvane::CameraDescription> cams(2);
        cams[0].serial = "A1";
        cams[0].product = "EVK4";
        cams[1].serial = "B2";
        cams[1].product = "Quenta";
        CamerasList list(cams, &parent);
        auto* l = list.form()->listWidget_cameras;
        QCOMPARE(l->count(), 2);
        QCOMPARE(l->item(1)->text(), QString("Quenta  B2"));
        QCOMPARE(l->item(1)->data(CamerasList::kSerialRole).toString(), QString("B2"));
        QCOMPARE(l->iconSize(), QSize(24, 24));
        QVERIFY(!l->item(0)->icon().isNull());
        // The selected row's icon stays visible on the selection colour.
        const QImage normal = l->item(0)->icon().pixmap(QSize(24, 24)).toImage();
        const QImage selected = l->item(0)->icon().pixmap(QSize(24, 24), QIcon::Selected).toImage();
        QCOMPARE(normal.pixelColor(10, 12).rgb(), QColor("#004B6A").rgb());
        QCOMPARE(selected.pixelColor(10, 12).rgb(), QColor(Qt::white).rgb());
        int index = -1;
        QVERIFY(list.getSelection(index));
        QCOMPARE(index, 0);
        l->setCurrentRow(-1);
        QVERIFY(!list.getSelection(index));

        // The search field hides what does not match; a hidden row is not chosen.
        QTest::keyClicks(list.form()->le_search_camera, "quen");
        QVERIFY(l->item(0)->isHidden());
        QVERIFY(!l->item(1)->isHidden());
        QVERIFY(list.getSelection(index));
        QCOMPARE(index, 1);
        list.form()->le_search_camera->setText("b2");
        QVERIFY(list.getSelection(index));
        QCOMPARE(index, 1);
        list.form()->le_search_camera->setText("zz");
        QVERIFY(!list.getSelection(index));
        list.form()->le_search_camera->clear();
        QVERIFY(!l->item(0)->isHidden());

        // Enter opens the chosen camera, from the list or from the search field.
        for (QWidget* from :
             {static_cast<QWidget*>(l), static_cast<QWidget*>(list.form()->le_search_camera)}) {
            l->setCurrentRow(1);
            list.setResult(-1);
            list.show();
            QVERIFY(QTest::qWaitForWindowExposed(&list));
            from->setFocus();
            QTest::keyClick(from, Qt::Key_Return);
            QTRY_COMPARE(list.result(), int(QDialog::Accepted));
            QVERIFY(list.getSelection(index));
            QCOMPARE(index, 1);
        }

        // Down and Up choose the row wherever the focus is (they moved the
        // focus between the buttons and did not choose), skipping hidden rows.
        list.form()->le_search_camera->clear();
        l->setCurrentRow(0);
        list.setResult(-1);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QTRY_VERIFY(list.form()->le_search_camera->hasFocus());  // where a search is typed
        for (QWidget* from : {static_cast<QWidget*>(list.form()->le_search_camera),
                              static_cast<QWidget*>(list.form()->pb_close),
                              static_cast<QWidget*>(list.form()->pb_win_close)}) {
            l->setCurrentRow(0);
            from->setFocus();
            QTest::keyClick(from, Qt::Key_Down);
            QCOMPARE(l->currentRow(), 1);
            QVERIFY(from->hasFocus());
            QTest::keyClick(from, Qt::Key_Up);
            QCOMPARE(l->currentRow(), 0);
        }
        list.hide();

        CamerasList empty({}, &parent);
        QVERIFY(!empty.getSelection(index));
        QCOMPARE(empty.form()->le_search_camera->placeholderText(), QString("Search Cameras..."));
    }

    void productsDecideTheSourceKind() {
        MainWidget w;
        w.setCameraManager(korvane::DvsCameraManager(
            {backendOf({cameraOptions("E1", "EVK4"), cameraOptions("P1", "Pirel"),
                        cameraOptions("L1", "evk4")})}));
        chooseSerial(w, "P1");
        w.slotOpenCamera();
        QCOMPARE(w.sourceKind(), SourceKind::DvsCamera);
        QVERIFY(w.dvsCamera());
        QVERIFY(w.isStreaming());
        QVERIFY(w.form()->pb_play->isChecked());
        QVERIFY(!w.form()->pb_loop->isEnabled());
        QCOMPARE(w.form()->label_time->text(), QString("--/--"));
        // The panel got the camera's six tools.
        QVERIFY(w.dvsPanel()->groupBox(korvane::ToolType::Biases));
        QVERIFY(w.dvsPanel()->groupBox(korvane::ToolType::RegionOfInterest));

        chooseSerial(w, "E1");
        w.slotOpenCamera();
        QCOMPARE(w.sourceKind(), SourceKind::DvsCamera);
        QCOMPARE(w.dvsCamera()->getDescription().serial, std::string("E1"));

        // Lower case is no known product: nothing opens, yet the title names it.
        chooseSerial(w, "L1");
        w.slotOpenCamera();
        QCOMPARE(w.sourceKind(), SourceKind::Nothing);
        QVERIFY(!w.dvsCamera());
        QVERIFY(!w.isStreaming());
        QCOMPARE(w.form()->label_show_camera_info->text(), QString("L1"));
        QVERIFY(!w.form()->pb_stop->isEnabled());
        QVERIFY(!w.dvsPanel()->groupBox(korvane::ToolType::Biases));
    }

    void choicesThatOpenNoCamera() {
        MainWidget w;
        w.setCameraManager(korvane::DvsCameraManager({backendOf({cameraOptions("E1", "EVK4")})}));
        w.setRunCameraList([](CamerasList& list) {
            list.form()->listWidget_cameras->setCurrentRow(-1);
            return true;
        });
        w.slotOpenCamera();
        QCOMPARE(w.sourceKind(), SourceKind::Nothing);
        QVERIFY(!w.dvsCamera());
        w.setRunCameraList([](CamerasList&) { return false; });
        w.slotOpenCamera();
        QVERIFY(!w.dvsCamera());
        QVERIFY(toasts().isEmpty());

        // Listed but refused on opening (a backend that lists what it cannot open): reported.
        struct Refusing : korvane::CameraBackend {
            std::vector<korvane::CameraDescription> listCameras() override {
                korvane::CameraDescription d;
                d.serial = "X9";
                d.product = "EVK4";
                return {d};
            }
            std::shared_ptr<korvane::DvsCamera> openCamera(const std::string&) override {
                return nullptr;
            }
        };
        w.setCameraManager(korvane::DvsCameraManager({std::make_shared<Refusing>()}));
        chooseSerial(w, "X9");
        w.slotOpenCamera();
        QVERIFY(!w.dvsCamera());
        QVERIFY(!w.isStreaming());
        QTRY_VERIFY(toasts().contains("Open camera: X9failed."));
    }

    // The whole road on one simulated camera.
    void liveCameraEndToEnd() {
        auto backend = backendOf({cameraOptions("E2E", "EVK4", 1000000, 3000000)});
        MainWidget w;
        w.setCameraManager(korvane::DvsCameraManager({backend}));
        w.show();
        bool listShown = false;
        chooseSerial(w, "E2E", &listShown);
        w.action("Open Camera")->trigger();
        QVERIFY(listShown);
        QVERIFY(w.isStreaming());
        auto camera = std::dynamic_pointer_cast<SimulatedDvsCamera>(w.dvsCamera());
        QVERIFY(camera);

        // Frames reach the image view; the status line fills.
        QVERIFY(meanLit(w, 3) > 1000);
        QTRY_VERIFY_WITH_TIMEOUT(w.form()->lb_status_bar->text().startsWith(" Bandwidth: "), 5000);
        QVERIFY(w.form()->lb_status_bar->text().contains("ev/s "));
        QVERIFY(w.form()->lb_status_bar->text().contains("Dropped: "));

        // A bias through the DVS panel thins the stream.
        const double before = meanLit(w, 5);
        for (const char* bias : {"contrast_on", "contrast_off", "pixel_gain", "noise_level"})
            w.dvsPanel()->onBiasSliderValueChanged(bias, bias[0] == 'c' ? 50 : -50);
        // Batches made before the change may still be on their way: wait for the new ones.
        QTRY_VERIFY_WITH_TIMEOUT(meanLit(w, 5) < before * 0.7, 10000);
        for (const char* bias : {"contrast_on", "contrast_off", "pixel_gain", "noise_level"})
            w.dvsPanel()->onBiasSliderValueChanged(bias, 0);

        // The ROI through the panel's rows: nothing right of column 200.
        for (SettingBaseWithLineEdit* row : w.dvsPanel()->roiRows())
            if (row->parameterName() == "width") row->form()->le_kv_line_edit->setText("200");
        SettingItemBox* roiBox = w.dvsPanel()->groupBox(korvane::ToolType::RegionOfInterest);
        auto* enable = roiBox->findChild<SettingBaseWithSwitchButton*>();
        QVERIFY(enable);
        enable->form()->switchButton->click();
        auto roiTool = camera->getTool(korvane::ToolType::RegionOfInterest);
        int width = 0;
        bool on = false;
        QVERIFY(roiTool->getIntParameter("width", width) &&
                roiTool->getBoolParameter("enable", on));
        QCOMPARE(width, 200);
        QVERIFY(on);
        QTRY_VERIFY_WITH_TIMEOUT(meanLit(w, 1, 200) == 0.0, 10000);
        QCOMPARE(meanLit(w, 3, 200), 0.0);
        QVERIFY(meanLit(w, 3) > 0);
        enable->form()->switchButton->click();

        // Record 2 s by button; the clock runs; the file opens in the window.
        const QString out = AppConfig::instance().output_raw_file_path;
        w.form()->pb_record->click();
        QVERIFY(w.isRecording());
        QVERIFY(w.form()->pb_record->isChecked());
        QTRY_VERIFY(w.form()->lb_recoding_time->text().startsWith("00:00:00"));
        QTRY_VERIFY_WITH_TIMEOUT(w.form()->lb_recoding_time->text().startsWith("00:00:02"), 5000);
        w.form()->pb_record->click();
        const uint64_t written = camera->recordingStatus().eventsWritten;
        QVERIFY(!w.isRecording());
        QVERIFY(w.form()->lb_recoding_time->text().isEmpty());
        const QString recorded = w.buttonRecordingPath();
        QVERIFY(recorded.startsWith(out + "/E2E_"));
        QTRY_VERIFY(toasts().contains("Save file success!"));
        QVERIFY(written > 0);
        QCOMPARE(eventsIn(recorded), written);

        // Trigger-in: 1 s before and 1 s after each rising edge of channel 0.
        armRisingEdgeRecording(w, folder("trigger"));
        AppConfig& c = AppConfig::instance();
        QVERIFY(camera->triggerCache());
        // Edges only once the cache holds its second.
        auto cacheFull = [&] {
            const uint64_t oldest = camera->triggerCache()->oldestTime_us();  // 0: empty
            return oldest > 0 && camera->streamTime_us() >= oldest + 1100000;
        };
        QTRY_VERIFY_WITH_TIMEOUT(cacheFull(), 5000);
        w.dvsPanel()->onTriggerInSliderValueChanged("channel_0", true);
        QTRY_VERIFY_WITH_TIMEOUT(w.recorder()->isRecording(), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!w.recorder()->isRecording(), 60000);
        // Looked for while on screen: reading the file back below can take
        // longer than a notice stays (seconds under a sanitizer).
        QTRY_VERIFY(toasts().contains("Recording end"));
        const QStringList files = rawFiles(c.output_raw_file_path);
        QCOMPARE(files.size(), 1);
        QVERIFY(files[0].startsWith("E2E_"));
        // The second before the edge comes from the cache (less the time the
        // request took to reach the recorder), the second after it is recorded.
        const auto [before_us, after_us] =
            aroundFirstRisingEdge(c.output_raw_file_path + "/" + files[0]);
        QVERIFY2(before_us >= 500000 && before_us <= 1100000,
                 qPrintable(QString::number(before_us)));
        // The second after is wall time: on a machine where the camera lags the
        // clock it holds less camera time, so only its presence is checked.
        QVERIFY2(after_us > 0 && after_us <= 2000000, qPrintable(QString::number(after_us)));

        // Trigger-in off: the cache goes, edges record nothing more.
        c.dvs_trigger_in_rec_enable = false;
        w.initDvsCameraSettings();
        QVERIFY(!camera->triggerCache());

        // Unplugged while recording: the loop ends, the user is told, the file stays readable.
        closeToasts();
        c.output_raw_file_path = folder("unplug");
        w.form()->pb_record->click();
        QVERIFY(w.isRecording());
        nextImages(w, 3);
        camera->unplug();
        QTRY_VERIFY(!w.isStreaming());
        QTRY_VERIFY(toasts().contains("Camera connection lost."));
        QTRY_VERIFY(!w.isRecording());
        QVERIFY(w.form()->lb_recoding_time->text().isEmpty());
        QVERIFY(spanOf(w.buttonRecordingPath()) > 0);
        // The rest stays until the user acts.
        QCOMPARE(w.sourceKind(), SourceKind::DvsCamera);
        QVERIFY(w.form()->pb_play->isChecked());
        QVERIFY(w.dvsCamera());
    }

    // A recording in the user's replay folder is a camera of the window's
    // list: it streams into the live view, its DVS panel has no biases, and
    // recording by button writes its events with its geometry.
    void replayCameraInTheWindow() {
#if defined(Q_OS_WIN)
        // The data folder is the local application folder there: a scratch one.
        qputenv("LOCALAPPDATA", folder("localappdata").toLocal8Bit());
#endif
        const std::string replayFolder = korvane::ReplayBackend::defaultFolder();
        QVERIFY(QDir().mkpath(QString::fromStdString(replayFolder)));
        korvane::SyntheticOptions o;
        o.duration_us = 2000000;
        o.eventsPerSecond = 1000000;
        o.width = 640;
        o.height = 480;
        o.triggerPeriod_us = 700000;
        std::string error;
        QVERIFY2(korvane::writeSyntheticRecording(replayFolder + "/walk.raw", o, &error),
                 error.c_str());
        const std::string serial = korvane::ReplayBackend::serialFor("walk");

        MainWidget w;
        w.setCameraManager(korvane::DvsCameraManager());
        w.show();
        bool listShown = false;
        chooseSerial(w, QString::fromStdString(serial), &listShown);
        w.action("Open Camera")->trigger();
        QVERIFY(listShown);
        QCOMPARE(w.sourceKind(), SourceKind::DvsCamera);
        QVERIFY(w.isStreaming());
        auto camera = std::dynamic_pointer_cast<SimulatedDvsCamera>(w.dvsCamera());
        QVERIFY(camera);
        QCOMPARE(camera->getDescription().product, std::string("Replay"));
        QVERIFY(meanLit(w, 3) > 100);
        QVERIFY(!w.dvsPanel()->groupBox(korvane::ToolType::Biases));
        QVERIFY(w.dvsPanel()->groupBox(korvane::ToolType::RegionOfInterest));
        QVERIFY(w.dvsPanel()->groupBox(korvane::ToolType::EventRateControl));

        w.form()->pb_record->click();
        QVERIFY(w.isRecording());
        QVERIFY(recordingHoldsEvents(*camera));
        QTRY_VERIFY_WITH_TIMEOUT(w.form()->lb_recoding_time->text().startsWith("00:00:01"), 5000);
        w.form()->pb_record->click();
        QVERIFY(!w.isRecording());
        const uint64_t written = camera->recordingStatus().eventsWritten;
        QVERIFY(written > 0);
        const QString recorded = w.buttonRecordingPath();
        QCOMPARE(eventsIn(recorded), written);
        auto reader = korvane::DvsFileReader::createFileReader(recorded.toStdString());
        QVERIFY(reader);
        QCOMPARE(reader->header().width, 640u);
        QCOMPARE(reader->header().height, 480u);

        // Trigger recording around the recorded edges, switched on in the panel.
        armRisingEdgeRecording(w, folder("replay-trigger"));
        AppConfig& c = AppConfig::instance();
        QVERIFY(camera->triggerCache());
        QTRY_VERIFY_WITH_TIMEOUT(
            camera->triggerCache()->oldestTime_us() > 0 &&
                camera->streamTime_us() >= camera->triggerCache()->oldestTime_us() + 1100000,
            10000);
        w.dvsPanel()->onTriggerInSliderValueChanged("channel_0", true);
        QTRY_VERIFY_WITH_TIMEOUT(w.recorder()->isRecording(), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!w.recorder()->isRecording(), 60000);
        const QStringList files = rawFiles(c.output_raw_file_path);
        QCOMPARE(files.size(), 1);
        const auto [before_us, after_us] =
            aroundFirstRisingEdge(c.output_raw_file_path + "/" + files[0]);
        QVERIFY2(before_us >= 500000 && before_us <= 1100000,
                 qPrintable(QString::number(before_us)));
        QVERIFY2(after_us > 0 && after_us <= 2000000, qPrintable(QString::number(after_us)));
        c.dvs_trigger_in_rec_enable = false;
        w.initDvsCameraSettings();
        // Other tests' camera lists stay as they were.
        QVERIFY(QFile::remove(QString::fromStdString(replayFolder + "/walk.raw")));
    }

    // Recording with no camera (nothing open, or a file playing) is refused, and said so.
    void recordingWithoutACameraIsSaidToTheUser() {
        MainWidget w;
        w.form()->pb_record->click();
        QTRY_COMPARE(toasts(), QStringList({"Please connect camera first."}));
        closeToasts();
        w.openRecordingPath(writeRecording(dir_.filePath("no-camera.raw"), 100000));
        QVERIFY(waitUntilLoaded(w));
        w.form()->pb_record->click();
        QVERIFY(!w.isRecording());
        QVERIFY(!w.form()->pb_record->isChecked());
        QTRY_COMPARE(toasts(), QStringList({"Please connect camera first."}));
        QCOMPARE(w.sourceKind(), SourceKind::DvsRecording);
    }

    void aRecordingThatCannotStartIsAnErrorNotASuccess() {
        MainWidget w;
        openOnly(w, "F1");
        AppConfig::instance().output_raw_file_path = dir_.filePath("missing/folder");
        w.form()->pb_record->click();
        QVERIFY(!w.isRecording());
        QVERIFY(!w.form()->pb_record->isChecked());
        QTRY_VERIFY(!toasts().isEmpty());
        QVERIFY(toasts().first().startsWith("Recording failed: "));
        // A second click is a new start that fails again, not a stop with a success notice.
        w.form()->pb_record->click();
        QTRY_COMPARE(toasts().size(), 2);
        for (const QString& notice : toasts())  // in no particular order
            QVERIFY2(notice.startsWith("Recording failed: "), qPrintable(notice));
    }

    // A full disk: each click is refused with the reason and leaves no file;
    // once there is room again the recording starts.
    void aFullDiskRefusesRecordingWithoutFiles() {
        MainWidget w;
        openOnly(w, "D1");
        const QString out = folder("full-disk");  // its own: earlier cases record into "out"
        AppConfig::instance().output_raw_file_path = out;
        qint64 free = 0;
        w.setFreeSpace([&](const QString& dir) {
            return dir == out ? free : std::numeric_limits<qint64>::max();
        });
        for (int click = 1; click <= 2; ++click) {
            w.form()->pb_record->click();
            QVERIFY(!w.isRecording());
            QVERIFY(!w.form()->pb_record->isChecked());
            QTRY_COMPARE(toasts().size(), click);
        }
        for (const QString& notice : toasts())
            QCOMPARE(notice, "Recording refused: the disk holding " + out + " is full");
        QVERIFY(rawFiles(out).isEmpty());

        free = MainWidget::kMinFreeForRecording;
        w.form()->pb_record->click();
        QVERIFY(w.isRecording());
        w.form()->pb_record->click();
        QVERIFY(!w.isRecording());
        QCOMPARE(rawFiles(out).size(), 1);
    }

    void closingTheWindowFinishesTheRecording() {
        QString path;
        std::shared_ptr<SimulatedBackend> backend;  // outlives the window, as the camera does
        std::shared_ptr<korvane::DvsCamera> camera;
        {
            MainWidget w;
            backend = openOnly(w, "C1");
            camera = w.dvsCamera();
            w.form()->pb_record->click();
            QVERIFY(w.isRecording());
            nextImages(w, 5);
            path = w.buttonRecordingPath();
            // Nothing stops the recording without asking: "Cancel" keeps it
            // running through closing, opening a recording and opening a camera.
            QStringList asked;
            bool stop = false;
            w.setAskUser([&](const QString&, const QString& text, const QString& accept,
                             const QString& reject) {
                asked << text + " [" + accept + "/" + reject + "]";
                return stop;
            });
            const QString question =
                "A recording is running. Stop it? What was recorded so far is kept. [Stop/Cancel]";
            QVERIFY(!w.close());
            w.openRecordingPath(writeRecording(dir_.filePath("other.raw"), 100000));
            bool listShown = false;
            chooseSerial(w, "C1", &listShown);
            w.action("Open Camera")->trigger();
            QCOMPARE(asked, QStringList({question, question, question}));
            QVERIFY(!listShown);
            QVERIFY(w.isRecording());
            QVERIFY(w.isStreaming());
            QCOMPARE(w.sourceKind(), SourceKind::DvsCamera);
            QVERIFY(camera->recordingStatus().running);
            stop = true;
            QVERIFY(w.close());
            QCOMPARE(asked.size(), 4);
            QVERIFY(!w.isRecording());
            QVERIFY(!w.isStreaming());
            QVERIFY(!w.dvsCamera());
        }
        // Still open elsewhere (the test's handle), yet the file is whole.
        QVERIFY(!camera->recordingStatus().running);
        QVERIFY(camera->recordingStatus().error.empty());
        QVERIFY(spanOf(path) > 0);
    }

    // "Stop" before the camera list ends the recording at once; a list closed
    // without a choice leaves the stopped camera, and nothing shows it recording.
    void stoppingForTheCameraListEndsTheRecordingAtOnce() {
        MainWidget w;
        auto backend = openOnly(w, "L1");
        const std::shared_ptr<korvane::DvsCamera> camera = w.dvsCamera();
        w.form()->pb_record->click();
        QVERIFY(w.isRecording());
        QVERIFY(recordingHoldsEvents(*camera));
        QTRY_VERIFY_WITH_TIMEOUT(w.form()->lb_status_bar->text().startsWith(" Bandwidth: "), 5000);
        const QString path = w.buttonRecordingPath();
        int asked = 0;
        w.setAskUser([&](const QString&, const QString&, const QString&, const QString&) {
            return ++asked > 0;  // "Stop"
        });
        bool recordingWhenListed = true;
        w.setRunCameraList([&](CamerasList&) {
            recordingWhenListed = w.isRecording() || camera->recordingStatus().running;
            return false;  // closed without a choice
        });
        w.action("Open Camera")->trigger();
        QCOMPARE(asked, 1);
        QVERIFY(!recordingWhenListed);
        QVERIFY(!w.isRecording());
        QVERIFY(!w.form()->pb_record->isChecked());
        QVERIFY(w.form()->lb_recoding_time->text().isEmpty());
        QTRY_VERIFY(toasts().contains("Save file success!"));
        QVERIFY(camera->recordingStatus().error.empty());
        QVERIFY(spanOf(path) > 0);
        // The window still holds the camera, stopped: no stale rates, no clock.
        QCOMPARE(w.dvsCamera(), camera);
        QCOMPARE(w.sourceKind(), SourceKind::DvsCamera);
        QVERIFY(!w.isStreaming());
        QVERIFY(!w.form()->pb_play->isChecked());
        QCoreApplication::processEvents();  // figures and ticks queued before the stop
        QVERIFY2(!w.form()->lb_status_bar->text().contains("Bandwidth"),
                 qPrintable(w.form()->lb_status_bar->text()));
        QVERIFY(w.form()->lb_recoding_time->text().isEmpty());
    }

    // Opening a camera after a recording: nothing of the recording stays
    // (loop, range handles and label); captions show with their values.
    void aCameraAfterARecordingKeepsNothingOfIt() {
        MainWidget w;
        w.openRecordingPath(writeRecording(dir_.filePath("before.raw"), 500000));
        QVERIFY(waitUntilLoaded(w));
        w.form()->pb_loop->click();
        QVERIFY(w.form()->pb_loop->isChecked());
        w.action("Toggle Start/End Point")->trigger();
        QVERIFY(!w.form()->label_range->isHidden());
        openOnly(w, "S1");
        QCOMPARE(w.sourceKind(), SourceKind::DvsCamera);
        QVERIFY(!w.form()->pb_loop->isChecked());
        QVERIFY(!w.action("Toggle Start/End Point")->isChecked());
        QCOMPARE(w.timeline()->handleMode(), KvThreeHandleSlider::SingleHandle);
        QVERIFY(w.form()->label_range->isHidden());
        QCOMPARE(w.form()->label_show_camera_info->text(), QString("S1"));
        QVERIFY(!w.form()->label_show_play_text->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(w.form()->lb_status_bar->text().startsWith(" Bandwidth: "), 5000);
    }

    void openingARecordingReleasesTheCamera() {
        MainWidget w;
        openOnly(w, "R1");
        w.form()->pb_record->click();
        nextImages(w, 3);
        const QString path = w.buttonRecordingPath();
        int asked = 0;
        w.setAskUser([&](const QString&, const QString&, const QString&, const QString&) {
            return ++asked > 0;  // "Stop"
        });
        w.openRecordingPath(path);
        QCOMPARE(asked, 1);
        QVERIFY(!w.dvsCamera());
        QVERIFY(!w.isStreaming());
        QVERIFY(!w.isRecording());
        QCOMPARE(w.sourceKind(), SourceKind::DvsRecording);
        QVERIFY(!w.dvsPanel()->groupBox(korvane::ToolType::Biases));
        QTRY_VERIFY_WITH_TIMEOUT(w.openRecording() == path, 10000);
    }

    void batchIntervalFollowsTheDisplayPanel() {
        MainWidget w;
        openOnly(w, "B1");
        emit w.dvsPanel()->signalCumulativeTimeChanged(0);  // the DVS panel is not the source
        const uint64_t before = w.batchInterval();
        QVERIFY(before > 0);
        auto camera = std::dynamic_pointer_cast<SimulatedDvsCamera>(w.dvsCamera());
        emit w.displayPanel()->signalCumulativeTimeChanged(10000);
        QCOMPARE(w.batchInterval(), uint64_t(10000));
        // The camera makes batches of the new length.
        QTRY_VERIFY(camera->lastBatch().t1_us - camera->lastBatch().t0_us == 10000);
    }

    // --- the file recorder ---------------------------------------------------

    void recorderRefusalsAndCacheTime() {
        KvFileRecorder recorder(nullptr);
        ThreadSafeSignalSpy tips(&recorder, &KvFileRecorder::signalShowLeftBottomTips);
        const QString path = dir_.filePath("r.raw");
        QVERIFY(!recorder.recordingTime(1, path));  // no camera
        QCOMPARE(tips.size(), 1);
        QCOMPARE(tips[0][0].toString(), QString("Currently being recorded."));
        QCOMPARE(tips[0][1].value<KvMessageType>(), KvMessageType::Warning);
        QCOMPARE(tips[0][2].toString(), path);
        QVERIFY(!recorder.stopRecording());

        auto camera = std::make_shared<SimulatedDvsCamera>(cameraOptions("T1", "EVK4"));
        recorder.setCamera(camera);
        QVERIFY(!recorder.recordingTime(0, path));  // no seconds, and none kept before
        QCOMPARE(tips[1][0].toString(),
                 QString("Nothing to record: 0 seconds before and 0 seconds after the trigger."));
        camera->unplug();
        QVERIFY(!recorder.recordingTime(1, path));  // not connected
        QCOMPARE(tips.size(), 3);
        QVERIFY(!QFileInfo::exists(path));

        // A recording the camera cannot start is refused, not reported as running.
        auto other = std::make_shared<SimulatedDvsCamera>(cameraOptions("T4", "EVK4"));
        QCOMPARE(other->start(), 0);
        recorder.setCamera(other);
        const QString nowhere = dir_.filePath("missing/r.raw");
        QVERIFY(!recorder.startRecording(nowhere));
        QVERIFY(!recorder.isRecording());
        QCOMPARE(tips.size(), 4);
        QCOMPARE(
            tips[3][0].toString(),
            QString("Recording failed: the file cannot be created: the folder does not exist"));
        QCOMPARE(tips[3][1].value<KvMessageType>(), KvMessageType::Error);
        QCOMPARE(tips[3][2].toString(), nowhere);
        QVERIFY(!recorder.stopRecording());
        const QString here = dir_.filePath("started.raw");
        QVERIFY(recorder.startRecording(here));
        QVERIFY(recorder.isRecording());
        QVERIFY(recorder.stopRecording());
        QVERIFY(QFileInfo::exists(here));
        recorder.setCamera(camera);

        // The cache time switches the camera's trigger cache on and off, in
        // the data folder the window hands over.
        recorder.setDataFolder(dir_.path());
        recorder.setCacheTime(2);
        QVERIFY(camera->triggerCache());
        recorder.setCacheTime(0);
        QVERIFY(!camera->triggerCache());
    }

    // A cache that cannot start is an error; each recording says what it holds before its edge.
    void recordingsSayWhatTheCacheHeld() {
        auto camera = std::make_shared<SimulatedDvsCamera>(cameraOptions("T5", "EVK4"));
        QCOMPARE(camera->start(), 0);
        KvFileRecorder recorder(camera);
        ThreadSafeSignalSpy tips(&recorder, &KvFileRecorder::signalShowLeftBottomTips);
        QVERIFY(!recorder.armTriggerCache(5, dir_.filePath("no/such/folder")));
        QCOMPARE(tips.size(), 1);
        QCOMPARE(tips[0][1].value<KvMessageType>(), KvMessageType::Error);
        QVERIFY(tips[0][0].toString().contains("could not be started"));
        recorder.setStreaming(true);
        QVERIFY(recorder.recordingTime(1, dir_.filePath("nocache.raw")));
        QCOMPARE(tips[1][0].toString(),
                 QString("Recording file ... without seconds before the trigger: the cache "
                         "could not start."));
        QVERIFY(recorder.stopRecording());
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), 10000);

        // More seconds than the camera keeps are held at its limit, never wrapped to 0.
        QVERIFY(recorder.armTriggerCache(70000, folder("cache")));
        QVERIFY(camera->triggerCache());
        QCOMPARE(camera->triggerCache()->duration_us(), uint64_t(65535) * 1000000);
        QVERIFY(recorder.armTriggerCache(30, folder("cache")));
        const int before = tips.size();
        QVERIFY(recorder.recordingTime(1, dir_.filePath("young.raw")));  // the cache just started
        const QString young = tips[before][0].toString();
        const auto held = QRegularExpression(
                              "^Recording file \\.\\.\\. with only ([0-9.]+) s of "
                              "the 30 s before the trigger")
                              .match(young);
        QVERIFY2(held.hasMatch(), qPrintable(young));
        QVERIFY(held.captured(1).toDouble() < 30.0);
        QVERIFY(recorder.stopRecording());
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), 10000);

        // An edge while the camera records by button leaves that recording running.
        QTRY_VERIFY_WITH_TIMEOUT(!camera->recordingStatus().running, 10000);
        QVERIFY2(camera->startRecording(dir_.filePath("button.raw").toStdString()),
                 camera->recordingStatus().error.c_str());
        QVERIFY(!recorder.recordingTime(1, dir_.filePath("edge.raw")));
        QCOMPARE(tips.last()[0].toString(), QString("Currently being recorded."));
        QTest::qWait(100);  // a wrongly started edge thread would end the recording now
        QVERIFY(camera->recordingStatus().running);
        QVERIFY(camera->stopRecording());
    }

    // A trigger cache its disk cannot hold at the stream's rate is refused
    // before it starts, and stopped when the rate grows past the free space.
    void triggerCacheThatWouldFillTheDiskIsRefused() {
        auto camera = std::make_shared<SimulatedDvsCamera>(cameraOptions("T6", "EVK4"));
        KvFileRecorder recorder(camera);
        ThreadSafeSignalSpy tips(&recorder, &KvFileRecorder::signalShowLeftBottomTips);
        recorder.setFreeSpaceProbe([](const QString&) { return qint64(1000000); });
        const QString cache = folder("cache");
        QVERIFY(recorder.armTriggerCache(30, cache));  // no rate known yet
        recorder.noteDataRate(10000);                  // 300 kB fit
        QVERIFY(camera->triggerCache());
        QCOMPARE(tips.size(), 0);
        recorder.noteDataRate(100000);  // 3 MB do not
        QVERIFY(!camera->triggerCache());
        QCOMPARE(tips.size(), 1);
        QCOMPARE(tips[0][1].value<KvMessageType>(), KvMessageType::Error);
        QVERIFY2(tips[0][0].toString().contains("stopped"), qPrintable(tips[0][0].toString()));
        QCOMPARE(tips[0][2].toString(), cache);
        recorder.noteDataRate(200000);  // said once
        QCOMPARE(tips.size(), 1);

        QVERIFY(!recorder.armTriggerCache(30, cache));
        QVERIFY(!camera->triggerCache());
        QCOMPARE(tips.size(), 2);
        const QString refused = tips[1][0].toString();
        QVERIFY2(
            refused.contains("not started") && refused.contains("30 s") && refused.contains(cache),
            qPrintable(refused));
        QVERIFY(recorder.armTriggerCache(4, cache));  // 800 kB fit
        QVERIFY(camera->triggerCache());

        struct Case {
            uint32_t seconds;
            uint64_t rate;
            qint64 free;
            bool problem;
        };
        const Case cases[] = {
            {65535, 1000000000ull, 1000000000000ll, true},  // no wrap at the largest values
            {10, 100, 1000, false},                         // exactly fits
            {10, 101, 1000, true},
            {10, 0, 1, false},     // rate unknown
            {10, 100, -1, false},  // free space unknown
            {0, 100, 1, false},
        };
        for (const Case& c : cases)
            QCOMPARE(!KvFileRecorder::cacheSpaceProblem(c.seconds, c.rate, c.free, "/d").isEmpty(),
                     c.problem);
    }

    // While trigger recording is on the status line says so.
    void triggerRecordingShowsItIsArmed() {
        AppConfig& c = AppConfig::instance();
        c.dvs_trigger_in_rec_enable = true;
        c.dvs_before_tirgger_in_save_time = 2;
        c.dvs_after_tirgger_in_save_time = 3;
        auto backend = backendOf({cameraOptions("ARM", "EVK4")});
        MainWidget w;
        w.setCameraManager(korvane::DvsCameraManager({backend}));
        w.show();
        chooseSerial(w, "ARM");
        w.action("Open Camera")->trigger();
        QVERIFY(w.dvsCamera());
        const QString armed = "Trigger recording armed: 2 s before, 3 s after";
        QTRY_VERIFY(w.form()->lb_status_bar->text().contains(armed));
        // At the window's least width with a panel open the rates still show
        // whole; what is cut is at the end, and in the tip.
        w.form()->pb_fold_dvs_setting->click();
        w.resize(w.minimumWidth(), w.height());
        QLabel* line = w.form()->lb_status_bar;
        QTRY_VERIFY_WITH_TIMEOUT(line->text().contains("ev/s"), 10000);
        QTRY_VERIFY(line->width() < line->fontMetrics().horizontalAdvance(line->text()));
        const QString shown = KvLabelElider::shownText(line);
        QVERIFY2(QRegularExpression("Bandwidth: \\S+ \\S+  Events: \\S+ \\S*ev/s")
                     .match(shown)
                     .hasMatch(),
                 qPrintable(shown));
        c.dvs_trigger_in_rec_enable = false;
        w.initDvsCameraSettings();
        QVERIFY(!w.form()->lb_status_bar->text().contains(armed));
        c.dvs_before_tirgger_in_save_time = 0;
        c.dvs_after_tirgger_in_save_time = 0;
    }

    void recorderTimedRecordingAndEarlyStop() {
        auto camera = std::make_shared<SimulatedDvsCamera>(cameraOptions("T2", "EVK4"));
        QCOMPARE(camera->start(), 0);
        KvFileRecorder recorder(camera);
        ThreadSafeSignalSpy tips(&recorder, &KvFileRecorder::signalShowLeftBottomTips);
        const QString first = dir_.filePath("timed.raw"), second = dir_.filePath("second.raw");
        QElapsedTimer wall;
        wall.start();
        QVERIFY(recorder.recordingTime(1, first));
        QVERIFY(recorder.isRecording());
        QVERIFY(!recorder.recordingTime(1, second));  // refused, the first goes on
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), 30000);
        const qint64 recorded_us = wall.nsecsElapsed() / 1000;
        QVERIFY(recorded_us >= 1000000);
        QTRY_COMPARE(tips.size(), 3);
        QCOMPARE(tips[0][0].toString(), QString("Recording file ... "));
        QCOMPARE(tips[0][2].toString(), first);
        QCOMPARE(tips[1][0].toString(), QString("Currently being recorded."));
        QCOMPARE(tips[2][0].toString(), QString("Recording end"));
        QVERIFY(tips[2][2].toString().isEmpty());
        QVERIFY(!QFileInfo::exists(second));
        // Camera time never runs ahead of the wall time the recording took; the
        // first slice may have begun just before the start.
        const int64_t span = spanOf(first);
        QVERIFY2(span > 0 && span <= recorded_us + int64_t(SimulatedDvsCamera::kSlice_us),
                 qPrintable(QString("%1 of %2").arg(span).arg(recorded_us)));
        // And it ends at its set second, not at some later moment: a second of
        // slack for a loaded machine still tells a recording that overruns.
        QVERIFY2(span < 2000000, qPrintable(QString::number(span)));

        // A long recording stopped early ends at once with its notice.
        tips.clear();
        QVERIFY(recorder.recordingTime(60, second));
        QVERIFY(recordingHoldsEvents(*camera));
        QVERIFY(recorder.stopRecording());
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(tips.size(), 2, 30000);
        QCOMPARE(tips[1][0].toString(), QString("Recording end"));
        QVERIFY(spanOf(second) >= 0);
        QVERIFY(!camera->recordingStatus().running);
        QVERIFY(!recorder.stopRecording());
    }

    // A timed recording counts the stream's seconds, yet a stream that stops
    // moving or a camera that ends the recording itself never holds it open.
    void timedRecordingEndsWhenTheStreamCannot() {
        enum class End { Stopped, Unplugged, FolderRemoved };
        struct Case {
            const char* name;
            End end;
            uint32_t seconds;
            const char* lastTip;
        };
        for (const Case c :
             {Case{"stopped", End::Stopped, 1, "Recording end"},
              Case{"unplugged", End::Unplugged, 1, "Recording failed: the camera was unplugged"},
              // The stream goes on, but the camera ended the recording itself.
              Case{"removed", End::FolderRemoved, 600,
                   "Recording failed: the recording's file or folder was removed"}}) {
            auto camera = std::make_shared<SimulatedDvsCamera>(cameraOptions("T7", "EVK4"));
            QCOMPARE(camera->start(), 0);
            KvFileRecorder recorder(camera);
            ThreadSafeSignalSpy tips(&recorder, &KvFileRecorder::signalShowLeftBottomTips);
            const QString path = folder(QString("ended-%1").arg(c.name)) + "/rec.raw";
            QElapsedTimer wall;
            wall.start();
            QVERIFY(recorder.recordingTime(c.seconds, path));
            QVERIFY(recordingHoldsEvents(*camera));
            if (c.end == End::Unplugged)
                camera->unplug();
            else if (c.end == End::Stopped)
                camera->stop();
            else
                QVERIFY(QDir(QFileInfo(path).path()).removeRecursively());
            QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), 30000);
            // Well before the stream's second could ever come.
            QVERIFY2(wall.elapsed() < 15000, c.name);
            QTRY_COMPARE(tips.size(), 2);
            QCOMPARE(tips[1][0].toString(), QString(c.lastTip));
            if (c.end != End::FolderRemoved) QVERIFY(spanOf(path) >= 0);
        }

        // A camera whose time lags the clock (a loaded machine) still gets
        // its whole second: the wall clock's second alone does not end it.
        auto clock = std::make_shared<korvane::ManualCameraClock>();
        auto options = cameraOptions("T8", "EVK4");
        options.clock = clock;
        auto camera = std::make_shared<SimulatedDvsCamera>(options);
        QCOMPARE(camera->start(), 0);
        KvFileRecorder recorder(camera);
        const QString path = dir_.filePath("lagging.raw");
        clock->advance(100000);
        QTRY_VERIFY(clock->idle());
        QVERIFY(recorder.recordingTime(1, path));
        clock->advance(500000);
        QTest::qWait(1500);
        QVERIFY(recorder.isRecording());
        clock->advance(600000);
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), 30000);
        const int64_t span = spanOf(path);
        QVERIFY2(span >= 900000 && span <= 1200000, qPrintable(QString::number(span)));

        // No seconds after the edge: the cached second alone, stopped while
        // the recorder may still copy it, yet whole.
        QVERIFY(recorder.armTriggerCache(1, folder("cache0")));
        clock->advance(1500000);
        QTRY_VERIFY(clock->idle());
        const QString cachedOnly = dir_.filePath("cached-only.raw");
        QVERIFY(recorder.recordingTime(0, cachedOnly));
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), 30000);
        const int64_t cachedSpan = spanOf(cachedOnly);
        QVERIFY2(cachedSpan >= 900000 && cachedSpan <= 1200000,
                 qPrintable(QString::number(cachedSpan)));
    }

    void recorderDestructionEndsTheRecording() {
        auto camera = std::make_shared<SimulatedDvsCamera>(cameraOptions("T3", "EVK4"));
        QCOMPARE(camera->start(), 0);
        const QString path = dir_.filePath("destroyed.raw");
        {
            KvFileRecorder recorder(camera);
            QVERIFY(recorder.recordingTime(60, path));
            QVERIFY(recordingHoldsEvents(*camera));
        }
        QVERIFY(!camera->recordingStatus().running);
        QVERIFY(spanOf(path) >= 0);
    }
};

VELQORA_TEST_MAIN(LiveCameraTest)
#include "test_live_camera.moc"
