#include "korvane/convert/ColumnarSource.h"

#include <algorithm>

#include "korvane/file/EventDecoder.h"

namespace korvane {

namespace {

// How far times may step back, as a camera's RAW file carries them without
// fault (a repeated older TIME_HIGH, up to the jitter bound, plus a TIME_LOW
// below it): copies of such files into columns must read back. Longer ways
// back are refused as unsorted data.
constexpr uint64_t kBackJitter_us = (uint64_t(kTimeHighJitterSteps) + 1) * 4096;

// Whether a time `t` read after the latest so far may stand; `latest` then
// keeps the running maximum.
bool inOrder(uint64_t t, uint64_t& latest) {
    if (t + kBackJitter_us < latest) return false;
    latest = std::max(latest, t);
    return true;
}

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

// The checks run on every element: the reason is only put together for a
// failure.
bool checkEvent(const StoredEvent& s, uint64_t index, Event2D& e, std::string* error) {
    const char* why = nullptr;
    if (s.x < 0 || s.x > 0xFFFF || s.y < 0 || s.y > 0xFFFF) {
        why = "x or y outside 0..65535";
    } else if (s.p < -1 || s.p > 1) {
        why = "polarity not 0, 1 or -1";
    } else if (s.t < 0) {
        why = "time negative or out of range";
    }
    if (why) return fail(error, std::string(why) + " at event " + std::to_string(index));
    e = Event2D(uint16_t(s.x), uint16_t(s.y), uint8_t(s.p > 0 ? 1 : 0), uint64_t(s.t));
    return true;
}

bool checkTrigger(const StoredTrigger& s, uint64_t index, EventTriggerIn& t, std::string* error) {
    const char* why = nullptr;
    if (s.id < 0 || s.id > 0x7FFF) {
        why = "trigger channel outside 0..32767";
    } else if (s.p < -1 || s.p > 1) {
        why = "trigger value not 0, 1 or -1";
    } else if (s.t < 0) {
        why = "trigger time negative or out of range";
    }
    if (why) return fail(error, std::string(why) + " at trigger " + std::to_string(index));
    t = EventTriggerIn(int16_t(s.id), int16_t(s.p > 0 ? 1 : 0), uint64_t(s.t));
    return true;
}

}  // namespace

bool ColumnarSource::findSpan(std::string* error) {
    bool any = false;
    uint64_t first = 0, last = 0;
    auto note = [&](int64_t a, int64_t b) {
        const uint64_t lo = uint64_t(std::max<int64_t>(a, 0));
        const uint64_t hi = uint64_t(std::max<int64_t>(b, 0));
        first = any ? std::min(first, lo) : lo;
        last = any ? std::max(last, hi) : hi;
        any = true;
    };
    if (eventCount_ > 0) {
        std::vector<StoredEvent> a(1), b(1);
        if (!readEvents(0, a, error) || !readEvents(eventCount_ - 1, b, error)) return false;
        note(a[0].t, b[0].t);
    }
    if (triggerCount_ > 0) {
        std::vector<StoredTrigger> a(1), b(1);
        if (!readTriggers(0, a, error) || !readTriggers(triggerCount_ - 1, b, error)) return false;
        note(a[0].t, b[0].t);
    }
    first_us_ = first;
    last_us_ = last;
    return true;
}

bool ColumnarSource::lowerBound(bool triggers, uint64_t count, uint64_t t, uint64_t& index,
                                std::string* error) {
    uint64_t lo = 0, hi = count;
    std::vector<StoredEvent> ev(1);
    std::vector<StoredTrigger> tr(1);
    while (lo < hi) {
        const uint64_t mid = lo + (hi - lo) / 2;
        int64_t at;
        if (triggers) {
            if (!readTriggers(mid, tr, error)) return false;
            at = tr[0].t;
        } else {
            if (!readEvents(mid, ev, error)) return false;
            at = ev[0].t;
        }
        if (at < 0 || uint64_t(at) < t) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    index = lo;
    return true;
}

bool ColumnarSource::deliver(uint64_t from_us, uint64_t to_us, const BatchFn& fn,
                             std::string* error) {
    if (from_us >= to_us) return true;
    // The whole file is read (and so checked) from its start; a search
    // skips elements only when a later range start asks for it.
    uint64_t ei = 0, ti = 0;
    // The search looks for the jitter bound before the range: every element
    // skipped then lies before a time at least that far below `from_us`, so
    // none of them can belong to the range even where times go back.
    const uint64_t searchFrom_us = from_us > kBackJitter_us ? from_us - kBackJitter_us : 0;
    if (searchFrom_us > 0 && (!lowerBound(false, eventCount_, searchFrom_us, ei, error) ||
                              !lowerBound(true, triggerCount_, searchFrom_us, ti, error))) {
        return false;
    }

    // Edges read ahead, checked, in order.
    std::vector<StoredTrigger> trStored;
    std::vector<EventTriggerIn> trBuf;
    size_t trPos = 0;
    uint64_t lastTrigger = 0;
    bool trDone = false;
    auto peekTrigger = [&](const EventTriggerIn*& next) -> bool {
        next = nullptr;
        if (trPos == trBuf.size() && !trDone) {
            trBuf.clear();
            trPos = 0;
            const uint64_t n = std::min<uint64_t>(kBlockTriggers, triggerCount_ - ti);
            trStored.resize(size_t(n));
            if (n > 0 && !readTriggers(ti, trStored, error)) return false;
            for (size_t k = 0; k < n; ++k) {
                EventTriggerIn t;
                if (!checkTrigger(trStored[k], ti + k, t, error)) return false;
                if (!inOrder(t.timestamp, lastTrigger)) {
                    return fail(error,
                                "trigger times go back at trigger " + std::to_string(ti + k));
                }
                // Past the end: done once no jittered edge can still fall before it.
                if (t.timestamp >= to_us) {
                    if (t.timestamp - to_us >= kBackJitter_us) {
                        trDone = true;
                        break;
                    }
                    continue;
                }
                if (t.timestamp < from_us) continue;  // jittered back before the range
                trBuf.push_back(t);
            }
            ti += n;
            if (ti >= triggerCount_) trDone = true;
        }
        if (trPos < trBuf.size()) next = &trBuf[trPos];
        return true;
    };

    std::vector<StoredEvent> stored;
    std::vector<Event2D> events;
    std::vector<TriggerRecord> triggers;
    uint64_t lastTime = 0;
    bool eventsDone = ei >= eventCount_;
    while (true) {
        events.clear();
        triggers.clear();
        if (!eventsDone) {
            const uint64_t n = std::min<uint64_t>(kBlockEvents, eventCount_ - ei);
            stored.resize(size_t(n));
            if (!readEvents(ei, stored, error)) return false;
            events.reserve(size_t(n));
            for (size_t k = 0; k < n; ++k) {
                Event2D e;
                if (!checkEvent(stored[k], ei + k, e, error)) return false;
                if (!inOrder(e.timestamp, lastTime)) {
                    return fail(error, "times go back at event " + std::to_string(ei + k));
                }
                if (e.timestamp >= to_us) {
                    if (e.timestamp - to_us >= kBackJitter_us) {
                        eventsDone = true;
                        break;
                    }
                    continue;
                }
                if (e.timestamp < from_us) continue;  // jittered back before the range
                events.push_back(e);
            }
            ei += n;
            if (ei >= eventCount_) eventsDone = true;
        }
        // An edge goes before the first event at or after its time (where
        // our writers and cameras put it); one later than this block's last
        // event may still precede events of the next. A batch holds at most
        // kBlockTriggers edges: when they are more, the block's events are
        // handed over in pieces cut at the last edge's place.
        size_t evStart = 0;
        bool stopped = false;
        auto handOver = [&](size_t evEnd) {
            if (evEnd > evStart || !triggers.empty()) {
                if (!fn(events.data() + evStart, evEnd - evStart, triggers, kStepsUnknown)) {
                    stopped = true;
                    return false;
                }
            }
            evStart = evEnd;
            triggers.clear();
            return true;
        };
        const EventTriggerIn* next = nullptr;
        while (true) {
            if (!peekTrigger(next)) return false;
            if (!next) break;
            // Never before the previous edge's place: where times jitter back,
            // edges still go in the order they were stored.
            const size_t after =
                evStart + (triggers.empty() ? 0 : size_t(triggers.back().eventIndex));
            auto at =
                std::lower_bound(events.begin() + ptrdiff_t(after), events.end(), next->timestamp,
                                 [](const Event2D& e, uint64_t t) { return e.timestamp < t; });
            if (at == events.end() && !eventsDone) break;
            if (triggers.size() >= kBlockTriggers &&
                !handOver(evStart + size_t(triggers.back().eventIndex))) {
                break;
            }
            triggers.push_back({*next, uint64_t(size_t(at - events.begin()) - evStart)});
            ++trPos;
        }
        if (stopped || !handOver(events.size())) {
            if (error) error->clear();
            return false;
        }
        if (eventsDone && !next) return true;
    }
}

}  // namespace korvane
