// The processor's export and cut jobs: each runs on a thread of its own
// with a reader of its own on the recording (its seek index comes from the
// cache), so a long scan never holds the playback's reader and a frame step
// answers at once. Each reports through the processor's notices, progress
// and loading status, and is joined before the processor goes.

#include "KvExportJobs.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <exception>

#include "DriverReason.h"
#include "KvEventProcessor.h"
#include "Utils/FuncUtils.h"
#include "korvane/video/VideoExport.h"

using korvane::DvsFileReader;

struct KvEventProcessor::JobRecord {
    uint64_t start_us = 0;
    uint64_t end_us = 0;
    QString fullPath;
    QString directory;
    std::string recording;  // local 8-bit, as the reader has it
    uint64_t frameInterval_us = 0;
    uint64_t accumulation_us = 0;
    ThemeColors theme;
};

namespace {
std::string local8Bit(const QString& path) {
    return korvane::utf8ToLocal8Bit(path.toStdString());
}

bool sameFile(const QString& path, const std::string& recordingLocal8Bit) {
    const QFileInfo target(path);
    const QFileInfo recording(QString::fromLocal8Bit(recordingLocal8Bit));
    if (path.isEmpty() || !target.exists() || !recording.exists()) return false;
    return target.canonicalFilePath() == recording.canonicalFilePath();
}

QString withReason(const QString& text, const QString& reason) {
    return reason.isEmpty() ? text : text + "\n" + reason;
}

// Why the target's folder cannot take the file, or empty.
QString folderProblem(const QString& target) {
    const QFileInfo folder(QFileInfo(target).absolutePath());
    if (!folder.isDir()) return KvEventProcessor::tr("The folder does not exist.");
    if (!folder.isWritable()) return KvEventProcessor::tr("The folder cannot be written.");
    return {};
}

// The job's own reader, opened; null with the reason when it cannot be had.
std::unique_ptr<DvsFileReader> openJobReader(const std::string& recording, QString& reason) {
    std::string error;
    std::unique_ptr<DvsFileReader> reader = DvsFileReader::createFileReader(recording, &error);
    if (!reader || !reader->openForReading()) {
        reason = KvEventProcessor::tr("The recording cannot be read.");
        return nullptr;
    }
    return reader;
}
}  // namespace

QString jobFailureReason(const std::string& driverReason, const QString& target) {
    const auto tr = [](const char* text) {
        return QCoreApplication::translate("KvEventProcessor", text);
    };
    qWarning().noquote() << "export or cut failed:" << QString::fromStdString(driverReason);
    const DriverReason reason = splitDriverReason(driverReason);
    QString text = tr(knownDriverReason(
        reason.why,
        {
            {"no events in range",
             QT_TRANSLATE_NOOP("KvEventProcessor", "There are no events in the range.")},
            {"output is a directory",
             QT_TRANSLATE_NOOP("KvEventProcessor", "The target is a folder.")},
            {"output is a symbolic link",
             QT_TRANSLATE_NOOP("KvEventProcessor",
                               "The target is a link, which is not written through.")},
            {"output exists and is not a regular file",
             QT_TRANSLATE_NOOP("KvEventProcessor", "The target is not a regular file.")},
            {"not a regular file",
             QT_TRANSLATE_NOOP("KvEventProcessor", "The target is not a regular file.")},
            {"output is the input",
             QT_TRANSLATE_NOOP("KvEventProcessor", "The target is the recording itself.")},
            {"output is being written by another recording",
             QT_TRANSLATE_NOOP("KvEventProcessor", "A recording is writing the target.")},
            {"out of memory",
             QT_TRANSLATE_NOOP("KvEventProcessor", "There is not enough memory.")},
            {std::strerror(ENOSPC), QT_TRANSLATE_NOOP("KvEventProcessor", "The disk is full.")},
            {std::strerror(ENOENT),
             QT_TRANSLATE_NOOP("KvEventProcessor", "The folder does not exist.")},
            {std::strerror(EACCES), QT_TRANSLATE_NOOP("KvEventProcessor", "Permission denied.")},
            {std::strerror(EPERM), QT_TRANSLATE_NOOP("KvEventProcessor", "Permission denied.")},
            {std::strerror(EROFS),
             QT_TRANSLATE_NOOP("KvEventProcessor", "The disk is read-only.")},
            {std::strerror(EIO),
             QT_TRANSLATE_NOOP("KvEventProcessor", "The disk reported an error.")},
        },
        QT_TRANSLATE_NOOP("KvEventProcessor", "The file cannot be written.")));
    if (reason.why == std::strerror(ENOENT) && !target.isEmpty() &&
        QFileInfo(QFileInfo(target).absolutePath()).isDir())
        text = tr("The folder cannot be written.");
    return reason.creating ? tr("The file cannot be created: %1").arg(text) : text;
}

bool KvEventProcessor::isCurrentRecording(const QString& path) const {
    return reader_ && sameFile(path, reader_->path());
}

void KvEventProcessor::cancelExport() {
    exportCancel_ = true;
    cutCancel_ = true;
}

void KvEventProcessor::finishJobs() {
    exportCancel_ = true;
    if (exportThread_.joinable()) exportThread_.join();
    if (cutThread_.joinable()) cutThread_.join();
}

// Why the range cannot be written, in the user's language, or empty. Runs on
// the job thread: the first open of a large file may take a moment.
QString KvEventProcessor::checkJobRange(DvsFileReader& reader, uint64_t start_us, uint64_t end_us) {
    if (start_us > end_us) return tr("The start time is after the end time.");
    uint64_t first = 0, last = 0;
    if (!reader.getStartTime(first) || !reader.getEndTime(last)) {
        return tr("The recording has no events.");
    }
    if (start_us < first || end_us > last) {
        return tr("The range lies outside the recording (%1 to %2).").arg(first).arg(last);
    }
    return {};
}

void KvEventProcessor::slotExportVideo(QString qs_out_full_path, QString qs_out_dir,
                                       uint64_t start_ts, uint64_t end_ts) {
    if (!readerReady(/*quiet=*/true)) return;
    stopPlayback();
    if (exportThread_.joinable()) exportThread_.join();
    JobRecord job{start_ts,         end_ts,
                  qs_out_full_path, qs_out_dir,
                  reader_->path(),  clock_.interval(),
                  clock_.accumulation(),  renderer_->theme()};
    exportCancel_ = false;
    exportRunning_ = true;
    exportThread_ = std::thread([this, job] { runExportJob(job); });
}

void KvEventProcessor::slotCutRawFile(QString qs_out_full_path, QString qs_out_dir,
                                      uint64_t start_ts, uint64_t end_ts) {
    if (!readerReady(/*quiet=*/true)) return;
    stopPlayback();
    if (cutThread_.joinable()) cutThread_.join();
    JobRecord job{start_ts, end_ts, qs_out_full_path, qs_out_dir, reader_->path(), 0, 0, {}};
    cutCancel_ = false;
    cutRunning_ = true;
    cutThread_ = std::thread([this, job] { runCutJob(job); });
}

void KvEventProcessor::runExportJob(const JobRecord& job) {
    qDebug().noquote() << "start export video: " + job.fullPath;
    emit signalLoadingStatus(true);
    emit jobProgress_.signalProgress(0);
    QString reason;
    bool ok = false;
    bool cancelled = false;
    try {
        std::unique_ptr<DvsFileReader> reader = openJobReader(job.recording, reason);
        if (reader) reason = checkJobRange(*reader, job.start_us, job.end_us);
        if (reason.isEmpty() && sameFile(job.fullPath, job.recording)) {
            reason = tr("The target is the recording being played.");
        }
        if (reason.isEmpty()) reason = folderProblem(job.fullPath);
        if (reason.isEmpty()) {
            korvane::VideoExportOptions o;
            o.frameInterval_us = job.frameInterval_us;
            o.accumulation_us = job.accumulation_us;
            o.theme = toPaintTheme(job.theme);
            o.cancel = &exportCancel_;
            int shown = -1;
            o.progress = [&](double fraction) {
                const int percent = int(fraction * 100.0);
                if (percent == shown) return;
                shown = percent;
                emit jobProgress_.signalProgress(percent);
            };
            std::string error;
            o.error = &error;
            ok = reader->exportVideoRange(job.start_us, job.end_us, local8Bit(job.fullPath), o);
            cancelled = !ok && exportCancel_.load();
            if (!ok) reason = jobFailureReason(error, job.fullPath);
        }
    } catch (const std::exception& e) {
        ok = false;
        reason = jobFailureReason(e.what());
    }
    if (ok) {
        qDebug().noquote() << "extract event data start:" + QString::number(job.start_us) +
                                  " end: " + QString::number(job.end_us) + " success.";
        emit signalShowLeftBottomTips(tr("Export video success!"), KvMessageType::Success,
                                      job.directory);
    } else if (cancelled) {
        emit signalShowLeftBottomTips(tr("Export video cancelled."), KvMessageType::Warning);
    } else {
        emit signalShowLeftBottomTips(withReason(tr("Export video failed."), reason),
                                      KvMessageType::Error);
    }
    exportRunning_ = false;
    emit signalLoadingStatus(false);
}

void KvEventProcessor::runCutJob(const JobRecord& job) {
    emit signalLoadingStatus(true);
    QString reason;
    bool ok = false;
    bool cancelled = false;
    try {
        std::unique_ptr<DvsFileReader> reader = openJobReader(job.recording, reason);
        if (reader) reason = checkJobRange(*reader, job.start_us, job.end_us);
        if (reason.isEmpty() && sameFile(job.fullPath, job.recording)) {
            reason = tr("The target is the recording being played.");
        }
        if (reason.isEmpty()) reason = folderProblem(job.fullPath);
        if (reason.isEmpty()) {
            // The driver knows why a cut failed (no events, disk full, ...).
            std::string error;
            DvsFileReader::RawExportOptions o;
            o.cancel = &cutCancel_;
            int shown = -1;
            o.progress = [&](double fraction) {
                const int percent = int(fraction * 100.0);
                if (percent == shown) return;
                shown = percent;
                emit jobProgress_.signalProgress(percent);
            };
            ok = reader->exportRawRange(job.start_us, job.end_us, local8Bit(job.fullPath), &error,
                                        o);
            cancelled = !ok && cutCancel_.load();
            if (!ok) {
                reason = error.empty()
                             ? tr("No events in the range, or the file cannot be written.")
                             : jobFailureReason(error, job.fullPath);
            }
        }
    } catch (const std::exception& e) {
        ok = false;
        reason = jobFailureReason(e.what());
    }
    if (ok) {
        qDebug().noquote() << "extract event data start:" + QString::number(job.start_us) +
                                  " end: " + QString::number(job.end_us) + " success.";
        emit signalShowLeftBottomTips(tr("Export raw file success!"), KvMessageType::Success,
                                      job.directory);
    } else if (cancelled) {
        emit signalShowLeftBottomTips(tr("Cut recording cancelled."), KvMessageType::Warning);
    } else {
        emit signalShowLeftBottomTips(withReason(tr("Cut recording failed."), reason),
                                      KvMessageType::Error);
    }
    cutRunning_ = false;
    emit signalLoadingStatus(false);
}
