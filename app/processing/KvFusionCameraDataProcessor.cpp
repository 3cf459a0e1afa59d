#include "KvFusionCameraDataProcessor.h"

#include <QDebug>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <utility>

#include "AppConfig.h"
#include "Utils/JsonUtils.h"

using korvane::ApsFrame;
using korvane::Event2D;

namespace {

// How long destruction waits for a load before leaving it behind.
constexpr auto kLoadAbandonWait = std::chrono::seconds(2);

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

// What a load thread works on. The thread holds it (and through it the
// readers) by a shared handle, so an abandoned load touches nothing of the
// processor once `cancelled` is set; the processor takes `mutex` to set it.
struct KvFusionCameraDataProcessor::LoadJob {
    std::shared_ptr<korvane::ApsFileReader> frameReader;
    std::shared_ptr<korvane::DvsFileReader> eventReader;
    std::string framesPath;  // local 8-bit, for the notice of a damaged file
    std::mutex mutex;
    std::condition_variable finished;
    bool cancelled = false;
    bool done = false;
};

KvFusionCameraDataProcessor::KvFusionCameraDataProcessor(QObject* parent)
    : QObject(parent), config_(&AppConfig::instance()) {
    pairing_ = std::make_unique<korvane::DvsApsFusionProccessor>();
    pairing_->addFusionDataCallback(
        [this](ApsFrame& frame, Event2D* first, Event2D* last) { onLivePair(frame, first, last); });
}

KvFusionCameraDataProcessor::~KvFusionCameraDataProcessor() {
    // With the last handle the camera closes here, while everything its
    // threads may still deliver into is whole.
    setCamera(nullptr);
    playing_ = false;
    if (playbackThread_.joinable()) playbackThread_.join();
    finishLoadThread(/*abandon=*/true);
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
    const size_t n = counts_.size();
    for (const Event2D* e = first; e < last; ++e) {
        const size_t i = (size_t(e->y) * kImageWidth + e->x) * 2 + e->polarity;
        if (i < n && counts_[i] < kCountLimit) ++counts_[i];
    }
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
    const ThemeColors theme = config_->theme();
    eventImage_.fill(theme.background);
    const QRgb on = theme.on.rgb(), off = theme.off.rgb();
    {
        std::lock_guard<std::mutex> countLock(countMutex_);
        if (!counts_.empty()) {
            for (int y = 0; y < kImageHeight; ++y) {
                uchar* row = eventImage_.scanLine(y);
                for (int x = 0; x < kImageWidth; ++x) {
                    const size_t i = (size_t(y) * kImageWidth + x) * 2;
                    const uint16_t offCount = counts_[i], onCount = counts_[i + 1];
                    QRgb c;
                    if (onCount > 0 && onCount >= offCount)
                        c = on;
                    else if (offCount > 0)
                        c = off;
                    else
                        continue;
                    row[x * 3] = uchar(qBlue(c));
                    row[x * 3 + 1] = uchar(qGreen(c));
                    row[x * 3 + 2] = uchar(qRed(c));
                }
            }
            std::fill(counts_.begin(), counts_.end(), uint16_t(0));
        }
    }
    emit signalFusionImage(eventImage_);
    emit signalTimeStamp(frame.timestamp);
}

void KvFusionCameraDataProcessor::drawEvents(QImage& image, const Event2D* first,
                                             const Event2D* last, bool mirrored) const {
    const ThemeColors theme = config_->theme();
    const QRgb on = theme.on.rgb(), off = theme.off.rgb();
    const int width = image.width(), height = image.height();
    for (const Event2D* e = first; e < last; ++e) {
        // Playback mirrors the columns: the recorded events are seen from the other side.
        const int column = mirrored ? width - 1 - int(e->x) : int(e->x);
        if (column < 0 || column >= width || int(e->y) >= height) continue;
        const QRgb c = e->polarity == 1 ? on : off;
        uchar* p = image.scanLine(e->y) + column * 3;
        p[0] = uchar(qBlue(c));
        p[1] = uchar(qGreen(c));
        p[2] = uchar(qRed(c));
    }
}

// --- simple settings ------------------------------------------------------------

void KvFusionCameraDataProcessor::slotSetViewerType(korvane::STREAM_TYPE type) {
    const bool changed = viewerType_.exchange(int(type)) != int(type);
    // A paused recording shows the chosen view at once; playing, the next tick does.
    if (changed && readersReady() && !playing_.load()) {
        if (playbackThread_.joinable()) playbackThread_.join();
        render();
    }
}

void KvFusionCameraDataProcessor::slotSetLowerTimeStamp(uint64_t timestamp_us) {
    lower_ = timestamp_us;
}

void KvFusionCameraDataProcessor::slotSetUpperTimeStamp(uint64_t timestamp_us) {
    upper_ = timestamp_us;
}

void KvFusionCameraDataProcessor::slotSetReplayFlag(bool replay) {
    replay_ = replay;
}

void KvFusionCameraDataProcessor::setFps(int fps) {
    // No interval follows from 0 or less: the last good one stays.
    if (fps <= 0) {
        qDebug() << "set fps ignored: " << fps;
        return;
    }
    fps_ = fps;
    frameInterval_ = uint64_t(1000000 / fps);
    qDebug() << "set fps: " << fps << " time interval: " << frameInterval_.load();
}

void KvFusionCameraDataProcessor::setAccTime(uint64_t time_us) {
    accTime_ = time_us;
}

// --- manual calibration -----------------------------------------------------------

void KvFusionCameraDataProcessor::slotSetApsOffset(double dx, double dy) {
    calibrator_.adjustAffineTranslation(dx, dy);
}

void KvFusionCameraDataProcessor::slotApplyOffset() {
    const QString qpath = config_->input_raw_file_path + "/tmp_calibration_file.json";
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
    if (loading_.load()) return false;
    stopPlayback();
    finishLoadThread(/*abandon=*/false);
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

    const std::string json = base + ".json";
    if (QFileInfo::exists(QString::fromLocal8Bit(json.c_str()))) {
        korvane::CalibratorParameters parameters;
        bool usable = true;
        try {
            korvane::jsonFileToParam(json, parameters);
            usable = gridFitsTheImage(parameters);
            if (!usable) qWarning() << "calibration file names an event grid larger than the view";
        } catch (const std::exception& e) {
            // Not JSON, or a member of the wrong kind: nothing of it is trusted.
            qWarning() << "calibration file unreadable:" << e.what();
            usable = false;
        }
        if (!usable) {
            parameters = defaultCalibration();
            emit signalShowLeftBottomTips(
                tr("The calibration file cannot be read; the default calibration is used."),
                KvMessageType::Error, QString::fromLocal8Bit(json.c_str()));
        }
        std::lock_guard<std::mutex> lock(calibratorMutex_);
        calibrator_.loadCalibrationParam(parameters);
    }

    // Loading from here on: commands are refused until the load thread ends.
    loading_ = true;
    loadJob_ = std::make_shared<LoadJob>();
    loadJob_->frameReader = frameReader_;
    loadJob_->framesPath = base + ".mp4";
    loadJob_->eventReader = eventReader_;
    loadThread_ = std::thread(&KvFusionCameraDataProcessor::runLoad, this, loadJob_);
    return true;
}

void KvFusionCameraDataProcessor::finishLoadThread(bool abandon) {
    if (!loadThread_.joinable()) return;
    if (!abandon) {
        loadThread_.join();
        return;
    }
    std::shared_ptr<LoadJob> job = loadJob_;
    bool done = false;
    {
        std::unique_lock<std::mutex> lock(job->mutex);
        job->cancelled = true;
        if (job->eventReader) job->eventReader->cancelOpen();
        done = job->finished.wait_for(lock, kLoadAbandonWait, [&] { return job->done; });
    }
    if (done) {
        loadThread_.join();
    } else {
        // Still inside the driver: it holds the job and the readers, nothing of ours.
        loadThread_.detach();
    }
}

// Load thread. The driver's work runs outside the job's lock; everything
// that touches the processor runs under it, after checking `cancelled`.
void KvFusionCameraDataProcessor::runLoad(std::shared_ptr<LoadJob> job) {
    auto finish = [&] {
        job->done = true;
        job->finished.notify_all();
    };
    auto fail = [&](const char* message) {
        if (message) qDebug() << message;
        loading_ = false;
        QMetaObject::invokeMethod(
            this, [this, j = job.get()] { afterLoad(false, j); }, Qt::QueuedConnection);
        emit signalLoadingStatus(false);
        finish();
    };
    {
        std::lock_guard<std::mutex> lock(job->mutex);
        if (job->cancelled) return finish();
        emit signalLoadingStatus(true);
    }

    korvane::ApsFileReader* frames = job->frameReader.get();
    korvane::DvsFileReader* events = job->eventReader.get();
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
    if (job->cancelled) return finish();
    if (!framesOpen) return fail("Load aps file failed.");
    if (!firstRead) return fail(nullptr);
    if (!eventsOpen) return fail("Load dvs file failed.");

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
    lower_ = info.apsStartTimestamp;
    upper_ = end;
    timeBase_ = lower_.load();
    emit signalStartTimeStamp(lower_.load());
    emit signalEndTimeStamp(upper_.load());
    emit signalTimeStamp(timeBase_.load());
    qDebug() << "fusion file start : " << lower_.load()
             << "fusion_file_end_timestamp_: " << upper_.load()
             << "time base: " << timeBase_.load();
    // A frames file cut short (or with unreadable frames at its end) is
    // still played: the user learns why the picture stops changing.
    const uint64_t framesEnd_us =
        lastReadable_us == UINT64_MAX ? UINT64_MAX : lastReadable_us + info.apsStartTimestamp;
    if (unreadableTail || (framesEnd_us != UINT64_MAX && end > framesEnd_us + kFramesEndEarly_us)) {
        const QString name = QString::fromLocal8Bit(job->framesPath.c_str());
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
    loading_ = false;
    emit signalLoadingStatus(false);
    emit signalPlayStatus(true);
    finish();
}

void KvFusionCameraDataProcessor::afterLoad(bool ok, const LoadJob* job) {
    if (ok || loadJob_.get() != job || loading_.load()) return;  // a newer load took over
    // The failed load's readers go; the processor is ready for another file.
    frameReader_.reset();
    eventReader_.reset();
}

// --- playback ---------------------------------------------------------------------

bool KvFusionCameraDataProcessor::readersReady() const {
    return frameReader_ && eventReader_ && loaded_.load() && !loading_.load();
}

void KvFusionCameraDataProcessor::stopPlayback() {
    if (playing_.load()) {
        slotPlaybackCtrl(false);
        emit signalPlayStatus(false);
    } else if (playbackThread_.joinable()) {
        playbackThread_.join();  // ended by itself at the end of the range
    }
}

void KvFusionCameraDataProcessor::slotPlaybackCtrl(bool play) {
    if (play) {
        // One playback thread at a time; nothing to play while loading or without files.
        if (playing_.load() || !readersReady()) return;
        if (playbackThread_.joinable()) playbackThread_.join();
        playing_ = true;
        playbackThread_ = std::thread(&KvFusionCameraDataProcessor::playbackLoop, this);
        return;
    }
    playing_ = false;
    if (playbackThread_.joinable() && playbackThread_.get_id() != std::this_thread::get_id())
        playbackThread_.join();
}

void KvFusionCameraDataProcessor::playbackLoop() {
    using namespace std::chrono;
    while (playing_.load()) {
        const auto t0 = steady_clock::now();
        timeBase_ += frameInterval_.load();
        render();
        if (timeBase_.load() >= upper_.load()) {
            // Back to the lower bound, frames included.
            eventReader_->seekToTime(lower_.load());
            if (!positionFramesAt(lower_.load())) {
                playing_ = false;
                emit signalPalyFileFinished();
                break;
            }
            timeBase_ = lower_.load();
            if (!replay_.load()) {
                playing_ = false;
                emit signalPalyFileFinished();
            }
        }
        const auto remaining =
            microseconds(kTick_us) - duration_cast<microseconds>(steady_clock::now() - t0);
        if (!playing_.load()) break;
        if (remaining.count() > 0) std::this_thread::sleep_for(remaining);
    }
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
    const uint64_t t = timeBase_.load();
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
        image.fill(config_->theme().background);
    else
        copyFrameInto(currentFrame_, image);
    korvane::EventBatch batch;
    if (type != korvane::STREAM_APS) {
        const uint64_t windowStart = minus(t, accTime_.load());
        batch = eventReader_->readEventsInWindow(windowStart, t - windowStart);
    }
    const bool drawn = batch && !batch->empty();
    if (drawn) drawEvents(image, batch->data(), batch->data() + batch->size(), true);
    if (type != korvane::STREAM_APS) {
        constexpr int kFramesPerReport = 15;
        rateEvents_ += batch ? batch->size() : 0;
        rateWindow_us_ += accTime_.load();
        if (++rateFrames_ >= kFramesPerReport || !playing_.load()) {
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
    if (timeBase_.load() + accTime_.load() < upper_.load()) {
        timeBase_ += frameInterval_.load();
        render();
        qDebug() << "time base update: " << timeBase_.load()
                 << " interval: " << frameInterval_.load();
    }
}

void KvFusionCameraDataProcessor::preFrame() {
    if (!readersReady()) return;
    stopPlayback();
    const uint64_t t = timeBase_.load(), interval = frameInterval_.load();
    const uint64_t lower = lower_.load();
    timeBase_ = (t >= interval && t - interval > lower) ? t - interval : lower;
    render();
}

void KvFusionCameraDataProcessor::setPlayPos(uint64_t timestamp_us) {
    if (!readersReady()) return;
    stopPlayback();
    timeBase_ = timestamp_us;
    if (positionFramesAt(timestamp_us)) render();
}

void KvFusionCameraDataProcessor::slotPlaybackReset() {
    if (!readersReady()) return;
    slotPlaybackCtrl(false);
    emit signalPlayStatus(false);
    // Frames and events both at the lower bound, which the timeline may have moved.
    eventReader_->seekToTime(lower_.load());
    if (positionFramesAt(lower_.load())) {
        timeBase_ = lower_.load();
        render();
    }
}
