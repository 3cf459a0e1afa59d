#include "KvFusionCameraDataProcessor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDebug>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <utility>

#include "EventFrameRenderer.h"
#include "Utils/JsonUtils.h"
#include "korvane/video/EventPainter.h"

using korvane::ApsFrame;
using korvane::Event2D;

namespace {

// The calibration a fresh calibrator holds, as a parameter record.
korvane::CalibratorParameters defaultCalibration() {
    const korvane::Calibrator fresh;
    korvane::CalibratorParameters p;
    p.affineMatrices["1"] = korvane::Matrix{2, 3, 6, fresh.forwardAffine()};
    p.affineMatrices["0"] = korvane::Matrix{2, 3, 6, fresh.inverseAffine()};
    return p;
}

// Whether frames resampled onto the record's event grid fit the images sent.
// A larger grid (a damaged or foreign file can name up to 65535 x 65535) is
// cut to 1280 x 720 anyway, but each frame resampled onto it can take
// gigabytes.
bool gridFitsTheImage(const korvane::CalibratorParameters& p) {
    return p.dvsWidth <= KvFusionCameraDataProcessor::kImageWidth &&
           p.dvsHeight <= KvFusionCameraDataProcessor::kImageHeight;
}

uint64_t minus(uint64_t a, uint64_t b) {
    return a > b ? a - b : 0;
}

// A calibration file is a few kilobytes; anything much larger is not one.
constexpr off_t kMaxCalibrationBytes = 1 << 20;

enum class CalibrationFile { Absent, Usable, Unusable };

// Reads a recording's calibration with the rules its frames file has: a
// regular file (a link is followed to one; a FIFO or device is refused
// without waiting on it), of a sane size, whole and with every required
// member. `why` says what is wrong with an unusable one.
CalibrationFile readCalibrationFile(const std::string& path, korvane::CalibratorParameters& out,
                                    std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return CalibrationFile::Absent;
        why = std::strerror(errno);
        return CalibrationFile::Unusable;
    }
    struct stat st {};
    std::vector<uint8_t> bytes;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "not a regular file";
    } else if (st.st_size > kMaxCalibrationBytes) {
        why = "larger than a calibration file can be";
    } else {
        bytes.resize(size_t(kMaxCalibrationBytes) + 1);
        size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) why = std::strerror(errno);
            if (n <= 0) break;
            got += size_t(n);
        }
        if (got > size_t(kMaxCalibrationBytes)) why = "larger than a calibration file can be";
        bytes.resize(got);
    }
    ::close(fd);
    if (!why.empty()) return CalibrationFile::Unusable;
    try {
        if (!korvane::jsonDataToParam(bytes, out)) {
            why = "required members are missing";
            return CalibrationFile::Unusable;
        }
    } catch (const std::exception& e) {
        // Not JSON, or a member of the wrong kind: nothing of it is trusted.
        why = e.what();
        return CalibrationFile::Unusable;
    }
    if (!gridFitsTheImage(out)) {
        why = "its event grid is larger than the view";
        return CalibrationFile::Unusable;
    }
    return CalibrationFile::Usable;
}

// The user's words for what readCalibrationFile found wrong; its English
// text goes to the log.
QString calibrationProblemText(const std::string& why) {
    struct Known {
        std::string problem;
        const char* text;
    };
    const Known known[] = {
        {"not a regular file",
         QT_TRANSLATE_NOOP("KvFusionCameraDataProcessor", "it is not a regular file")},
        {"larger than a calibration file can be",
         QT_TRANSLATE_NOOP("KvFusionCameraDataProcessor",
                           "it is larger than a calibration file can be")},
        {"required members are missing",
         QT_TRANSLATE_NOOP("KvFusionCameraDataProcessor", "required members are missing")},
        {"its event grid is larger than the view",
         QT_TRANSLATE_NOOP("KvFusionCameraDataProcessor",
                           "its event grid is larger than the view")},
        {std::strerror(EACCES),
         QT_TRANSLATE_NOOP("KvFusionCameraDataProcessor", "permission denied")},
        {std::strerror(EIO),
         QT_TRANSLATE_NOOP("KvFusionCameraDataProcessor", "the disk reported an error")},
    };
    for (const Known& k : known)
        if (why == k.problem) return KvFusionCameraDataProcessor::tr(k.text);
    // A parse error, a member of the wrong kind or another system error.
    return KvFusionCameraDataProcessor::tr("it is not a valid calibration file");
}

// Frames that end this long before the events mean a frames file cut short.
constexpr uint64_t kFramesEndEarly_us = 500000;

// Index of the last of `timestamps` whose frame can be read, knowing the
// first can; the reader is left positioned after the first frame. A file
// cut short loses its end, so readability only changes once.
size_t lastReadableFrame(korvane::ApsFileReader& frames, const std::vector<uint64_t>& timestamps) {
    korvane::ApsFrame probe(0, 0);
    size_t good = 0, bad = timestamps.size();
    if (frames.readFrameAt(timestamps.back(), probe)) {
        good = timestamps.size() - 1;
    } else {
        bad = timestamps.size() - 1;
        while (bad - good > 1) {
            const size_t mid = good + (bad - good) / 2;
            if (frames.readFrameAt(timestamps[mid], probe))
                good = mid;
            else
                bad = mid;
        }
    }
    frames.readFrameAt(timestamps.front(), probe);
    return good;
}

}  // namespace

KvFusionCameraDataProcessor::KvFusionCameraDataProcessor(QObject* parent) : QObject(parent) {
    pairing_ = std::make_unique<korvane::DvsApsFusionProccessor>();
    pairing_->addFusionDataCallback(
        [this](ApsFrame& frame, Event2D* first, Event2D* last) { onLivePair(frame, first, last); });
}

void KvFusionCameraDataProcessor::setThemeSource(ThemeSource theme) {
    std::lock_guard<std::mutex> lock(themeMutex_);
    themeSource_ = std::move(theme);
}

ThemeColors KvFusionCameraDataProcessor::theme() const {
    std::lock_guard<std::mutex> lock(themeMutex_);
    return themeSource_ ? themeSource_() : ThemeColors{};
}

KvFusionCameraDataProcessor::~KvFusionCameraDataProcessor() {
    // With the last handle the camera closes here, while everything its
    // threads may still deliver into is whole.
    setCamera(nullptr);
    clock_.stop();
    // The load thread holds its own handles on the readers.
    clock_.finishLoad(/*abandon=*/true, [this] {
        if (eventReader_) eventReader_->cancelOpen();
    });
    // No pair may be delivered into a processor being torn down.
    pairing_->removeFusionDataCallback();
}

void KvFusionCameraDataProcessor::setFrameReaderFactory(FrameReaderFactory factory) {
    frameReaderFactory_ = std::move(factory);
}

// --- live -----------------------------------------------------------------------

void KvFusionCameraDataProcessor::setCamera(std::shared_ptr<korvane::FusionCamera> camera) {
    std::shared_ptr<korvane::FusionCamera> previous;
    {
        std::lock_guard<std::mutex> lock(cameraMutex_);
        previous = std::exchange(camera_, std::move(camera));
    }
    // Released outside the lock: when this was the last handle the camera
    // closes here and waits for its threads, whose pairs take that lock.
    previous.reset();
}

void KvFusionCameraDataProcessor::accumulateLiveEvents(const Event2D* first, const Event2D* last) {
    if (viewerType_.load() != korvane::STREAM_DVS) return;
    std::lock_guard<std::mutex> lock(countMutex_);
    if (counts_.empty()) counts_.assign(size_t(kImageWidth) * kImageHeight * 2, 0);
    korvane::countEvents(first, last, kImageWidth, kImageHeight, counts_.data());
}

void KvFusionCameraDataProcessor::addLiveEvents(const Event2D* first, const Event2D* last) {
    pairing_->addDvsData(first, last);
}

void KvFusionCameraDataProcessor::addLiveFrame(ApsFrame frame) {
    pairing_->addApsData(std::move(frame));
}

void KvFusionCameraDataProcessor::addLiveTrigger(const korvane::EventTriggerIn& trigger) {
    pairing_->addSyncSignal(trigger);
}

void KvFusionCameraDataProcessor::clearFusion() {
    pairing_->clear();
}

void KvFusionCameraDataProcessor::loadCalibration(korvane::CalibratorParameters parameters) {
    if (!gridFitsTheImage(parameters)) {
        qWarning() << "calibration ignored: event grid" << parameters.dvsWidth << "x"
                   << parameters.dvsHeight << "is larger than the view";
        return;
    }
    std::lock_guard<std::mutex> lock(calibratorMutex_);
    calibrator_.loadCalibrationParam(parameters);
}

bool KvFusionCameraDataProcessor::writeCalibration(const std::string& path) const {
    korvane::CalibratorParameters p;
    {
        std::lock_guard<std::mutex> lock(calibratorMutex_);
        p = calibrator_.parameters();
        std::vector<double> forward = calibrator_.forwardAffine();
        std::vector<double> inverse = calibrator_.inverseAffine();
        if (forward.size() >= 6) {
            forward[2] += calibrator_.offsetX();
            forward[5] += calibrator_.offsetY();
            inverse.resize(6);
            korvane::Calibrator::computeInverseAffine(forward.data(), inverse.data());
        }
        p.affineMatrices["1"].data = forward;  // rows, columns and type as held
        p.affineMatrices["0"].data = inverse;
    }
    return korvane::paramToJsonFile(p, path);
}

std::vector<double> KvFusionCameraDataProcessor::forwardAffine() const {
    std::lock_guard<std::mutex> lock(calibratorMutex_);
    return calibrator_.forwardAffine();
}

ApsFrame KvFusionCameraDataProcessor::remap(const ApsFrame& frame) const {
    std::lock_guard<std::mutex> lock(calibratorMutex_);
    return calibrator_.mapApsToDvs(frame);
}

void KvFusionCameraDataProcessor::ensureImage(QImage& image) const {
    if (image.width() != kImageWidth || image.height() != kImageHeight)
        image = QImage(kImageWidth, kImageHeight, QImage::Format_BGR888);
}

// Pixels of a remapped frame into the image; whatever the frame does not
// cover (an empty frame, a smaller one) stays black.
static void copyFrameInto(const ApsFrame& frame, QImage& image) {
    const int w = std::min(frame.width(), image.width());
    const int h = std::min(frame.height(), image.height());
    if (w < image.width() || h < image.height()) image.fill(Qt::black);
    if (!frame.data() || w <= 0 || h <= 0) return;
    const size_t rowBytes = size_t(frame.width()) * 3;
    for (int y = 0; y < h; ++y)
        std::memcpy(image.scanLine(y), frame.data() + rowBytes * size_t(y), size_t(w) * 3);
}

// Runs inside the pairing's lock on the thread that completed the pair.
void KvFusionCameraDataProcessor::onLivePair(ApsFrame& frame, Event2D* first, Event2D* last) {
    const int type = viewerType_.load();
    if (type == korvane::STREAM_APS || type == korvane::STREAM_BOTH) {
        if (type == korvane::STREAM_BOTH) {
            std::lock_guard<std::mutex> lock(cameraMutex_);
            if (!camera_ || !camera_->isConnected()) return;
        }
        const ApsFrame m = remap(frame);
        std::lock_guard<std::mutex> lock(fusionImageMutex_);
        ensureImage(fusionImage_);
        copyFrameInto(m, fusionImage_);
        if (type == korvane::STREAM_BOTH) drawEvents(fusionImage_, first, last, false);
        // Shared with the receiver: the next pair's painting detaches the member.
        emit signalFusionImage(fusionImage_);
        emit signalTimeStamp(frame.timestamp);
        return;
    }
    if (type != korvane::STREAM_DVS) return;
    std::lock_guard<std::mutex> imageLock(eventImageMutex_);
    ensureImage(eventImage_);
    const korvane::PaintTheme theme = toPaintTheme(this->theme());
    {
        std::lock_guard<std::mutex> countLock(countMutex_);
        if (counts_.empty()) {
            eventImage_.fill(QColor(theme.background.r, theme.background.g, theme.background.b));
        } else {
            korvane::paintCounts(counts_.data(), kImageWidth, kImageHeight, theme,
                                 eventImage_.bits(), size_t(eventImage_.bytesPerLine()),
                                 korvane::PixelOrder::Bgr);
            std::fill(counts_.begin(), counts_.end(), uint16_t(0));
        }
    }
    emit signalFusionImage(eventImage_);
    emit signalTimeStamp(frame.timestamp);
}

void KvFusionCameraDataProcessor::drawEvents(QImage& image, const Event2D* first,
                                             const Event2D* last, bool mirrored) const {
    korvane::drawEvents(first, last, image.width(), image.height(), toPaintTheme(this->theme()),
                        image.bits(), size_t(image.bytesPerLine()), korvane::PixelOrder::Bgr,
                        mirrored);
}

// --- simple settings ------------------------------------------------------------

void KvFusionCameraDataProcessor::slotSetViewerType(korvane::STREAM_TYPE type) {
    const bool changed = viewerType_.exchange(int(type)) != int(type);
    // A paused recording shows the chosen view at once; playing, the next tick does.
    if (changed && readersReady() && !clock_.playing()) {
        clock_.stop();  // joins a playback thread that has just ended
        render();
    }
}

void KvFusionCameraDataProcessor::slotSetLowerTimeStamp(uint64_t timestamp_us) {
    clock_.setLower(timestamp_us);
}

void KvFusionCameraDataProcessor::slotSetUpperTimeStamp(uint64_t timestamp_us) {
    clock_.setUpper(timestamp_us);
}

void KvFusionCameraDataProcessor::slotSetReplayFlag(bool replay) {
    clock_.setLoop(replay);
}

void KvFusionCameraDataProcessor::setFps(int fps) {
    clock_.setFps(fps);
    qDebug() << "set fps: " << clock_.fps() << " time interval: " << clock_.interval();
}

void KvFusionCameraDataProcessor::setAccTime(uint64_t time_us) {
    clock_.setAccumulation(time_us);
}

// --- manual calibration -----------------------------------------------------------

void KvFusionCameraDataProcessor::slotSetApsOffset(double dx, double dy) {
    calibrator_.adjustAffineTranslation(dx, dy);
}

void KvFusionCameraDataProcessor::slotApplyOffset() {
    const QString folder = calibrationFolder_ ? calibrationFolder_() : QString(".");
    const QString qpath = folder + "/tmp_calibration_file.json";
    const std::string path = qpath.toLocal8Bit().toStdString();
    bool written = false;
    {
        std::lock_guard<std::mutex> lock(calibratorMutex_);
        written = calibrator_.saveCalibrationParam(path);
    }
    std::shared_ptr<korvane::FusionCamera> camera;
    {
        std::lock_guard<std::mutex> lock(cameraMutex_);
        camera = camera_;
    }
    // A camera that is set but gone cannot take the file: that is a failure
    // too. Without a camera (playback) the written file is the whole job.
    bool ok = written;
    if (ok && camera) ok = camera->isConnected() && camera->uploadCalibrationFile(path);
    if (ok) {
        emit signalShowLeftBottomTips(
            tr("Manual calibration parameters were written successfully!"), KvMessageType::Success,
            QString());
    } else {
        emit signalShowLeftBottomTips(tr("Manual calibration parameters were written failed!"),
                                      KvMessageType::Error, QString());
    }
}

// --- loading ----------------------------------------------------------------------

bool KvFusionCameraDataProcessor::slotReadFusionFile(QString str) {
    if (clock_.loading()) return false;
    stopPlayback();
    clock_.finishLoad(/*abandon=*/false);
    loaded_ = false;
    frameReader_.reset();
    eventReader_.reset();
    if (str.isEmpty()) return false;
    qDebug() << "Load fusion file: " << str;

    std::string base = str.toLocal8Bit().toStdString();
    // The extension is the file name's: a '.' in a folder name is not one.
    const size_t slash = base.find_last_of("/\\");
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.erase(dot);
    frameReader_ = frameReaderFactory_ ? frameReaderFactory_(base + ".mp4")
                                       : korvane::ApsFileReader::createFileReader(base + ".mp4");
    eventReader_ = korvane::DvsFileReader::createFileReader(base + ".raw");

    // Loading from here on: commands are refused until the load thread ends.
    auto job = std::make_shared<PlaybackClock::LoadJob>();
    clock_.startLoad(job, [this, job, base, frames = frameReader_, events = eventReader_] {
        runLoad(job, base, frames, events);
    });
    return true;
}

// Load thread. The driver's work runs outside the job's lock; everything
// that touches the processor runs under it, after checking `cancelled`.
void KvFusionCameraDataProcessor::runLoad(
    const std::shared_ptr<PlaybackClock::LoadJob>& job, const std::string& base,
    const std::shared_ptr<korvane::ApsFileReader>& frameReader,
    const std::shared_ptr<korvane::DvsFileReader>& eventReader) {
    const QString name = QString::fromLocal8Bit(base.c_str());
    // Every failed load says why.
    auto fail = [&](const QString& message) {
        qDebug() << message;
        emit signalShowLeftBottomTips(tr("Cannot open the recording: %1").arg(message),
                                      KvMessageType::Error, name);
        clock_.setLoading(false);
        QMetaObject::invokeMethod(
            this, [this, r = eventReader.get()] { afterLoad(false, r); }, Qt::QueuedConnection);
        emit signalLoadingStatus(false);
    };
    {
        std::lock_guard<std::mutex> lock(job->mutex);
        if (job->cancelled) return;
        emit signalLoadingStatus(true);
    }

    // The calibration is read here, off the window's thread: a FIFO or a
    // huge file at its name must not stall the window.
    korvane::CalibratorParameters parameters;
    std::string calibrationProblem;
    const CalibrationFile calibration =
        readCalibrationFile(base + ".json", parameters, calibrationProblem);

    korvane::ApsFileReader* frames = frameReader.get();
    korvane::DvsFileReader* events = eventReader.get();
    bool framesOpen = false, firstRead = false, eventsOpen = false;
    uint64_t lastReadable_us = UINT64_MAX;
    bool unreadableTail = false;
    std::vector<uint64_t> timestamps;
    ApsFrame first(0, 0);
    uint64_t start = 0, end = 0;
    korvane::DvsFileInfo info;
    try {
        framesOpen = frames && frames->openForReading();
        if (framesOpen) {
            frames->getFrameTimestamps(timestamps);
            firstRead = frames->readNextFrame(first);
        }
        if (firstRead && !timestamps.empty()) {
            const size_t last = lastReadableFrame(*frames, timestamps);
            lastReadable_us = timestamps[last];
            unreadableTail = last + 1 < timestamps.size();
        }
        if (firstRead) {
            eventsOpen = events && events->openForReading();
            if (eventsOpen) {
                events->getStartTime(start);
                events->getEndTime(end);
                events->getFileInfo(info);
            }
        }
    } catch (const std::exception& e) {
        qWarning() << "fusion load failed:" << e.what();
        framesOpen = firstRead = eventsOpen = false;
    }

    std::lock_guard<std::mutex> lock(job->mutex);
    if (job->cancelled) return;
    if (calibration != CalibrationFile::Absent) {
        if (calibration == CalibrationFile::Unusable) {
            qWarning() << "calibration file unusable:" << calibrationProblem.c_str();
            parameters = defaultCalibration();
            emit signalShowLeftBottomTips(
                tr("The calibration file cannot be read (%1); the default calibration is used.")
                    .arg(calibrationProblemText(calibrationProblem)),
                KvMessageType::Error, QString::fromLocal8Bit((base + ".json").c_str()));
        }
        std::lock_guard<std::mutex> calibrationLock(calibratorMutex_);
        calibrator_.loadCalibrationParam(parameters);
    }
    if (!framesOpen) return fail(tr("the frames file (.mp4) is missing or cannot be read"));
    if (!firstRead) return fail(tr("the frames file (.mp4) holds no frames"));
    if (!eventsOpen) return fail(tr("the events file (.raw) cannot be read"));

    frameTimestamps_us_ = std::move(timestamps);
    nextFrame_ = remap(first);
    currentFrame_ = ApsFrame(0, 0);
    framesEnded_ = false;
    lastReadableFrame_us_ = lastReadable_us;
    frameWidth_ = frames->getWidth();
    frameHeight_ = frames->getHeight();
    eventFileStart_us_ = start;
    eventFileEnd_us_ = end;
    fileInfo_ = info;
    frameOffset_us_ = info.apsStartTimestamp;
    qDebug() << "Read aps file time offset: " << info.apsStartTimestamp;
    clock_.setLower(info.apsStartTimestamp);
    clock_.setUpper(end);
    clock_.setPosition(info.apsStartTimestamp);
    emit signalStartTimeStamp(clock_.lower());
    emit signalEndTimeStamp(clock_.upper());
    emit signalTimeStamp(clock_.position());
    qDebug() << "fusion file start : " << clock_.lower()
             << "fusion_file_end_timestamp_: " << clock_.upper()
             << "time base: " << clock_.position();
    // A frames file cut short (or with unreadable frames at its end) is
    // still played: the user learns why the picture stops changing.
    const uint64_t framesEnd_us =
        lastReadable_us == UINT64_MAX ? UINT64_MAX : lastReadable_us + info.apsStartTimestamp;
    if (unreadableTail || (framesEnd_us != UINT64_MAX && end > framesEnd_us + kFramesEndEarly_us)) {
        const QString name = QString::fromLocal8Bit((base + ".mp4").c_str());
        const double early_s = double(minus(end, framesEnd_us)) / 1e6;
        qWarning() << "frames file ends early:" << name << early_s << "s before the events";
        emit signalShowLeftBottomTips(
            tr("The frames file %1 is damaged or cut short: it ends %2 s before the events. Its "
               "last frame stays in view from there.")
                .arg(QFileInfo(name).fileName())
                .arg(early_s, 0, 'f', 1),
            KvMessageType::Warning, name);
    }
    // The flags before the signals: their receivers may command at once.
    loaded_ = true;
    clock_.setLoading(false);
    emit signalLoadingStatus(false);
    emit signalPlayStatus(true);
}

void KvFusionCameraDataProcessor::afterLoad(bool ok, const korvane::DvsFileReader* loaded) {
    // A newer load took over.
    if (ok || eventReader_.get() != loaded || clock_.loading()) return;
    // The failed load's readers go; the processor is ready for another file.
    frameReader_.reset();
    eventReader_.reset();
}

// --- playback ---------------------------------------------------------------------

bool KvFusionCameraDataProcessor::readersReady() const {
    return frameReader_ && eventReader_ && loaded_.load() && !clock_.loading();
}

void KvFusionCameraDataProcessor::stopPlayback() {
    if (clock_.playing()) {
        clock_.stop();
        emit signalPlayStatus(false);
    } else {
        clock_.stop();  // joins a thread that ended by itself at the end of the range
    }
}

void KvFusionCameraDataProcessor::slotPlaybackCtrl(bool play) {
    if (!play) {
        clock_.stop();
        return;
    }
    // One playback thread at a time; nothing to play while loading or without files.
    if (!readersReady()) return;
    clock_.start([this] { return playbackStep(); });
}

bool KvFusionCameraDataProcessor::playbackStep() {
    const uint64_t t = clock_.position() + clock_.interval();
    clock_.setPosition(t);
    render();
    if (t >= clock_.upper()) {
        // Back to the lower bound, frames included.
        const uint64_t lower = clock_.lower();
        eventReader_->seekToTime(lower);
        if (!positionFramesAt(lower)) {
            clock_.stop();
            emit signalPalyFileFinished();
            return false;
        }
        clock_.setPosition(lower);
        if (!clock_.loop()) {
            clock_.stop();
            emit signalPalyFileFinished();
            return false;
        }
    }
    return true;
}

bool KvFusionCameraDataProcessor::positionFramesAt(uint64_t t_us) {
    ApsFrame shown(0, 0), after(0, 0);
    // Past the last readable frame that frame is the one shown.
    const uint64_t at = std::min(minus(t_us, frameOffset_us_), lastReadableFrame_us_);
    if (!frameReader_->readFrameAt(at, shown)) return false;
    currentFrame_ = remap(shown);
    framesEnded_ = !frameReader_->readNextFrame(after);
    if (!framesEnded_) nextFrame_ = remap(after);
    return true;
}

void KvFusionCameraDataProcessor::render() {
    const uint64_t t = clock_.position();
    const uint64_t o = frameOffset_us_;
    if (framesEnded_ || t < nextFrame_.timestamp + o) {
        if (t < currentFrame_.timestamp + o) {
            // The time base went back before the frame shown.
            if (!positionFramesAt(t)) return;
        }
    } else {
        // Frames advance by at most one per render, whatever the step. After
        // the last one the events play on over it.
        currentFrame_ = nextFrame_.clone();
        ApsFrame after(0, 0);
        framesEnded_ = !frameReader_->readNextFrame(after);
        if (!framesEnded_) nextFrame_ = remap(after);
    }

    // The image is made whole before it replaces the member, so the lock
    // covers only the hand-over. The views as live: events alone on the
    // background, the frame alone, or the events over the frame.
    const int type = viewerType_.load();
    QImage image(kImageWidth, kImageHeight, QImage::Format_BGR888);
    if (type == korvane::STREAM_DVS)
        image.fill(theme().background);
    else
        copyFrameInto(currentFrame_, image);
    korvane::EventBatch batch;
    if (type != korvane::STREAM_APS) {
        const uint64_t windowStart = minus(t, clock_.accumulation());
        batch = eventReader_->readEventsInWindow(windowStart, t - windowStart);
    }
    const bool drawn = batch && !batch->empty();
    if (drawn) drawEvents(image, batch->data(), batch->data() + batch->size(), true);
    if (type != korvane::STREAM_APS) {
        constexpr int kFramesPerReport = 15;
        rateEvents_ += batch ? batch->size() : 0;
        rateWindow_us_ += clock_.accumulation();
        if (++rateFrames_ >= kFramesPerReport || !clock_.playing()) {
            if (rateWindow_us_ > 0)
                emit signalEventRate(double(rateEvents_) * 1e6 / double(rateWindow_us_));
            rateEvents_ = rateWindow_us_ = 0;
            rateFrames_ = 0;
        }
    }
    {
        std::lock_guard<std::mutex> lock(fusionImageMutex_);
        fusionImage_ = image;
        emit signalFusionImage(fusionImage_);
    }
    if (drawn) {
        qDebug() << "get aps frame ts: " << currentFrame_.timestamp + o
                 << "next aps ts: " << nextFrame_.timestamp + o << " timebase: " << t
                 << " dvs start ts: " << batch->front().timestamp
                 << " dvs end ts: " << batch->back().timestamp;
    } else {
        qDebug() << "get aps frame ts: " << currentFrame_.timestamp + o
                 << "next aps ts: " << nextFrame_.timestamp + o << " timebase: " << t;
    }
    emit signalTimeStamp(t);
}

void KvFusionCameraDataProcessor::nextFrame() {
    if (!readersReady()) return;
    stopPlayback();
    if (clock_.position() + clock_.accumulation() < clock_.upper()) {
        clock_.setPosition(clock_.position() + clock_.interval());
        render();
        qDebug() << "time base update: " << clock_.position() << " interval: " << clock_.interval();
    }
}

void KvFusionCameraDataProcessor::preFrame() {
    if (!readersReady()) return;
    stopPlayback();
    clock_.stepBack();
    render();
}

void KvFusionCameraDataProcessor::setPlayPos(uint64_t timestamp_us) {
    if (!readersReady()) return;
    stopPlayback();
    clock_.setPosition(timestamp_us);
    if (positionFramesAt(timestamp_us)) render();
}

void KvFusionCameraDataProcessor::slotPlaybackReset() {
    if (!readersReady()) return;
    clock_.stop();
    emit signalPlayStatus(false);
    // Frames and events both at the lower bound, which the timeline may have moved.
    const uint64_t lower = clock_.lower();
    eventReader_->seekToTime(lower);
    if (positionFramesAt(lower)) {
        clock_.setPosition(lower);
        render();
    }
}
