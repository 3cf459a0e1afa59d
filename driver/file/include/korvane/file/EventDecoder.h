#pragma once

// Word-stream decoders for EVT 3.0 (16-bit words) and EVT 2.0 (32-bit words).
// Stateless functions over a caller-owned DecoderState, so a decode can stop
// anywhere and resume later, or start from an index checkpoint. Input may be
// unaligned; nothing is read past the given word count. How each EVT 3.0 word
// moves the state is defined once, in Evt3Words.h. Vector events whose x
// would lie beyond the 11-bit address range are dropped and the word counted
// as corrupt.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "KvRecords.h"
#include "korvane/file/RawHeader.h"

namespace korvane {

// Everything a decoder needs to resume at a word boundary.
struct DecoderState {
    uint64_t timeHigh = 0;  // EVT3: loops<<24 | high<<12; EVT2: loops<<34 | high<<6
                            // (before the first TIME_HIGH: the loops to start with)
    uint64_t time = 0;      // EVT3: timeHigh | low; EVT2: timeHigh
    uint16_t low = 0;       // EVT3 TIME_LOW
    uint16_t y = 0;         // EVT3 current row
    uint16_t baseX = 0;     // EVT3 vector base
    uint8_t polarity = 0;   // EVT3 vector polarity
    bool haveTime = false;  // a TIME_HIGH was seen; earlier events are dropped
    bool operator==(const DecoderState&) const = default;
};

// A trigger edge and how many events the decode had produced before it.
struct TriggerRecord {
    EventTriggerIn trigger;
    uint64_t eventIndex;
};

struct DecodeStep {
    size_t wordsConsumed = 0;
    size_t eventsWritten = 0;
    bool reachedStop = false;  // stopped before a time word at or past stopTime
};

// One step of a decode. Writes at most outRoom events (outRoom >= 12 for
// progress), appends triggers when `triggers` is not null (eventIndex is
// eventBase plus the events written before it), and stops before a word
// that would move the time to >= stopTime (EVT2: a TIME_HIGH >= stopTime).
// Events with x >= xLimit (the sensor's width, at most the 11-bit range) are
// dropped and counted in corruptWords.
constexpr uint32_t kAddressRange = 2048;
DecodeStep decodeEvt3(const uint8_t* bytes, size_t wordCount, DecoderState& state, Event2D* out,
                      size_t outRoom, std::vector<TriggerRecord>* triggers, uint64_t eventBase,
                      uint64_t stopTime, uint64_t& corruptWords, uint32_t xLimit = kAddressRange);
DecodeStep decodeEvt2(const uint8_t* bytes, size_t wordCount, DecoderState& state, Event2D* out,
                      size_t outRoom, std::vector<TriggerRecord>* triggers, uint64_t eventBase,
                      uint64_t stopTime, uint64_t& corruptWords, uint32_t xLimit = kAddressRange);

inline size_t wordSizeBytes(RawFormat format) {
    return format == RawFormat::Evt2 ? 4 : 2;
}

// Time rules shared by the decoders, the index scan and the writer.
//
// - TIME_HIGH carries the time's middle bits (EVT 3.0: bits 23..12, steps of
//   4096 us; EVT 2.0: bits 33..6, steps of 64 us). A larger value than before
//   goes forward by the difference, a pause of any size (but see below).
// - A smaller value is either time going back or a loop of the counter.
//   Cameras repeat TIME_HIGH every few microseconds, so a loop shows as a
//   step from near the top of the range (its top quarter) to near 0 (its
//   bottom quarter): time goes forward by the difference modulo the range.
//   Any other smaller value is time going back by the difference, however
//   large. Likewise a step from near 0 up to near the top, after a loop, is
//   time going back across the loop (jitter around it), not a pause of
//   nearly a whole loop. The writer keeps every step it makes within these
//   reads (see RawWriter).
// - Backward jitter: cameras may repeat an older TIME_HIGH, up to
//   kTimeHighJitterSteps below the latest; such steps are expected and not a
//   fault of the recording (see FileCheck); longer ways back are.
// - TIME_LOW (EVT 3.0) replaces the low 12 bits under the current TIME_HIGH,
//   so inside one period time may go back by up to 4095 us; a decrease of
//   TIME_LOW alone is never a wrap.
// - The first TIME_HIGH of a decode sets the period outright and keeps the
//   loop count the starting state carries; a reader seeds it from the
//   header's dvs_start_timestamp when that agrees with the data, so
//   recordings that start after a loop read back with their absolute times.
// - Index checkpoints are keyed by the running maximum of the time, so a
//   window finds every event whose time lies in it even where time went
//   back (see DvsFileReader).
constexpr uint32_t kTimeHighJitterSteps = 4;

// Steps of the time high after a TIME_HIGH whose field (fieldBits wide)
// reads `field`, given the steps so far (loops included).
inline uint64_t nextTimeHighSteps(uint64_t prevSteps, uint64_t field, unsigned fieldBits) {
    const uint64_t range = uint64_t(1) << fieldBits;
    const uint64_t quarter = range / 4;
    const uint64_t prev = prevSteps & (range - 1);
    field &= range - 1;
    const bool prevLow = prev < quarter, prevHigh = prev >= range - quarter;
    const bool fieldLow = field < quarter, fieldHigh = field >= range - quarter;
    if (field >= prev) {
        const uint64_t backAcrossLoop = prev + range - field;
        if (prevLow && fieldHigh && backAcrossLoop <= prevSteps) return prevSteps - backAcrossLoop;
        return prevSteps + (field - prev);
    }
    if (prevHigh && fieldLow) return prevSteps + (field + range - prev);
    return prevSteps - (prev - field);
}

// How a writer moves the time high from `from` to `to` steps (loops
// included) so that the decoders read back exactly that move: one TIME_HIGH
// word wherever one reads so (a step back stays one step back, however
// large), otherwise words a quarter of the range apart, which always read as
// written, and then `to`. Returns how many words that is; word i (from 1)
// of n sets timeHighStepOnPath(from, to, fieldBits, i, n).
inline uint64_t timeHighWords(uint64_t from, uint64_t to, unsigned fieldBits) {
    const uint64_t range = uint64_t(1) << fieldBits;
    if (nextTimeHighSteps(from, to & (range - 1), fieldBits) == to) return 1;
    const uint64_t distance = from < to ? to - from : from - to;
    return (distance - 1) / (range / 4) + 1;
}

inline uint64_t timeHighStepOnPath(uint64_t from, uint64_t to, unsigned fieldBits, uint64_t i,
                                   uint64_t n) {
    if (i >= n) return to;
    const uint64_t by = i * ((uint64_t(1) << fieldBits) / 4);
    return from < to ? from + by : from - by;
}

// The EVT3 time high after a TIME_HIGH word, given the current one.
inline uint64_t nextEvt3TimeHigh(uint64_t timeHigh, uint32_t high12) {
    return nextTimeHighSteps(timeHigh >> 12, high12, 12) << 12;
}

inline uint64_t nextEvt2TimeHigh(uint64_t timeHigh, uint32_t high28) {
    return nextTimeHighSteps(timeHigh >> 6, high28, 28) << 6;
}

inline uint16_t loadWord16(const uint8_t* p) {
    uint16_t w;
    std::memcpy(&w, p, 2);
    return w;
}

inline uint32_t loadWord32(const uint8_t* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

}  // namespace korvane

namespace korvane {

class RawFile;
class TimeIndex;

// Sequential decode of a word stream in chunks, from a resume point, either
// over bytes in memory or over a file read piece by piece. Owns its
// buffers; the events handed out stay valid until the next call. One user
// at a time.
class EventStream {
public:
    static constexpr size_t kChunkEvents =
        8000;  // 125 KiB: in cache, below malloc's mmap threshold

    // Memory: `data` holds the file's bytes at their file offsets, up to dataEnd.
    EventStream(const uint8_t* data, uint64_t dataEnd, RawFormat format, uint64_t offsetBytes,
                const DecoderState& state);
    // File: pieces are read as needed; a file that shrinks just ends early.
    EventStream(const RawFile& file, uint64_t dataEnd, RawFormat format, uint64_t offsetBytes,
                const DecoderState& state);

    // With the file's index, a stop at a time word >= stopTime is final only
    // when no later word sets a time below stopTime again; otherwise the
    // decode goes on from there (time that went back). Without it, the first
    // such word ends the stream. The index must outlive the stream.
    void setIndex(const TimeIndex* index) { index_ = index; }
    // Events with x >= width are dropped and counted as corrupt.
    void setSensorWidth(uint32_t width) { xLimit_ = std::min(width, kAddressRange); }

    // Decodes the next chunk. Triggers are appended to *triggers (if given)
    // with eventIndex counted over the whole stream. Returns false when
    // nothing more can come: the data ended or a time word >= stopTime was met.
    bool next(uint64_t stopTime, const Event2D*& events, size_t& count,
              std::vector<TriggerRecord>* triggers);
    // True once the decode went on past a stop: the position no longer
    // splits the stream into "before stopTime" and the rest.
    bool resumedAfterStop() const { return resumed_; }

    // Buffers an owner keeps from one stream to the next, so a walk writes
    // into memory that is already faulted in: handed to a new stream with
    // adoptBuffers(), taken back (leaving the stream unusable) with
    // takeBuffers().
    struct Slot {
        alignas(Event2D) unsigned char bytes[sizeof(Event2D)];
    };
    struct Buffers {
        std::unique_ptr<Slot[]> storage;  // kChunkEvents events
        std::unique_ptr<uint8_t[]> piece;
        size_t pieceCapacity = 0;
    };
    void adoptBuffers(Buffers&& buffers);
    Buffers takeBuffers();
    // File mode: the first piece read spans about this many bytes (the walk
    // expected), within the usual bounds; later pieces grow from there.
    void setFirstPiece(uint64_t bytes);

    uint64_t offsetBytes() const { return offset_; }
    const DecoderState& state() const { return state_; }
    bool reachedStop() const { return reachedStop_; }
    uint64_t corruptWords() const { return corrupt_; }
    uint64_t eventsProduced() const { return produced_; }

private:
    static constexpr size_t kFirstPiece = 64 * 1024;
    static constexpr size_t kLargestPiece = 4 << 20;

    // Makes at least one whole word at offset_ available; false at the end.
    bool fill();
    // After a stop: moves to the next word that sets a time below stopTime;
    // false when there is none.
    bool findTimeBelow(uint64_t stopTime);

    const RawFile* file_ = nullptr;
    const uint8_t* base_ = nullptr;  // byte at file offset baseOffset_
    uint64_t baseOffset_ = 0;
    uint64_t available_ = 0;  // bytes at base_ that may be decoded
    uint64_t dataEnd_;
    RawFormat format_;
    uint64_t offset_;
    DecoderState state_;
    bool reachedStop_ = false;
    bool resumed_ = false;
    const TimeIndex* index_ = nullptr;
    uint32_t xLimit_ = kAddressRange;
    uint64_t corrupt_ = 0;
    uint64_t produced_ = 0;
    // Uninitialised storage: decoders create the events in it by copying bytes.
    std::unique_ptr<Slot[]> storage_;
    Event2D* scratch_;
    std::unique_ptr<uint8_t[]> piece_;  // file mode: the bytes read so far
    size_t pieceCapacity_ = 0;
    size_t nextPiece_ = 0;  // bytes the next read asks for; 0: the first piece
};

}  // namespace korvane
