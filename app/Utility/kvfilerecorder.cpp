#include "kvfilerecorder.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLocale>
#include <QStorageInfo>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "DriverReason.h"
#include "Logger.h"

namespace {

// The camera keeps the seconds before an edge in 16 bits.
constexpr uint32_t kMaxCachedSeconds = 65535;
std::string localPath(const QString& path) {
    return path.toLocal8Bit().toStdString();
}
}  // namespace

QString recordingFailureReason(const std::string& driverReason) {
    const auto tr = [](const char* text) {
        return QCoreApplication::translate("KvFileRecorder", text);
    };
    qWarning().noquote() << "recording failed:" << QString::fromStdString(driverReason);
    const DriverReason reason = splitDriverReason(driverReason);
    const QString text = tr(knownDriverReason(
        reason.why,
        {
            {"disk full", QT_TRANSLATE_NOOP("KvFileRecorder", "the disk is full")},
            {"the disk cannot keep up with the stream",
             QT_TRANSLATE_NOOP("KvFileRecorder", "the disk cannot keep up with the stream")},
            {"the recording's file or folder was removed",
             QT_TRANSLATE_NOOP("KvFileRecorder", "the recording's file or folder was removed")},
            {"a recording is already running",
             QT_TRANSLATE_NOOP("KvFileRecorder", "a recording is already running")},
            {"camera unplugged", QT_TRANSLATE_NOOP("KvFileRecorder", "the camera was unplugged")},
            {"not a regular file", QT_TRANSLATE_NOOP("KvFileRecorder", "the path is not a file")},
            {std::strerror(ENOENT), QT_TRANSLATE_NOOP("KvFileRecorder", "the folder does not exist")},
            {std::strerror(EACCES), QT_TRANSLATE_NOOP("KvFileRecorder", "permission denied")},
            {std::strerror(EPERM), QT_TRANSLATE_NOOP("KvFileRecorder", "permission denied")},
            {std::strerror(EROFS), QT_TRANSLATE_NOOP("KvFileRecorder", "the disk is read-only")},
            {std::strerror(EIO), QT_TRANSLATE_NOOP("KvFileRecorder", "the disk reported an error")},
        },
        QT_TRANSLATE_NOOP("KvFileRecorder", "the file cannot be written")));
    return reason.creating ? tr("the file cannot be created: %1").arg(text) : text;
}

KvFileRecorder::KvFileRecorder(std::shared_ptr<korvane::DvsCamera> camera, QObject* parent)
    : QObject(parent), camera_(std::move(camera)) {
    freeSpace_ = [](const QString& folder) -> qint64 {
        const QStorageInfo disk(folder);
        return disk.isValid() ? disk.bytesAvailable() : -1;
    };
}

QString KvFileRecorder::cacheSpaceProblem(uint32_t seconds, uint64_t bytes_per_s, qint64 free_bytes,
                                          const QString& directory) {
    if (seconds == 0 || bytes_per_s == 0 || free_bytes < 0) return {};
    // In doubles: 65535 s at gigabytes a second must not wrap.
    const double needed = double(seconds) * double(bytes_per_s);
    if (needed <= double(free_bytes)) return {};
    const QLocale locale;
    const auto size = [&locale](qint64 bytes) {
        return locale.formattedDataSize(bytes, 2, QLocale::DataSizeSIFormat);
    };
    return tr("%1 s before the trigger at the present %2/s need about %3, but the disk of %4 has "
              "only %5 free.")
        .arg(seconds)
        .arg(size(qint64(bytes_per_s)))
        .arg(size(qint64(std::min(needed, 9.0e18))))
        .arg(directory)
        .arg(size(free_bytes));
}

KvFileRecorder::~KvFileRecorder() {
    recording_ = false;
    wakeTimedThread();
    if (timedThread_.joinable()) timedThread_.join();
    camera_.reset();
}

void KvFileRecorder::setCamera(std::shared_ptr<korvane::DvsCamera> camera) {
    camera_ = std::move(camera);
}

void KvFileRecorder::setCacheTime(int sec) {
    armTriggerCache(uint32_t(std::max(sec, 0)), dataFolder_);
}

bool KvFileRecorder::armTriggerCache(uint32_t seconds, const QString& directory) {
    if (!camera_) return false;
    // The camera keeps 16 bits of seconds: never let a larger value wrap.
    const uint16_t kept =
        uint16_t(std::min<uint32_t>(seconds, kMaxCachedSeconds));
    const bool off = kept == 0 || directory == ".";
    // A cache the disk cannot hold would fill it, and then every recording
    // on it fails: it is refused before it starts.
    const QString noRoom =
        off ? QString()
            : cacheSpaceProblem(kept, dataRate_, freeSpace_ ? freeSpace_(directory) : -1,
                                directory);
    if (!noRoom.isEmpty()) {
        dropCacheForSpace(
            tr("The trigger cache was not started: %1 Trigger recordings hold only the seconds "
               "after the edge; lower the seconds before the trigger in General Settings.")
                .arg(noRoom),
            directory);
        return false;
    }
    cacheFolder_ = directory;
    const bool ok = camera_->setTriggerCache(off ? 0 : kept, off ? "." : localPath(directory));
    cacheEnabled_ = !off && ok;
    cacheAsked_s_ = off ? 0 : kept;
    cacheFailed_ = !off && !ok;
    cacheFillingSince_ = std::chrono::steady_clock::now();
    if (cacheFailed_) {
        qWarning() << "trigger cache could not start in" << directory;
        emit signalShowLeftBottomTips(
            tr("The trigger cache could not be started in %1; trigger recordings hold only the "
               "seconds after the edge.")
                .arg(directory),
            KvMessageType::Error, directory);
    }
    return ok;
}

void KvFileRecorder::noteDataRate(quint64 bytes_per_s) {
    dataRate_ = bytes_per_s;
    if (!cacheEnabled_ || !camera_) return;
    const QString noRoom = cacheSpaceProblem(
        cacheAsked_s_, dataRate_, freeSpace_ ? freeSpace_(cacheFolder_) : -1, cacheFolder_);
    if (noRoom.isEmpty()) return;
    // The rate rose past what the disk holds: stop filling it, and say so once.
    dropCacheForSpace(
        tr("The trigger cache was stopped: %1 Trigger recordings hold only the seconds after the "
           "edge; lower the seconds before the trigger in General Settings.")
            .arg(noRoom),
        cacheFolder_);
}

void KvFileRecorder::dropCacheForSpace(const QString& notice, const QString& directory) {
    camera_->setTriggerCache(0, ".");
    cacheEnabled_ = false;
    cacheAsked_s_ = 0;
    cacheFailed_ = true;
    qWarning() << "trigger cache off: not enough free space in" << directory;
    emit signalShowLeftBottomTips(notice, KvMessageType::Error, directory);
}

void KvFileRecorder::setStreaming(bool streaming) {
    if (streaming && !streaming_) cacheFillingSince_ = std::chrono::steady_clock::now();
    streaming_ = streaming;
}

double KvFileRecorder::cachedSeconds() const {
    if (!cacheEnabled_ || !streaming_) return 0.0;
    const std::chrono::duration<double> filled =
        std::chrono::steady_clock::now() - cacheFillingSince_;
    return std::min(filled.count(), double(cacheAsked_s_));
}

bool KvFileRecorder::recordingTime(uint32_t sec, QString file_path) {
    const bool connected = camera_ && camera_->isConnected();
    bool idle = false;
    // Claimed here, on the GUI thread: two requests in one turn cannot both start.
    // With seconds kept before the edge, 0 s after still makes a file of them.
    const bool somethingToRecord = sec != 0 || cacheEnabled_;
    if (connected && !somethingToRecord) {
        emit signalShowLeftBottomTips(
            tr("Nothing to record: 0 seconds before and 0 seconds after the trigger."),
            KvMessageType::Warning, QString());
        return false;
    }
    // A stopped recording's thread ends by clearing the flag: it must be
    // gone before this recording sets it.
    if (connected && !recording_.load() && timedThread_.joinable()) timedThread_.join();
    // A recording by button holds the camera's one recorder: an edge must
    // neither cut it short nor end it.
    if (connected && !camera_->recordingStatus().running)
        idle = recording_.compare_exchange_strong(idle, true);
    if (!idle) {
        qDebug() << "Recording false." << recording_.load() << connected << "" << sec;
        emit signalShowLeftBottomTips(tr("Currently being recorded."), KvMessageType::Warning,
                                      file_path);
        return false;
    }
    if (timedThread_.joinable()) timedThread_.join();
    timedRunning_ = true;
    // Say what the file will hold when it is less than was asked for.
    QString notice = tr("Recording file ... ");
    if (cacheFailed_) {
        notice =
            tr("Recording file ... without seconds before the trigger: the cache could not "
               "start.");
    } else if (cacheAsked_s_ > 0) {
        const double held = cachedSeconds();
        if (held + 0.05 < double(cacheAsked_s_))
            notice = tr("Recording file ... with only %1 s of the %2 s before the trigger: the "
                        "cache was still filling.")
                         .arg(held, 0, 'f', 1)
                         .arg(cacheAsked_s_);
    }
    emit signalShowLeftBottomTips(notice, KvMessageType::Success, file_path);
    qDebug() << "record time : " << sec << "file path: " << file_path;
    timedThread_ = std::thread(&KvFileRecorder::timedRecording, this, camera_, file_path, sec);
    return true;
}

void KvFileRecorder::timedRecording(std::shared_ptr<korvane::DvsCamera> camera, QString file_path,
                                    uint32_t sec) {
    KV_LOG_INFO("recording start");
    // Stopped before this thread got to start it: nothing is started, so a
    // recording by button begun meanwhile is neither refused nor ended.
    const bool cancelled = !recording_.load();
    const bool started = !cancelled && camera->startRecording(localPath(file_path));
    if (started) waitForTheSetSeconds(*camera, sec);
    // Only what this thread started is stopped here: never another's recording.
    const bool complete = started && camera->stopRecording();
    KV_LOG_INFO("recording end");
    if (complete || cancelled) {
        emit signalShowLeftBottomTips(tr("Recording end"), KvMessageType::Success, QString());
    } else {
        const std::string reason = camera->recordingStatus().error;
        emit signalShowLeftBottomTips(
            tr("Recording failed: %1").arg(recordingFailureReason(reason)), KvMessageType::Error,
            file_path);
    }
    timedRunning_ = false;
    recording_ = false;
}

// The seconds are the stream's own when the camera tells its time: a loaded
// machine's camera lags and then catches up, so the wall clock would give a
// file less, or more, than the seconds after the edge the user asked for.
// A stream that stops moving (stopped, stalled) still ends the recording
// once the wall clock has passed the set time, and so does one the camera
// ended itself (unplugged, disk full). stopRecording() wakes it at once.
void KvFileRecorder::waitForTheSetSeconds(korvane::DvsCamera& camera, uint32_t sec) {
    using clock = std::chrono::steady_clock;
    constexpr auto kPoll = std::chrono::milliseconds(20);
    constexpr auto kStalled = std::chrono::seconds(3);
    const auto stopped = [this] { return !recording_.load(); };
    const auto wallEnd = clock::now() + std::chrono::seconds(sec);
    uint64_t seen_us = 0;
    if (!camera.streamTime(seen_us)) {
        std::unique_lock<std::mutex> lock(wakeMutex_);
        wake_.wait_until(lock, wallEnd, stopped);
        return;
    }
    const uint64_t until_us = seen_us + uint64_t(sec) * 1000000;
    auto seenMoving = clock::now();
    while (!stopped()) {
        // The camera is asked without the wake lock, which the GUI thread takes.
        const auto now = clock::now();
        uint64_t t_us = seen_us;
        if (camera.streamTime(t_us) && t_us >= until_us) return;
        if (t_us != seen_us) {
            seen_us = t_us;
            seenMoving = now;
        }
        if (now >= wallEnd && now - seenMoving >= kStalled) return;
        if (!camera.recordingStatus().error.empty()) return;  // ended by the camera
        std::unique_lock<std::mutex> lock(wakeMutex_);
        wake_.wait_for(lock, kPoll, stopped);
    }
}

bool KvFileRecorder::startRecording(QString file_path) {
    if (recording_.load() || !camera_) return false;
    if (!camera_->startRecording(localPath(file_path))) {
        emit signalShowLeftBottomTips(
            tr("Recording failed: %1")
                .arg(recordingFailureReason(camera_->recordingStatus().error)),
            KvMessageType::Error, file_path);
        return false;
    }
    recording_ = true;
    return true;
}

bool KvFileRecorder::stopRecording() {
    if (!recording_.load() || !camera_) return false;
    recording_ = false;
    wakeTimedThread();
    // A timed recording stops the camera itself, on its own thread, and tells the user.
    if (timedRunning_.load()) return true;
    if (camera_->stopRecording()) return true;
    emit signalShowLeftBottomTips(
        tr("Recording failed: %1").arg(recordingFailureReason(camera_->recordingStatus().error)),
        KvMessageType::Error, QString());
    return false;
}

void KvFileRecorder::wakeTimedThread() {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    wake_.notify_all();
}

void KvFileRecorder::slotSaveFileParamChanged() {}

void KvFileRecorder::slotDetectionRecordingTime(QString) {}
