#include "korvane/camera/Evt3SizeCounter.h"

#include "korvane/file/RawWriter.h"

namespace korvane {

namespace {
constexpr size_t kMinVectorRun = 3;
}  // namespace

uint64_t Evt3SizeCounter::timeWords(uint64_t t) {
    const uint64_t target = t >> 12;
    const uint16_t low = uint16_t(t & 0xFFF);
    uint64_t words = 0;
    const bool highChanged = !haveTime_ || target != highSteps_;
    if (highChanged) {
        // As the writer bridges long jumps of the high time.
        words += haveTime_ ? timeHighWords(highSteps_, target, 12) : 1;
        highSteps_ = target;
        haveTime_ = true;
    }
    if (highChanged || low != low_) {
        low_ = low;
        ++words;
    }
    return words;
}

uint64_t Evt3SizeCounter::addTrigger(const EventTriggerIn& trigger) {
    return 2 * (timeWords(trigger.timestamp) + 1);
}

uint64_t Evt3SizeCounter::addEvents(const Event2D* events, size_t count) {
    // Most events of a live stream are single EVT_ADDR_X words; the checks
    // are written without branches so that the rare runs are the only
    // surprises for the processor.
    uint64_t words = 0;
    uint64_t lastTime = haveTime_ ? (highSteps_ << 12) | low_ : UINT64_MAX;
    // The row in a local: a member could alias the events' rows, and the
    // compiler would then reload it for every event.
    bool haveY = haveY_;
    uint16_t y = y_;
    for (size_t i = 0; i < count; ++i) {
        const Event2D& e = events[i];
        if (e.x > 0x7FF || e.y > 0x7FF) [[unlikely]]
            continue;
        if (e.timestamp != lastTime) {
            words += timeWords(e.timestamp);
            lastTime = e.timestamp;
        }
        words += uint64_t(!haveY | (e.y != y));
        y = e.y;
        haveY = true;
        const uint8_t pol = e.polarity ? 1 : 0;
        auto continues = [&](size_t j) {
            const Event2D& n = events[j];
            return bool((n.timestamp == e.timestamp) & (n.y == e.y) &
                        ((n.polarity ? 1 : 0) == pol) & (n.x > events[j - 1].x) &
                        (n.x - events[j - 1].x < 12) & (n.x <= 0x7FF));
        };
        if (i + 1 >= count || !continues(i + 1)) [[likely]] {
            ++words;
            continue;
        }
        size_t j = i + 2;
        while (j < count && continues(j))
            ++j;
        if (j - i < kMinVectorRun) {
            words += j - i;
        } else {
            ++words;  // VECT_BASE_X
            uint32_t base = e.x;
            size_t k = i;
            while (k < j) {
                const uint32_t span = events[j - 1].x - base;
                const uint32_t width = span < 8 ? 8 : 12;
                while (k < j && events[k].x < base + width)
                    ++k;
                ++words;
                base += width;
            }
        }
        i = j - 1;
    }
    haveY_ = haveY;
    y_ = y;
    return 2 * words;
}

uint64_t Evt3SizeCounter::addChunk(const Event2D* events, size_t count,
                                   const std::vector<TriggerRecord>& edges) {
    uint64_t bytes = 0;
    visitInFileOrder(
        events, count, edges, [&](const Event2D* first, size_t n) { bytes += addEvents(first, n); },
        [&](const EventTriggerIn& edge) { bytes += addTrigger(edge); });
    return bytes;
}

}  // namespace korvane
