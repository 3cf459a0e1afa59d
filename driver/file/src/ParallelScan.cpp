#include "korvane/file/ParallelScan.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "korvane/file/RawFile.h"
#include "korvane/file/TimeIndex.h"

namespace korvane {

namespace {

constexpr uint64_t kNoStop = std::numeric_limits<uint64_t>::max();
// Room asked for before each decoder call: a block of words writes at most
// 12 events per word, and the decoder slows to word by word near the end.
constexpr size_t kDecodeRoom = 8192;
// The words of one piece handed to onWorkerEvents: their events (about one
// a word, 32 KiB) are still in the first-level cache when it reads them. The
// piece's room holds the most they can give, so the decoder never nears the
// room's end, where it would walk word by word.
constexpr size_t kPieceWords = 2048;
constexpr size_t kPieceRoom = kPieceWords * 12;
static_assert(kPieceRoom == kMaxPieceEvents);

// Keeps the events of ev[0, n) and the edges triggers[firstEdge, end) with
// from <= t < to, edges in their place; eventIndex counts from `base` (the
// events of the stretch kept before ev). Returns how many events are kept.
size_t keepInRange(Event2D* ev, size_t n, std::vector<TriggerRecord>& triggers, size_t firstEdge,
                   uint64_t base, uint64_t from, uint64_t to) {
    // Times lie mostly in order: a stretch at a range's edge is one run out
    // and one run in. Runs are found by their times alone and moved whole
    // (whole records, padding included: callers hand them on as bytes); an
    // edge is placed once the events before it are.
    const uint64_t span = to - from;  // from <= t < to, as one unsigned test
    // 0 or 1: four are counted with one branch.
    auto in = [&](size_t i) { return unsigned(ev[i].timestamp - from < span); };
    size_t kept = 0, i = 0;
    auto keepEventsUntil = [&](size_t end) {
        while (i < end) {
            // Four at a time with one branch: runs are long.
            while (i + 4 <= end && in(i) + in(i + 1) + in(i + 2) + in(i + 3) == 0)
                i += 4;
            while (i < end && !in(i))
                ++i;
            const size_t run = i;
            while (i + 4 <= end && in(i) + in(i + 1) + in(i + 2) + in(i + 3) == 4)
                i += 4;
            while (i < end && in(i))
                ++i;
            if (run != kept && i > run)
                std::memmove(static_cast<void*>(ev + kept), ev + run, (i - run) * sizeof(Event2D));
            kept += i - run;
        }
    };
    size_t keptTriggers = firstEdge;
    for (size_t t = firstEdge; t < triggers.size(); ++t) {
        // An edge lies before event eventIndex - base; one beyond the
        // events is not this piece's (nor are those after it).
        if (triggers[t].eventIndex > base + n) break;
        keepEventsUntil(std::max<size_t>(
            i, size_t(triggers[t].eventIndex - std::min(base, triggers[t].eventIndex))));
        const uint64_t tt = triggers[t].trigger.timestamp;
        if (tt - from < span) triggers[keptTriggers++] = {triggers[t].trigger, base + kept};
    }
    keepEventsUntil(n);
    triggers.resize(keptTriggers);
    return kept;
}

struct EventSlot {
    alignas(Event2D) unsigned char bytes[sizeof(Event2D)];
};

// Uninitialised event storage that keeps its capacity from stretch to
// stretch: no page faults once the ring is warm.
class EventBuffer {
public:
    Event2D* data() { return reinterpret_cast<Event2D*>(storage_.get()); }
    size_t size() const { return size_; }
    size_t room() const { return capacity_ - size_; }
    void clear() { size_ = 0; }
    void grew(size_t n) { size_ += n; }
    void shrinkTo(size_t n) { size_ = n; }
    void reserveMore(size_t more) {
        if (capacity_ - size_ >= more) return;
        const size_t want = std::max(size_ + more, capacity_ * 2);
        std::unique_ptr<EventSlot[]> bigger(new EventSlot[want]);
        if (size_) std::memcpy(bigger.get(), storage_.get(), size_ * sizeof(EventSlot));
        storage_ = std::move(bigger);
        capacity_ = want;
    }
    // The storage handed on (emptied) or adopted.
    std::pair<std::unique_ptr<EventSlot[]>, size_t> release() {
        size_ = 0;
        return {std::move(storage_), std::exchange(capacity_, 0)};
    }
    void adopt(std::unique_ptr<EventSlot[]> storage, size_t capacity) {
        storage_ = std::move(storage);
        capacity_ = storage_ ? capacity : 0;
        size_ = 0;
    }

private:
    std::unique_ptr<EventSlot[]> storage_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

struct RingSlot {
    enum class State { Free, Busy, Ready };
    State state = State::Free;
    StretchBatch batch;
    EventBuffer events;
    std::unique_ptr<uint8_t[]> bytes;
    size_t byteCapacity = 0;
};

}  // namespace

struct ScanStorage::Kept {
    struct Block {
        std::unique_ptr<EventSlot[]> events;
        size_t eventCapacity = 0;
        std::unique_ptr<uint8_t[]> bytes;
        size_t byteCapacity = 0;
    };
    std::vector<Block> blocks;
};

ScanStorage::ScanStorage() : kept(std::make_unique<Kept>()) {}
ScanStorage::~ScanStorage() = default;

namespace {

struct Job {
    const RawFile& file;
    const TimeIndex& index;
    uint64_t dataEnd;
    uint64_t from;
    uint64_t to;
    const ParallelScanOptions& options;
    size_t first;  // stretches [first, last)
    size_t last;

    // Decodes stretch k into the slot; any thread.
    void decode(size_t k, RingSlot& slot) const {
        const auto& entries = index.entries();
        const RawFormat format = index.format();
        const uint64_t ws = wordSizeBytes(format);
        const IndexEntry& entry = entries[k];
        const uint64_t end =
            std::min(dataEnd, k + 1 < entries.size() ? entries[k + 1].offsetBytes : dataEnd);
        // A stretch whose every time is at or past the range's end holds
        // nothing of it (where time goes back, many do): not even read.
        const bool nothingInRange = options.skipStretchesPastRange && options.indexTimesHold &&
                                    !options.keepBytes && to != kNoStop && entry.minTime >= to;
        const uint64_t length =
            !nothingInRange && end > entry.offsetBytes ? end - entry.offsetBytes : 0;
        if (slot.byteCapacity < length) {
            slot.bytes.reset(new uint8_t[size_t(length)]);
            slot.byteCapacity = size_t(length);
        }
        const uint64_t got =
            length ? file.readAt(entry.offsetBytes, slot.bytes.get(), size_t(length)) / ws * ws : 0;

        StretchBatch& b = slot.batch;
        b.stretch = k;
        b.sequence = k - first;
        b.offsetBytes = entry.offsetBytes;
        b.endBytes = entry.offsetBytes + got;
        b.startState = entry.state;
        b.triggers.clear();
        b.corruptWords = 0;
        b.bytes = options.keepBytes ? slot.bytes.get() : nullptr;
        b.byteCount = options.keepBytes ? size_t(got) : 0;
        slot.events.clear();
        b.wordsOnly = options.keepBytes && options.wordsOnly && options.wordsOnly(b);
        if (b.wordsOnly) {
            b.events = nullptr;
            b.count = 0;
            return;
        }
        if (options.decodeEvents && options.onWorkerEvents) {
            decodeInPieces(slot, size_t(got / ws));
        } else if (options.decodeEvents) {
            size_t room = 0;
            Event2D* place = options.placeEvents ? options.placeEvents(b, room) : nullptr;
            if (place) {
                decodePlaced(slot, place, room, size_t(got / ws));
                return;
            }
            DecoderState state = entry.state;
            // Real data has about one event per word: one allocation for most
            // stretches, instead of doubling (and copying) up to their size.
            const size_t words = size_t(got / ws);
            slot.events.reserveMore(std::max(kDecodeRoom, words + words / 8));
            decodeIntoSlot(slot, slot.bytes.get(), words, state, 0);
            keepRange(slot);
        }
        if (options.decodeEvents && options.onWorkerEvents) return;  // count set by the pieces
        b.events = slot.events.data();
        b.count = slot.events.size();
    }

    // One decoder call in the index's format.
    DecodeStep decodeWords(const uint8_t* at, size_t words, DecoderState& state, Event2D* out,
                           size_t room, StretchBatch& b, uint64_t base) const {
        return index.format() == RawFormat::Evt2
                   ? decodeEvt2(at, words, state, out, room, &b.triggers, base, kNoStop,
                                b.corruptWords, options.sensorWidth)
                   : decodeEvt3(at, words, state, out, room, &b.triggers, base, kNoStop,
                                b.corruptWords, options.sensorWidth);
    }

    // Appends the events of `words` words at `at` to the slot's buffer;
    // `before`: the stretch's events decoded elsewhere ahead of them.
    void decodeIntoSlot(RingSlot& slot, const uint8_t* at, size_t words, DecoderState& state,
                        size_t before) const {
        const RawFormat format = index.format();
        const uint64_t ws = wordSizeBytes(format);
        StretchBatch& b = slot.batch;
        while (words > 0) {
            slot.events.reserveMore(kDecodeRoom);
            Event2D* out = slot.events.data() + slot.events.size();
            const uint64_t base = before + slot.events.size();
            const DecodeStep step = decodeWords(at, words, state, out, slot.events.room(), b, base);
            slot.events.grew(step.eventsWritten);
            at += step.wordsConsumed * ws;
            words -= step.wordsConsumed;
        }
    }

    // Decodes the slot's words into `place` (room for `room` events). The
    // decoder needs a little room beyond the events it writes, which the
    // place's end does not have: the last words go through the slot's buffer
    // and are copied over. Sets the batch's events: in `place`, or all in
    // the slot's buffer, in order, when the stretch gave more than `room`.
    void decodePlaced(RingSlot& slot, Event2D* place, size_t room, size_t words) const {
        const RawFormat format = index.format();
        const uint64_t ws = wordSizeBytes(format);
        StretchBatch& b = slot.batch;
        DecoderState state = index.entries()[b.stretch].state;
        const uint8_t* at = slot.bytes.get();
        size_t n = 0;
        constexpr size_t kLeastRoom = 12;  // a decoder call's least room
        while (words > 0 && room - n >= kLeastRoom) {
            const DecodeStep step = decodeWords(at, words, state, place + n, room - n, b, n);
            n += step.eventsWritten;
            at += step.wordsConsumed * ws;
            words -= step.wordsConsumed;
            if (step.wordsConsumed == 0) break;
        }
        decodeIntoSlot(slot, at, words, state, n);
        const size_t rest = slot.events.size();
        if (n + rest > room) {
            // More than the place holds: the whole stretch to the slot.
            slot.events.reserveMore(n);
            Event2D* events = slot.events.data();
            std::memmove(static_cast<void*>(events + n), events, rest * sizeof(Event2D));
            std::memcpy(static_cast<void*>(events), place, n * sizeof(Event2D));
            slot.events.grew(n);
            keepRange(slot);
            b.events = slot.events.data();
            b.count = slot.events.size();
            return;
        }
        if (rest > 0)
            std::memcpy(static_cast<void*>(place + n), slot.events.data(), rest * sizeof(Event2D));
        n += rest;
        slot.events.clear();
        if (!wholeStretchInRange(b.stretch)) n = keepInRange(place, n, b.triggers, 0, 0, from, to);
        b.events = place;
        b.count = n;
    }

    // Decodes the slot's words piece by piece into a small buffer and hands
    // each piece, within the range, to onWorkerEvents.
    void decodeInPieces(RingSlot& slot, size_t words) const {
        StretchBatch& b = slot.batch;
        const RawFormat format = index.format();
        const uint64_t ws = wordSizeBytes(format);
        DecoderState state = index.entries()[b.stretch].state;
        const uint8_t* at = slot.bytes.get();
        const bool allInRange = wholeStretchInRange(b.stretch);
        slot.events.reserveMore(kPieceRoom);
        uint64_t kept = 0;
        while (words > 0) {
            Event2D* out = slot.events.data();
            const size_t firstEdge = b.triggers.size();
            const DecodeStep step =
                decodeWords(at, std::min(words, kPieceWords), state, out, kPieceRoom, b, kept);
            at += step.wordsConsumed * ws;
            words -= step.wordsConsumed;
            const size_t n = allInRange ? step.eventsWritten
                                        : keepInRange(out, step.eventsWritten, b.triggers,
                                                      firstEdge, kept, from, to);
            if (n > 0) options.onWorkerEvents(b, out, n);
            kept += n;
        }
        b.events = nullptr;
        b.count = size_t(kept);
    }

    // True when no event of stretch k needs a look to be kept.
    bool wholeStretchInRange(size_t k) const {
        return (from == 0 && to == kNoStop) ||
               (options.indexTimesHold && index.stretchWithin(k, from, to));
    }

    // Keeps the events and edges with from <= t < to, edges in their place.
    void keepRange(RingSlot& slot) const {
        if (wholeStretchInRange(slot.batch.stretch)) return;
        slot.events.shrinkTo(keepInRange(slot.events.data(), slot.events.size(),
                                         slot.batch.triggers, 0, 0, from, to));
    }
};

// The ring shared by the workers and the caller.
class Ring {
public:
    Ring(const Job& job, size_t slotCount, ScanStorage* storage)
        : job_(job), slots_(slotCount), next_(job.first), storage_(storage) {
        for (size_t i = 0; i < slotCount; ++i)
            slots_[i].batch.slot = i;
        if (!storage_) return;
        auto& blocks = storage_->kept->blocks;
        for (size_t i = 0; i < slotCount && !blocks.empty(); ++i) {
            ScanStorage::Kept::Block& b = blocks.back();
            slots_[i].events.adopt(std::move(b.events), b.eventCapacity);
            slots_[i].bytes = std::move(b.bytes);
            slots_[i].byteCapacity = slots_[i].bytes ? b.byteCapacity : 0;
            blocks.pop_back();
        }
        // Room for every slot to go back without allocating on the way out.
        blocks.reserve(blocks.size() + slotCount);
    }
    // The workers have ended: the buffers go back for the next scan.
    ~Ring() {
        if (!storage_) return;
        for (RingSlot& slot : slots_) {
            auto [events, capacity] = slot.events.release();
            if (!events && !slot.bytes) continue;
            storage_->kept->blocks.push_back(
                {std::move(events), capacity, std::move(slot.bytes), slot.byteCapacity});
        }
    }
    Ring(const Ring&) = delete;
    Ring& operator=(const Ring&) = delete;

    size_t slotOf(size_t k) const { return (k - job_.first) % slots_.size(); }

    void work() {
        for (;;) {
            size_t k;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                workerWake_.wait(lock, [&] {
                    return stop_ || next_ >= job_.last ||
                           slots_[slotOf(next_)].state == RingSlot::State::Free;
                });
                if (stop_ || next_ >= job_.last) return;
                if (job_.options.cancel && job_.options.cancel->load()) {
                    stop_ = true;  // the caller stops waiting too
                    workerWake_.notify_all();
                    callerWake_.notify_all();
                    return;
                }
                k = next_++;
                slots_[slotOf(k)].state = RingSlot::State::Busy;
            }
            RingSlot& slot = slots_[slotOf(k)];
            try {
                job_.decode(k, slot);
                if (job_.options.onWorker) job_.options.onWorker(slot.batch);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!error_) error_ = std::current_exception();
                stop_ = true;
                workerWake_.notify_all();
                callerWake_.notify_all();
                return;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            slot.state = RingSlot::State::Ready;
            callerWake_.notify_all();
        }
    }

    // The slot of stretch k once it is decoded; null when the scan stopped
    // (cancelled, or a worker failed: see rethrow()).
    RingSlot* waitFor(size_t k) {
        std::unique_lock<std::mutex> lock(mutex_);
        RingSlot& slot = slots_[slotOf(k)];
        callerWake_.wait(lock, [&] { return stop_ || slot.state == RingSlot::State::Ready; });
        if (slot.state == RingSlot::State::Ready && !error_) return &slot;
        return nullptr;
    }

    void release(RingSlot& slot) {
        std::lock_guard<std::mutex> lock(mutex_);
        slot.state = RingSlot::State::Free;
        workerWake_.notify_all();
    }

    void stop() {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        workerWake_.notify_all();
    }

    void rethrow() {
        if (error_) std::rethrow_exception(error_);
    }

    RingSlot& slot(size_t i) { return slots_[i]; }

private:
    const Job& job_;
    std::vector<RingSlot> slots_;
    std::mutex mutex_;
    std::condition_variable workerWake_;
    std::condition_variable callerWake_;
    size_t next_;
    bool stop_ = false;
    std::exception_ptr error_;
    ScanStorage* storage_;
};

// Ends and joins the workers on every way out of the scan.
class Workers {
public:
    // Starts up to `count` workers; fewer when the system refuses threads
    // (count() says how many run).
    Workers(Ring& ring, unsigned count) : ring_(ring) {
        threads_.reserve(count);
        for (unsigned i = 0; i < count; ++i) {
            try {
                threads_.emplace_back([this] { ring_.work(); });
            } catch (const std::system_error&) {
                break;
            }
        }
    }
    size_t count() const { return threads_.size(); }
    ~Workers() {
        ring_.stop();
        for (std::thread& t : threads_)
            t.join();
    }

private:
    Ring& ring_;
    std::vector<std::thread> threads_;
};

unsigned threadCount(const ParallelScanOptions& o) {
    if (o.threads > 0) return o.threads;
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

size_t parallelScanSlots(const ParallelScanOptions& options) {
    const unsigned threads = threadCount(options);
    if (threads == 1) return 1;
    // Every worker needs a slot of its own, whatever inFlight asks.
    const size_t asked = options.inFlight > 0 ? options.inFlight : size_t(threads) * 2 + 2;
    return std::max<size_t>(asked, threads);
}

ParallelScanResult scanStretches(const RawFile& file, const TimeIndex& index, uint64_t dataEnd,
                                 uint64_t from_us, uint64_t to_us,
                                 const ParallelScanOptions& options,
                                 const std::function<bool(StretchBatch&)>& inOrder) {
    ParallelScanResult result;
    const auto& entries = index.entries();
    if (entries.empty() || from_us >= to_us) {
        result.completed = true;
        return result;
    }
    // From the checkpoint before which no event of the range lies, up to the
    // first stretch from which on every time stays at or past the range's end.
    const size_t first = index.stretchAt(index.entryBefore(from_us).offsetBytes);
    // An open end takes every stretch, also those without any time (their
    // words still matter to a check).
    size_t last = first;
    while (last < entries.size() && entries[last].offsetBytes < dataEnd &&
           (to_us == kNoStop || index.floorFrom(last) < to_us)) {
        ++last;
    }
    const Job job{file, index, dataEnd, from_us, to_us, options, first, last};
    auto handOn = [&](StretchBatch& b) {
        result.events += b.count;
        result.triggers += b.triggers.size();
        result.corruptWords += b.corruptWords;
        ++result.stretches;
        return inOrder(b);
    };
    auto cancelled = [&] { return options.cancel && options.cancel->load(); };

    // Everything on the calling thread, in one slot.
    auto runHere = [&](RingSlot& slot) {
        for (size_t k = first; k < last; ++k) {
            if (cancelled()) return;
            job.decode(k, slot);
            if (options.onWorker) options.onWorker(slot.batch);
            if (!handOn(slot.batch)) {
                result.completed = k + 1 == last;
                return;
            }
        }
        result.completed = true;
    };
    const unsigned threads =
        unsigned(std::min<size_t>(threadCount(options), std::max<size_t>(1, last - first)));
    const size_t slotCount = parallelScanSlots(options);
    if (threads == 1) {
        Ring ring(job, 1, options.storage);  // storage only: nothing runs concurrently
        runHere(ring.slot(0));
        return result;
    }

    Ring ring(job, slotCount, options.storage);
    {
        Workers workers(ring, threads);
        if (workers.count() == 0) {
            runHere(ring.slot(0));  // no thread to be had: the caller decodes
            return result;
        }
        size_t k = first;
        for (; k < last; ++k) {
            RingSlot* slot = ring.waitFor(k);
            if (!slot) break;
            const bool more = handOn(slot->batch);
            ring.release(*slot);
            if (!more) {
                ++k;
                break;
            }
        }
        result.completed = k == last;
    }  // workers end here, also when inOrder threw
    ring.rethrow();
    return result;
}

}  // namespace korvane
