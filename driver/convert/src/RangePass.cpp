#include "korvane/convert/RangePass.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include <atomic>
#include <cstddef>

#include "korvane/file/ParallelScan.h"

namespace korvane {

uint64_t stepBitsOf(const Event2D* ev, size_t n, uint64_t before) {
    static_assert(offsetof(Event2D, timestamp) == 8, "the time is the high half of an event");
    uint64_t steps = 0;
    size_t k = 0;
#if defined(__SSE2__) || defined(_M_X64)
    // Two events a load pair: their times side by side, less the times
    // before each, ORed in; one 16-byte load an event.
    __m128i any = _mm_setzero_si128();
    __m128i last = _mm_set_epi64x(int64_t(before), 0);  // the time before in the high half
    for (; k + 2 <= n; k += 2) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ev + k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ev + k + 1));
        const __m128i times = _mm_unpackhi_epi64(a, b);
        any = _mm_or_si128(any, _mm_sub_epi64(times, _mm_unpackhi_epi64(last, a)));
        last = b;
    }
    alignas(16) uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), any);
    steps = lanes[0] | lanes[1];
#endif
    uint64_t at = k > 0 ? ev[k - 1].timestamp : before;
    for (; k < n; ++k) {
        steps |= ev[k].timestamp - at;
        at = ev[k].timestamp;
    }
    return steps;
}

bool deliverRawRange(DvsFileReader& reader, uint64_t from_us, uint64_t to_us, const BatchFn& fn) {
    if (from_us >= to_us) return true;
    // Stretches are decoded on every core and handed over here in file
    // order; a stop asked for by `fn` ends the workers within a stretch.
    // Each worker also takes its stretch's steps while the events are fresh
    // from its decoder, so a check of the times here need not read them all.
    std::atomic<bool> cancel{false};
    bool stopped = false;
    ParallelScanOptions options;
    options.cancel = &cancel;
    std::vector<uint64_t> steps(parallelScanSlots(options), kStepsUnknown);
    options.onWorker = [&](StretchBatch& b) {
        steps[b.slot] = b.count > 0 ? stepBitsOf(b.events, b.count, b.events[0].timestamp) : 0;
    };
    reader.scanStretches(from_us, to_us, options, [&](StretchBatch& b) {
        if (b.count == 0 && b.triggers.empty()) return true;
        if (!fn(b.events, b.count, b.triggers, steps[b.slot])) {
            stopped = true;
            cancel.store(true, std::memory_order_relaxed);
            return false;
        }
        return true;
    });
    return !stopped;
}

}  // namespace korvane
