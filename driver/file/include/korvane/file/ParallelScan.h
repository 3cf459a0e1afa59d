#pragma once

// Decode of a time range on several threads. The range is split at the seek
// index's checkpoints into stretches; each checkpoint holds the whole
// decoder state, so a stretch decodes on its own exactly as the one-thread
// pass decodes it there. Worker threads decode stretches into a small ring
// of buffers; the caller gets them back strictly in file order, so memory
// stays at a few stretches whatever the file's size.
//
// Ownership: the scan borrows the file and the index; both must outlive the
// call and the index must not change during it. A StretchBatch belongs to
// the scan and is valid only inside the callback that receives it.
// Threads: scanStretches() runs on the calling thread and returns only after
// every worker it started has ended, also when the caller stops early or a
// callback throws (the exception then leaves scanStretches()). `onWorker`
// runs on worker threads (several at once, one per batch); `inOrder` runs
// on the calling thread, one batch after the other.
// Failures: a short read ends the data there, as it does for the one-thread
// pass; corrupt words are counted, never fatal.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "KvRecords.h"
#include "korvane/file/EventDecoder.h"

namespace korvane {

class RawFile;
class TimeIndex;

// One decoded stretch: the events with from <= t < to in file order and the
// trigger edges among them.
struct StretchBatch {
    size_t slot = 0;      // 0 .. slots-1: the ring buffer it lives in (per-slot results)
    size_t stretch = 0;   // checkpoint index in the seek index
    size_t sequence = 0;  // 0 for the scan's first stretch, 1 for the next...
    uint64_t offsetBytes = 0;
    uint64_t endBytes = 0;  // end of the words decoded (a short read ends early)
    DecoderState startState;
    const Event2D* events = nullptr;
    size_t count = 0;
    // eventIndex: how many of `events` come before the edge in the file.
    std::vector<TriggerRecord> triggers;
    uint64_t corruptWords = 0;
    // The stretch's words, when ParallelScanOptions::keepBytes.
    const uint8_t* bytes = nullptr;
    size_t byteCount = 0;
    // ParallelScanOptions::wordsOnly took it: not decoded (no events, no
    // edges, no corrupt words counted).
    bool wordsOnly = false;
};

// The ring's buffers kept from one scan for the next, e.g. by a reader for
// its scans: memory already faulted in, where fresh memory would cost a page
// fault per page and scan. Used by one scan at a time; opaque.
class ScanStorage {
public:
    ScanStorage();
    ~ScanStorage();
    ScanStorage(const ScanStorage&) = delete;
    ScanStorage& operator=(const ScanStorage&) = delete;
    struct Kept;
    std::unique_ptr<Kept> kept;
};

struct ParallelScanOptions {
    unsigned threads = 0;  // 0: one per core; 1: everything on the calling thread
    size_t inFlight = 0;   // stretches in flight (ring slots); 0: two per thread plus two
    bool decodeEvents = true;
    bool keepBytes = false;
    uint32_t sensorWidth = kAddressRange;  // events with x >= it are dropped as corrupt
    // Called on a worker thread after a stretch is decoded, e.g. to reduce
    // it to sums kept per slot; StretchBatch::slot says which.
    std::function<void(StretchBatch&)> onWorker;
    // When set, a worker hands the stretch's events to it in pieces, those
    // of up to 2048 words each (about as many events, at most
    // kMaxPieceEvents), in file order, as they are decoded (before onWorker), and
    // keeps none: a reduction then reads them while they are still in cache,
    // and the stretch needs no buffer of its own size. The batch handed on
    // has no events (events null), count says how many there were; its
    // edges' eventIndex count the events of the stretch as before.
    std::function<void(StretchBatch&, const Event2D*, size_t)> onWorkerEvents;
    // When set (events decoded, no onWorkerEvents), a worker asks it where
    // stretch b.stretch goes before decoding it: memory for `room` events,
    // the worker's alone until the batch has been handed to inOrder, or null
    // for the ring's own buffer. The batch's events then point there. A
    // stretch that gives more than `room` events goes to the ring's buffer
    // after all, whole (what was decoded in place is moved there).
    std::function<Event2D*(const StretchBatch&, size_t& room)> placeEvents;
    // With keepBytes: asked on the worker once a stretch's words are read
    // (StretchBatch::bytes, startState); true hands them on undecoded, e.g.
    // to a caller that copies them as they are after checking them itself.
    std::function<bool(const StretchBatch&)> wordsOnly;
    // False when the file may have changed since the index was built: the
    // index's times then bound nothing, and every event's time is checked.
    bool indexTimesHold = true;
    // With indexTimesHold: stretches whose lowest time is at or past the
    // range's end (time went back past them) are neither read nor decoded,
    // so their corrupt words go uncounted. For windows, which look only at
    // their events.
    bool skipStretchesPastRange = false;
    const std::atomic<bool>* cancel = nullptr;  // stops handing out stretches
    ScanStorage* storage = nullptr;             // none: the ring's buffers go with the scan
};

// The most events one piece handed to onWorkerEvents holds.
inline constexpr size_t kMaxPieceEvents = 2048 * 12;

struct ParallelScanResult {
    uint64_t events = 0;
    uint64_t triggers = 0;
    uint64_t corruptWords = 0;
    size_t stretches = 0;    // handed to inOrder
    bool completed = false;  // every stretch of the range was handed on
};

// The number of slots a scan with these options uses.
size_t parallelScanSlots(const ParallelScanOptions& options);

// Decodes [from_us, to_us) of the data [index start, dataEnd) and hands each
// stretch to `inOrder` in file order; returning false stops the scan.
ParallelScanResult scanStretches(const RawFile& file, const TimeIndex& index, uint64_t dataEnd,
                                 uint64_t from_us, uint64_t to_us,
                                 const ParallelScanOptions& options,
                                 const std::function<bool(StretchBatch&)>& inOrder);

}  // namespace korvane
