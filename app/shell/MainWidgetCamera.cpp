// The main window's live camera: the camera list and opening task, the
// trigger-in settings, the status line, the play bar and record button of a
// live camera with their notices, the recording clock's label and the
// camera's shutdown.
//
// The camera logic itself (handles, callbacks, the live and clock threads)
// is LiveCameraController's; here the window asks the user, words the
// notices and keeps the play bar and the labels. The controller's signals
// from its threads reach the window queued (connectCameraControllers).

#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QPushButton>
#include <QStorageInfo>

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

SourceKind kindOfProduct(const std::string& product) {
    if (product == "EVK4" || product == "Pirel" || product == "Replay")
        return SourceKind::DvsCamera;
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

// --- the controllers ------------------------------------------------------------

void MainWidget::connectCameraControllers() {
    LiveCameraController* l = live_;
    using L = LiveCameraController;
    // Direct: the window's own signals go out on the sending thread, as the
    // connections made in initConnections expect (queued to their slots).
    connect(l, &L::framesReady, this, &MainWidget::triggerEventsToShow, Qt::DirectConnection);
    connect(l, &L::triggerRecording, this, &MainWidget::signalRecByTime, Qt::DirectConnection);
    connect(l, &L::statistics, this, &MainWidget::showStatistics, Qt::QueuedConnection);
    // The trigger cache's disk check needs the stream's bytes per second.
    connect(
        l, &L::statistics, recorder_,
        [r = recorder_](quint64 bandwidth_bytes_per_s, quint64) {
            r->noteDataRate(bandwidth_bytes_per_s);
        },
        Qt::QueuedConnection);
    connect(l, &L::recordingError, this, &MainWidget::recordingFailed, Qt::QueuedConnection);
    connect(l, &L::cameraLost, this, &MainWidget::cameraConnectionLost, Qt::QueuedConnection);
    connect(l, &L::recordingClockTick, this, &MainWidget::showRecordingClock, Qt::QueuedConnection);
    FusionCameraController* f = fusion_;
    using F = FusionCameraController;
    connect(f, &F::statistics, this, &MainWidget::showStatistics, Qt::QueuedConnection);
    connect(f, &F::recordingClockTick, this, &MainWidget::showRecordingClock, Qt::QueuedConnection);
    connect(f, &F::connectionLost, this, &MainWidget::fusionCameraLost);
}

// --- opening ------------------------------------------------------------------

void MainWidget::slotOpenCamera() {
    // Leaving the recording would pull it from under the job.
    if (refuseWhileJobRuns()) return;
    if (!confirmStopRecording()) return;
    // "Stop" ends the recording now: the list may yet be closed without a choice.
    if (isRecording()) {
        qDebug() << "stop recording";
        finishButtonRecording(true);
    }
    if (recorder_->isRecording()) recorder_->stopRecording();
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
    if (isRecording()) on_pb_record_clicked();
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
        live_->adopt(std::move(opened));
        initDvsCameraSettings();
    }
    if (ok && sourceKind_ == SourceKind::FusionCamera) {
        fusion_->adopt(std::move(fusionOpened), firmware);
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
        if (sourceKind_ == SourceKind::DvsCamera && live_->camera())
            return live_->camera()->getTool(type);
        if (sourceKind_ == SourceKind::FusionCamera && fusion_->camera())
            return fusion_->camera()->getTool(type);
        return Tool();
    };
    dvsPanel_->setBiasesToolUI(tool(korvane::ToolType::Biases));
    dvsPanel_->setTriggerInToolUI(tool(korvane::ToolType::TriggerIn));
    dvsPanel_->setAntiFlickerToolUI(tool(korvane::ToolType::AntiFlicker));
    dvsPanel_->setEventRateControlToolUI(tool(korvane::ToolType::EventRateControl));
    dvsPanel_->setEventTrailFilterToolUI(tool(korvane::ToolType::EventTrailFilter));
    dvsPanel_->setROIToolUI(tool(korvane::ToolType::RegionOfInterest));
    if (sourceKind_ == SourceKind::FusionCamera && fusion_->camera()) {
        apsPanel_->setApsToolUI(fusion_->camera()->getTool(korvane::ToolType::Aps));
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
    opened = live_->open(cameraManager_, camera.serial);
    if (!opened) {
        emit signalShowLeftBottomTips(
            tr("Open camera: ") + QString::fromStdString(camera.serial) + tr("failed."),
            KvMessageType::Error);
        return false;
    }
    return true;
}

void MainWidget::initDvsCameraSettings() {
    const std::shared_ptr<korvane::DvsCamera> camera = live_->camera();
    if (!camera) return;
    live_->disarmTriggerRecording();
    recorder_->armTriggerCache(0, ".");
    updateStatusLine();  // drops the armed mark
    if (!config_->dvs_trigger_in_rec_enable) return;
    // A cache that cannot start is told by the recorder; the edges still record.
    if (config_->dvs_before_tirgger_in_save_time > 0)
        recorder_->armTriggerCache(config_->dvs_before_tirgger_in_save_time, config_->app_data_dir);
    // Copied here on the GUI thread; each edge it selects reaches the
    // recorder through signalRecByTime, queued.
    TriggerInRecording settings;
    settings.edgeType = config_->dvs_trigger_in_rec_edge_type;
    settings.outputDir = config_->output_raw_file_path;
    settings.serial = QString::fromLocal8Bit(camera->getDescription().serial.c_str());
    settings.after_s = config_->dvs_after_tirgger_in_save_time;
    live_->armTriggerRecording(settings);
    updateStatusLine();
}

// --- statistics ---------------------------------------------------------------

void MainWidget::showStatistics(quint64 bandwidth_bytes_per_s, quint64 events_per_s) {
    if (sourceKind_ != SourceKind::DvsCamera && sourceKind_ != SourceKind::FusionCamera) return;
    // Figures queued before the stream stopped would show a stopped camera as running.
    if (!isStreaming()) return;
    statisticsText_ = formatStatusLine(bandwidth_bytes_per_s, events_per_s);
    updateStatusLine();
}

void MainWidget::updateStatusLine() {
    // Parts by rank: a narrow line (a side panel open, the window at its
    // least width) is cut from the end, so the rates always show.
    QStringList parts;
    // Trigger recording runs unseen otherwise: every edge makes a file.
    if (sourceKind_ == SourceKind::DvsCamera && live_->triggerArmed())
        parts << tr("  Trigger recording armed: %1 s before, %2 s after")
                     .arg(recorder_->cacheSeconds())  // what the cache keeps, not what was asked
                     .arg(config_->dvs_after_tirgger_in_save_time)
                     .trimmed();
    QString counts;
    if (fusion_->isStreaming() && sourceKind_ == SourceKind::FusionCamera) {
        // Frames or trigger periods the pairing had to let go (a queue was full).
        counts = tr(" Dropped frames: %1  Dropped periods: %2")
                     .arg(fusion_->droppedFrames())
                     .arg(fusion_->droppedPeriods());
        // Only a period without its closing edge loses events (a loose
        // trigger cable): worth the room on the line only when it happens.
        const uint64_t lostEvents = fusion_->droppedEvents();
        if (lostEvents > 0) counts += tr("  Dropped events: %1").arg(lostEvents);
    } else if (isStreaming()) {
        counts = tr(" Late: %1  Dropped: %2").arg(live_->lateBatches()).arg(live_->droppedBatches());
    }
    if (!counts.trimmed().isEmpty()) parts << counts.trimmed();
    QString text = statisticsText_;
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
    live_->showAccumulated();
}

void MainWidget::setCameraBatchInterval(uint64_t interval_us) {
    live_->setBatchInterval(interval_us);
}

void MainWidget::on_pb_play_clicked(bool checked) {
    if (sourceKind_ == SourceKind::DvsRecording || sourceKind_ == SourceKind::FusionRecording ||
        sourceKind_ == SourceKind::Nothing)
        return;
    if (sourceKind_ == SourceKind::FusionCamera) return toggleFusionStreaming();
    const std::shared_ptr<korvane::DvsCamera> camera = live_->camera();
    if (sourceKind_ != SourceKind::DvsCamera || !camera || !camera->isConnected()) {
        qDebug() << "Please connect camera first.";
        ui->pb_play->setChecked(false);
        return;
    }
    if (!checked) {
        stopStreaming();
        return;
    }
    if (!live_->startStreaming()) {
        qDebug() << "Please check the camera connection.";
        ui->pb_play->setChecked(false);
        return;
    }
    ui->pb_play->setChecked(true);
}

void MainWidget::stopStreaming() {
    stopFusionStreaming();
    if (!live_->stopStreaming()) return;
    ui->pb_play->setChecked(false);
    statisticsText_.clear();  // a stopped camera has no rates
    updateStatusLine();
}

void MainWidget::cameraConnectionLost() {
    emit signalShowLeftBottomTips(tr("Camera connection lost."), KvMessageType::Error);
    // The driver closed the file when the cable went; the window follows.
    if (isRecording()) finishButtonRecording(true);
    recorder_->stopRecording();
    updateStatusLine();
}

// --- recording ----------------------------------------------------------------

void MainWidget::on_pb_record_clicked() {
    const bool fusion = sourceKind_ == SourceKind::FusionCamera;
    const std::shared_ptr<korvane::DvsCamera> dvsCamera = live_->camera();
    const bool held =
        fusion ? bool(fusion_->camera()) : sourceKind_ == SourceKind::DvsCamera && bool(dvsCamera);
    const bool connected =
        held && (fusion ? fusion_->camera()->isConnected() : dvsCamera->isConnected());
    if (!held || (!connected && !isRecording())) {
        // Said to the user: a file being played has nothing to record.
        ui->pb_record->setChecked(false);
        emit signalShowLeftBottomTips(tr("Please connect camera first."), KvMessageType::Warning);
        return;
    }
    if (isRecording()) {
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
                          QString::fromLocal8Bit(dvsCamera->getDescription().serial.c_str()),
                          QDateTime::currentDateTime());
    if (!live_->startRecording(recordingPath_)) {
        ui->pb_record->setChecked(false);
        const QString reason = recordingFailureReason(dvsCamera->recordingStatus().error);
        emit signalShowLeftBottomTips(tr("Recording failed: %1").arg(reason), KvMessageType::Error,
                                      recordingPath_);
        return;
    }
    ui->pb_record->setChecked(true);
}

// Ends the button's recording; tells the user whether the file is whole.
void MainWidget::finishButtonRecording(bool notify) {
    ui->pb_record->setChecked(false);
    ui->lb_recoding_time->clear();
    if (fusion_->camera()) {
        const bool whole = fusion_->finishRecording();
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
    const bool held = bool(live_->camera());
    const LiveCameraController::Finished status = live_->finishRecording();
    if (!held || !notify) return;
    if (status.whole || (status.error.empty() && QFileInfo(recordingPath_).size() > 0)) {
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
    if (!live_->recordingFailed(path, reason)) return;
    ui->pb_record->setChecked(false);
    ui->lb_recoding_time->clear();
    emit signalShowLeftBottomTips(
        tr("Recording failed: %1").arg(recordingFailureReason(reason.toStdString())),
        KvMessageType::Error, path);
}

void MainWidget::showRecordingClock(quint64 seconds) {
    if (!isRecording()) return;
    ui->lb_recoding_time->setText(formatDuration(seconds) + "  " +
                                  sizeText(QFileInfo(recordingPath_).size()));
}

// --- leaving the camera ---------------------------------------------------------

void MainWidget::releaseCameras() {
    fusion_->release();
    live_->release();
}

bool MainWidget::confirmStopRecording() {
    if (!isRecording() && !recorder_->isRecording()) return true;
    return askUser_(tr("Tips"),
                    tr("A recording is running. Stop it? What was recorded so far is kept."),
                    tr("Stop"), tr("Cancel"));
}

void MainWidget::shutdownCamera(bool notify) {
    if (isRecording()) finishButtonRecording(notify);
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
