#include "korvane/sim/SimulatedDvsCamera.h"

#include <algorithm>
#include <utility>

#include "korvane/file/RawWriter.h"

#if defined(__linux__)
#include <pthread.h>
#endif

namespace korvane {

namespace {
// The simulation's threads by name, so profilers and benchmarks can tell
// what the simulated camera itself costs from what its host does.
void nameThisThread(const char* name) {
#if defined(__linux__)
    pthread_setname_np(pthread_self(), name);
#else
    (void)name;
#endif
}
}  // namespace

SimulatedDvsCamera::SimulatedDvsCamera(SimulatedCameraOptions options)
    : options_(std::move(options)),
      clock_(options_.clock ? options_.clock : std::make_shared<SteadyCameraClock>()),
      sceneRate_(options_.eventsPerSecond),
      triggerPeriod_us_(options_.triggerPeriod_us),
      scene_(options_.source ? 0 : options_.eventsPerSecond, options_.seed),
      source_(options_.source),
      filters_(source_ ? source_->width() : scene_.width(),
               source_ ? source_->height() : scene_.height()) {
    appliedSceneRate_ = options_.eventsPerSecond;
    description_.serial = options_.serial;
    description_.product = options_.product;
    description_.manufacturer = "Korvane";
    description_.description =
        !options_.description.empty()
            ? options_.description
            : "Simulated event camera (synthetic scene, no hardware attached), 1280x720";
    description_.connection = !options_.connection.empty() ? options_.connection : "simulated";
    makeTools();
    // Here, on the thread that opens the camera, rather than in the first
    // start(), which a window calls on its GUI thread.
    prepareChunks();
}

SimulatedDvsCamera::~SimulatedDvsCamera() {
    std::lock_guard lock(controlMutex_);
    stopLocked();
    closeRecordingLocked("");
    std::shared_ptr<TriggerCache> cache;
    {
        std::lock_guard sink(sinkMutex_);
        cache.swap(cache_);
    }
}

void SimulatedDvsCamera::makeBiases() {
    // A source's events are already made: the biases would change nothing.
    if (source_) return;
    biases_ = std::make_shared<ParameterTool>();
    biases_->addInt("contrast_on", "ON contrast threshold offset; higher gives fewer ON events",
                    -50, 50, 0, "");
    biases_->addInt("contrast_off", "OFF contrast threshold offset; higher gives fewer OFF events",
                    -50, 50, 0, "");
    biases_->addInt("noise_level", "Background activity offset; lower gives less noise", -50, 50, 0,
                    "");
    biases_->addInt("refractory_period", "Dead time after an event; higher gives fewer events", -50,
                    50, 0, "");
    biases_->addInt("pixel_gain", "Front-end gain; higher gives more events", -50, 50, 0, "");
}

void SimulatedDvsCamera::makeTools() {
    const int W = int(source_ ? source_->width() : scene_.width());
    const int H = int(source_ ? source_->height() : scene_.height());
    makeBiases();

    triggerIn_ = std::make_shared<ParameterTool>();
    for (int c = 0; c < kTriggerChannels; ++c) {
        triggerIn_->addBool("channel_" + std::to_string(c),
                            "Report both edges of trigger input " + std::to_string(c), false);
    }

    antiFlicker_ = std::make_shared<ParameterTool>();
    antiFlicker_->addBool("enable", "Filter light flicker", false);
    antiFlicker_->addInt("low_frequency", "Lowest flicker frequency of the band", 1, 1000, 50,
                         "Hz");
    antiFlicker_->addInt("high_frequency", "Highest flicker frequency of the band", 1, 1000, 520,
                         "Hz");
    antiFlicker_->addEnum("mode", "band_stop removes the band, band_pass keeps only it",
                          {"band_stop", "band_pass"});
    antiFlicker_->setAcceptor([](const ParameterValues& v) {
        return v.intOr("low_frequency", 0) <= v.intOr("high_frequency", 0);
    });

    rateControl_ = std::make_shared<ParameterTool>();
    rateControl_->addBool("enable", "Limit the event rate", false);
    rateControl_->addInt("max_event_rate", "Most events per second delivered", 1000, 1000000000,
                         20000000, "ev/s");

    trailFilter_ = std::make_shared<ParameterTool>();
    trailFilter_->addBool("enable", "Thin bursts of events at one pixel", false);
    trailFilter_->addEnum(
        "type", "first_event keeps a burst's first event, polarity_change also each change",
        {"first_event", "polarity_change"});
    trailFilter_->addInt("threshold", "Events this soon after the pixel's last one are a burst",
                         100, 100000, 10000, "us");

    roi_ = std::make_shared<ParameterTool>();
    roi_->addBool("enable", "Deliver only the events inside the window", false);
    roi_->addInt("x", "Left column of the window", 0, W - 1, 0, "px");
    roi_->addInt("y", "Top row of the window", 0, H - 1, 0, "px");
    roi_->addInt("width", "Width of the window", 1, W, W, "px");
    roi_->addInt("height", "Height of the window", 1, H, H, "px");
    roi_->setAcceptor([W, H](const ParameterValues& v) {
        const int64_t x = v.intOr("x", 0), y = v.intOr("y", 0);
        return x + v.intOr("width", 0) <= W && y + v.intOr("height", 0) <= H;
    });
}

bool SimulatedDvsCamera::isConnected() {
    // A source lost while the camera stands still is told at once too.
    return connected_.load() && (!source_ || source_->present());
}

uint32_t SimulatedDvsCamera::addTriggerInCallback(
    std::function<void(const EventTriggerIn&)> callback) {
    std::lock_guard lock(callbackMutex_);
    uint32_t id = nextCallbackId_++;
    if (nextCallbackId_ == kNoCallback) nextCallbackId_ = 0;
    triggerCallbacks_[id] = std::move(callback);
    return id;
}

void SimulatedDvsCamera::removeTriggerInCallback(uint32_t id) {
    std::lock_guard lock(callbackMutex_);
    triggerCallbacks_.erase(id);
}

void SimulatedDvsCamera::setStatisticInfoCallback(
    std::function<void(const KvStatisticInfo&)> callback) {
    std::lock_guard lock(callbackMutex_);
    statisticsCallback_ = std::move(callback);
}

void SimulatedDvsCamera::setRecordingErrorCallback(
    std::function<void(const std::string&, const std::string&)> callback) {
    std::lock_guard lock(callbackMutex_);
    recordingErrorCallback_ = std::move(callback);
}

void SimulatedDvsCamera::reportRecordingError(const std::string& path, const std::string& reason) {
    std::lock_guard lock(callbackMutex_);
    if (recordingErrorCallback_) recordingErrorCallback_(path, reason);
}

void SimulatedDvsCamera::setBatchInterval(uint64_t interval_us) {
    if (interval_us > 0) batchInterval_us_.store(interval_us);
}

void SimulatedDvsCamera::setEventsPerSecond(uint64_t rate) {
    sceneRate_.store(rate);
}

PixelRect SimulatedDvsCamera::lamp() const {
    // The scene belongs to the camera's thread; the lamp depends only on
    // the rate, so a twin scene tells where it is.
    return SimulatedScene(sceneRate_.load(), 1).lamp();
}

CameraDescription SimulatedDvsCamera::getDescription() const {
    return description_;
}

std::shared_ptr<CameraTool> SimulatedDvsCamera::getTool(ToolType type) {
    switch (type) {
        case ToolType::Biases:
            return biases_;
        case ToolType::TriggerIn:
            return triggerIn_;
        case ToolType::AntiFlicker:
            return antiFlicker_;
        case ToolType::EventTrailFilter:
            return trailFilter_;
        case ToolType::EventRateControl:
            return rateControl_;
        case ToolType::RegionOfInterest:
            return roi_;
        default:
            return nullptr;
    }
}

int SimulatedDvsCamera::start() {
    std::lock_guard lock(controlMutex_);
    if (!connected_.load()) return -1;
    if (running_.load()) return 0;
    // The first batches' memory is made before the stream's time begins: made
    // while streaming, its page faults put a dense stream behind its clock for
    // its first second, and the batches then came in bunches. Mostly done by
    // the constructor already; a start after a change of rate tops it up.
    prepareChunks();
    clock_->resume();
    origin_us_.store(clock_->now_us() - streamTime_.load());
    running_.store(true);
    statsQueue_ = std::make_unique<ChunkQueue>(kStatsQueue_bytes);
    statsThread_ = std::thread([this, from = streamTime_.load()] {
        nameThisThread(kStatsThreadName);
        countStatistics(from);
    });
    thread_ = std::thread([this] {
        nameThisThread(kStreamThreadName);
        run();
    });
    return 0;
}

void SimulatedDvsCamera::stop() {
    std::lock_guard lock(controlMutex_);
    stopLocked();
}

void SimulatedDvsCamera::stopLocked() {
    if (!thread_.joinable()) return;
    running_.store(false);
    clock_->interrupt();
    thread_.join();
    statsQueue_->close();  // what is queued is still counted
    statsThread_.join();
    std::lock_guard dl(deliveryMutex_);
    batches_.clear();
    pendingDue_us_.store(UINT64_MAX);
    deliveryChanged_.notify_all();
}

void SimulatedDvsCamera::unplug() {
    std::lock_guard lock(controlMutex_);
    connected_.store(false);
    stopLocked();
    closeRecordingLocked("camera unplugged");
}

std::shared_ptr<StreamRecorder> SimulatedDvsCamera::takeRecorder(uint64_t& lastSeq) {
    std::lock_guard sink(sinkMutex_);
    lastSeq = dispatchSeq_;  // the last chunk it can have been handed
    return std::exchange(recorder_, nullptr);
}

void SimulatedDvsCamera::closeRecordingLocked(const std::string& reason) {
    uint64_t lastSeq = 0;
    const std::shared_ptr<StreamRecorder> rec = takeRecorder(lastSeq);
    if (!rec) return;
    const bool wasRunning = rec->status().running;
    rec->stop(reason, lastSeq);
    RecordingStatus status = rec->status();
    {
        std::lock_guard sink(sinkMutex_);
        lastRecording_ = status;
    }
    if (wasRunning && !reason.empty()) reportRecordingError(status.path, reason);
}

bool SimulatedDvsCamera::startRecording(const std::string& path) {
    return startRecording(path, 0);
}

bool SimulatedDvsCamera::startRecording(const std::string& path, uint64_t apsStartTimestamp_us,
                                        uint16_t mirrorWidth_px) {
    std::lock_guard lock(controlMutex_);
    auto refuse = [&](const std::string& why) {
        std::lock_guard sink(sinkMutex_);
        lastRecording_ = RecordingStatus{};
        lastRecording_.path = path;
        lastRecording_.error = why;
        return false;
    };
    if (!connected_.load()) return refuse("camera unplugged");
    if (FileIdentity target; source_ && fileIdentity(path, target) && source_->readsFrom(target))
        return refuse("cannot create " + path + ": output is the input");
    {
        std::lock_guard sink(sinkMutex_);
        if (recorder_ && recorder_->status().running) {
            // Refused rather than cut short: the running one keeps going.
            lastRecording_.error = "a recording is already running";
            return false;
        }
    }
    closeRecordingLocked("");  // one that ended early
    // Taken before the sink lock: the cache may be writing a segment out,
    // and the camera's thread must not wait for that. It holds the cached
    // seconds before now, which the start below can only move later.
    CacheSnapshot held = cache_ ? cache_->closedSegments(cache_->windowStart_us(streamTime_.load()))
                                : CacheSnapshot();
    std::lock_guard sink(sinkMutex_);
    std::string error;
    const uint64_t startTime = streamTime_.load();
    auto rec = StreamRecorder::create(
        path, description_.serial, startTime, cache_, dispatchSeq_, std::move(held),
        [this](const std::string& p, const std::string& why) { reportRecordingError(p, why); },
        &error, apsStartTimestamp_us, mirrorWidth_px, source_ ? source_->header() : nullptr);
    if (!rec) {
        lastRecording_ = RecordingStatus{};
        lastRecording_.path = path;
        lastRecording_.error = error;
        return false;
    }
    recorder_ = std::move(rec);
    return true;
}

bool SimulatedDvsCamera::stopRecording() {
    std::lock_guard lock(controlMutex_);
    uint64_t lastSeq = 0;
    const std::shared_ptr<StreamRecorder> rec = takeRecorder(lastSeq);
    if (!rec) return false;
    const bool ok = rec->stop("", lastSeq);
    std::lock_guard sink(sinkMutex_);
    lastRecording_ = rec->status();
    return ok;
}

RecordingStatus SimulatedDvsCamera::recordingStatus() const {
    std::lock_guard sink(sinkMutex_);
    return recorder_ ? recorder_->status() : lastRecording_;
}

size_t SimulatedDvsCamera::recorderMaxQueuedBytes() const {
    std::lock_guard sink(sinkMutex_);
    return recorder_ ? recorder_->maxQueuedBytes() : 0;
}

bool SimulatedDvsCamera::setTriggerCache(uint16_t seconds, const std::string& directory) {
    std::lock_guard lock(controlMutex_);
    std::shared_ptr<TriggerCache> old;
    // A recording still copying from the old cache takes the camera's chunks
    // itself from here on; under the sink lock, so none falls between.
    if (seconds == 0 || directory == ".") {
        std::lock_guard sink(sinkMutex_);
        old.swap(cache_);
        if (recorder_) recorder_->cacheDetached(dispatchSeq_);
        return true;
    }
    if (!TriggerCache::usableDirectory(directory)) return false;
    std::lock_guard sink(sinkMutex_);
    old = std::move(cache_);
    if (recorder_) recorder_->cacheDetached(dispatchSeq_);
    cache_ = std::make_shared<TriggerCache>(uint64_t(seconds) * 1000000, directory, dispatchSeq_,
                                            options_.cacheMemoryCap_bytes);
    return true;
}

std::shared_ptr<TriggerCache> SimulatedDvsCamera::triggerCache() {
    std::lock_guard sink(sinkMutex_);
    return cache_;
}

bool SimulatedDvsCamera::takeNextBatch(Batch& batch) {
    if (!connected_.load() || !running_.load()) return false;
    std::unique_lock dl(deliveryMutex_);
    if (batches_.empty() && clock_->now_us() >= pendingDue_us_.load()) {
        // Due already: the camera's thread is finishing it.
        deliveryChanged_.wait_for(dl, std::chrono::milliseconds(50),
                                  [&] { return !batches_.empty() || !running_.load(); });
    }
    if (batches_.empty()) return false;
    batch = std::move(batches_.front());
    batches_.pop_front();
    lastBatch_ = {batch.t0_us, batch.t1_us, batch.due_us, clock_->now_us()};
    return true;
}

bool SimulatedDvsCamera::getNextEvents(std::vector<Event2D>& events) {
    events.clear();
    Batch batch;
    if (!takeNextBatch(batch)) return false;
    size_t total = 0;
    for (const auto& c : batch.chunks)
        total += c->events.size();
    events.reserve(total);
    for (const auto& c : batch.chunks)
        events.insert(events.end(), c->events.begin(), c->events.end());
    delivered_.fetch_add(1);
    return true;
}

bool SimulatedDvsCamera::visitNextEvents(std::vector<Event2D>& scratch,
                                         const EventPieceVisitor& visit) {
    // The slices are read where they lie: gathering a batch of a dense
    // stream into one vector would copy every event once more.
    scratch.clear();
    Batch batch;
    if (!takeNextBatch(batch)) return false;
    for (const auto& c : batch.chunks)
        if (!c->events.empty()) visit(c->events.data(), c->events.size());
    delivered_.fetch_add(1);
    return true;
}

SimulatedDvsCamera::BatchInfo SimulatedDvsCamera::lastBatch() const {
    std::lock_guard dl(deliveryMutex_);
    return lastBatch_;
}

bool SimulatedDvsCamera::lastBatchSpan(uint64_t& t0_us, uint64_t& t1_us) const {
    std::lock_guard dl(deliveryMutex_);
    t0_us = lastBatch_.t0_us;
    t1_us = lastBatch_.t1_us;
    return true;
}

void SimulatedDvsCamera::refreshSettings() {
    const uint64_t rate = sceneRate_.load();
    if (!source_ && rate != appliedSceneRate_) {
        appliedSceneRate_ = rate;
        scene_.setEventsPerSecond(rate);
    }
    ParameterTool* tools[6] = {biases_.get(),      triggerIn_.get(),   antiFlicker_.get(),
                               trailFilter_.get(), rateControl_.get(), roi_.get()};
    bool changed = false;
    for (int i = 0; i < 6; ++i) {
        const uint64_t v = tools[i] ? tools[i]->version() : 0;
        changed = changed || v != toolVersions_[i];
        toolVersions_[i] = v;
    }
    if (!changed) return;

    if (biases_) {
        const ParameterValues b = biases_->snapshot();
        BiasSettings bias;
        bias.contrastOn = b.intOr("contrast_on", 0);
        bias.contrastOff = b.intOr("contrast_off", 0);
        bias.noiseLevel = b.intOr("noise_level", 0);
        bias.refractoryPeriod = b.intOr("refractory_period", 0);
        bias.pixelGain = b.intOr("pixel_gain", 0);
        scene_.setBiases(bias);
    }

    const ParameterValues t = triggerIn_->snapshot();
    for (int c = 0; c < kTriggerChannels; ++c)
        channelEnabled_[c] = t.boolOr("channel_" + std::to_string(c), false);

    FilterSettings f;
    const ParameterValues af = antiFlicker_->snapshot();
    f.antiFlickerEnabled = af.boolOr("enable", false);
    f.antiFlickerLow_hz = uint32_t(af.intOr("low_frequency", 50));
    f.antiFlickerHigh_hz = uint32_t(af.intOr("high_frequency", 520));
    f.antiFlickerBandPass = af.enumOr("mode", "") == "band_pass";
    const ParameterValues rc = rateControl_->snapshot();
    f.rateControlEnabled = rc.boolOr("enable", false);
    f.maxEventRate = uint64_t(rc.intOr("max_event_rate", 20000000));
    const ParameterValues tf = trailFilter_->snapshot();
    f.trailEnabled = tf.boolOr("enable", false);
    f.trailKeepsPolarityChanges = tf.enumOr("type", "") == "polarity_change";
    f.trailThreshold_us = uint32_t(tf.intOr("threshold", 10000));
    const ParameterValues r = roi_->snapshot();
    f.roiEnabled = r.boolOr("enable", false);
    f.roi = {uint32_t(r.intOr("x", 0)), uint32_t(r.intOr("y", 0)), uint32_t(r.intOr("width", 0)),
             uint32_t(r.intOr("height", 0))};
    filterSettings_ = f;
}

void SimulatedDvsCamera::addTriggers(uint64_t t0_us, uint64_t t1_us,
                                     std::vector<EventTriggerIn>& out) const {
    if (const uint64_t frame = options_.frameEdgePeriod_us; frame > 0) {
        for (uint64_t t = std::max<uint64_t>(1, (t0_us + frame - 1) / frame) * frame; t < t1_us;
             t += frame)
            out.emplace_back(int16_t(0), int16_t(1), t);
    }
    const uint64_t period = triggerPeriod_us_.load();
    if (period < 2) {
        std::sort(out.begin(), out.end(), [](const EventTriggerIn& a, const EventTriggerIn& b) {
            return a.timestamp < b.timestamp || (a.timestamp == b.timestamp && a.id < b.id);
        });
        return;
    }
    for (int c = 0; c < kTriggerChannels; ++c) {
        if (!channelEnabled_[c]) continue;
        // Rising at k * period + offset, falling half a period later.
        const uint64_t offset = uint64_t(c) * period / 4;
        for (int edge = 0; edge < 2; ++edge) {
            const uint64_t phase = offset + (edge == 0 ? 0 : period / 2);
            uint64_t k = t0_us > phase ? (t0_us - phase + period - 1) / period : 0;
            for (uint64_t t = k * period + phase; t < t1_us; t += period) {
                if (t >= t0_us) out.emplace_back(int16_t(c), int16_t(edge == 0 ? 1 : 0), t);
            }
        }
    }
    std::sort(out.begin(), out.end(), [](const EventTriggerIn& a, const EventTriggerIn& b) {
        return a.timestamp < b.timestamp || (a.timestamp == b.timestamp && a.id < b.id);
    });
}

void SimulatedDvsCamera::dispatch(const std::shared_ptr<StreamChunk>& chunk) {
    std::shared_ptr<StreamRecorder> rec;
    std::shared_ptr<TriggerCache> cache;
    {
        std::lock_guard sink(sinkMutex_);
        chunk->seq = ++dispatchSeq_;
        rec = recorder_;
        cache = cache_;
    }
    if (cache) cache->push(chunk);
    if (rec) rec->push(chunk);
}

void SimulatedDvsCamera::publish(Batch&& batch) {
    std::lock_guard dl(deliveryMutex_);
    size_t queuedBytes = batch.bytes;
    for (const auto& b : batches_)
        queuedBytes += b.bytes;
    // Nobody took them: the oldest go, as a camera's buffer overflows.
    while (!batches_.empty() &&
           (batches_.size() >= kMaxQueuedBatches || queuedBytes > kMaxQueuedBatchBytes)) {
        queuedBytes -= batches_.front().bytes;
        batches_.pop_front();
        dropped_.fetch_add(1);
    }
    batches_.push_back(std::move(batch));
    deliveryChanged_.notify_all();
}

void SimulatedDvsCamera::countStatistics(uint64_t from_us) {
    uint64_t end = from_us + 1000000, events = 0, bytes = 0;
    std::vector<TriggerRecord> edges;
    while (ChunkPtr chunk = statsQueue_->pop(std::chrono::hours(1))) {
        const auto& ev = chunk->events;
        placeEdgesByTime(ev.data(), ev.size(), chunk->triggers, edges);
        bytes += sizeCounter_.addChunk(ev.data(), ev.size(), edges);
        events += ev.size();
        if (chunk->t1_us >= end) {
            std::lock_guard lock(callbackMutex_);
            if (statisticsCallback_) statisticsCallback_(KvStatisticInfo(bytes, events));
            events = bytes = 0;
            end = chunk->t1_us + 1000000;
        }
    }
}

void SimulatedDvsCamera::makeSlice(uint64_t t0, uint64_t t1, StreamChunk& chunk) {
    chunk.t0_us = t0;
    chunk.t1_us = t1;
    if (source_) {
        source_->generate(t0, t1, chunk.events, chunk.triggers);
        // The recorded edges of the channels switched on, as a camera's
        // trigger inputs report only those.
        std::erase_if(chunk.triggers, [&](const EventTriggerIn& e) {
            return e.id < 0 || e.id >= kTriggerChannels || !channelEnabled_[e.id];
        });
        filters_.apply(filterSettings_, t0, t1, chunk.events, 0);
        return;
    }
    chunk.events.reserve(size_t(appliedSceneRate_ * (t1 - t0) / 1000000 * 5 / 4) + 64);
    addTriggers(t0, t1, chunk.triggers);
    // In pieces small enough that the filters find the events still in cache.
    for (uint64_t a = t0; a < t1; a += kPiece_us) {
        const uint64_t b = std::min(a + kPiece_us, t1);
        const size_t first = chunk.events.size();
        scene_.generate(a, b, chunk.events);
        filters_.apply(filterSettings_, a, b, chunk.events, first);
    }
}

// The source went away while streaming: as unplug(), but from the stream's
// own thread, which cannot take the control lock (stop() holds it while
// joining this thread). Later starts and recordings are refused, since the
// camera is no longer connected; stop() or the destructor join the thread.
void SimulatedDvsCamera::loseSourceOnStreamThread() {
    connected_.store(false);
    uint64_t lastSeq = 0;
    const std::shared_ptr<StreamRecorder> rec = takeRecorder(lastSeq);
    if (rec) {
        const bool wasRunning = rec->status().running;
        rec->stop("camera unplugged", lastSeq);
        RecordingStatus status = rec->status();
        {
            std::lock_guard sink(sinkMutex_);
            lastRecording_ = status;
        }
        if (wasRunning) reportRecordingError(status.path, "camera unplugged");
    }
    std::lock_guard dl(deliveryMutex_);
    batches_.clear();
    // Last: who sees the stream ended finds the recording closed.
    running_.store(false);
    deliveryChanged_.notify_all();
}

std::shared_ptr<StreamChunk> SimulatedDvsCamera::newChunk() {
    std::unique_ptr<StreamChunk> chunk;
    {
        std::lock_guard lock(recycler_->mutex);
        if (!recycler_->free.empty()) {
            chunk = std::move(recycler_->free.back());
            recycler_->free.pop_back();
            recycler_->freeBytes -= chunk->memoryBytes();
        }
    }
    if (chunk) {
        chunk->seq = chunk->t0_us = chunk->t1_us = 0;
        chunk->events.clear();
        chunk->triggers.clear();
    } else {
        chunk = std::make_unique<StreamChunk>();
    }
    // Whichever thread lets go of it last hands it back.
    return std::shared_ptr<StreamChunk>(
        chunk.release(), [home = std::weak_ptr<ChunkRecycler>(recycler_)](StreamChunk* p) {
            std::unique_ptr<StreamChunk> owned(p);
            if (const auto recycler = home.lock()) {
                const size_t bytes = owned->memoryBytes();
                std::lock_guard lock(recycler->mutex);
                if (recycler->free.size() < ChunkRecycler::kKept &&
                    recycler->freeBytes + bytes <= ChunkRecycler::kKeptBytes) {
                    recycler->freeBytes += bytes;
                    recycler->free.push_back(std::move(owned));
                }
            }
        });
}

void SimulatedDvsCamera::prepareChunks() {
    if (source_) return;  // a source's slices have no size known beforehand
    const uint64_t rate = std::min(sceneRate_.load(), kMaxEventsPerSecond);
    const size_t events = size_t(rate * kSlice_us / 1000000 * 5 / 4) + 64;
    const size_t wanted =
        std::min<size_t>(2 * (batchInterval_us_.load() / kSlice_us + 2), ChunkRecycler::kKept);
    std::vector<std::unique_ptr<StreamChunk>> made;
    size_t bytes = 0, missing = wanted;
    {
        std::lock_guard lock(recycler_->mutex);
        for (const auto& chunk : recycler_->free)
            if (missing > 0 && chunk->events.capacity() >= events) --missing;
        bytes = recycler_->freeBytes;
    }
    const size_t chunkBytes = events * sizeof(Event2D) + sizeof(StreamChunk);
    for (size_t n = 0; n < missing && bytes + chunkBytes <= ChunkRecycler::kKeptBytes; ++n) {
        auto chunk = std::make_unique<StreamChunk>();
        // Written once so that its pages are there before the stream needs them.
        chunk->events.resize(events);
        chunk->events.clear();
        bytes += chunk->memoryBytes();
        made.push_back(std::move(chunk));
    }
    std::lock_guard lock(recycler_->mutex);
    for (auto& chunk : made) {
        if (recycler_->free.size() >= ChunkRecycler::kKept) break;
        recycler_->freeBytes += chunk->memoryBytes();
        recycler_->free.push_back(std::move(chunk));
    }
}

void SimulatedDvsCamera::run() {
    uint64_t t = streamTime_.load();
    const uint64_t origin = origin_us_.load();
    Batch batch;
    batch.t0_us = t;
    uint64_t interval = batchInterval_us_.load();  // fixed for each batch when it begins
    uint64_t statsEnd = t + 1000000;               // slices end on the statistics' seconds
    while (running_.load()) {
        const uint64_t streamEnd = streamEnd_us_.load();
        if (t >= streamEnd) {
            // Held still: the partial batch is told, then the thread waits
            // for a stop (or a later end).
            if (t > batch.t0_us) {
                batch.t1_us = t;
                batch.due_us = origin + t;
                publish(std::move(batch));
                batch = Batch{};
                batch.t0_us = t;
            }
            pendingDue_us_.store(UINT64_MAX);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const uint64_t batchEnd = batch.t0_us + interval;
        pendingDue_us_.store(origin + batchEnd);
        const uint64_t sliceEnd = std::min({t + kSlice_us, batchEnd, statsEnd, streamEnd});
        if (!clock_->sleepUntil(origin + sliceEnd) || !running_.load()) break;

        if (source_ && !source_->present()) {
            loseSourceOnStreamThread();
            break;
        }
        refreshSettings();
        auto chunk = newChunk();
        makeSlice(t, sliceEnd, *chunk);
        eventsStreamed_.fetch_add(chunk->events.size());
        dispatch(chunk);
        batch.bytes += chunk->memoryBytes();
        batch.chunks.push_back(chunk);
        t = sliceEnd;

        if (!chunk->triggers.empty()) {
            std::lock_guard lock(callbackMutex_);
            // By id, looked up each time: a callback may remove itself or another.
            std::vector<uint32_t> ids;
            for (const auto& entry : triggerCallbacks_)
                ids.push_back(entry.first);
            for (const auto& edge : chunk->triggers) {
                for (uint32_t id : ids) {
                    auto it = triggerCallbacks_.find(id);
                    if (it == triggerCallbacks_.end() || !it->second) continue;
                    auto callback = it->second;  // survives its own removal
                    callback(edge);
                }
            }
        }
        if (t >= statsEnd) statsEnd = t + 1000000;
        // The figures are counted on a thread of their own, off the stream's path.
        statsQueue_->push(chunk, std::chrono::milliseconds(2000));
        // Last, so a batch's edges and figures are told before it can be taken.
        if (t >= batchEnd) {
            batch.t1_us = t;
            batch.due_us = origin + t;
            publish(std::move(batch));
            batch = Batch{};
            batch.t0_us = t;
            interval = batchInterval_us_.load();
        }
        streamTime_.store(t);
    }
    pendingDue_us_.store(UINT64_MAX);
}

}  // namespace korvane
