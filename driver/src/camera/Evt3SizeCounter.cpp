#include "Evt3SizeCounter.h"

namespace korvane {

namespace {
constexpr uint64_t kMaxStep = 2047;  // the writer bridges longer jumps of the high time
constexpr size_t kMinVectorRun = 3;
}  // namespace

uint64_t Evt3SizeCounter::timeWords(uint64_t t) {
    const uint64_t target = t >> 12;
    const uint16_t low = uint16_t(t & 0xFFF);
    uint64_t words = 0;
    const bool highChanged = !haveTime_ || target != highSteps_;
    if (highChanged) {
        if (haveTime_) {
            const uint64_t jump = target > highSteps_ ? target - highSteps_ : highSteps_ - target;
            if (jump > kMaxStep) words += (jump - 1) / kMaxStep;
        }
        highSteps_ = target;
        haveTime_ = true;
        ++words;
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
    uint64_t words = 0;
    size_t i = 0;
    while (i < count) {
        const Event2D& e = events[i];
        if (e.x > 0x7FF || e.y > 0x7FF) {
            ++i;
            continue;
        }
        words += timeWords(e.timestamp);
        if (!haveY_ || e.y != y_) {
            y_ = e.y;
            haveY_ = true;
            ++words;
        }
        const uint8_t pol = e.polarity ? 1 : 0;
        size_t j = i + 1;
        while (j < count && events[j].timestamp == e.timestamp && events[j].y == e.y &&
               (events[j].polarity ? 1 : 0) == pol && events[j].x > events[j - 1].x &&
               events[j].x - events[j - 1].x < 12 && events[j].x <= 0x7FF) {
            ++j;
        }
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
        i = j;
    }
    return 2 * words;
}

}  // namespace korvane
