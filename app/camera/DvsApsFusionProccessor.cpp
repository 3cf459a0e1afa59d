#include "DvsApsFusionProccessor.h"

#include <algorithm>
#include <utility>

namespace korvane {

DvsApsFusionProccessor::DvsApsFusionProccessor(size_t max_frames, size_t max_periods,
                                               size_t max_period_events)
    : maxFrames_(std::max<size_t>(1, max_frames)),
      maxPeriods_(std::max<size_t>(1, max_periods)),
      maxPeriodEvents_(std::max<size_t>(1, max_period_events)),
      bufferPool_(std::make_unique<KvObjectPoolWrapper<EventVector>>(0)) {
    // Take all buffers at once so the pool makes them, reserve their capacity
    // (address space only; pages are touched when events arrive), give them back.
    std::vector<Segment> warm;
    for (uint64_t i = 0; i < kPoolBuffers; ++i) {
        warm.push_back(bufferPool_->acquire());
        warm.back()->reserve(kBufferEvents);
    }
    warm.clear();
    currentSegment_ = acquireEmpty();
}

DvsApsFusionProccessor::~DvsApsFusionProccessor() {
    std::lock_guard<std::mutex> lock(mutex_);
    fusionCallback_ = nullptr;
    frameQueue_.clear();
    eventSegments_.clear();
    currentSegment_.reset();
}

DvsApsFusionProccessor::Segment DvsApsFusionProccessor::acquireEmpty() {
    Segment s = bufferPool_->acquire();
    s->clear();  // the pool hands buffers back with their old contents
    if (s->capacity() < kBufferEvents) s->reserve(kBufferEvents);
    return s;
}

void DvsApsFusionProccessor::addApsData(ApsFrame frame) {
    ApsFrame own = frame.clone();  // the driver's buffer is not ours to keep
    std::lock_guard<std::mutex> lock(mutex_);
    frameQueue_.push_back(std::move(own));
    while (frameQueue_.size() > maxFrames_) {
        frameQueue_.pop_front();
        ++droppedFrames_;
    }
    fusionDataLocked();
}

void DvsApsFusionProccessor::addDvsData(const Event2D* first, const Event2D* last) {
    if (!first || last <= first) return;
    EventVector& period = *currentSegment_;
    size_t n = size_t(last - first);
    if (period.size() + n > maxPeriodEvents_) {
        // Far longer than any frame period: its edge is not coming (a loose
        // trigger cable). Keep the newest events; dropping whole batches
        // keeps this cheap.
        uint64_t dropped = period.size();
        period.clear();
        if (n > maxPeriodEvents_) {
            dropped += n - maxPeriodEvents_;
            first = last - maxPeriodEvents_;
            n = maxPeriodEvents_;
        }
        droppedEvents_.fetch_add(dropped, std::memory_order_relaxed);
    }
    period.insert(period.end(), first, last);
}

void DvsApsFusionProccessor::addSyncSignal(const EventTriggerIn& edge) {
    if (edge.polarity != 1) return;
    Segment fresh = acquireEmpty();
    std::lock_guard<std::mutex> lock(mutex_);
    eventSegments_.push_back(std::move(currentSegment_));
    currentSegment_ = std::move(fresh);
    while (eventSegments_.size() > maxPeriods_) {
        eventSegments_.pop_front();
        ++droppedPeriods_;
    }
    fusionDataLocked();
}

void DvsApsFusionProccessor::addFusionDataCallback(FusionCallback callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    fusionCallback_ = std::move(callback);
}

void DvsApsFusionProccessor::removeFusionDataCallback() {
    std::lock_guard<std::mutex> lock(mutex_);
    fusionCallback_ = nullptr;
}

void DvsApsFusionProccessor::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    frameQueue_.clear();
    eventSegments_.clear();
    currentSegment_->clear();
}

void DvsApsFusionProccessor::fusionData() {
    std::lock_guard<std::mutex> lock(mutex_);
    fusionDataLocked();
}

void DvsApsFusionProccessor::fusionDataLocked() {
    while (!frameQueue_.empty() && !eventSegments_.empty()) {
        ApsFrame frame = frameQueue_.front();
        frameQueue_.pop_front();
        Segment period = std::move(eventSegments_.front());
        eventSegments_.pop_front();
        if (fusionCallback_) {
            Event2D* first = period->data();
            fusionCallback_(frame, first, first + period->size());
        }
        // period goes back to the pool here when nobody else holds it
    }
}

uint64_t DvsApsFusionProccessor::droppedFrames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return droppedFrames_;
}

uint64_t DvsApsFusionProccessor::droppedPeriods() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return droppedPeriods_;
}

size_t DvsApsFusionProccessor::queuedFrames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frameQueue_.size();
}

size_t DvsApsFusionProccessor::queuedPeriods() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return eventSegments_.size();
}

}  // namespace korvane
