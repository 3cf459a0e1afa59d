#include "KvEventProcessor.h"

#include <QDebug>
#include <QFileInfo>

#include "korvane/camera/FusionCamera.h"
#include "korvane/file/DvsFileReader.h"
#include "Utils/FuncUtils.h"

using korvane::DvsFileReader;
using korvane::Event2D;

namespace {
void debug(const QString& text) {
    qDebug().noquote() << text;
}
}  // namespace

KvEventProcessor::KvEventProcessor(QObject* parent) : QObject(parent) {
    renderer_ = std::make_unique<EventFrameRenderer>(
        [this](const QImage& image) { emit signalEventImage(image); });
}

KvEventProcessor::~KvEventProcessor() {
    // Playback feeds the renderer, so it stops first; then the load (abandoned
    // if the driver is slow to give up), then the render thread.
    clock_.stop();
    finishJobs();
    clock_.finishLoad(/*abandon=*/true, [this] {
        if (reader_) reader_->cancelOpen();
    });
    renderer_.reset();
}

// --- rendering ---------------------------------------------------------------

void KvEventProcessor::accumulateEvents(const Event2D* first, const Event2D* last) {
    renderer_->accumulateEvents(first, last);
}

void KvEventProcessor::requestFrame() {
    renderer_->requestFrame();
}

void KvEventProcessor::showAccumulatedEvents() {
    emit signalRealTimeTimeStamp(renderer_->latestBatchTime());
    requestFrame();
}

void KvEventProcessor::setImageSize(int width, int height) {
    renderer_->setImageSize(width, height);
}

// --- commands ------------------------------------------------------------------

bool KvEventProcessor::readerReady(bool quiet) {
    if (reader_ && playable_.load() && !clock_.loading()) return true;
    if (!quiet) debug("not raw file.");
    return false;
}

void KvEventProcessor::stopPlayback() {
    if (!clock_.playing()) return;
    slotPlaybackCtrl(false);
    emit signalPlayStatus(false);
}

namespace {
// The user's words for why the driver refused a file.
QString reasonFor(const std::string& driverError) {
    if (driverError == "empty file") return KvEventProcessor::tr("the file is empty");
    if (driverError.rfind("unsupported event format", 0) == 0 ||
        driverError.rfind("no RAW header", 0) == 0)
        return KvEventProcessor::tr("it is not a RAW recording");
    return KvEventProcessor::tr("the file cannot be read");
}
}  // namespace

QString KvEventProcessor::unplayableReason(const QString& file_path) {
    std::string error;
    auto reader =
        DvsFileReader::createFileReader(korvane::utf8ToLocal8Bit(file_path.toStdString()), &error);
    return reader ? QString() : reasonFor(error);
}

QString KvEventProcessor::recordingSerial(const QString& file_path) {
    std::string error;
    auto reader =
        DvsFileReader::createFileReader(korvane::utf8ToLocal8Bit(file_path.toStdString()), &error);
    return reader ? QString::fromStdString(reader->header().serialNumber) : QString();
}

void KvEventProcessor::reportLoadFailure(const QString& file_path, const QString& reason) {
    emit signalShowLeftBottomTips(
        tr("Cannot play %1: %2.").arg(QFileInfo(file_path).fileName(), reason),
        KvMessageType::Error, file_path);
    emit signalLoadFailed(file_path, reason);
}

void KvEventProcessor::loadFile(QString file_path) {
    debug("Load raw file: " + file_path);
    if (clock_.loading()) {
        debug("is loading.");
        return;
    }
    if (jobRunning()) {
        // The window refuses first; a caller that did not ask is told here.
        debug("export or cut running.");
        emit signalShowLeftBottomTips(tr("Please wait until the export or cut has finished."),
                                      KvMessageType::Warning);
        return;
    }
    emit signalPlayStatus(false);
    // The playback thread reads through the reader: stop it before the reader goes.
    slotPlaybackCtrl(false);
    clock_.finishLoad(/*abandon=*/false);
    // A file refused, now or by the load, leaves the recording that was open
    // in place (paused); only an empty path leaves playback.
    std::shared_ptr<DvsFileReader> previous = playable_ ? std::move(reader_) : nullptr;
    const bool previousShown = shown_;
    playable_ = false;
    shown_ = false;
    reader_.reset();
    kept_.reset();
    std::string error;
    reader_ =
        DvsFileReader::createFileReader(korvane::utf8ToLocal8Bit(file_path.toStdString()), &error);
    if (!reader_) {
        debug("not raw file.");
        if (file_path.isEmpty()) return;
        reader_ = std::move(previous);
        playable_ = reader_ != nullptr;
        shown_ = playable_ && previousShown;
        reportLoadFailure(file_path, reasonFor(error));
        return;
    }
    kept_ = std::move(previous);
    keptShown_ = previousShown;
    playRequested_ = false;
    auto job = std::make_shared<PlaybackClock::LoadJob>();
    std::shared_ptr<DvsFileReader> reader = reader_;
    reader->setOpenProgressCallback([this, job, lastPercent = -1](double fraction) mutable {
        const int percent = int(fraction * 100.0);
        if (percent == lastPercent) return;
        lastPercent = percent;
        std::lock_guard<std::mutex> lock(job->mutex);
        if (!job->cancelled) emit signalLoadProgress(percent);
    });
    clock_.startLoad(job, [this, job, reader, file_path] {
        {
            std::lock_guard<std::mutex> lock(job->mutex);
            if (job->cancelled) return;
            emit signalLoadingStatus(true);
        }
        uint64_t start = 0, end = 0;
        bool opened = false, hasEvents = false;
        QString failure;
        try {
            opened = reader->openForReading();  // long for a new file: it builds the seek index
            hasEvents = opened && reader->getStartTime(start) && reader->getEndTime(end);
        } catch (const std::exception& e) {
            qWarning() << "loading failed:" << e.what();
            failure = tr("the file cannot be read");
        }
        if (failure.isEmpty() && !hasEvents) {
            // Without a header line nothing says this is a recording at all;
            // a header that never reached its end line was cut short.
            const korvane::RawHeader& header = reader->header();
            failure = !header.hasHeader    ? tr("it is not a RAW recording")
                      : !header.hasEndLine ? tr("the file ends inside its header")
                                           : tr("the recording holds no events");
        }

        std::lock_guard<std::mutex> lock(job->mutex);
        if (job->cancelled) return;
        if (!failure.isEmpty()) {
            // Only signals from here: the GUI thread releases the reader.
            clock_.setLoading(false);
            debug("not raw file.");
            QMetaObject::invokeMethod(
                this, [this, r = reader.get()] { afterLoad(false, r); }, Qt::QueuedConnection);
            reportLoadFailure(file_path, failure);
            emit signalLoadingStatus(false);
            return;
        }
        // A fusion camera's events (its header names the first frame's time)
        // store their columns mirrored against its frames; without the
        // frames file they are shown the right way round, and the user told.
        const korvane::RawHeader& header = reader->header();
        mirrorWidth_ = korvane::storedMirrorWidth(header);
        if (mirrorWidth_.load() > 0) {
            emit signalShowLeftBottomTips(
                tr("The frames file (.mp4) of %1 is missing or cannot be read: only its events "
                   "are shown.")
                    .arg(QFileInfo(file_path).fileName()),
                KvMessageType::Warning, file_path);
        }
        // Bounds and flag first: a receiver of these signals may command at once.
        clock_.setLower(start);
        clock_.setUpper(end);
        clock_.setPosition(start);
        playable_ = true;
        clock_.setLoading(false);
        debug("Start time: " + QString::number(start));
        debug("End time: " + QString::number(end));
        // Queued ahead of the signals, so it has run when they are seen.
        QMetaObject::invokeMethod(
            this, [this, r = reader.get()] { afterLoad(true, r); }, Qt::QueuedConnection);
        emit signalRecordingOpened(file_path,
                                   QString::fromStdString(reader->header().serialNumber));
        emit signalEndTimeStamp(end);
        emit signalStartTimeStamp(start);
        emit signalRealTimeTimeStamp(start);
        emit signalPlayStatus(true);
        emit signalLoadingStatus(false);
        debug("Load raw file success.");
    });
}

void KvEventProcessor::afterLoad(bool ok, const DvsFileReader* loaded) {
    if (reader_.get() != loaded || clock_.loading()) return;  // a newer load took over
    if (!ok) {
        // Bounds and position were left as they were: the old recording goes on.
        reader_ = std::move(kept_);
        playable_ = reader_ != nullptr;
        shown_ = playable_ && keptShown_;
        return;
    }
    kept_.reset();
    // A play request made during the load: the button may already show
    // "playing", so no toggle will ask again.
    if (playRequested_.exchange(false) && !clock_.playing()) {
        slotPlaybackCtrl(true);
        emit signalPlayStatus(true);
    }
}

void KvEventProcessor::setFps(int fps) {
    clock_.setFps(fps);
    debug("set fps: " + QString::number(clock_.fps()) +
          " time interval: " + QString::number(clock_.interval()));
}

void KvEventProcessor::setAccTime(uint64_t time_us) {
    const uint64_t before = clock_.accumulation();
    clock_.setAccumulation(time_us);
    // Paused, the picture on screen is drawn again with the new window at
    // once (while playing the next tick draws it anyway). The position stays.
    if (before == time_us || clock_.playing() || !shown_.load() || !readerReady(true)) return;
    std::lock_guard<std::mutex> lock(readerMutex_);
    presentWindow(shownFrom_.load(), time_us, std::nullopt);
}

void KvEventProcessor::markShown(uint64_t from_us) {
    shownFrom_ = from_us;
    shown_ = true;
}

void KvEventProcessor::slotPlayLoop(bool loop) {
    clock_.setLoop(loop);
}

void KvEventProcessor::slotSetLowerTimeStamp(uint64_t timestamp_us) {
    clock_.setLower(timestamp_us);
}

void KvEventProcessor::slotSetUpperTimeStamp(uint64_t timestamp_us) {
    clock_.setUpper(timestamp_us);
}

void KvEventProcessor::slotPlaybackCtrl(bool play) {
    if (clock_.loading()) playRequested_ = play;
    if (!play) {
        clock_.stop();
        return;
    }
    if (!readerReady(/*quiet=*/true)) return;
    // A second start while a thread runs is refused; one that ended on its own is joined.
    clock_.start([this] { return playbackStep(); });
}

bool KvEventProcessor::present(const korvane::EventBatch& batch,
                               std::optional<uint64_t> position_us, bool skipEmpty) {
    if (!batch) return false;
    renderer_->accumulateEvents(batch->data(), batch->data() + batch->size(), mirrorWidth_.load(),
                                /*firstPiece=*/true);
    finishPresent(batch->size(), position_us, skipEmpty);
    return true;
}

bool KvEventProcessor::presentWindow(uint64_t start_us, uint64_t duration_us,
                                     std::optional<uint64_t> position_us, bool skipEmpty) {
    const uint32_t mirror = mirrorWidth_.load();
    size_t events = 0;
    const bool read =
        reader_->visitEventsInWindow(start_us, duration_us, [&](const Event2D* ev, size_t n) {
            renderer_->accumulateEvents(ev, ev + n, mirror, /*firstPiece=*/events == 0);
            events += n;
        });
    if (!read) return false;
    finishPresent(events, position_us, skipEmpty);
    return true;
}

void KvEventProcessor::finishPresent(size_t events, std::optional<uint64_t> position_us,
                                     bool skipEmpty) {
    reportRate(events, clock_.accumulation(), /*now=*/!clock_.playing());
    // Nothing was counted: the front counters are as the last request left them.
    if (events == 0 && skipEmpty) return;
    if (position_us) emit signalRealTimeTimeStamp(*position_us);
    requestFrame();
}

void KvEventProcessor::reportRate(size_t events, uint64_t window_us, bool now) {
    // About half a second of playback per report: a readable figure, few signals.
    constexpr int kFramesPerReport = 15;
    rateEvents_ += events;
    rateWindow_us_ += window_us;
    ++rateFrames_;
    if (!now && rateFrames_ < kFramesPerReport) return;
    if (rateWindow_us_ > 0)
        emit signalEventRate(double(rateEvents_) * 1e6 / double(rateWindow_us_));
    rateEvents_ = 0;
    rateWindow_us_ = 0;
    rateFrames_ = 0;
}

void KvEventProcessor::nextFrame() {
    if (!readerReady(false)) return;
    stopPlayback();
    std::lock_guard<std::mutex> lock(readerMutex_);
    const uint64_t acc = clock_.accumulation(), pos = clock_.position();
    if (pos + acc >= clock_.upper()) return;
    markShown(pos);
    clock_.setPosition(pos + clock_.interval());
    if (!presentWindow(pos, acc, clock_.position())) debug("File read end.");
}

void KvEventProcessor::preFrame() {
    if (!readerReady(false)) return;
    stopPlayback();
    const uint64_t pos = clock_.stepBack();
    std::lock_guard<std::mutex> lock(readerMutex_);
    if (!reader_->seekToTime(pos)) return;
    markShown(pos);
    present(reader_->readEventsFor(clock_.accumulation()), pos);
}

void KvEventProcessor::setPlayPos(uint64_t timestamp_us) {
    if (!readerReady(false)) return;
    if (timestamp_us < clock_.lower() || timestamp_us > clock_.upper()) return;
    stopPlayback();
    std::lock_guard<std::mutex> lock(readerMutex_);
    if (!reader_->seekToTime(timestamp_us)) {
        debug("seek time err." + QString::number(timestamp_us));
        return;
    }
    const uint64_t acc = clock_.accumulation();
    markShown(timestamp_us);
    clock_.setPosition(timestamp_us + acc);
    presentWindow(timestamp_us, acc, clock_.position());
}

void KvEventProcessor::slotPlaybackReset() {
    if (!readerReady(false)) return;
    clock_.stop();
    std::lock_guard<std::mutex> lock(readerMutex_);
    const uint64_t lower = clock_.lower();
    reader_->seekToTime(lower);
    markShown(lower);
    presentWindow(lower, clock_.accumulation(), std::nullopt);
    debug("set ts: " + QString::number(lower));
    emit signalRealTimeTimeStamp(lower);
    clock_.setPosition(lower);
    emit signalPlayStatus(false);
}

bool KvEventProcessor::playbackStep() {
    try {
        if (!reader_) return false;
        std::unique_lock<std::mutex> lock(readerMutex_);
        const uint64_t interval = clock_.interval();
        const uint64_t upper = clock_.upper();
        uint64_t pos = clock_.position();
        markShown(pos);
        uint64_t start = pos, duration = clock_.accumulation();
        if (pos + interval <= upper) {
            pos += interval;
        } else {
            // The last, shortened frame reaches the upper bound itself.
            duration = upper >= pos ? upper - pos + 1 : 1;
            pos = upper;
        }
        clock_.setPosition(pos);
        // A silent window leaves the last image on screen during playback.
        const bool read = presentWindow(start, duration, pos, /*skipEmpty=*/true);
        if (!read || pos >= upper) {
            const uint64_t lower = clock_.lower();
            reader_->seekToTime(lower);
            clock_.setPosition(lower);
            if (!clock_.loop()) {
                clock_.stop();  // from the playback thread: only ends the loop
                emit signalPlayStatus(false);
                return false;
            }
        }
        return true;
    } catch (const std::exception& e) {
        // Out of memory on a damaged file, say: stop playing, never end the process.
        qWarning() << "playback stopped:" << e.what();
        clock_.stop();
        emit signalPlayStatus(false);
        return false;
    }
}
