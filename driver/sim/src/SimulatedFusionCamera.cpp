#include "korvane/sim/SimulatedFusionCamera.h"

#include "korvane/file/Platform.h"
#include "korvane/sim/ReplayBackend.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "korvane/file/SafeOutput.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace korvane {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kEventWidth = 1280, kEventHeight = 720;
// The scene's bars (see SyntheticScene): a vertical one 64 columns wide
// sweeping right at 640 px/s, a horizontal one 8 rows high sweeping down at
// 360 px/s, both wrapping around.
constexpr uint32_t kBarHalfWidth = 32, kBarHalfHeight = 4;
constexpr uint8_t kBackground = 50, kBar = 200;

SimulatedCameraOptions eventOptions(const SimulatedFusionOptions& o) {
    SimulatedCameraOptions e;
    e.serial = o.serial;
    e.product = "Quenta";
    e.eventsPerSecond = o.eventsPerSecond;
    e.seed = o.seed;
    e.clock = o.clock;
    e.frameEdgePeriod_us = o.framePeriod_us;  // in the stream, so recordings keep them
    return e;
}

// Keeps the other recorders and the file tools off a file the recording
// writes whole (its calibration), as the events' and frames' files are kept
// off: an exclusive lock on a second descriptor of it. The lock belongs to
// the open file, so it outlives the writer's own descriptor and follows the
// file through its rename. -1 where no lock could be taken.
int holdAgainstOtherWriters(int fd) {
#if defined(_WIN32)
    (void)fd;
    return -1;
#else
    const int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (held < 0) return -1;
    if (::flock(held, LOCK_EX | LOCK_NB) != 0) {
        ::close(held);
        return -1;
    }
    return held;
#endif
}

void releaseHold(int& fd) {
#if !defined(_WIN32)
    if (fd >= 0) ::close(fd);
#endif
    fd = -1;
}

}  // namespace

FrameFileWriterFactory missingFrameWriterFactory() {
    return [](const std::string&, int, int, int, std::string* error) {
        if (error)
            *error = "no frame writer: frame files need the H.264 writer, not given or not built";
        return std::unique_ptr<FrameFileWriter>();
    };
}

namespace {

std::string defaultCalibrationDirectory() {
    return driverDataFolder() + "/calibration";
}

bool readCalibration(const std::string& path, CalibratorParameters& out) {
    CalibratorParameters p;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return false;
    try {
        if (!jsonFileToParam(path, p)) return false;
    } catch (const std::exception&) {
        return false;  // not JSON, or a member of the wrong type
    }
    const auto it = p.affineMatrices.find("1");
    if (it == p.affineMatrices.end() || it->second.data.size() < 6) return false;
    out = p;
    return true;
}

// Whether event coordinate v (any real) falls inside a band of half width h
// around centre c on a ring of n pixels; outside [0, n) is off the grid.
bool inBand(double v, uint32_t c, uint32_t h, uint32_t n) {
    if (!(v >= 0.0 && v < double(n))) return false;
    const uint32_t i = uint32_t(v);
    return (i + n - c + h) % n < 2 * h;
}

}  // namespace

CameraDescription SimulatedFusionCamera::describe(const SimulatedFusionOptions& options) {
    CameraDescription d;
    d.serial = options.serial;
    d.product = "Quenta";
    d.manufacturer = "Korvane";
    d.description =
        "Simulated fusion camera (synthetic scene, no hardware attached), "
        "events 1280x720, frames " +
        std::to_string(std::clamp(options.frameWidth, 1, 65535)) + "x" +
        std::to_string(std::clamp(options.frameHeight, 1, 65535));
    d.connection = "simulated";
    return d;
}

CalibratorParameters SimulatedFusionCamera::factoryCalibration(
    const SimulatedFusionOptions& options) {
    CalibratorParameters p;
    p.cameraSerial = options.serial;
    p.dvsWidth = kEventWidth;
    p.dvsHeight = kEventHeight;
    p.apsWidth = uint16_t(options.frameWidth);
    p.apsHeight = uint16_t(options.frameHeight);
    const double sx = double(options.frameWidth) / kEventWidth;
    const double sy = double(options.frameHeight) / kEventHeight;
    p.cameraMatrix = {3, 3, 6, {1000, 0, 640, 0, 1000, 360, 0, 0, 1}};
    p.distCoeffs = {1, 5, 6, {0, 0, 0, 0, 0}};
    // The frame sensor sits a few pixels off the event sensor's axis.
    const double c = 6.0, f = -4.0;
    p.affineMatrices["1"] = {2, 3, 6, {sx, 0, c, 0, sy, f}};
    p.affineMatrices["0"] = {2, 3, 6, {1 / sx, 0, -c / sx, 0, 1 / sy, -f / sy}};
    return p;
}

SimulatedFusionCamera::SimulatedFusionCamera(SimulatedFusionOptions options)
    : FusionCamera(CameraDescription{}), options_(std::move(options)) {
    if (options_.framePeriod_us == 0) options_.framePeriod_us = 33333;
    options_.frameWidth = std::clamp(options_.frameWidth, 1, 65535);
    options_.frameHeight = std::clamp(options_.frameHeight, 1, 65535);
    dvs_ = std::make_shared<SimulatedDvsCamera>(eventOptions(options_));
    description = describe(options_);
    firmware_ = options_.firmwareVersion.empty() ? kCurrentFirmware : options_.firmwareVersion;
    if (options_.calibrationDirectory.empty())
        options_.calibrationDirectory = defaultCalibrationDirectory();

    const CalibratorParameters factory = factoryCalibration(options_);
    factoryInverse_ = factory.affineMatrices.at("0").data;
    calibration_ = factory;
    readCalibration(calibrationFilePath(), calibration_);  // an earlier upload, if any

    apsTool_ = std::make_shared<ParameterTool>();
    apsTool_->addInt("exposure_time", "Time each frame collects light", 100, 33000, 10000, "us");
    apsTool_->addInt("analog_gain", "Amplification of the frame sensor", 0, 24, 0, "dB");
    nextFrameTime_us_ = options_.framePeriod_us;
}

SimulatedFusionCamera::~SimulatedFusionCamera() {
    close();
}

bool SimulatedFusionCamera::isConnected() {
    return !closed_.load() && dvs_->isConnected();
}

uint32_t SimulatedFusionCamera::addEventsCallback(EventsCallback callback) {
    std::lock_guard lock(callbackMutex_);
    if (closed_.load() || !callback) return kNoCallback;
    const uint32_t id = nextCallbackId_.fetch_add(1);
    eventsCallbacks_[id] = std::move(callback);
    return id;
}

uint32_t SimulatedFusionCamera::addApsFrameCallback(FrameCallback callback) {
    std::lock_guard lock(frameCallbackMutex_);
    if (closed_.load() || !callback) return kNoCallback;
    const uint32_t id = nextCallbackId_.fetch_add(1);
    frameCallbacks_[id] = std::move(callback);
    return id;
}

uint32_t SimulatedFusionCamera::addTriggerInCallback(TriggerCallback callback) {
    std::lock_guard lock(callbackMutex_);
    if (closed_.load() || !callback) return kNoCallback;
    const uint32_t id = nextCallbackId_.fetch_add(1);
    triggerCallbacks_[id] = std::move(callback);
    return id;
}

void SimulatedFusionCamera::removeCallback(uint32_t id) {
    {
        std::lock_guard lock(callbackMutex_);
        eventsCallbacks_.erase(id);
        triggerCallbacks_.erase(id);
    }
    std::lock_guard lock(frameCallbackMutex_);  // never both at once: no order to get wrong
    frameCallbacks_.erase(id);
}

void SimulatedFusionCamera::setStatisticInfoCallback(StatisticsCallback callback) {
    dvs_->setStatisticInfoCallback(std::move(callback));
}

int SimulatedFusionCamera::start(STREAM_TYPE) {
    std::lock_guard lock(controlMutex_);
    if (closed_.load() || !dvs_->isConnected()) return -1;
    if (running_.load()) return 0;
    dvs_->setBatchInterval(kBatch_us);
    if (dvs_->start() != 0) return -1;
    running_.store(true);
    {
        std::lock_guard q(frameQueueMutex_);
        framesEnd_ = false;
    }
    framesThread_ = std::thread([this] { framesLoop(); });
    eventsThread_ = std::thread([this] { eventsLoop(); });
    return 0;
}

void SimulatedFusionCamera::stop(STREAM_TYPE) {
    std::lock_guard lock(controlMutex_);
    stopLocked();
}

void SimulatedFusionCamera::stopLocked() {
    if (!eventsThread_.joinable()) return;
    running_.store(false);
    eventsThread_.join();
    dvs_->stop();
    {
        std::lock_guard q(frameQueueMutex_);
        framesEnd_ = true;
        frameQueueChanged_.notify_all();
    }
    framesThread_.join();  // after the frames of every edge delivered
}

void SimulatedFusionCamera::close() {
    std::lock_guard lock(controlMutex_);
    if (closed_.exchange(true)) return;
    stopLocked();
    dvs_->stopRecording();
    {
        std::lock_guard rec(recordingMutex_);
        recordingFrames_ = false;
        closeFrameWriterLocked();
        releaseHold(recCalibrationHold_);
    }
    dvs_->setStatisticInfoCallback(nullptr);
    {
        std::lock_guard cb(callbackMutex_);
        eventsCallbacks_.clear();
        triggerCallbacks_.clear();
    }
    std::lock_guard cb(frameCallbackMutex_);
    frameCallbacks_.clear();
}

void SimulatedFusionCamera::unplug() {
    dvs_->unplug();
    stop(STREAM_BOTH);
}

void SimulatedFusionCamera::deliverEvents(const Event2D* first, const Event2D* last) {
    if (first == last) return;
    std::lock_guard lock(callbackMutex_);
    for (auto& [id, callback] : eventsCallbacks_)
        callback(first, last);
}

void SimulatedFusionCamera::deliverEdge(const EventTriggerIn& edge) {
    std::lock_guard lock(callbackMutex_);
    for (auto& [id, callback] : triggerCallbacks_)
        callback(edge);
}

void SimulatedFusionCamera::eventsLoop() {
    const uint64_t period = options_.framePeriod_us;
    std::vector<Event2D> batch;
    while (running_.load()) {
        if (!dvs_->getNextEvents(batch)) {
            if (!dvs_->isConnected()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const SimulatedDvsCamera::BatchInfo info = dvs_->lastBatch();
        uint64_t te = nextFrameTime_us_;
        // A batch the inner camera dropped takes its edges and frames along.
        while (te < info.t0_us)
            te += period;
        const Event2D* cur = batch.data();
        const Event2D* const end = cur + batch.size();
        while (te < info.t1_us) {
            const Event2D* split = std::lower_bound(
                cur, end, te, [](const Event2D& e, uint64_t t) { return e.timestamp < t; });
            deliverEvents(cur, split);
            cur = split;
            deliverEdge(EventTriggerIn(0, 1, te));
            {
                std::lock_guard q(frameQueueMutex_);
                frameRequests_.emplace_back(te, te / period);
                frameQueueChanged_.notify_one();
            }
            te += period;
        }
        deliverEvents(cur, end);
        nextFrameTime_us_ = te;
        deliveredUntil_us_.store(info.t1_us);
    }
}

void SimulatedFusionCamera::framesLoop() {
    for (;;) {
        std::pair<uint64_t, uint64_t> request;
        {
            std::unique_lock q(frameQueueMutex_);
            // Requests are a few bytes each: none is dropped, so every edge
            // delivered gets its frame, even one asked for just before a stop.
            frameQueueChanged_.wait(q, [&] { return !frameRequests_.empty() || framesEnd_; });
            if (frameRequests_.empty()) return;
            request = frameRequests_.front();
            frameRequests_.pop_front();
        }
        ApsFrame frame = renderFrame(request.first, request.second);
        {
            std::lock_guard lock(frameCallbackMutex_);
            for (auto& [id, callback] : frameCallbacks_)
                callback(frame);
        }
        {
            std::lock_guard rec(recordingMutex_);
            if (recordingFrames_ && frameWriter_ && request.first >= recApsStart_us_) {
                if (!frameWriter_->write(frame, request.first - recApsStart_us_))
                    closeFrameWriterLocked();
            }
        }
        framesDelivered_.fetch_add(1);
    }
}

ApsFrame SimulatedFusionCamera::renderFrame(uint64_t t_us, uint64_t frame_tag) const {
    const int W = options_.frameWidth, H = options_.frameHeight;
    ApsFrame frame(W, H, frame_tag, t_us);
    const uint32_t barX = uint32_t((t_us * 640 / 1000000) % kEventWidth);
    const uint32_t barY = uint32_t((t_us * 360 / 1000000) % kEventHeight);
    int exposure = 10000, gain = 0;
    apsTool_->getIntParameter("exposure_time", exposure);
    apsTool_->getIntParameter("analog_gain", gain);
    const double light = double(exposure) / 10000.0 * std::pow(10.0, gain / 20.0);
    const uint8_t dark = uint8_t(std::min(255.0, kBackground * light));
    const uint8_t bright = uint8_t(std::min(255.0, kBar * light));
    // The factory placement is a scale and a shift, so columns and rows
    // are independent: one row pattern, and whole bright rows.
    const std::vector<double>& inv = factoryInverse_;
    std::vector<uint8_t> row(size_t(W) * 3, dark);
    for (int X = 0; X < W; ++X) {
        if (inBand(inv[0] * X + inv[2], barX, kBarHalfWidth, kEventWidth))
            std::memset(row.data() + size_t(X) * 3, bright, 3);
    }
    uint8_t* out = frame.data();
    for (int Y = 0; Y < H; ++Y) {
        uint8_t* dst = out + size_t(Y) * size_t(W) * 3;
        if (inBand(inv[4] * Y + inv[5], barY, kBarHalfHeight, kEventHeight))
            std::memset(dst, bright, size_t(W) * 3);
        else
            std::memcpy(dst, row.data(), row.size());
    }
    return frame;
}

bool SimulatedFusionCamera::startRecording(const std::string& directory,
                                           const std::string& base_name, STREAM_TYPE type) {
    std::lock_guard lock(controlMutex_);
    if (closed_.load() || base_name.empty()) return false;
    const fs::path base = fs::path(directory) / base_name;
    const std::string raw = base.string() + ".raw";
    const std::string json = base.string() + ".json";
    const std::string frames = base.string() + ".mp4";
    const uint64_t period = options_.framePeriod_us;
    // The first frame at or after the recording's start: the frames are
    // taken at whole periods of the event clock.
    const uint64_t from = dvs_->streamTime_us();
    const uint64_t apsStart = std::max<uint64_t>(1, (from + period - 1) / period) * period;

    {
        std::lock_guard rec(recordingMutex_);
        if (recordingFrames_) return false;  // one recording at a time
    }
    // The calibration's temporary is made (and its target checked) before the
    // events and frames files are opened and emptied: a refusal leaves a
    // recording there whole. It is held from now on, so while this recording
    // runs no other recorder or tool replaces the calibration beside it.
    SafeOutput out;
    std::string why;
    if (!out.open(json, {}, &why)) {
        std::lock_guard rec(recordingMutex_);
        recStartError_ = "cannot write " + json + ": " + why;
        return false;
    }
    int jsonHold = holdAgainstOtherWriters(out.fd());
    std::unique_ptr<FrameFileWriter> writer;
    if (type != STREAM_DVS && options_.frameWriterFactory) {
        std::string error;
        const int fps = int(std::lround(1000000.0 / double(period)));
        writer = options_.frameWriterFactory(frames, options_.frameWidth, options_.frameHeight, fps,
                                             &error);
        if (!writer) {
            releaseHold(jsonHold);
            std::lock_guard rec(recordingMutex_);
            recStartError_ = error;
            return false;
        }
    }
    {
        std::lock_guard rec(recordingMutex_);
        frameWriter_ = std::move(writer);
        recApsStart_us_ = apsStart;
        recFramesPath_ = frameWriter_ ? frames : std::string();
        recFrameStats_ = {};
        recordingFrames_ = true;
    }
    auto undo = [&] {
        std::lock_guard rec(recordingMutex_);
        recordingFrames_ = false;
        closeFrameWriterLocked();
        releaseHold(jsonHold);
        return false;
    };
    if (!dvs_->startRecording(raw, apsStart, uint16_t(kEventWidth))) {
        const std::string rawError = dvs_->recordingStatus().error;
        undo();
        std::lock_guard rec(recordingMutex_);
        recStartError_ = rawError;
        return false;
    }
    CalibratorParameters calibration;
    getCalibrationParameters(calibration);
    // Written whole through the temporary: never through a link at the name,
    // never into a device.
    const std::string text = paramToJsonText(calibration);
    const bool written = platform::writeAll(out.fd(), text.data(), text.size());
    if (!written || !out.commit(&why)) {
        dvs_->stopRecording();
        undo();
        std::lock_guard rec(recordingMutex_);
        recStartError_ = "cannot write " + json + ": " + (why.empty() ? errnoText(errno) : why);
        return false;
    }
    std::lock_guard rec(recordingMutex_);
    recStartError_.clear();
    recCalibrationHold_ = jsonHold;
    return true;
}

bool SimulatedFusionCamera::stopRecording(STREAM_TYPE) {
    std::lock_guard lock(controlMutex_);
    bool ok = dvs_->stopRecording();
    std::lock_guard rec(recordingMutex_);
    if (!recordingFrames_) return false;
    recordingFrames_ = false;
    if (frameWriter_) {
        ok = closeFrameWriterLocked() && ok;
    } else if (!recFramesPath_.empty()) {
        ok = false;  // the frame file ended early
    }
    releaseHold(recCalibrationHold_);
    return ok;
}

bool SimulatedFusionCamera::closeFrameWriterLocked() {
    if (!frameWriter_) return true;
    const bool ok = frameWriter_->close();
    recFrameStats_.framesWritten = frameWriter_->framesWritten();
    recFrameStats_.framesDropped = frameWriter_->framesDropped();
    recFrameStats_.error = frameWriter_->error();
    if (!ok && recFrameStats_.error.empty()) recFrameStats_.error = "the frame file is incomplete";
    frameWriter_.reset();
    return ok;
}

FrameRecordingStats SimulatedFusionCamera::recordingFrameStats() const {
    std::lock_guard rec(recordingMutex_);
    return recFrameStats_;
}

std::string SimulatedFusionCamera::recordingFramesPath() const {
    std::lock_guard rec(recordingMutex_);
    return recFramesPath_;
}

std::string SimulatedFusionCamera::recordingStartError() const {
    std::lock_guard rec(recordingMutex_);
    return recStartError_;
}

uint64_t SimulatedFusionCamera::recordingApsStart_us() const {
    std::lock_guard rec(recordingMutex_);
    return recApsStart_us_;
}

std::string SimulatedFusionCamera::calibrationFilePath() const {
    return (fs::path(options_.calibrationDirectory) / (options_.serial + ".json")).string();
}

bool SimulatedFusionCamera::uploadCalibrationFile(const std::string& path) {
    CalibratorParameters p;
    if (closed_.load() || !readCalibration(path, p)) return false;
    // Kept through a temporary file and a rename: a failed write leaves the
    // previous calibration in place.
    const fs::path target = calibrationFilePath();
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    const fs::path tmp = target.string() + ".part";
    if (!paramToJsonFile(p, tmp.string())) return false;
    fs::rename(tmp, target, ec);
    if (ec) {
        fs::remove(tmp, ec);
        return false;
    }
    std::lock_guard lock(calibrationMutex_);
    calibration_ = p;
    return true;
}

bool SimulatedFusionCamera::getCalibrationParameters(CalibratorParameters& parameters) {
    std::lock_guard lock(calibrationMutex_);
    parameters = calibration_;
    return true;
}

bool SimulatedFusionCamera::getFirmwareVersion(std::string& version) {
    std::lock_guard lock(calibrationMutex_);
    version = firmware_;
    return true;
}

void SimulatedFusionCamera::setReportedFirmwareVersion(const std::string& version) {
    std::lock_guard lock(calibrationMutex_);
    firmware_ = version.empty() ? kCurrentFirmware : version;
}

std::shared_ptr<CameraTool> SimulatedFusionCamera::makeTool(ToolType type) {
    if (type == ToolType::Aps) return apsTool_;
    return dvs_->getTool(type);
}

}  // namespace korvane
