#include "korvane/camera/RecordingSession.h"

#include <filesystem>
#include <system_error>
#include <thread>

namespace korvane {

namespace {

// Between polls of the live queue when it had nothing.
constexpr std::chrono::milliseconds kIdle{2};

}  // namespace

RecordingSession::RecordingSession(std::shared_ptr<DvsCamera> camera)
    : camera_(std::move(camera)) {}

RecordingSession::~RecordingSession() {
    // Streaming ends first, so the file holds everything streamed.
    if (streaming_) camera_->stop();
    if (recording_) camera_->stopRecording();
    if (callback_ != DvsCamera::kNoCallback) camera_->removeTriggerInCallback(callback_);
    if (cacheArmed_) camera_->setTriggerCache(0, ".");
    if (restoreChannel_) {
        if (auto tool = camera_->getTool(ToolType::TriggerIn))
            tool->setParameter("channel_0", channelWas_);
    }
}

uint64_t RecordingSession::streamTime() const {
    uint64_t t = 0;
    return camera_->streamTime(t) ? t : 0;
}

uint64_t RecordingSession::edgesMissed() const {
    std::lock_guard lock(mutex_);
    return missed_;
}

bool RecordingSession::armEdges(uint16_t seconds, int16_t polarity, std::string directory,
                                std::string* error) {
    if (directory.empty() || directory == ".") {
        std::error_code ec;
        directory = std::filesystem::current_path(ec).string();  // "." would mean off
        if (ec) {
            *error = "cannot tell the current folder for the trigger cache";
            return false;
        }
    }
    if (seconds == 0 || !camera_->setTriggerCache(seconds, directory)) {
        *error = "cannot keep the trigger cache in " + directory;
        return false;
    }
    cacheArmed_ = true;
    auto tool = camera_->getTool(ToolType::TriggerIn);
    bool was = false;
    if (!tool || !tool->getBoolParameter("channel_0", was) ||
        !tool->setParameter("channel_0", true)) {
        *error = "the camera has no trigger input 0";
        return false;
    }
    restoreChannel_ = true;
    channelWas_ = was;
    cacheSeconds_ = seconds;
    polarity_ = polarity;
    uint64_t now = 0;
    knowsTime_ = camera_->streamTime(now);
    fillFrom_us_ = now;
    armedAt_ = std::chrono::steady_clock::now();
    callback_ = camera_->addTriggerInCallback([this](const EventTriggerIn& t) {
        if (t.id != 0 || t.polarity != polarity_) return;
        std::lock_guard lock(mutex_);
        edges_.push_back({t.timestamp, std::chrono::steady_clock::now()});
    });
    return true;
}

bool RecordingSession::startStream(std::string* error) {
    if (streaming_) return true;
    if (camera_->start() != 0) {
        *error = "the camera does not start";
        return false;
    }
    streaming_ = true;
    return true;
}

void RecordingSession::stopStream() {
    if (!streaming_) return;
    camera_->stop();
    streaming_ = false;
}

bool RecordingSession::stopNow(const StopRequested& stop,
                               std::chrono::steady_clock::time_point& lastPoll) {
    if (!stop) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPoll < kPoll) return false;
    lastPoll = now;
    return stop();
}

WaitEnd RecordingSession::waitForEdge(uint64_t notBefore_us, uint64_t& edge_us,
                                      const StopRequested& stop) {
    auto lastPoll = std::chrono::steady_clock::time_point{};
    const auto fill = std::chrono::seconds(cacheSeconds_);
    while (true) {
        {
            std::lock_guard lock(mutex_);
            while (!edges_.empty()) {
                const Edge e = edges_.front();
                edges_.pop_front();
                // Before the cache holds its seconds in full, an edge is not
                // one to record around yet.
                const bool full = knowsTime_ ? e.t_us >= fillFrom_us_ + cacheSeconds_ * 1000000
                                             : e.arrived - armedAt_ >= fill;
                if (!full) continue;
                if (e.t_us < notBefore_us) {
                    ++missed_;
                    continue;
                }
                edge_us = e.t_us;
                return WaitEnd::Reached;
            }
        }
        if (stopNow(stop, lastPoll)) return WaitEnd::Stopped;
        if (!camera_->isConnected()) return WaitEnd::CameraLost;
        if (!camera_->getNextEvents(live_)) std::this_thread::sleep_for(kIdle);
    }
}

bool RecordingSession::startRecording(const std::string& path, std::string* error) {
    if (!camera_->startRecording(path)) {
        *error = camera_->recordingStatus().error;
        if (error->empty()) *error = "cannot record to " + path;
        return false;
    }
    recording_ = true;
    return true;
}

WaitEnd RecordingSession::waitUntil(uint64_t until_us, uint64_t wall_us,
                                    const StopRequested& stop) {
    auto lastPoll = std::chrono::steady_clock::time_point{};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(wall_us);
    while (true) {
        uint64_t t = 0;
        if (camera_->streamTime(t) ? t >= until_us : std::chrono::steady_clock::now() >= deadline)
            return WaitEnd::Reached;
        if (stopNow(stop, lastPoll)) return WaitEnd::Stopped;
        if (!camera_->isConnected()) return WaitEnd::CameraLost;
        if (recording_ && !camera_->recordingStatus().error.empty())
            return WaitEnd::RecordingFailed;
        // Camera time, so a loaded machine still records the whole stretch;
        // the live batches are taken as a viewer would take them.
        if (!camera_->getNextEvents(live_)) std::this_thread::sleep_for(kIdle);
    }
}

bool RecordingSession::stopRecording(RecordingStatus& status) {
    if (!recording_) {
        status = camera_->recordingStatus();
        return false;
    }
    recording_ = false;
    const bool ok = camera_->stopRecording();
    status = camera_->recordingStatus();
    return ok;
}

}  // namespace korvane
