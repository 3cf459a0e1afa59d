// The main window's "Save as..." (export to MP4) and "Cut Recording" (cut to
// RAW): the dialogs with their presets, the question before replacing a
// file, and the waiting window's progress and cancel while a job runs.

#include <QDateTime>
#include <QFileInfo>

#include "AppConfig.h"
#include "KVMessageBox.h"
#include "KvCutRawFile.h"
#include "KvEventProcessor.h"
#include "KvExportVideoUI.h"
#include "KvThreeHandleSlider.h"
#include "MainWidget.h"
#include "WaitingWin.h"

void MainWidget::connectExportAndCut() {
    KvEventProcessor* p = rawProcessor_;
    connect(this, &MainWidget::signalExportVideo, p, &KvEventProcessor::slotExportVideo);
    connect(this, &MainWidget::signalCutRawFile, p, &KvEventProcessor::slotCutRawFile);
    // Both jobs report progress and can be cancelled; the waiting window
    // forgets both when it hides at the job's end.
    WaitingWin* w = waiting_;
    connect(p->jobProgress(), &KvJobProgress::signalProgress, w, [w](int percent) {
        w->setCancellable(true);
        w->setJobProgress(percent);
    });
    connect(waiting_, &WaitingWin::signalCancelRequested, p, &KvEventProcessor::cancelExport);
    runRangeDialog_ = [](KvRangeFileDialog& dialog) { return dialog.exec() == QDialog::Accepted; };
}

bool MainWidget::refuseWhileJobRuns() {
    if (!rawProcessor_->jobRunning()) return false;
    emit signalShowLeftBottomTips(tr("Please wait until the export or cut has finished."),
                                  KvMessageType::Warning);
    return true;
}

void MainWidget::slotSaveAs() {
    KvExportVideoUI dialog(this);
    runRangeCommand(dialog, config_->video_save_path, ".mp4", /*cut=*/false);
}

void MainWidget::slotCutRecording() {
    KvCutRawFile dialog(this);
    runRangeCommand(dialog, config_->output_raw_file_path, ".raw", /*cut=*/true);
}

bool MainWidget::runRangeCommand(KvRangeFileDialog& dialog, const QString& directory,
                                 const QString& extension, bool cut) {
    if (sourceKind_ != SourceKind::DvsRecording) {
        emit signalShowLeftBottomTips(tr("Please open a raw file first."), KvMessageType::Warning);
        return false;
    }
    if (refuseWhileJobRuns()) return false;
    // The range handles in three-handle mode, else the whole timeline.
    const bool handles = timeline_->handleMode() == KvThreeHandleSlider::ThreeHandles;
    dialog.setStartTime(handles ? timeline_->lowerValue() : timeline_->minimum());
    dialog.setEndTime(handles ? timeline_->upperValue() : timeline_->maximum());
    dialog.setAllowedRange(timeline_->minimum(), timeline_->maximum());
    dialog.setSavePath(directory);
    dialog.setFileName(QDateTime::currentDateTime().toString("yyyyMMdd_HHmmss") + extension);
    if (!runRangeDialog_ || !runRangeDialog_(dialog)) return false;

    const QString path = dialog.fullPath();
    const QString failed = cut ? tr("Cut recording failed.") : tr("Export video failed.");
    if (rawProcessor_->isCurrentRecording(path)) {
        emit signalShowLeftBottomTips(
            failed + "\n" + tr("The target is the recording being played."), KvMessageType::Error);
        return false;
    }
    const QFileInfo target(path);
    if (target.isDir()) {
        emit signalShowLeftBottomTips(failed + "\n" + tr("The target is a folder."),
                                      KvMessageType::Error);
        return false;
    }
    if (target.exists()) {
        const QString question =
            tr("The file %1 already exists. Replace it?").arg(target.fileName());
        const bool replace =
            askUser_ ? askUser_(tr("Tips"), question, tr("Replace"), tr("Cancel")) : false;
        if (!replace) return false;
    }
    if (cut) {
        emit signalCutRawFile(path, dialog.savePath(), dialog.startTime(), dialog.endTime());
    } else {
        emit signalExportVideo(path, dialog.savePath(), dialog.startTime(), dialog.endTime());
    }
    return true;
}
