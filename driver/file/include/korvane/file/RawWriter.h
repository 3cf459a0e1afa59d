#pragma once

// Writes RAW recordings: a text header, then EVT 3.0 (or EVT 2.0) words.
// Events and triggers must come in time order; they are written in the
// order given. EVT 3.0 output is vectorised the way cameras do it: runs of
// one row, polarity and time become VECT_BASE_X + VECT_12/VECT_8, other
// events EVT_ADDR_X; time words only when the time changes.
//
// Errors: every write is checked; after the first failure the writer stops
// writing and close() returns false. The file is left as written so far;
// callers that need all-or-nothing write to a temporary path and rename.
// One thread at a time.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KvRecords.h"
#include "korvane/file/EventDecoder.h"
#include "korvane/file/RawHeader.h"

namespace korvane {

// Visits a chunk in file order: each edge right before the event at its
// eventIndex (an index past the end puts it after every event; one that
// falls back behind an earlier edge's stays at that edge), then the events
// after the last edge. onEvents(first, count) may get empty runs.
template <class OnEvents, class OnEdge>
void visitInFileOrder(const Event2D* events, size_t count, const std::vector<TriggerRecord>& edges,
                      OnEvents&& onEvents, OnEdge&& onEdge) {
    size_t done = 0;
    for (const TriggerRecord& edge : edges) {
        const size_t at = size_t(std::clamp<uint64_t>(edge.eventIndex, done, count));
        onEvents(events + done, at - done);
        done = at;
        onEdge(edge.trigger);
    }
    onEvents(events + done, count - done);
}

// The event index of each edge of a stream that carries edges apart from
// events, both in time order: an edge goes before the first event not
// earlier than it. Replaces the contents of out.
void placeEdgesByTime(const Event2D* events, size_t count, const std::vector<EventTriggerIn>& edges,
                      std::vector<TriggerRecord>& out);

class RawWriter {
public:
    explicit RawWriter(RawFormat format = RawFormat::Evt3);
    ~RawWriter();
    RawWriter(const RawWriter&) = delete;
    RawWriter& operator=(const RawWriter&) = delete;

    // Creates (truncates) the file and writes the header text as given.
    bool open(const std::string& path, const std::string& headerText);
    // Writes into a descriptor the caller keeps owning (close() syncs but
    // does not close it), e.g. a SafeOutput's temporary.
    bool open(int fd, const std::string& headerText);
    void writeEvents(const Event2D* events, size_t count);
    void writeTrigger(const EventTriggerIn& trigger);
    // Events with their trigger edges, in the order visitInFileOrder gives.
    void writeChunk(const Event2D* events, size_t count, const std::vector<TriggerRecord>& edges);
    // Copies words of the writer's own format as they are, e.g. a cut's
    // whole stretches: first the time, row and vector base of `at` (the
    // decoder's state where they were), so they decode as they did there,
    // then the words; the writer goes on from `after`, the state they
    // leave, which counts `events` events. False, writing nothing, before
    // the writer has a time (the first time word must be the writer's own,
    // to agree with the header's start) or for a base past 11 bits: the
    // caller then writes the events.
    bool writeWords(const uint8_t* words, size_t bytes, const DecoderState& at,
                    const DecoderState& after, uint64_t events);
    // Flushes, syncs and closes. False when any write failed.
    bool close();

    bool ok() const { return ok_; }
    // errno of the first failed write, 0 when none.
    int error() const { return errno_; }
    bool isOpen() const { return fd_ >= 0; }
    uint64_t eventsWritten() const { return eventsWritten_; }
    uint64_t eventsDropped() const { return eventsDropped_; }  // x or y beyond 11 bits

    // Encodes into a word buffer without a file; for tests and fuzzing.
    std::vector<uint8_t> takeBuffer();

private:
    void setTime(uint64_t t);
    void moveTimeHigh(uint64_t target, unsigned fieldBits);
    void put16(uint16_t w);
    void put32(uint32_t w);
    void flushIfFull();
    void flush();
    void writeAll(const uint8_t* bytes, size_t size);

    RawFormat format_;
    int fd_ = -1;
    bool ownsFd_ = false;
    int errno_ = 0;
    bool ok_ = true;
    std::vector<uint8_t> buffer_;
    bool haveTime_ = false;
    uint64_t highSteps_ = 0;  // EVT3: t >> 12; EVT2: t >> 6
    uint16_t low_ = 0;
    bool haveY_ = false;
    uint16_t y_ = 0;
    uint64_t eventsWritten_ = 0;
    uint64_t eventsDropped_ = 0;
};

}  // namespace korvane
