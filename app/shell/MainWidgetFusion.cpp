// The main window's fusion side: the fusion processor's wiring, the fusion
// camera's opening task and callbacks, its streaming and recording by
// button, its release, and the camera information dialog.
//
// Threads: the opening task runs on the worker thread while the GUI thread
// waits; the callbacks run on the camera's threads and only call the fusion
// processor (which locks). Callbacks are removed and the camera closed
// before the processor or the window goes.

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>

#include "AppConfig.h"
#include "FirmwareVersion.h"
#include "KvFusionCameraDataProcessor.h"
#include "KvThreeHandleSlider.h"
#include "MainWidget.h"
#include "SettingBaseWithLineEdit.h"
#include "ShowCameraInfoUI.h"
#include "ShowImageForm.h"
#include "SidebarApsSettingUI.h"
#include "ui_MainWidget.h"

namespace {

std::string localPath(const QString& path) {
    return path.toLocal8Bit().toStdString();
}

}  // namespace

void MainWidget::connectFusionProcessor() {
    // The fusion camera has no live loop of ours that would notice a lost
    // cable; this looks twice a second while it streams.
    fusionWatch_ = new QTimer(this);
    fusionWatch_->setInterval(500);
    connect(fusionWatch_, &QTimer::timeout, this, &MainWidget::checkFusionConnection);

    KvFusionCameraDataProcessor* f = fusionProcessor_;
    using F = KvFusionCameraDataProcessor;
    // Group 5: the processor and the play bar, timeline and view.
    connect(f, &F::signalStartTimeStamp, timeline_, &KvThreeHandleSlider::setMinimum);
    connect(f, &F::signalEndTimeStamp, timeline_, &KvThreeHandleSlider::setMaximum);
    connect(f, &F::signalPalyFileFinished, this, [this] { ui->pb_play->setChecked(false); });
    connect(f, &F::signalFusionPixMap, ui->widget_show_image, &ShowImageForm::showPixMap);
    connect(f, &F::signalFusionImage, ui->widget_show_image, &ShowImageForm::slotShowImage,
            Qt::QueuedConnection);
    connect(f, &F::signalTimeStamp, this, &MainWidget::showTimeStamp, Qt::QueuedConnection);
    connect(f, &F::signalPlayStatus, ui->pb_play, &QPushButton::setChecked);
    connect(f, &F::signalLoadingStatus, this, &MainWidget::slotSetWaitWinStatus);
    connect(f, &F::signalEventRate, this, &MainWidget::slotShowEventRate, Qt::QueuedConnection);
    connect(ui->pb_play, &QPushButton::toggled, f, &F::slotPlaybackCtrl, Qt::QueuedConnection);
    connect(ui->pb_prv, &QPushButton::pressed, f, &F::preFrame);
    connect(ui->pb_next, &QPushButton::pressed, f, &F::nextFrame);
    connect(ui->pb_stop, &QPushButton::pressed, f, &F::slotPlaybackReset);
    connect(ui->pb_loop, &QPushButton::toggled, f, &F::slotSetReplayFlag);
    connect(timeline_, &KvThreeHandleSlider::centerValueMove, f, &F::setPlayPos);
    connect(timeline_, &KvThreeHandleSlider::centerValueTrackClick, f, &F::setPlayPos);
    connect(timeline_, &KvThreeHandleSlider::lowerValueChanged, f, &F::slotSetLowerTimeStamp);
    connect(timeline_, &KvThreeHandleSlider::upperValueChanged, f, &F::slotSetUpperTimeStamp);
    connect(this, &MainWidget::signalSetViewerShowType, f, &F::slotSetViewerType);
    connect(this, &MainWidget::signalOpenFusionFile, f, &F::slotReadFusionFile);
    // Group 8: the APS panel's manual calibration.
    connect(apsPanel_, &SidebarApsSettingUI::signalManualCaliOffsetXY, f, &F::slotSetApsOffset);
    connect(apsPanel_, &SidebarApsSettingUI::signalApplyCaliOffset, f, &F::slotApplyOffset);
    // Applied offsets are part of the calibration now: the rows start again
    // from 0, or the next edit would add the applied shift a second time.
    connect(apsPanel_, &SidebarApsSettingUI::signalApplyCaliOffset, this, [this] {
        for (SettingBaseWithLineEdit* row : {apsPanel_->offsetXRow(), apsPanel_->offsetYRow()})
            if (row) row->setValue(0);
    });
    // Group 9: its notices.
    connect(f, &F::signalShowLeftBottomTips, this, &MainWidget::slotShowLeftBottomTips,
            Qt::QueuedConnection);
}

// Worker thread. Only the camera and the fusion processor's thread-safe
// operations are touched; the window takes the handle once the task ended.
bool MainWidget::openFusionCameraTask(const korvane::CameraDescription& camera,
                                      std::shared_ptr<korvane::FusionCamera>& opened,
                                      QString& firmware) {
    fusionProcessor_->clearFusion();
    fusionProcessor_->setCamera(nullptr);
    qDebug() << "Open fusion camera.";
    opened = cameraManager_.openFusionCamera(camera.serial);
    if (!opened) {
        emit signalShowLeftBottomTips(
            tr("Open camera: ") + QString::fromStdString(camera.serial) + tr("failed."),
            KvMessageType::Error);
        return false;
    }
    std::string version;
    if (opened->getFirmwareVersion(version)) firmware = QString::fromStdString(version);
    if (!isVersionAtLeast(firmware, QString::fromLatin1(kMinimumQuentaFirmware))) {
        qDebug() << "Quenta firmware" << firmware << "is older than" << kMinimumQuentaFirmware;
        emit signalShowLeftBottomTips(tr("The Quenta camera firmware needs to be upgraded!"),
                                      KvMessageType::Warning);
    }
    korvane::CalibratorParameters parameters;
    if (opened->getCalibrationParameters(parameters)) fusionProcessor_->loadCalibration(parameters);

    KvFusionCameraDataProcessor* f = fusionProcessor_;
    opened->setStatisticInfoCallback(statisticsHandler());
    fusionCallbackIds_.clear();
    fusionCallbackIds_.push_back(
        opened->addApsFrameCallback([f](korvane::ApsFrame frame) { f->addLiveFrame(frame); }));
    fusionCallbackIds_.push_back(
        opened->addEventsCallback([f](const korvane::Event2D* first, const korvane::Event2D* last) {
            f->accumulateLiveEvents(first, last);
            f->addLiveEvents(first, last);
        }));
    fusionCallbackIds_.push_back(opened->addTriggerInCallback(
        [f](const korvane::EventTriggerIn& trigger) { f->addLiveTrigger(trigger); }));
    f->setCamera(opened);
    return true;
}

void MainWidget::toggleFusionStreaming() {
    if (!fusionCamera_ || !fusionCamera_->isConnected()) {
        qDebug() << "Please connect camera first.";
        ui->pb_play->setChecked(false);
        return;
    }
    if (streaming_.load()) {
        stopFusionStreaming();
        return;
    }
    if (fusionCamera_->start(korvane::STREAM_BOTH) != 0) {
        qDebug() << "Please check the camera connection.";
        ui->pb_play->setChecked(false);
        return;
    }
    // Drops are counted from this start, as the status line shows them.
    fusionDroppedFramesAtStart_ = fusionProcessor_->droppedFrames();
    fusionDroppedPeriodsAtStart_ = fusionProcessor_->droppedPeriods();
    fusionDroppedEventsAtStart_ = fusionProcessor_->droppedEvents();
    streaming_ = true;
    ui->pb_play->setChecked(true);
    fusionWatch_->start();
    qDebug() << "Fusion camera start";
}

void MainWidget::stopFusionStreaming() {
    fusionWatch_->stop();
    if (!fusionCamera_ || !streaming_.exchange(false)) return;
    fusionCamera_->stop(korvane::STREAM_BOTH);
    ui->pb_play->setChecked(false);
    qDebug() << "Fusion camera stop.";
    // The camera's threads have stopped: nothing adds to the pairing now.
    fusionProcessor_->clearFusion();
    updateStatusLine();
}

void MainWidget::checkFusionConnection() {
    if (!fusionCamera_ || !streaming_.load() || fusionCamera_->isConnected()) return;
    qDebug() << "Camera connection lost.";
    emit signalShowLeftBottomTips(tr("Camera connection lost."), KvMessageType::Error);
    // The camera closed its files when the cable went; the window follows.
    if (recording_.load()) finishButtonRecording(true);
    stopFusionStreaming();
}

void MainWidget::startFusionRecording() {
    const QString directory = config_->output_raw_file_path;
    const QString base = freeRecordingBase(
        directory, QString::fromLocal8Bit(fusionCamera_->getDescription().serial.c_str()) +
                       QDateTime::currentDateTime().toString("_yyyyMMdd_HHmmss"));
    recordingPath_ = QDir(directory).filePath(base + ".raw");
    if (!ensureDirectory(directory) ||
        !fusionCamera_->startRecording(localPath(directory), localPath(base),
                                       korvane::STREAM_BOTH)) {
        ui->pb_record->setChecked(false);
        emit signalShowLeftBottomTips(
            tr("Recording failed: %1").arg(tr("the files cannot be created")), KvMessageType::Error,
            recordingPath_);
        return;
    }
    // The recording's calibration is the one the overlay uses now: an
    // applied offset the camera did not take is still in force here.
    const QString calibration = QDir(directory).filePath(base + ".json");
    if (!fusionProcessor_->writeCalibration(localPath(calibration)))
        qWarning() << "calibration of the recording not written:" << calibration;
    recording_ = true;
    ui->pb_record->setChecked(true);
    startRecordingClock();
}

void MainWidget::releaseFusionCamera() {
    if (!fusionCamera_) return;
    for (uint32_t id : fusionCallbackIds_)
        if (id != korvane::FusionCamera::kNoCallback) fusionCamera_->removeCallback(id);
    fusionCallbackIds_.clear();
    fusionCamera_->setStatisticInfoCallback(nullptr);
    // Closed before the handles go: no callback of it runs afterwards.
    if (fusionCamera_->isConnected()) fusionCamera_->close();
    fusionProcessor_->setCamera(nullptr);
    fusionProcessor_->clearFusion();
    fusionCamera_.reset();
    firmwareText_.clear();
}

void MainWidget::slotShowCameraInfo() {
    ShowCameraInfoUI dialog;
    if (sourceKind_ == SourceKind::FusionCamera && fusionCamera_) {
        dialog.setInfo(fusionCamera_->getDescription(), firmwareText_);
    } else if (sourceKind_ == SourceKind::DvsCamera && dvsCamera_) {
        // An event camera tells no firmware version; what it tells is shown.
        dialog.setInfo(dvsCamera_->getDescription(), tr("not reported"));
    } else {
        emit signalShowLeftBottomTips(
            tr("No camera is open: there is no camera information to show."),
            KvMessageType::Warning);
        return;
    }
    const QPoint centre = mapToGlobal(rect().center());
    dialog.move(centre.x() - dialog.width() / 2, centre.y() - dialog.height() / 2);
    if (runCameraInfo_) {
        runCameraInfo_(dialog);
    } else {
        dialog.exec();
    }
}
