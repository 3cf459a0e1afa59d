#include "korvane/convert/RangePass.h"

#include <atomic>

namespace korvane {

bool deliverRawRange(DvsFileReader& reader, uint64_t from_us, uint64_t to_us, const BatchFn& fn) {
    if (from_us >= to_us) return true;
    // Stretches are decoded on every core and handed over here in file
    // order; a stop asked for by `fn` ends the workers within a stretch.
    std::atomic<bool> cancel{false};
    bool stopped = false;
    reader.forEachChunkParallel(
        from_us, to_us,
        [&](const Event2D* ev, size_t n, const std::vector<TriggerRecord>& t) {
            if (stopped) return;
            if (!fn(ev, n, t)) {
                stopped = true;
                cancel.store(true, std::memory_order_relaxed);
            }
        },
        0, &cancel);
    return !stopped;
}

}  // namespace korvane
