#pragma once

// Seek index of a RAW file: checkpoints of the full decoder state at
// regular byte steps, built by one fast scan that decodes no events.
// A read at time T starts at the last checkpoint whose key lies safely
// before T, so its cost is O(window) instead of O(file). Each checkpoint
// also says how low the time goes in its stretch (up to the next one), so
// a window can tell where no later event can still fall into it even when
// the time went back. Value type; build and load on any thread, then read
// concurrently.

#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "korvane/file/EventDecoder.h"
#include "korvane/file/RawHeader.h"

namespace korvane {

class RawFile;

struct IndexEntry {
    uint64_t offsetBytes = 0;  // absolute file offset of the next word to decode
    uint64_t keyTime = 0;      // running maximum of the decoder time up to here
    DecoderState state;
    // Lowest time of the stretch up to the next checkpoint (the state's time
    // and every time a word sets); the maximum when it has none.
    uint64_t minTime = std::numeric_limits<uint64_t>::max();
    bool eventWords = false;  // the stretch holds words that can carry events
    // The most events the stretch's words can give (ScanStats::eventBound):
    // a decode of the whole stretch gives no more, and from well-formed data
    // exactly that many, so a reader can place stretches side by side.
    uint64_t eventBound = 0;
    bool operator==(const IndexEntry&) const = default;
};

// First and last event time, found once after a build and kept with the
// index so a cached open decodes nothing.
struct EventSpan {
    bool known = false;  // false: not yet looked for
    bool hasEvents = false;
    uint64_t first_us = 0;
    uint64_t last_us = 0;
    bool operator==(const EventSpan&) const = default;
};

class TimeIndex {
public:
    static constexpr uint64_t kDefaultStepBytes = 256 * 1024;

    // Scans [dataOffset, dataEnd) of bytes in memory (`data` holds the file's
    // bytes at their file offsets).
    static TimeIndex build(const uint8_t* data, uint64_t dataOffset, uint64_t dataEnd,
                           RawFormat format, uint64_t stepBytes = kDefaultStepBytes);

    // Scans [dataOffset, dataEnd) of a file, read in pieces. `progress` is
    // told the offset scanned so far after every piece; returning false
    // abandons the scan (the index is then incomplete: do not use it). A
    // file that shrinks while scanned is indexed as far as it goes.
    static TimeIndex build(const RawFile& file, uint64_t dataOffset, uint64_t dataEnd,
                           RawFormat format, uint64_t stepBytes = kDefaultStepBytes,
                           const std::function<bool(uint64_t)>& progress = {});

    // The checkpoint to start from so that no event with time >= t lies
    // before it. Never empty for a built index.
    const IndexEntry& entryBefore(uint64_t t) const;

    // Position of the checkpoint whose stretch holds `offsetBytes`.
    size_t stretchAt(uint64_t offsetBytes) const;
    // True when every event of stretch k (checkpoint k to k + 1) has
    // from_us <= t < to_us: its lowest time and the highest time up to the
    // next checkpoint, with what an event's own low bits add, lie inside.
    // False for the last stretch, whose end the index does not bound.
    bool stretchWithin(size_t k, uint64_t from_us, uint64_t to_us) const;
    // The same for the words [fromBytes, toBytes) when they lie in one stretch.
    bool wordsWithin(uint64_t fromBytes, uint64_t toBytes, uint64_t from_us, uint64_t to_us) const;

    // Lowest time from checkpoint k to the end of the data.
    uint64_t floorFrom(size_t k) const {
        return k < floors_.size() ? floors_[k] : std::numeric_limits<uint64_t>::max();
    }

    // Adds `offset_us` (whole loops of the format's clock) to every time,
    // and to the loop count a decode from the start begins with.
    void shiftTimes(uint64_t offset_us);

    // Recomputes what is derived from the entries; call after filling them.
    void finish();

    const std::vector<IndexEntry>& entries() const { return entries_; }
    std::vector<IndexEntry>& entries() { return entries_; }
    RawFormat format() const { return format_; }
    uint64_t stepBytes() const { return stepBytes_; }
    void setFormat(RawFormat f) { format_ = f; }
    void setStepBytes(uint64_t s) { stepBytes_ = s; }
    bool empty() const { return entries_.empty(); }
    const EventSpan& span() const { return span_; }
    void setSpan(const EventSpan& span) { span_ = span; }

    // Decoder-state walk without emitting events; exposed for tests.
    static void advanceEvt3(const uint8_t* bytes, size_t words, DecoderState& s);
    static void advanceEvt2(const uint8_t* bytes, size_t words, DecoderState& s);

private:
    struct Scan;
    std::vector<IndexEntry> entries_;
    std::vector<uint64_t> floors_;
    RawFormat format_ = RawFormat::Evt3;
    uint64_t stepBytes_ = kDefaultStepBytes;
    EventSpan span_;
};

}  // namespace korvane
