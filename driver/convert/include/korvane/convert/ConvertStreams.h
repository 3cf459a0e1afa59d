#pragma once

// The two halves of a conversion: a source that delivers a recording's
// events and trigger edges of a time range in order, and a sink that writes
// them in one output format. convertRecording (Convert.h) pairs one of each.
//
// Ownership: the caller owns sources and sinks; a batch's pointers are valid
// only during the call that hands them over.
// Threads: one thread uses a source or a sink at a time.
// Failures: false with a one-line reason in *error. A sink writes to a
// temporary and makes the target appear only in finish(); a sink destroyed
// or abandoned before that leaves no file and an existing target untouched.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KvRecords.h"
#include "korvane/file/EventDecoder.h"
#include "korvane/file/RawHeader.h"
#include "korvane/file/SafeOutput.h"

namespace korvane {

// What every format keeps about a recording besides its events.
struct RecordingMeta {
    uint32_t width = 1280;
    uint32_t height = 720;
    bool geometryKnown = false;  // false: the defaults above, nothing read
    std::string serialNumber;
    std::string sourceFormat;     // encoding of the original recording: "evt3", "evt2"
    uint64_t sourceStart_us = 0;  // the original recording's dvs_start_timestamp
    // A fusion recording's aps_start_timestamp (its columns are stored
    // mirrored, and players turn them back); 0 for any other.
    uint64_t apsStart_us = 0;
    // Sensor description lines of a RAW header; empty when unknown.
    std::string generation;
    std::string sensorGeneration;
    std::string sensorName;
    // A RAW source's own header: a RAW output keeps its facts and invents
    // none, as a cut does.
    std::optional<RawHeader> rawHeader;
};

// One batch: events in order, and the trigger edges that came with them; an
// edge's eventIndex is the position in this batch before which it lies
// (count: after every event of the batch). `stepBits` is stepBitsOf() over
// the batch's events, where the source worked it out while the events were
// still in cache, else kStepsUnknown. Returning false stops the pass.
using BatchFn = std::function<bool(const Event2D* events, size_t count,
                                   const std::vector<TriggerRecord>& triggers, uint64_t stepBits)>;

// Every bit set: what the OR of steps is taken to be when nobody has looked,
// as it would be where time goes back.
inline constexpr uint64_t kStepsUnknown = ~uint64_t(0);

// The OR of the steps between consecutive times from `before` through
// events [0, n): ev[0] - before, ev[1] - ev[0]... modulo 2^64, so a step back
// sets the high bits. Its high bits clear mean every step went forward by
// less than they count. 0 for no events.
uint64_t stepBitsOf(const Event2D* ev, size_t n, uint64_t before);

class EventSource {
public:
    virtual ~EventSource() = default;
    const RecordingMeta& meta() const { return meta_; }
    // First and last time in the recording (events or edges); both 0 when it
    // holds nothing. For progress and for naming the range's start.
    uint64_t first_us() const { return first_us_; }
    uint64_t last_us() const { return last_us_; }
    // Delivers [from_us, to_us) in order. False when `fn` stopped the pass
    // (error left empty) or the input turned out to be bad (reason in *error).
    virtual bool deliver(uint64_t from_us, uint64_t to_us, const BatchFn& fn,
                         std::string* error) = 0;

protected:
    RecordingMeta meta_;
    uint64_t first_us_ = 0;
    uint64_t last_us_ = 0;
};

class EventSink {
public:
    virtual ~EventSink() = default;
    // Checks the target (never one of `inputs`) and opens its temporary.
    virtual bool open(const std::string& path, const RecordingMeta& meta,
                      const std::vector<FileIdentity>& inputs, std::string* error) = 0;
    virtual bool write(const Event2D* events, size_t count,
                       const std::vector<TriggerRecord>& triggers, std::string* error) = 0;
    // Completes the output and makes it appear at its path (all files of a
    // format with several, or none of them).
    virtual bool finish(std::string* error) = 0;
    // Bytes of the finished output (every file of it).
    virtual uint64_t outputBytes() const = 0;
    // Empty time costs this output space (time words, a per-millisecond
    // index): a conversion refuses a silence beyond kMaxSilence_us, and
    // silences of kSilence_us or more that add up to beyond it.
    virtual bool paysForSilence() const { return false; }
    // Asked now and then during a long write; when it says stop, write()
    // fails with the reason "cancelled".
    void setStopCheck(std::function<bool()> stop) { stop_ = std::move(stop); }

protected:
    bool stopRequested() const { return stop_ && stop_(); }

private:
    std::function<bool()> stop_;
};

// A day: longer stretches without events or edges are taken for a broken
// time, not a recording, where the output would have to fill them.
constexpr uint64_t kMaxSilence_us = uint64_t(86400) * 1000000;
// Gaps from a second on count towards the empty time of a whole recording;
// shorter ones cost an output at most a thousand index entries an event.
constexpr uint64_t kSilence_us = 1000000;

// Sources, by the input's kind. Null with *error when the input cannot be
// opened or is not of the expected layout.
std::unique_ptr<EventSource> openRawSource(const std::string& path, std::string* error);
std::unique_ptr<EventSource> openH5Source(const std::string& path, std::string* error);
std::unique_ptr<EventSource> openNpySource(const std::string& path, std::string* error);

std::unique_ptr<EventSink> makeRawSink(RawFormat format);
std::unique_ptr<EventSink> makeH5Sink();
std::unique_ptr<EventSink> makeNpySink();
std::unique_ptr<EventSink> makeCsvSink();

// "NAME.triggers.npy" beside "NAME.npy".
std::string npyTriggersPath(const std::string& eventsPath);

}  // namespace korvane
