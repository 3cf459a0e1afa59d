#pragma once

// A simulated event camera: streams a synthetic scene at the pace of its
// clock (wall time unless a test gives it a manual clock), with setting
// tools whose parameters change the stream, trigger inputs, statistics,
// recording and the trigger cache. It can be unplugged, like a real one.
//
// Given an EventSource in its options, the camera streams what the source
// makes instead of the scene (the replay camera: a recording played as a
// camera), with the source's geometry and edges; it then has no biases
// (they shape only the scene), and a source that reports itself gone
// unplugs the camera from its own thread.
//
// Threads: the camera's own thread makes the stream in slices of at most
// kSlice_us, runs the filters, feeds the recording and the cache, and
// calls the trigger callbacks; a statistics thread counts the figures and
// calls the statistics callback. Public operations may come from any thread; start,
// stop, recording and cache changes are serialised by one lock. The
// destructor stops everything, closes a running recording cleanly and
// removes the cache's files.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "korvane/camera/CameraClock.h"
#include "korvane/camera/DvsCamera.h"
#include "korvane/camera/Evt3SizeCounter.h"
#include "korvane/camera/ParameterTool.h"
#include "korvane/sim/SimulatedScene.h"
#include "korvane/camera/StreamChunk.h"
#include "korvane/camera/StreamFilters.h"
#include "korvane/camera/StreamRecorder.h"
#include "korvane/camera/TriggerCache.h"
#include "korvane/file/RawHeader.h"
#include "korvane/file/SafeOutput.h"

namespace korvane {

// What a camera streams in place of the synthetic scene. Called from the
// camera's thread only, with slices that follow each other without gaps.
class EventSource {
public:
    virtual ~EventSource() = default;
    virtual uint32_t width() const = 0;
    virtual uint32_t height() const = 0;
    // Appends the events and trigger edges of camera time [t0, t1), each in
    // time order.
    virtual void generate(uint64_t t0_us, uint64_t t1_us, std::vector<Event2D>& events,
                          std::vector<EventTriggerIn>& triggers) = 0;
    // False once the source is lost for good (its file was removed).
    virtual bool present() { return true; }
    // The geometry and sensor a recording of the stream states; null: ours.
    virtual const RawHeader* header() const { return nullptr; }
    // The file the stream is read from, which a recording must not overwrite.
    virtual bool readsFrom(const FileIdentity&) const { return false; }
};

struct SimulatedCameraOptions {
    std::string serial = "KVSIM0001";
    std::string product = "EVK4";
    uint64_t eventsPerSecond = 2000000;   // of the scene with default biases
    uint64_t triggerPeriod_us = 1000000;  // of the trigger-in signal, both edges
    uint64_t seed = 1;
    std::shared_ptr<CameraClock> clock;  // null: wall time
    size_t cacheMemoryCap_bytes = TriggerCache::kDefaultMemoryCap_bytes;
    // > 0: a frame sensor's exposure edges in the stream, as a fusion
    // camera's own stream carries them: rising, on channel 0, at every whole
    // multiple of the period from one period on. Recordings keep them.
    uint64_t frameEdgePeriod_us = 0;
    // Null: the synthetic scene. Otherwise the stream comes from the source.
    std::shared_ptr<EventSource> source;
    // Empty: the simulated camera's own words.
    std::string description;
    std::string connection;
};

class SimulatedDvsCamera : public DvsCamera {
public:
    static constexpr uint64_t kSlice_us = 1000;
    static constexpr uint64_t kPiece_us = 125;
    static constexpr int kTriggerChannels = 2;
    static constexpr size_t kMaxQueuedBatches = 8;
    static constexpr size_t kMaxQueuedBatchBytes = 256u << 20;
    static constexpr uint64_t kDefaultBatchInterval_us = 33333;
    static constexpr size_t kStatsQueue_bytes = 256u << 20;
    static constexpr uint64_t kMaxEventsPerSecond = SimulatedScene::kMaxEventsPerSecond;
    // The names the stream's and the statistics' threads carry where the
    // system names threads (Linux): what the simulation costs is theirs.
    static constexpr const char* kStreamThreadName = "sim-stream";
    static constexpr const char* kStatsThreadName = "sim-stats";

    explicit SimulatedDvsCamera(SimulatedCameraOptions options);
    ~SimulatedDvsCamera() override;

    bool isConnected() override;
    uint32_t addTriggerInCallback(std::function<void(const EventTriggerIn&)> callback) override;
    void removeTriggerInCallback(uint32_t id) override;
    bool getNextEvents(std::vector<Event2D>& events) override;
    bool visitNextEvents(std::vector<Event2D>& scratch, const EventPieceVisitor& visit) override;
    void setBatchInterval(uint64_t interval_us) override;
    int start() override;
    void stop() override;
    bool startRecording(const std::string& path) override;
    bool setTriggerCache(uint16_t seconds, const std::string& directory) override;
    bool stopRecording() override;
    void setStatisticInfoCallback(std::function<void(const KvStatisticInfo&)> callback) override;
    CameraDescription getDescription() const override;
    std::shared_ptr<CameraTool> getTool(ToolType type) override;
    RecordingStatus recordingStatus() const override;
    void setRecordingErrorCallback(
        std::function<void(const std::string& path, const std::string& reason)> callback) override;

    // The same for the event side of a fusion recording: the header names
    // the event-clock time of its first frame; mirrorWidth_px > 0 stores
    // columns mirrored (see StreamRecorder::create; no trigger cache then).
    bool startRecording(const std::string& path, uint64_t apsStartTimestamp_us,
                        uint16_t mirrorWidth_px = 0);

    // Simulation controls, for tests and kvcam.
    // Pulls the cable: streaming ends, a recording is closed (readable) with
    // the error "camera unplugged", and the camera cannot start again.
    void unplug();
    // Clamped to kMaxEventsPerSecond.
    void setEventsPerSecond(uint64_t rate);
    // Period of the trigger-in signal (both channels); below 2 us no edges.
    void setTriggerPeriod(uint64_t period_us) { triggerPeriod_us_.store(period_us); }
    // Camera time at which the stream holds still: the batch up to it is
    // told, then nothing more is made. A recording of N seconds then ends at
    // exactly N seconds of camera time however late its owner stops it.
    void setStreamEnd_us(uint64_t t_us) { streamEnd_us_.store(t_us); }
    PixelRect lamp() const;
    bool isStreaming() const { return running_.load(); }

    struct BatchInfo {
        uint64_t t0_us = 0, t1_us = 0;  // camera time
        uint64_t due_us = 0;            // clock time at which the batch was complete
        uint64_t received_us = 0;       // clock time at which getNextEvents returned it
    };
    // The batch the last successful getNextEvents returned.
    BatchInfo lastBatch() const;
    uint64_t batchesDelivered() const { return delivered_.load(); }
    uint64_t batchesDropped() const override { return dropped_.load(); }
    uint64_t eventsStreamed() const { return eventsStreamed_.load(); }
    uint64_t streamTime_us() const { return streamTime_.load(); }
    bool streamTime(uint64_t& t_us) const override {
        t_us = streamTime_.load();
        return true;
    }
    bool lastBatchSpan(uint64_t& t0_us, uint64_t& t1_us) const override;
    CameraClock& clock() { return *clock_; }
    // Figures of the cache and the recorder, for benchmarks and tests.
    std::shared_ptr<TriggerCache> triggerCache();
    size_t recorderMaxQueuedBytes() const;

private:
    struct Batch {
        uint64_t t0_us = 0, t1_us = 0, due_us = 0;
        std::vector<ChunkPtr> chunks;
        size_t bytes = 0;
    };

    void makeTools();
    void makeBiases();
    void run();
    // A chunk to fill: one given back by its last holder when there is one.
    std::shared_ptr<StreamChunk> newChunk();
    // Before streaming: fills the recycler with chunks for two batches of
    // the scene's slices, their memory already touched; does nothing when
    // it holds that many already.
    void prepareChunks();
    void countStatistics(uint64_t from_us);
    void refreshSettings();
    void addTriggers(uint64_t t0_us, uint64_t t1_us, std::vector<EventTriggerIn>& out) const;
    void dispatch(const std::shared_ptr<StreamChunk>& chunk);
    void publish(Batch&& batch);
    // Takes the next batch as getNextEvents() does; false when none is due.
    bool takeNextBatch(Batch& batch);
    void stopLocked();
    // The recorder, taken from the stream, and the last chunk it can have
    // been handed (what stops it passes on, so it ends there).
    std::shared_ptr<StreamRecorder> takeRecorder(uint64_t& lastSeq);
    void closeRecordingLocked(const std::string& reason);
    void reportRecordingError(const std::string& path, const std::string& reason);
    void makeSlice(uint64_t t0_us, uint64_t t1_us, StreamChunk& chunk);
    void loseSourceOnStreamThread();

    SimulatedCameraOptions options_;
    std::shared_ptr<CameraClock> clock_;
    CameraDescription description_;
    std::shared_ptr<ParameterTool> biases_, triggerIn_, antiFlicker_, trailFilter_, rateControl_,
        roi_;

    // Serialises start, stop, unplug, recording and cache changes.
    mutable std::mutex controlMutex_;
    std::thread thread_;       // makes the stream
    std::thread statsThread_;  // counts its figures
    std::unique_ptr<ChunkQueue> statsQueue_;
    std::atomic<bool> running_{false};
    std::atomic<bool> connected_{true};
    std::atomic<uint64_t> batchInterval_us_{kDefaultBatchInterval_us};
    std::atomic<uint64_t> origin_us_{0};  // clock time of stream time 0
    std::atomic<uint64_t> streamTime_{0};
    std::atomic<uint64_t> pendingDue_us_{UINT64_MAX};  // clock time the batch being filled is due
    std::atomic<uint64_t> sceneRate_;
    std::atomic<uint64_t> streamEnd_us_{UINT64_MAX};
    std::atomic<uint64_t> triggerPeriod_us_;
    std::atomic<uint64_t> delivered_{0}, dropped_{0}, eventsStreamed_{0};

    // Chunks nobody holds any more, kept for the next slices: a fresh
    // megabyte a millisecond from the allocator costs page faults that a
    // real camera's host never pays. Enough are kept for the slices of
    // about five batches of the default interval (the one being filled and
    // those a busy live view or statistics count still hold), so a steady
    // stream allocates nothing even while its readers lag; the byte cap
    // bounds what a very dense stream keeps. Chunks outliving the camera
    // just go.
    struct ChunkRecycler {
        static constexpr size_t kKept = 160;
        static constexpr size_t kKeptBytes = 160u << 20;
        std::mutex mutex;
        std::vector<std::unique_ptr<StreamChunk>> free;
        size_t freeBytes = 0;
    };
    std::shared_ptr<ChunkRecycler> recycler_ = std::make_shared<ChunkRecycler>();

    // Camera thread only (the counter: statistics thread only).
    SimulatedScene scene_;
    std::shared_ptr<EventSource> source_;
    StreamFilters filters_;
    Evt3SizeCounter sizeCounter_;
    uint64_t appliedSceneRate_ = 0;
    uint64_t toolVersions_[6] = {~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull};
    FilterSettings filterSettings_;
    bool channelEnabled_[kTriggerChannels] = {};

    mutable std::mutex deliveryMutex_;
    std::condition_variable deliveryChanged_;
    std::deque<Batch> batches_;
    BatchInfo lastBatch_;

    // What each chunk is handed to besides the live view.
    mutable std::mutex sinkMutex_;
    std::shared_ptr<StreamRecorder> recorder_;
    std::shared_ptr<TriggerCache> cache_;
    uint64_t dispatchSeq_ = 0;
    RecordingStatus lastRecording_;

    std::recursive_mutex callbackMutex_;
    std::map<uint32_t, std::function<void(const EventTriggerIn&)>> triggerCallbacks_;
    uint32_t nextCallbackId_ = 0;
    std::function<void(const KvStatisticInfo&)> statisticsCallback_;
    std::function<void(const std::string&, const std::string&)> recordingErrorCallback_;
};

}  // namespace korvane
