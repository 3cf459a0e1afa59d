#include "RangePass.h"

#include <vector>

namespace korvane {

namespace {
// Index checkpoints per window: each window re-decodes at most one
// checkpoint's stretch before its start, so this keeps the extra work near
// 1/16 while a stop still comes soon.
constexpr size_t kCheckpointsPerWindow = 16;
}  // namespace

bool deliverRawRange(DvsFileReader& reader, uint64_t from_us, uint64_t to_us, const BatchFn& fn) {
    if (from_us >= to_us) return true;
    std::vector<uint64_t> bounds{from_us};
    const auto& entries = reader.index().entries();
    for (size_t k = kCheckpointsPerWindow; k < entries.size(); k += kCheckpointsPerWindow) {
        const uint64_t key = entries[k].keyTime;
        if (key > bounds.back() && key < to_us) bounds.push_back(key);
    }
    bounds.push_back(to_us);
    bool stopped = false;
    for (size_t w = 0; w + 1 < bounds.size() && !stopped; ++w) {
        reader.forEachChunk(bounds[w], bounds[w + 1],
                            [&](const Event2D* ev, size_t n, const std::vector<TriggerRecord>& t) {
                                if (!stopped && !fn(ev, n, t)) stopped = true;
                            });
    }
    return !stopped;
}

}  // namespace korvane
