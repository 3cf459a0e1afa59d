// The main window's live camera: the camera list and opening task, the
// statistics and trigger-in callbacks, the live view loop, streaming and
// recording by button, the recording clock and the camera's shutdown.
//
// Threads: camera callbacks run on the camera's threads and reach the
// window only through its queued signals (callbacks are removed before the
// handle is released, so none runs on a window being destroyed). The live
// thread owns the event buffer and a copy of the camera handle.

#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QPushButton>
#include <QStorageInfo>
#include <chrono>

#include "AppConfig.h"
#include "CamerasList.h"
#include "KvEventProcessor.h"
#include "KvFusionCameraDataProcessor.h"
#include "KvThreeHandleSlider.h"
#include "MainWidget.h"
#include "SidebarApsSettingUI.h"
#include "SidebarCameraSettingUI.h"
#include "SidebarDvsSettingUI.h"
#include "WaitingWin.h"
#include "WorkerThread.h"
#include "kvfilerecorder.h"
#include "ui_MainWidget.h"

namespace {

std::string localPath(const QString& path) {
    return path.toLocal8Bit().toStdString();
}

SourceKind kindOfProduct(const std::string& product) {
    if (product == "EVK4" || product == "Pirel") return SourceKind::DvsCamera;
    if (product == "Quenta") return SourceKind::FusionCamera;
    return SourceKind::Nothing;
}

QString sizeText(qint64 bytes) {
    if (bytes >= 1024 * 1024) return QString("%1 MB").arg(bytes / 1048576.0, 0, 'f', 1);
    return QString("%1 KB").arg(bytes / 1024.0, 0, 'f', 1);
}

}  // namespace

QString formatDuration(uint64_t seconds) {
    return QString("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QChar('0'))
        .arg(seconds / 60 % 60, 2, 10, QChar('0'))
        .arg(seconds % 60, 2, 10, QChar('0'));
}

QString formatBandwidth(double bytes_per_second) {
    if (bytes_per_second >= 1048576.0)
        return QString("%1 MB/s").arg(bytes_per_second / 1048576.0, 0, 'f', 2);
    if (bytes_per_second >= 1024.0)
        return QString("%1 KB/s").arg(bytes_per_second / 1024.0, 0, 'f', 1);
    return QString("%1 B/s").arg(bytes_per_second, 0, 'f', 0);
}

QString formatStatusBandwidth(uint64_t bandwidth_bytes_per_s) {
    return QCoreApplication::translate("MainWidget", " Bandwidth: ") +
           formatBandwidth(double(bandwidth_bytes_per_s)) + " ";
}

QString formatStatusEvents(uint64_t events_per_s) {
    return QCoreApplication::translate("MainWidget", " Events: ") +
           formatEventRate(double(events_per_s)) + " ";
}

QString formatStatusLine(uint64_t bandwidth_bytes_per_s, uint64_t events_per_s) {
    return formatStatusBandwidth(bandwidth_bytes_per_s) + formatStatusEvents(events_per_s);
}

QString freeRecordingBase(const QString& directory, const QString& base) {
    const QDir dir(directory);
    auto taken = [&](const QString& name) {
        for (const char* ext : {".raw", ".mp4", ".json"})
            if (QFileInfo::exists(dir.filePath(name + ext))) return true;
        return false;
    };
    if (!taken(base)) return base;
    for (int n = 2;; ++n) {
        const QString candidate = base + "_" + QString::number(n);
        if (!taken(candidate)) return candidate;
    }
}

QString recordingFilePath(const QString& dir, const QString& serial, const QDateTime& now) {
    return dir + "/" + freeRecordingBase(dir, serial + now.toString("_yyyyMMdd_HHmmss")) + ".raw";
}

QString TriggerInRecording::pathFor(const korvane::EventTriggerIn& trigger,
                                    const QDateTime& now) const {
    const bool wanted = (edgeType == "Rising Edge" && trigger.polarity == 1) ||
                        (edgeType == "Falling Edge" && trigger.polarity == 0);
    return wanted ? recordingFilePath(outputDir, serial, now) : QString();
}

// --- opening ------------------------------------------------------------------

void MainWidget::slotOpenCamera() {
    // Leaving the recording would pull it from under the job.
    if (refuseWhileJobRuns()) return;
    if (!confirmStopRecording()) return;
    if (ui->pb_play->isChecked()) ui->pb_play->click();
    qDebug() << "Search cameras ...";
    const std::vector<korvane::CameraDescription> cameras = cameraManager_.getCameraDescs();
    qDebug() << "Search end ... find: " << cameras.size();
    int index = -1;
    {
        CamerasList list(cameras, this);
        const bool accepted =
            runCameraList_ ? runCameraList_(list) : list.exec() == QDialog::Accepted;
        if (!accepted || !list.getSelection(index)) return;
    }
    const korvane::CameraDescription chosen = cameras[size_t(index)];
    // The old camera's use ends here: its recording is closed, its stream stopped.
    if (recording_.load()) on_pb_record_clicked();
    stopStreaming();
    releaseCameras();
    emit signalOpenRawFile(QString());
    emit signalOpenFusionFile(QString());
    openRecording_.clear();
    updateTitle();
    qDebug() << "Select camera: " << QString::fromStdString(chosen.serial)
             << " product: " << QString::fromStdString(chosen.product);
    sourceKind_ = kindOfProduct(chosen.product);

    std::shared_ptr<korvane::DvsCamera> opened;
    std::shared_ptr<korvane::FusionCamera> fusionOpened;
    QString firmware;
    bool ok = false;
    auto* waiting = new WaitingWin(ui->widget_show_image);
    waiting->setWindowModality(Qt::ApplicationModal);
    const SourceKind kind = sourceKind_;
    WorkerThread task([&] {
        ok = kind == SourceKind::FusionCamera ? openFusionCameraTask(chosen, fusionOpened, firmware)
                                              : openCameraTask(kind, chosen, opened);
    });
    QEventLoop loop;
    connect(&task, &WorkerThread::taskCompleted, waiting, &QWidget::close, Qt::QueuedConnection);
    connect(&task, &WorkerThread::taskCompleted, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    task.start(QThread::InheritPriority);
    waiting->show();
    loop.exec();
    task.finish();  // the task's results are ours from here
    waiting->close();
    delete waiting;

    if (ok && sourceKind_ == SourceKind::DvsCamera) {
        dvsCamera_ = std::move(opened);
        initDvsCameraSettings();
    }
    if (ok && sourceKind_ == SourceKind::FusionCamera) {
        fusionCamera_ = std::move(fusionOpened);
        firmwareText_ = firmware;
        // Streaming starts below in the fusion view, which the processor must show too.
        viewerType_ = korvane::STREAM_BOTH;
        applyViewerTypeIcon();
        fusionProcessor_->slotSetViewerType(viewerType_);
    }
    if (ok) {
        emit setShowCameraLiveUI(true);
        emit resetShowCameraFormTitle(true);
        emit toShowCameraSerial(QString::fromLocal8Bit(chosen.serial.c_str()));
        if (!ui->pb_play->isChecked()) ui->pb_play->click();
    }

    if (sourceKind_ == SourceKind::DvsCamera) {
        viewerType_ = korvane::STREAM_DVS;
        applyViewerTypeIcon();
    }
    using Tool = std::shared_ptr<korvane::CameraTool>;
    auto tool = [this](korvane::ToolType type) {
        if (sourceKind_ == SourceKind::DvsCamera && dvsCamera_) return dvsCamera_->getTool(type);
        if (sourceKind_ == SourceKind::FusionCamera && fusionCamera_)
            return fusionCamera_->getTool(type);
        return Tool();
    };
    dvsPanel_->setBiasesToolUI(tool(korvane::ToolType::Biases));
    dvsPanel_->setTriggerInToolUI(tool(korvane::ToolType::TriggerIn));
    dvsPanel_->setAntiFlickerToolUI(tool(korvane::ToolType::AntiFlicker));
    dvsPanel_->setEventRateControlToolUI(tool(korvane::ToolType::EventRateControl));
    dvsPanel_->setEventTrailFilterToolUI(tool(korvane::ToolType::EventTrailFilter));
    dvsPanel_->setROIToolUI(tool(korvane::ToolType::RegionOfInterest));
    if (sourceKind_ == SourceKind::FusionCamera && fusionCamera_) {
        apsPanel_->setApsToolUI(fusionCamera_->getTool(korvane::ToolType::Aps));
        apsPanel_->setManualCalibrationUI();
    } else {
        apsPanel_->clearApsUI();
    }
    displayPanel_->setFrameRateEditable(false);
}

// Worker thread. Only the camera is touched here; the window takes the
// handle on the GUI thread once the task has ended.
bool MainWidget::openCameraTask(SourceKind kind, const korvane::CameraDescription& camera,
                                std::shared_ptr<korvane::DvsCamera>& opened) {
    if (kind != SourceKind::DvsCamera) return true;
    opened = cameraManager_.openCamera(camera.serial);
    if (!opened) {
        emit signalShowLeftBottomTips(
            tr("Open camera: ") + QString::fromStdString(camera.serial) + tr("failed."),
            KvMessageType::Error);
        return false;
    }
    opened->setStatisticInfoCallback(statisticsHandler());
    opened->setRecordingErrorCallback([this](const std::string& path, const std::string& reason) {
        const QString p = QString::fromLocal8Bit(path.c_str());
        const QString r = QString::fromStdString(reason);
        emit signalRecordingError(p, r);
    });
    return true;
}

std::function<void(const korvane::KvStatisticInfo&)> MainWidget::statisticsHandler() {
    return [this](const korvane::KvStatisticInfo& info) {
        // Built here, shown there: the label belongs to the GUI thread.
        emit signalStatisticsText(formatStatusBandwidth(info.bandwidth),
                                  formatStatusEvents(info.eventRate));
        emit signalDataRate(quint64(info.bandwidth));
    };
}

void MainWidget::initDvsCameraSettings() {
    if (!dvsCamera_) return;
    if (triggerCallbackId_ != korvane::DvsCamera::kNoCallback) {
        dvsCamera_->removeTriggerInCallback(triggerCallbackId_);
        triggerCallbackId_ = korvane::DvsCamera::kNoCallback;
    }
    recorder_->setCamera(dvsCamera_);
    recorder_->armTriggerCache(0, ".");
    updateStatusLine();  // drops the armed mark
    if (!config_->dvs_trigger_in_rec_enable) return;
    // A cache that cannot start is told by the recorder; the edges still record.
    if (config_->dvs_before_tirgger_in_save_time > 0)
        recorder_->armTriggerCache(config_->dvs_before_tirgger_in_save_time, config_->app_data_dir);
    // One consistent copy for the camera's thread, made here on the GUI thread.
    auto settings = std::make_shared<TriggerInRecording>();
    settings->edgeType = config_->dvs_trigger_in_rec_edge_type;
    settings->outputDir = config_->output_raw_file_path;
    settings->serial = QString::fromLocal8Bit(dvsCamera_->getDescription().serial.c_str());
    settings->after_s = config_->dvs_after_tirgger_in_save_time;
    triggerCallbackId_ =
        dvsCamera_->addTriggerInCallback([this, settings](const korvane::EventTriggerIn& t) {
            const QString path = settings->pathFor(t, QDateTime::currentDateTime());
            if (path.isEmpty()) return;
            const uint32_t seconds = settings->after_s;
            emit signalRecByTime(seconds, path);  // reaches the recorder queued
        });
    updateStatusLine();
}

// --- statistics ---------------------------------------------------------------

void MainWidget::showStatistics(QString bandwidth, QString events) {
    if (sourceKind_ != SourceKind::DvsCamera && sourceKind_ != SourceKind::FusionCamera) return;
    bandwidthText_ = bandwidth;
    eventRateText_ = events;
    if (dvsCamera_) droppedBatches_ = dvsCamera_->batchesDropped() - droppedAtStart_;
    updateStatusLine();
}

void MainWidget::updateStatusLine() {
    // Parts by rank: a narrow line (a side panel open, the window at its
    // least width) is cut from the end, so the rates always show.
    QStringList parts;
    // Trigger recording runs unseen otherwise: every edge makes a file.
    if (sourceKind_ == SourceKind::DvsCamera &&
        triggerCallbackId_ != korvane::DvsCamera::kNoCallback)
        parts << tr("  Trigger recording armed: %1 s before, %2 s after")
                     .arg(recorder_->cacheSeconds())  // what the cache keeps, not what was asked
                     .arg(config_->dvs_after_tirgger_in_save_time)
                     .trimmed();
    QString counts;
    if (streaming_.load() && sourceKind_ == SourceKind::FusionCamera) {
        // Frames or trigger periods the pairing had to let go (a queue was full).
        counts = tr(" Dropped frames: %1  Dropped periods: %2")
                     .arg(fusionProcessor_->droppedFrames() - fusionDroppedFramesAtStart_)
                     .arg(fusionProcessor_->droppedPeriods() - fusionDroppedPeriodsAtStart_);
        // Only a period without its closing edge loses events (a loose
        // trigger cable): worth the room on the line only when it happens.
        const uint64_t lostEvents = fusionProcessor_->droppedEvents() - fusionDroppedEventsAtStart_;
        if (lostEvents > 0) counts += tr("  Dropped events: %1").arg(lostEvents);
    } else if (streaming_.load()) {
        counts = tr(" Late: %1  Dropped: %2").arg(lateBatches_.load()).arg(droppedBatches_);
    }
    if (!counts.trimmed().isEmpty()) parts << counts.trimmed();
    QString text = bandwidthText_ + eventRateText_;
    for (const QString& part : parts)
        text += (text.isEmpty() ? "" : text.endsWith(' ') ? "| " : " | ") + part;
    ui->lb_status_bar->setText(text);
}

// --- streaming ----------------------------------------------------------------

void MainWidget::showCameraPlayingUI(bool en) {
    for (QWidget* w : {static_cast<QWidget*>(ui->pb_loop), static_cast<QWidget*>(ui->pb_next),
                       static_cast<QWidget*>(ui->pb_prv), static_cast<QWidget*>(ui->pb_stop),
                       static_cast<QWidget*>(timeline_)})
        w->setEnabled(!en);
    if (en) {
        ui->pb_play->setEnabled(true);
        timeline_->setCenterValue(0);
        ui->label_time->setText("--/--");
        // Loop and range belong to the recording closed: a camera has neither.
        ui->pb_loop->setChecked(false);
        toggleStartEnd_->setChecked(false);
        slotStartEndPointEditable(false);
    }
}

void MainWidget::getEventsToShow() {
    showPending_ = false;
    rawProcessor_->showAccumulatedEvents();
}

void MainWidget::setCameraBatchInterval(uint64_t interval_us) {
    batchInterval_us_ = interval_us;
    if (dvsCamera_) dvsCamera_->setBatchInterval(interval_us);
    qDebug() << "set dvs time interval: " << interval_us;
}

void MainWidget::on_pb_play_clicked(bool checked) {
    if (sourceKind_ == SourceKind::DvsRecording || sourceKind_ == SourceKind::FusionRecording ||
        sourceKind_ == SourceKind::Nothing)
        return;
    if (sourceKind_ == SourceKind::FusionCamera) return toggleFusionStreaming();
    if (sourceKind_ != SourceKind::DvsCamera || !dvsCamera_ || !dvsCamera_->isConnected()) {
        qDebug() << "Please connect camera first.";
        ui->pb_play->setChecked(false);
        return;
    }
    if (!checked) {
        stopStreaming();
        return;
    }
    if (liveThread_.joinable()) liveThread_.join();
    if (dvsCamera_->start() != 0) {
        qDebug() << "Please check the camera connection.";
        ui->pb_play->setChecked(false);
        return;
    }
    dvsCamera_->setBatchInterval(batchInterval_us_.load());
    lateBatches_ = 0;
    droppedBatches_ = 0;
    showPending_ = false;
    droppedAtStart_ = dvsCamera_->batchesDropped();
    streaming_ = true;
    recorder_->setStreaming(true);
    liveThread_ = std::thread(&MainWidget::liveLoop, this, dvsCamera_);
    ui->pb_play->setChecked(true);
}

void MainWidget::stopStreaming() {
    stopFusionStreaming();
    const bool wasStreaming = streaming_.exchange(false) || liveThread_.joinable();
    if (liveThread_.joinable()) liveThread_.join();
    if (!wasStreaming || !dvsCamera_) return;
    recorder_->setStreaming(false);
    ui->pb_play->setChecked(false);
    dvsCamera_->stop();
    qDebug() << "stop camera.";
}

// Live thread: one picture per pass of 1/displayRate s. The batches due are
// taken (up to three), so a short batch interval makes fuller pictures
// rather than lost batches. A batch is late when a pass finds more batches
// waiting than the camera time since the previous pass explains (the view
// fell behind). Batches go to the renderer in slices, so the GUI thread's
// frame request never waits long for the accumulation lock.
void MainWidget::liveLoop(std::shared_ptr<korvane::DvsCamera> camera) {
    using namespace std::chrono;
    constexpr size_t kSlice = 1 << 16;
    constexpr int kMaxBatchesPerPass = 3;  // a view that cannot keep up still shows pictures
    const uint32_t rate = displayRate_;
    const auto period = microseconds(1000000 / rate);
    auto previous = steady_clock::now();
    while (streaming_.load()) {
        const auto t0 = steady_clock::now();
        const uint64_t interval_us = std::max<uint64_t>(1, batchInterval_us_.load());
        const uint64_t explained =
            uint64_t(duration_cast<microseconds>(t0 - previous).count()) / interval_us + 1;
        previous = t0;
        int batches = 0;
        while (batches < kMaxBatchesPerPass && streaming_.load() &&
               camera->getNextEvents(eventBuffer_)) {
            if (eventBuffer_.empty()) continue;
            if (uint64_t(++batches) > explained) ++lateBatches_;
            const korvane::Event2D* first = eventBuffer_.data();
            const korvane::Event2D* last = first + eventBuffer_.size();
            for (const korvane::Event2D* p = first; p < last; p += kSlice)
                rawProcessor_->accumulateEvents(p, p + std::min<size_t>(kSlice, size_t(last - p)));
        }
        if (batches > 0) {
            // One request in flight: a GUI thread that was busy must not take
            // two in a row, the second of which would show an empty picture.
            if (!showPending_.exchange(true)) emit triggerEventsToShow();
        }
        // One picture per display period at most, counted from the pass's
        // start (a fixed pause on top of the work made a busy stream fall
        // behind the camera). A pass that found no batch looks again soon:
        // the camera's batches do not keep step with the display period, and
        // waiting a whole period would merge two batches into one picture.
        auto rest = period - duration_cast<microseconds>(steady_clock::now() - t0);
        if (batches == 0) rest = std::min<microseconds>(rest, milliseconds(2));
        if (rest.count() > 0 && streaming_.load()) std::this_thread::sleep_for(rest);
        if (!camera->isConnected()) {
            qDebug() << "Camera connection lost.";
            streaming_ = false;
            emit signalCameraLost();
        }
    }
}

void MainWidget::cameraConnectionLost() {
    emit signalShowLeftBottomTips(tr("Camera connection lost."), KvMessageType::Error);
    // The driver closed the file when the cable went; the window follows.
    if (recording_.load()) finishButtonRecording(true);
    recorder_->stopRecording();
    updateStatusLine();
}

// --- recording ----------------------------------------------------------------

void MainWidget::on_pb_record_clicked() {
    const bool fusion = sourceKind_ == SourceKind::FusionCamera;
    const bool held =
        fusion ? bool(fusionCamera_) : sourceKind_ == SourceKind::DvsCamera && bool(dvsCamera_);
    const bool connected =
        held && (fusion ? fusionCamera_->isConnected() : dvsCamera_->isConnected());
    if (!held || (!connected && !recording_.load())) {
        qDebug() << "Please connect camera first.";
        ui->pb_record->setChecked(false);
        return;
    }
    if (recording_.load()) {
        qDebug() << "stop recording";
        finishButtonRecording(true);
        return;
    }
    qDebug() << "start recording...";
    // A folder that cannot take a recording would only gather empty files,
    // one a click: refused with the reason instead.
    if (const QString why = recordingFolderProblem(config_->output_raw_file_path); !why.isEmpty()) {
        ui->pb_record->setChecked(false);
        emit signalShowLeftBottomTips(tr("Recording refused: %1").arg(why), KvMessageType::Error,
                                      config_->output_raw_file_path);
        return;
    }
    if (fusion) return startFusionRecording();
    recordingPath_ =
        recordingFilePath(config_->output_raw_file_path,
                          QString::fromLocal8Bit(dvsCamera_->getDescription().serial.c_str()),
                          QDateTime::currentDateTime());
    if (!dvsCamera_->startRecording(localPath(recordingPath_))) {
        ui->pb_record->setChecked(false);
        const QString reason = recordingFailureReason(dvsCamera_->recordingStatus().error);
        emit signalShowLeftBottomTips(tr("Recording failed: %1").arg(reason), KvMessageType::Error,
                                      recordingPath_);
        return;
    }
    recording_ = true;
    ui->pb_record->setChecked(true);
    startRecordingClock();
}

// Ends the button's recording; tells the user whether the file is whole.
void MainWidget::finishButtonRecording(bool notify) {
    recording_ = false;
    ui->pb_record->setChecked(false);
    stopRecordingClock();
    if (fusionCamera_) {
        const bool whole = fusionCamera_->stopRecording(korvane::STREAM_BOTH);
        if (!notify) return;
        if (whole) {
            emit signalShowLeftBottomTips(tr("Save file success!"), KvMessageType::Success,
                                          recordingPath_);
        } else {
            emit signalShowLeftBottomTips(
                tr("Recording failed: %1").arg(tr("not everything recorded reached the files")),
                KvMessageType::Error, recordingPath_);
        }
        return;
    }
    if (!dvsCamera_) return;
    const bool whole = dvsCamera_->stopRecording();
    const korvane::RecordingStatus status = dvsCamera_->recordingStatus();
    if (!notify) return;
    if (whole || (status.error.empty() && QFileInfo(recordingPath_).size() > 0)) {
        emit signalShowLeftBottomTips(tr("Save file success!"), KvMessageType::Success,
                                      recordingPath_);
    } else if (status.error == "camera unplugged" && QFileInfo(recordingPath_).size() > 0) {
        // Closed by the driver when the cable went: readable up to the loss.
        emit signalShowLeftBottomTips(tr("Save file success!"), KvMessageType::Success,
                                      recordingPath_);
    } else {
        emit signalShowLeftBottomTips(
            tr("Recording failed: %1").arg(recordingFailureReason(status.error)),
            KvMessageType::Error, recordingPath_);
    }
}

QString MainWidget::recordingFolderProblem(const QString& directory) const {
    // A folder that does not exist yet is the camera's to create (or refuse).
    const QFileInfo folder(directory);
    if (!folder.exists()) return QString();
    if (!folder.isDir() || !folder.isWritable())
        return tr("the folder %1 cannot be written").arg(directory);
    const qint64 free =
        freeSpace_ ? freeSpace_(directory) : QStorageInfo(directory).bytesAvailable();
    if (free >= 0 && free < kMinFreeForRecording)
        return tr("the disk holding %1 is full").arg(directory);
    return QString();
}

void MainWidget::recordingFailed(QString path, QString reason) {
    if (!recording_.load() || path != recordingPath_ || reason == "camera unplugged") return;
    recording_ = false;
    ui->pb_record->setChecked(false);
    stopRecordingClock();
    emit signalShowLeftBottomTips(
        tr("Recording failed: %1").arg(recordingFailureReason(reason.toStdString())),
        KvMessageType::Error, path);
}

void MainWidget::startRecordingClock() {
    stopRecordingClock();
    recording_ = true;
    clockThread_ = std::thread(&MainWidget::recordingClock, this);
}

void MainWidget::stopRecordingClock() {
    {
        std::lock_guard<std::mutex> lock(clockMutex_);
        clockWake_.notify_all();
    }
    if (clockThread_.joinable()) clockThread_.join();
    ui->lb_recoding_time->clear();
}

void MainWidget::showRecordingClock(quint64 seconds) {
    if (!recording_.load()) return;
    ui->lb_recoding_time->setText(formatDuration(seconds) + "  " +
                                  sizeText(QFileInfo(recordingPath_).size()));
}

// Clock thread: one pass per second of recording; labels change on the GUI thread.
void MainWidget::recordingClock() {
    using namespace std::chrono;
    uint64_t n = 0;
    std::unique_lock<std::mutex> lock(clockMutex_);
    while (recording_.load()) {
        const auto pass = steady_clock::now();
        emit signalRecordingClockTick(quint64(n));
        clockWake_.wait_until(lock, pass + seconds(1), [this] { return !recording_.load(); });
        ++n;
    }
}

// --- leaving the camera ---------------------------------------------------------

void MainWidget::releaseCameras() {
    releaseFusionCamera();
    if (!dvsCamera_) return;
    if (triggerCallbackId_ != korvane::DvsCamera::kNoCallback)
        dvsCamera_->removeTriggerInCallback(triggerCallbackId_);
    triggerCallbackId_ = korvane::DvsCamera::kNoCallback;
    dvsCamera_->setStatisticInfoCallback(nullptr);
    dvsCamera_->setRecordingErrorCallback(nullptr);
    recorder_->setCamera(nullptr);
    dvsCamera_.reset();
}

bool MainWidget::confirmStopRecording() {
    if (!recording_.load() && !recorder_->isRecording()) return true;
    return askUser_(tr("Tips"),
                    tr("A recording is running. Stop it? What was recorded so far is kept."),
                    tr("Stop"), tr("Cancel"));
}

void MainWidget::shutdownCamera(bool notify) {
    if (recording_.load()) finishButtonRecording(notify);
    recorder_->stopRecording();
    stopStreaming();
    releaseCameras();
}

void MainWidget::closeEvent(QCloseEvent* event) {
    if (!confirmStopRecording()) {
        event->ignore();
        return;
    }
    // The file must be complete before the window goes.
    shutdownCamera(false);
    rememberLayout();
    QWidget::closeEvent(event);
}
