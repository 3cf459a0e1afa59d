#pragma once

// Value records exchanged between the program and the camera libraries.
// Field order, widths and signedness are part of the binary interface.
// ApsFrame copies share one pixel buffer (atomic reference count); only
// clone() copies pixels. A borrowed buffer (copy flag false) stays owned by
// the caller, who must keep it alive while any copy of the frame lives.

#include <cstdint>
#include <memory>

#include "KorvaneBaseExport.h"

namespace korvane {

struct KORVANE_BASE_API Event2D {
    uint16_t x;
    uint16_t y;
    uint8_t polarity;
    uint64_t timestamp;

    Event2D() : x(0), y(0), polarity(0), timestamp(0) {}
    Event2D(uint16_t x_, uint16_t y_, uint8_t polarity_, uint64_t timestamp_)
        : x(x_), y(y_), polarity(polarity_), timestamp(timestamp_) {}
    Event2D(const Event2D&) = default;
    Event2D(Event2D&&) = default;
    Event2D& operator=(const Event2D&) = default;
    Event2D& operator=(Event2D&&) = default;

    bool operator==(const Event2D& o) const {
        return x == o.x && y == o.y && polarity == o.polarity && timestamp == o.timestamp;
    }
};

struct KORVANE_BASE_API EventTriggerIn {
    int16_t polarity;
    uint64_t timestamp;
    int16_t id;

    EventTriggerIn() : polarity(0), timestamp(0), id(0) {}
    // Parameter order (id, polarity, timestamp) differs from the field order on purpose.
    EventTriggerIn(int16_t id_, int16_t polarity_, uint64_t timestamp_)
        : polarity(polarity_), timestamp(timestamp_), id(id_) {}
    EventTriggerIn(const EventTriggerIn&) = default;
    EventTriggerIn(EventTriggerIn&&) = default;
    EventTriggerIn& operator=(const EventTriggerIn&) = default;
    EventTriggerIn& operator=(EventTriggerIn&&) = default;

    bool operator==(const EventTriggerIn& o) const {
        return polarity == o.polarity && timestamp == o.timestamp && id == o.id;
    }
};

enum ApsPixelType : int32_t {
    APS_PIXEL_BGR888 = 0,
};

class KORVANE_BASE_API ApsFrame {
public:
    uint64_t frameTag;
    uint64_t timestamp;
    int32_t width_;
    int32_t height_;
    ApsPixelType pixelType_;
    std::shared_ptr<uint8_t> data_;

    ApsFrame(int width = 3840, int height = 2160, uint64_t frameTag = 0, uint64_t timestamp = 0);
    ApsFrame(int width, int height, uint64_t frameTag, uint64_t timestamp, uint8_t* source,
             uint64_t size, bool copy);
    ApsFrame(const ApsFrame& other);
    ApsFrame& operator=(const ApsFrame& other);
    ~ApsFrame();

    ApsFrame clone() const;

    int width() const { return width_; }
    int height() const { return height_; }
    ApsPixelType pixelType() const { return pixelType_; }
    uint8_t* data() { return data_.get(); }
    const uint8_t* data() const { return data_.get(); }
    uint64_t getDataSize() const;
};

struct KORVANE_BASE_API KvStatisticInfo {
    uint64_t bandwidth;  // bytes per second
    uint64_t eventRate;  // events per second

    KvStatisticInfo() : bandwidth(0), eventRate(0) {}
    KvStatisticInfo(uint64_t bandwidth_, uint64_t eventRate_)
        : bandwidth(bandwidth_), eventRate(eventRate_) {}
    KvStatisticInfo(const KvStatisticInfo&) = default;
    KvStatisticInfo(KvStatisticInfo&&) = default;
    KvStatisticInfo& operator=(const KvStatisticInfo&) = default;
    KvStatisticInfo& operator=(KvStatisticInfo&&) = default;
};

}  // namespace korvane
