#include "LiveCameraController.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <chrono>

#include "KvEventProcessor.h"
#include "kvfilerecorder.h"

namespace {

std::string localPath(const QString& path) {
    return path.toLocal8Bit().toStdString();
}

}  // namespace

QString freeRecordingBase(const QString& directory, const QString& base) {
    const QDir dir(directory);
    auto taken = [&](const QString& name) {
        for (const char* ext : {".raw", ".mp4", ".json"})
            if (QFileInfo::exists(dir.filePath(name + ext))) return true;
        return false;
    };
    if (!taken(base)) return base;
    for (int n = 2;; ++n) {
        const QString candidate = base + "_" + QString::number(n);
        if (!taken(candidate)) return candidate;
    }
}

QString recordingFilePath(const QString& dir, const QString& serial, const QDateTime& now) {
    return dir + "/" + freeRecordingBase(dir, serial + now.toString("_yyyyMMdd_HHmmss")) + ".raw";
}

QString TriggerInRecording::pathFor(const korvane::EventTriggerIn& trigger,
                                    const QDateTime& now) const {
    const bool wanted = (edgeType == "Rising Edge" && trigger.polarity == 1) ||
                        (edgeType == "Falling Edge" && trigger.polarity == 0);
    return wanted ? recordingFilePath(outputDir, serial, now) : QString();
}

LiveCameraController::LiveCameraController(KvEventProcessor* processor, KvFileRecorder* recorder,
                                           QObject* parent)
    : QObject(parent), processor_(processor), recorder_(recorder) {
    // Direct: the clock thread's tick goes out as this object's signal.
    connect(&clock_, &RecordingClock::tick, this, &LiveCameraController::recordingClockTick,
            Qt::DirectConnection);
}

LiveCameraController::~LiveCameraController() {
    // A recording by button still running is closed whole; the threads use
    // the processor and the handle, so they end before either goes.
    if (recording_.load()) finishRecording();
    stopStreaming();
    release();
}

// Worker thread. Only the camera is touched here; the handle is adopted on
// the GUI thread once the task has ended.
std::shared_ptr<korvane::DvsCamera> LiveCameraController::open(korvane::DvsCameraManager& manager,
                                                               const std::string& serial) {
    std::shared_ptr<korvane::DvsCamera> opened = manager.openCamera(serial);
    if (!opened) return nullptr;
    opened->setStatisticInfoCallback([this](const korvane::KvStatisticInfo& info) {
        emit statistics(quint64(info.bandwidth), quint64(info.eventRate));
    });
    opened->setRecordingErrorCallback([this](const std::string& path, const std::string& reason) {
        emit recordingError(QString::fromLocal8Bit(path.c_str()), QString::fromStdString(reason));
    });
    return opened;
}

void LiveCameraController::adopt(std::shared_ptr<korvane::DvsCamera> camera) {
    camera_ = std::move(camera);
    recorder_->setCamera(camera_);
}

void LiveCameraController::release() {
    if (!camera_) return;
    disarmTriggerRecording();
    camera_->setStatisticInfoCallback(nullptr);
    camera_->setRecordingErrorCallback(nullptr);
    recorder_->setCamera(nullptr);
    camera_.reset();
}

void LiveCameraController::armTriggerRecording(const TriggerInRecording& settings) {
    disarmTriggerRecording();
    if (!camera_) return;
    // One consistent copy for the camera's thread.
    auto copy = std::make_shared<TriggerInRecording>(settings);
    triggerCallbackId_ =
        camera_->addTriggerInCallback([this, copy](const korvane::EventTriggerIn& t) {
            const QString path = copy->pathFor(t, QDateTime::currentDateTime());
            if (path.isEmpty()) return;
            emit triggerRecording(copy->after_s, path);
        });
}

void LiveCameraController::disarmTriggerRecording() {
    if (camera_ && triggerCallbackId_ != korvane::DvsCamera::kNoCallback)
        camera_->removeTriggerInCallback(triggerCallbackId_);
    triggerCallbackId_ = korvane::DvsCamera::kNoCallback;
}

// --- streaming ----------------------------------------------------------------

bool LiveCameraController::startStreaming() {
    if (!camera_) return false;
    if (liveThread_.joinable()) liveThread_.join();
    if (camera_->start() != 0) return false;
    camera_->setBatchInterval(batchInterval_us_.load());
    lateBatches_ = 0;
    showPending_ = false;
    droppedAtStart_ = camera_->batchesDropped();
    streaming_ = true;
    recorder_->setStreaming(true);
    liveThread_ = std::thread(&LiveCameraController::liveLoop, this, camera_);
    return true;
}

bool LiveCameraController::stopStreaming() {
    const bool wasStreaming = streaming_.exchange(false) || liveThread_.joinable();
    if (liveThread_.joinable()) liveThread_.join();
    if (!wasStreaming || !camera_) return false;
    recorder_->setStreaming(false);
    camera_->stop();
    qDebug() << "stop camera.";
    return true;
}

void LiveCameraController::setBatchInterval(uint64_t interval_us) {
    batchInterval_us_ = interval_us;
    if (camera_) camera_->setBatchInterval(interval_us);
    qDebug() << "set dvs time interval: " << interval_us;
}

uint64_t LiveCameraController::droppedBatches() const {
    return camera_ ? camera_->batchesDropped() - droppedAtStart_ : 0;
}

void LiveCameraController::showAccumulated() {
    showPending_ = false;
    processor_->showAccumulatedEvents();
}

// Live thread: one picture per pass of 1/displayRate s. The batches due are
// taken (up to three), so a short batch interval makes fuller pictures
// rather than lost batches. A batch is late when a pass finds more batches
// waiting than the camera time since the previous pass explains (the view
// fell behind). After a pass that emptied the camera's queue and a wake on
// time, nothing is late: what came meanwhile came in a bunch from the
// camera (a stream catching up, at its start on a busy machine), not from
// a view that fell behind. Batches go to the renderer in slices, so the GUI
// thread's frame request never waits long for the accumulation lock.
void LiveCameraController::liveLoop(std::shared_ptr<korvane::DvsCamera> camera) {
    using namespace std::chrono;
    constexpr size_t kSlice = 1 << 16;
    constexpr int kMaxBatchesPerPass = 3;  // a view that cannot keep up still shows pictures
    const uint32_t rate = displayRate_;
    const auto period = microseconds(1000000 / rate);
    auto previous = steady_clock::now();
    auto wake = previous;  // when the previous pass meant the next to begin
    bool drained = false;  // the previous pass left no batch waiting
    while (streaming_.load()) {
        const auto t0 = steady_clock::now();
        const uint64_t interval_us = std::max<uint64_t>(1, batchInterval_us_.load());
        const uint64_t explained =
            drained && t0 - wake <= microseconds(interval_us)
                ? UINT64_MAX
                : uint64_t(duration_cast<microseconds>(t0 - previous).count()) / interval_us + 1;
        previous = t0;
        int batches = 0;
        size_t events = 0;
        // The camera's pieces are counted where they lie: gathering a dense
        // batch into one vector first cost a copy of every event and, for
        // a batch larger than any before, freshly faulted pages.
        const auto accumulate = [&](const korvane::Event2D* first, size_t count) {
            events += count;
            for (size_t i = 0; i < count; i += kSlice)
                processor_->accumulateEvents(first + i, first + i + std::min(kSlice, count - i));
        };
        drained = false;
        while (batches < kMaxBatchesPerPass && streaming_.load()) {
            if (!camera->visitNextEvents(eventBuffer_, accumulate)) {
                drained = true;
                break;
            }
            if (events == 0) continue;
            events = 0;
            if (uint64_t(++batches) > explained) ++lateBatches_;
        }
        if (batches > 0) {
            // One request in flight: a GUI thread that was busy must not take
            // two in a row, the second of which would show an empty picture.
            if (!showPending_.exchange(true)) emit framesReady();
        }
        // One picture per display period at most, counted from the pass's
        // start (a fixed pause on top of the work made a busy stream fall
        // behind the camera). A pass that found no batch looks again soon:
        // the camera's batches do not keep step with the display period, and
        // waiting a whole period would merge two batches into one picture.
        auto rest = period - duration_cast<microseconds>(steady_clock::now() - t0);
        if (batches == 0) rest = std::min<microseconds>(rest, milliseconds(2));
        wake = steady_clock::now() + std::max(rest, microseconds(0));
        if (rest.count() > 0 && streaming_.load()) std::this_thread::sleep_for(rest);
        if (!camera->isConnected()) {
            qDebug() << "Camera connection lost.";
            streaming_ = false;
            emit cameraLost();
        }
    }
}

// --- recording by button --------------------------------------------------------

bool LiveCameraController::startRecording(const QString& path) {
    if (!camera_) return false;
    recordingPath_ = path;
    if (!camera_->startRecording(localPath(path))) return false;
    recording_ = true;
    clock_.start();
    return true;
}

LiveCameraController::Finished LiveCameraController::finishRecording() {
    recording_ = false;
    clock_.stop();
    Finished finished;
    if (!camera_) return finished;
    finished.whole = camera_->stopRecording();
    finished.error = camera_->recordingStatus().error;
    return finished;
}

bool LiveCameraController::recordingFailed(const QString& path, const QString& reason) {
    if (!recording_.load() || path != recordingPath_ || reason == "camera unplugged") return false;
    recording_ = false;
    clock_.stop();
    return true;
}
