#pragma once

// Pairs a fusion camera's frames with the events of its trigger periods: the
// n-th frame with the events between the (n-1)-th and the n-th trigger edge
// of polarity 1, purely by order of arrival, handed to one callback.
//
// Both waiting queues are bounded: a frame sensor running without trigger
// edges (a loose cable), or edges without frames, would otherwise pile up
// until memory runs out. When a queue is full its oldest entry is dropped
// and counted; the newest are kept. The period in progress is bounded too
// (without edges it would never end): past max_period_events its older
// events are dropped and counted.
//
// Threads: addApsData(), addSyncSignal(), clear() and the callback setters
// are serialised by one lock, and the callback runs inside it on the thread
// of the call that completed a pair (it must not call back into this
// object, and must be done with the event pointers when it returns: the
// period's buffer is then recycled). addDvsData() takes no lock: events and
// trigger edges must come from one thread, as our fusion cameras deliver
// them, and addDvsData() must never run at the same time as clear().
// Memory: the event buffers are reserved up front but not touched, so an
// idle processor holds address space, not resident memory.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "KvObjectPool.h"
#include "KvRecords.h"

namespace korvane {

class DvsApsFusionProccessor {
public:
    using FusionCallback = std::function<void(ApsFrame& frame, Event2D* first, Event2D* last)>;

    static constexpr uint64_t kPoolBuffers = 10;
    static constexpr size_t kBufferEvents = 0x300000;  // 3,145,728 events per period buffer
    static constexpr size_t kDefaultMaxFrames = 4;     // 4 x 24.9 MB at 3840 x 2160
    // Half a second at 30 frames/s: frames come a little after their edges,
    // and on a loaded machine the frame side was seen 7 periods behind.
    static constexpr size_t kDefaultMaxPeriods = 16;

    explicit DvsApsFusionProccessor(size_t max_frames = kDefaultMaxFrames,
                                    size_t max_periods = kDefaultMaxPeriods,
                                    size_t max_period_events = kBufferEvents);
    ~DvsApsFusionProccessor();
    DvsApsFusionProccessor(const DvsApsFusionProccessor&) = delete;
    DvsApsFusionProccessor& operator=(const DvsApsFusionProccessor&) = delete;

    // Queues a deep copy of the frame and pairs what can be paired.
    void addApsData(ApsFrame frame);
    // Appends to the period in progress. Same thread as addSyncSignal().
    void addDvsData(const Event2D* first, const Event2D* last);
    // An edge of polarity 1 ends the period in progress; others do nothing.
    void addSyncSignal(const EventTriggerIn& edge);
    void addFusionDataCallback(FusionCallback callback);
    void removeFusionDataCallback();
    // Drops every queued frame and period and empties the period in progress.
    void clear();
    // Pairs queued frames with queued periods.
    void fusionData();

    // Entries dropped because a queue was full, since construction.
    uint64_t droppedFrames() const;
    uint64_t droppedPeriods() const;
    // Events dropped from periods longer than max_period_events.
    uint64_t droppedEvents() const { return droppedEvents_.load(); }
    size_t queuedFrames() const;
    size_t queuedPeriods() const;

private:
    using Segment = std::shared_ptr<EventVector>;

    Segment acquireEmpty();
    void fusionDataLocked();

    const size_t maxFrames_, maxPeriods_, maxPeriodEvents_;
    std::unique_ptr<KvObjectPool<EventVector>> bufferPool_;
    mutable std::mutex mutex_;
    std::deque<Segment> eventSegments_;
    Segment currentSegment_;
    std::deque<ApsFrame> frameQueue_;
    FusionCallback fusionCallback_;
    uint64_t droppedFrames_ = 0;
    uint64_t droppedPeriods_ = 0;
    std::atomic<uint64_t> droppedEvents_{0};  // written by the events' thread only
};

}  // namespace korvane
