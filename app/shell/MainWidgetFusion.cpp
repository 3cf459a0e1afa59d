// The main window's fusion side: the fusion processor's wiring, the fusion
// camera's opening task, its play bar and record button with their
// notices, and the camera information dialog.
//
// Threads: the opening task runs on the worker thread while the GUI thread
// waits. The camera's callbacks and their removal are
// FusionCameraController's; its signals reach the window queued.

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

void MainWidget::connectFusionProcessor() {
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
    // Both processors hear the play bar, but only one of them has a source
    // at a time: opening a recording or a camera hands the other processor
    // an empty file (signalOpenRawFile / signalOpenFusionFile with ""), and a
    // live camera feeds its processor directly, so a processor without a
    // source ignores what the buttons ask.
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
    opened = fusion_->open(cameraManager_, camera.serial, firmware);
    if (!opened) {
        emit signalShowLeftBottomTips(
            tr("Open camera: ") + QString::fromStdString(camera.serial) + tr("failed."),
            KvMessageType::Error);
        return false;
    }
    if (!isVersionAtLeast(firmware, QString::fromLatin1(kMinimumQuentaFirmware))) {
        qDebug() << "Quenta firmware" << firmware << "is older than" << kMinimumQuentaFirmware;
        emit signalShowLeftBottomTips(tr("The Quenta camera firmware needs to be upgraded!"),
                                      KvMessageType::Warning);
    }
    return true;
}

void MainWidget::toggleFusionStreaming() {
    const std::shared_ptr<korvane::FusionCamera> camera = fusion_->camera();
    if (!camera || !camera->isConnected()) {
        qDebug() << "Please connect camera first.";
        ui->pb_play->setChecked(false);
        return;
    }
    if (fusion_->isStreaming()) {
        stopFusionStreaming();
        return;
    }
    if (!fusion_->startStreaming()) {
        qDebug() << "Please check the camera connection.";
        ui->pb_play->setChecked(false);
        return;
    }
    ui->pb_play->setChecked(true);
}

void MainWidget::stopFusionStreaming() {
    if (!fusion_->stopStreaming()) return;
    ui->pb_play->setChecked(false);
    statisticsText_.clear();  // a stopped camera has no rates
    updateStatusLine();
}

void MainWidget::fusionCameraLost() {
    emit signalShowLeftBottomTips(tr("Camera connection lost."), KvMessageType::Error);
    // The camera closed its files when the cable went; the window follows.
    if (isRecording()) finishButtonRecording(true);
    stopFusionStreaming();
}

void MainWidget::startFusionRecording() {
    const QString directory = config_->output_raw_file_path;
    const QString base = freeRecordingBase(
        directory, QString::fromLocal8Bit(fusion_->camera()->getDescription().serial.c_str()) +
                       QDateTime::currentDateTime().toString("_yyyyMMdd_HHmmss"));
    recordingPath_ = QDir(directory).filePath(base + ".raw");
    if (!ensureDirectory(directory) || !fusion_->startRecording(directory, base)) {
        ui->pb_record->setChecked(false);
        emit signalShowLeftBottomTips(
            tr("Recording failed: %1").arg(tr("the files cannot be created")), KvMessageType::Error,
            recordingPath_);
        return;
    }
    ui->pb_record->setChecked(true);
}

void MainWidget::slotShowCameraInfo() {
    ShowCameraInfoUI dialog;
    if (sourceKind_ == SourceKind::FusionCamera && fusion_->camera()) {
        dialog.setInfo(fusion_->camera()->getDescription(), fusion_->firmware());
    } else if (sourceKind_ == SourceKind::DvsCamera && live_->camera()) {
        // An event camera tells no firmware version; what it tells is shown.
        dialog.setInfo(live_->camera()->getDescription(), tr("not reported"));
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
