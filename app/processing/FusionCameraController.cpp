#include "FusionCameraController.h"

#include <QDebug>
#include <QDir>
#include <QTimer>

#include "KvFusionCameraDataProcessor.h"

namespace {

std::string localPath(const QString& path) {
    return path.toLocal8Bit().toStdString();
}

}  // namespace

FusionCameraController::FusionCameraController(KvFusionCameraDataProcessor* processor,
                                               QObject* parent)
    : QObject(parent), processor_(processor) {
    // The fusion camera has no live loop of ours that would notice a lost
    // cable; this looks twice a second while it streams.
    watch_ = new QTimer(this);
    watch_->setInterval(500);
    connect(watch_, &QTimer::timeout, this, &FusionCameraController::checkConnection);
    connect(&clock_, &RecordingClock::tick, this, &FusionCameraController::recordingClockTick,
            Qt::DirectConnection);
}

FusionCameraController::~FusionCameraController() {
    // A recording by button still running is closed whole before the camera goes.
    if (recording_.load()) finishRecording();
    stopStreaming();
    release();
}

// Worker thread. Only the camera and the processor's thread-safe operations
// are touched; the handle is adopted on the GUI thread once the task ended.
std::shared_ptr<korvane::FusionCamera> FusionCameraController::open(
    korvane::DvsCameraManager& manager, const std::string& serial, QString& firmware) {
    processor_->clearFusion();
    processor_->setCamera(nullptr);
    qDebug() << "Open fusion camera.";
    std::shared_ptr<korvane::FusionCamera> opened = manager.openFusionCamera(serial);
    if (!opened) return nullptr;
    std::string version;
    if (opened->getFirmwareVersion(version)) firmware = QString::fromStdString(version);
    korvane::CalibratorParameters parameters;
    if (opened->getCalibrationParameters(parameters)) processor_->loadCalibration(parameters);

    KvFusionCameraDataProcessor* f = processor_;
    opened->setStatisticInfoCallback([this](const korvane::KvStatisticInfo& info) {
        emit statistics(quint64(info.bandwidth), quint64(info.eventRate));
    });
    callbackIds_.clear();
    callbackIds_.push_back(
        opened->addApsFrameCallback([f](korvane::ApsFrame frame) { f->addLiveFrame(frame); }));
    callbackIds_.push_back(
        opened->addEventsCallback([f](const korvane::Event2D* first, const korvane::Event2D* last) {
            f->accumulateLiveEvents(first, last);
            f->addLiveEvents(first, last);
        }));
    callbackIds_.push_back(opened->addTriggerInCallback(
        [f](const korvane::EventTriggerIn& trigger) { f->addLiveTrigger(trigger); }));
    f->setCamera(opened);
    return opened;
}

void FusionCameraController::adopt(std::shared_ptr<korvane::FusionCamera> camera,
                                   const QString& firmware) {
    camera_ = std::move(camera);
    firmware_ = firmware;
}

void FusionCameraController::release() {
    if (!camera_) return;
    for (uint32_t id : callbackIds_)
        if (id != korvane::FusionCamera::kNoCallback) camera_->removeCallback(id);
    callbackIds_.clear();
    camera_->setStatisticInfoCallback(nullptr);
    // Closed before the handles go: no callback of it runs afterwards.
    if (camera_->isConnected()) camera_->close();
    processor_->setCamera(nullptr);
    processor_->clearFusion();
    camera_.reset();
    firmware_.clear();
}

bool FusionCameraController::startStreaming() {
    if (!camera_ || camera_->start(korvane::STREAM_BOTH) != 0) return false;
    // Drops are counted from this start, as the status line shows them.
    droppedFramesAtStart_ = processor_->droppedFrames();
    droppedPeriodsAtStart_ = processor_->droppedPeriods();
    droppedEventsAtStart_ = processor_->droppedEvents();
    streaming_ = true;
    watch_->start();
    qDebug() << "Fusion camera start";
    return true;
}

bool FusionCameraController::stopStreaming() {
    watch_->stop();
    if (!camera_ || !streaming_.exchange(false)) return false;
    camera_->stop(korvane::STREAM_BOTH);
    qDebug() << "Fusion camera stop.";
    // The camera's threads have stopped: nothing adds to the pairing now.
    processor_->clearFusion();
    return true;
}

uint64_t FusionCameraController::droppedFrames() const {
    return processor_->droppedFrames() - droppedFramesAtStart_;
}

uint64_t FusionCameraController::droppedPeriods() const {
    return processor_->droppedPeriods() - droppedPeriodsAtStart_;
}

uint64_t FusionCameraController::droppedEvents() const {
    return processor_->droppedEvents() - droppedEventsAtStart_;
}

void FusionCameraController::checkConnection() {
    if (!camera_ || !streaming_.load() || camera_->isConnected()) return;
    qDebug() << "Camera connection lost.";
    emit connectionLost();
}

bool FusionCameraController::startRecording(const QString& directory, const QString& base) {
    if (!camera_ ||
        !camera_->startRecording(localPath(directory), localPath(base), korvane::STREAM_BOTH))
        return false;
    // The recording's calibration is the one the overlay uses now: an
    // applied offset the camera did not take is still in force here.
    const QString calibration = QDir(directory).filePath(base + ".json");
    if (!processor_->writeCalibration(localPath(calibration)))
        qWarning() << "calibration of the recording not written:" << calibration;
    recording_ = true;
    clock_.start();
    return true;
}

bool FusionCameraController::finishRecording() {
    recording_ = false;
    clock_.stop();
    return camera_ && camera_->stopRecording(korvane::STREAM_BOTH);
}
