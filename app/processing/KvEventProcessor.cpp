#include "KvEventProcessor.h"

#include <QDebug>
#include <QFileInfo>
#include <chrono>
#include <condition_variable>

#include "AppConfig.h"
#include "korvane/file/DvsFileReader.h"
#include "Utils/FuncUtils.h"

using korvane::DvsFileReader;
using korvane::Event2D;

namespace {
// How long destruction waits for a load still inside the driver before it
// abandons it to finish on its own.
constexpr auto kLoadAbandonWait = std::chrono::seconds(2);

void debug(const QString& text) {
    qDebug().noquote() << text;
}
}  // namespace

// Shared by the processor and its load thread. Once `cancelled` is set
// (under the mutex) the thread never touches the processor again.
struct KvEventProcessor::LoadJob {
    std::mutex mutex;
    std::condition_variable finished;
    bool cancelled = false;
    bool done = false;
};

KvEventProcessor::KvEventProcessor(QObject* parent) : QObject(parent) {
    AppConfig* config = &AppConfig::instance();
    renderer_ = std::make_unique<EventFrameRenderer>(
        [this](const QImage& image) { emit signalEventImage(image); },
        [config] { return config->theme(); });
}

KvEventProcessor::~KvEventProcessor() {
    // Playback feeds the renderer, so it stops first; then the load (abandoned
    // if the driver is slow to give up), then the render thread.
    playing_ = false;
    if (playbackThread_.joinable()) playbackThread_.join();
    finishJobs();
    finishLoadThread(/*abandon=*/true);
    renderer_.reset();
}

void KvEventProcessor::finishLoadThread(bool abandon) {
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
        if (reader_) reader_->cancelOpen();
        done = job->finished.wait_for(lock, kLoadAbandonWait, [&] { return job->done; });
    }
    if (done) {
        loadThread_.join();
    } else {
        // Still inside the driver: it holds the reader and the job, nothing of ours.
        loadThread_.detach();
    }
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
    if (reader_ && playable_.load() && !loading_.load()) return true;
    if (!quiet) debug("not raw file.");
    return false;
}

void KvEventProcessor::stopPlayback() {
    if (!playing_.load()) return;
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
    if (loading_.load()) {
        debug("is loading.");
        return;
    }
    if (jobRunning()) {
        // The job reads this recording; opening another would pull it away.
        debug("export or cut running.");
        return;
    }
    emit signalPlayStatus(false);
    // The playback thread reads through the reader: stop it before the reader goes.
    slotPlaybackCtrl(false);
    finishLoadThread(/*abandon=*/false);
    playable_ = false;
    reader_.reset();
    std::string error;
    reader_ =
        DvsFileReader::createFileReader(korvane::utf8ToLocal8Bit(file_path.toStdString()), &error);
    if (!reader_) {
        debug("not raw file.");
        // An empty path only means "leave playback"; a named file is the user's.
        if (!file_path.isEmpty()) reportLoadFailure(file_path, reasonFor(error));
        return;
    }
    loading_ = true;
    playRequested_ = false;
    loadJob_ = std::make_shared<LoadJob>();
    std::shared_ptr<LoadJob> job = loadJob_;
    std::shared_ptr<DvsFileReader> reader = reader_;
    reader->setOpenProgressCallback([this, job, lastPercent = -1](double fraction) mutable {
        const int percent = int(fraction * 100.0);
        if (percent == lastPercent) return;
        lastPercent = percent;
        std::lock_guard<std::mutex> lock(job->mutex);
        if (!job->cancelled) emit signalLoadProgress(percent);
    });
    loadThread_ = std::thread([this, job, reader, file_path] {
        auto finish = [&] {
            job->done = true;
            job->finished.notify_all();
        };
        {
            std::lock_guard<std::mutex> lock(job->mutex);
            if (job->cancelled) return finish();
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
            // Without a header line nothing says this is a recording at all.
            failure = reader->header().hasHeader ? tr("the recording holds no events")
                                                 : tr("it is not a RAW recording");
        }

        std::lock_guard<std::mutex> lock(job->mutex);
        if (job->cancelled) return finish();
        if (!failure.isEmpty()) {
            // Only signals from here: the GUI thread releases the reader.
            loading_ = false;
            debug("not raw file.");
            QMetaObject::invokeMethod(
                this, [this, r = reader.get()] { afterLoad(false, r); }, Qt::QueuedConnection);
            reportLoadFailure(file_path, failure);
            emit signalLoadingStatus(false);
            return finish();
        }
        // Bounds and flag first: a receiver of these signals may command at once.
        lower_ = start;
        upper_ = end;
        current_ = start;
        playable_ = true;
        loading_ = false;
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
        finish();
    });
}

void KvEventProcessor::afterLoad(bool ok, const DvsFileReader* loaded) {
    if (reader_.get() != loaded || loading_.load()) return;  // a newer load took over
    if (!ok) {
        reader_.reset();
        return;
    }
    // A play request made during the load: the button may already show
    // "playing", so no toggle will ask again.
    if (playRequested_.exchange(false) && !playing_.load()) {
        slotPlaybackCtrl(true);
        emit signalPlayStatus(true);
    }
}

void KvEventProcessor::setFps(int fps) {
    // Rates below one frame per second (a slow rate under 1/30) play at one.
    const uint64_t f = fps < 1 ? 1 : uint64_t(fps);
    fps_ = f;
    frameInterval_ = 1000000 / f;
    debug("set fps: " + QString::number(f) +
          " time interval: " + QString::number(frameInterval_.load()));
}

void KvEventProcessor::setAccTime(uint64_t time_us) {
    accTime_ = time_us;
}

void KvEventProcessor::slotPlayLoop(bool loop) {
    loop_ = loop;
}

void KvEventProcessor::slotSetLowerTimeStamp(uint64_t timestamp_us) {
    lower_ = timestamp_us;
}

void KvEventProcessor::slotSetUpperTimeStamp(uint64_t timestamp_us) {
    upper_ = timestamp_us;
}

void KvEventProcessor::slotPlaybackCtrl(bool play) {
    if (loading_.load()) playRequested_ = play;
    if (!play) {
        playing_ = false;
        if (playbackThread_.joinable()) playbackThread_.join();
        return;
    }
    if (!readerReady(/*quiet=*/true)) return;
    // A second start while a thread runs, or after one ended on its own, must
    // neither start a rival thread nor overwrite a joinable one.
    if (playbackThread_.joinable()) {
        if (playing_.load()) return;
        playbackThread_.join();
    }
    playing_ = true;
    playbackThread_ = std::thread([this] { playbackLoop(); });
}

bool KvEventProcessor::present(const korvane::EventBatch& batch,
                               std::optional<uint64_t> position_us, bool skipEmpty) {
    if (!batch) return false;
    reportRate(batch->size(), accTime_.load(), /*now=*/!playing_.load());
    if (batch->empty() && skipEmpty) return true;
    accumulateEvents(batch->data(), batch->data() + batch->size());
    if (position_us) emit signalRealTimeTimeStamp(*position_us);
    requestFrame();
    return true;
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
    const uint64_t acc = accTime_.load();
    if (current_.load() + acc >= upper_.load()) return;
    korvane::EventBatch batch = reader_->readEventsInWindow(current_.load(), acc);
    current_ += frameInterval_.load();
    if (!present(batch, current_.load())) debug("File read end.");
}

void KvEventProcessor::preFrame() {
    if (!readerReady(false)) return;
    stopPlayback();
    const uint64_t interval = frameInterval_.load();
    const uint64_t lower = lower_.load();
    uint64_t pos = current_.load();
    pos = pos >= lower + interval ? pos - interval : lower;
    current_ = pos;
    std::lock_guard<std::mutex> lock(readerMutex_);
    if (!reader_->seekToTime(pos)) return;
    present(reader_->readEventsFor(accTime_.load()), pos);
}

void KvEventProcessor::setPlayPos(uint64_t timestamp_us) {
    if (!readerReady(false)) return;
    if (timestamp_us < lower_.load() || timestamp_us > upper_.load()) return;
    stopPlayback();
    if (!reader_->seekToTime(timestamp_us)) {
        debug("seek time err." + QString::number(timestamp_us));
        return;
    }
    const uint64_t acc = accTime_.load();
    korvane::EventBatch batch = reader_->readEventsInWindow(timestamp_us, acc);
    current_ = timestamp_us + acc;
    present(batch, current_.load());
}

void KvEventProcessor::slotPlaybackReset() {
    if (!readerReady(false)) return;
    playing_ = false;
    if (playbackThread_.joinable()) playbackThread_.join();
    const uint64_t lower = lower_.load();
    reader_->seekToTime(lower);
    present(reader_->readEventsInWindow(lower, accTime_.load()), std::nullopt);
    debug("set ts: " + QString::number(lower));
    emit signalRealTimeTimeStamp(lower);
    current_ = lower;
    emit signalPlayStatus(false);
}

void KvEventProcessor::playbackLoop() {
    try {
        playbackSteps();
    } catch (const std::exception& e) {
        // Out of memory on a damaged file, say: stop playing, never end the process.
        qWarning() << "playback stopped:" << e.what();
        playing_ = false;
        emit signalPlayStatus(false);
    }
}

void KvEventProcessor::playbackSteps() {
    using clock = std::chrono::steady_clock;
    while (playing_.load()) {
        if (!reader_) return;
        const auto t0 = clock::now();
        std::unique_lock<std::mutex> lock(readerMutex_);
        const uint64_t interval = frameInterval_.load();
        const uint64_t upper = upper_.load();
        uint64_t pos = current_.load();
        korvane::EventBatch batch;
        if (pos + interval <= upper) {
            batch = reader_->readEventsInWindow(pos, accTime_.load());
            pos += interval;
        } else {
            // The last, shortened frame reaches the upper bound itself.
            batch = reader_->readEventsInWindow(pos, upper >= pos ? upper - pos + 1 : 1);
            pos = upper;
        }
        current_ = pos;
        // A silent window leaves the last image on screen during playback.
        present(batch, pos, /*skipEmpty=*/true);
        if (!batch || pos >= upper) {
            const uint64_t lower = lower_.load();
            reader_->seekToTime(lower);
            current_ = lower;
            if (!loop_.load()) {
                playing_ = false;
                emit signalPlayStatus(false);
                return;
            }
        }
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::microseconds>(clock::now() - t0).count();
        if (kTick_us > uint64_t(elapsed) && playing_.load()) {
            std::this_thread::sleep_until(t0 + std::chrono::microseconds(kTick_us));
        }
    }
}
