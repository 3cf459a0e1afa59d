#pragma once

// Seek index of a RAW file: checkpoints of the full decoder state at
// regular byte steps, built by one fast scan that decodes no events.
// A read at time T starts at the last checkpoint whose key lies safely
// before T, so its cost is O(window) instead of O(file).

#include <cstdint>
#include <functional>
#include <vector>

#include "EventDecoder.h"
#include "RawHeader.h"

namespace korvane {

class RawFile;

struct IndexEntry {
    uint64_t offsetBytes = 0;  // absolute file offset of the next word to decode
    uint64_t keyTime = 0;      // running maximum of the decoder time up to here
    DecoderState state;
    bool operator==(const IndexEntry&) const = default;
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

    const std::vector<IndexEntry>& entries() const { return entries_; }
    std::vector<IndexEntry>& entries() { return entries_; }
    RawFormat format() const { return format_; }
    uint64_t stepBytes() const { return stepBytes_; }
    void setFormat(RawFormat f) { format_ = f; }
    void setStepBytes(uint64_t s) { stepBytes_ = s; }
    bool empty() const { return entries_.empty(); }

    // Decoder-state walk without emitting events; exposed for tests.
    static void advanceEvt3(const uint8_t* bytes, size_t words, DecoderState& s);
    static void advanceEvt2(const uint8_t* bytes, size_t words, DecoderState& s);

private:
    struct Scan;
    std::vector<IndexEntry> entries_;
    RawFormat format_ = RawFormat::Evt3;
    uint64_t stepBytes_ = kDefaultStepBytes;
};

}  // namespace korvane
