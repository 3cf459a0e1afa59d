#include "KvRecords.h"

#include <cstring>

namespace korvane {

namespace {

// Negative or overflowing sizes would make the allocation nonsense; treat them as empty.
size_t byteCount(int width, int height) {
    int64_t n = int64_t(width) * int64_t(height) * 3;
    return n > 0 ? size_t(n) : 0;
}

std::shared_ptr<uint8_t> allocatePixels(size_t bytes) {
    return std::shared_ptr<uint8_t>(new uint8_t[bytes == 0 ? 1 : bytes](),
                                    std::default_delete<uint8_t[]>());
}

}  // namespace

ApsFrame::ApsFrame(int width, int height, uint64_t frameTag_, uint64_t timestamp_)
    : frameTag(frameTag_),
      timestamp(timestamp_),
      width_(width),
      height_(height),
      pixelType_(APS_PIXEL_BGR888),
      data_(allocatePixels(byteCount(width, height))) {}

ApsFrame::ApsFrame(int width, int height, uint64_t frameTag_, uint64_t timestamp_, uint8_t* source,
                   uint64_t /*size*/, bool copy)
    : frameTag(frameTag_),
      timestamp(timestamp_),
      width_(width),
      height_(height),
      pixelType_(APS_PIXEL_BGR888) {
    if (copy) {
        size_t bytes = byteCount(width, height);
        data_ = allocatePixels(bytes);
        if (source && bytes) std::memcpy(data_.get(), source, bytes);
    } else {
        // Borrowed: the caller keeps ownership, so the deleter frees nothing.
        data_ = std::shared_ptr<uint8_t>(source, [](uint8_t*) {});
    }
}

ApsFrame::ApsFrame(const ApsFrame& other) = default;

ApsFrame& ApsFrame::operator=(const ApsFrame& other) {
    if (this == &other) return *this;
    frameTag = other.frameTag;
    timestamp = other.timestamp;
    width_ = other.width_;
    height_ = other.height_;
    pixelType_ = other.pixelType_;
    data_ = other.data_;
    return *this;
}

ApsFrame::~ApsFrame() = default;

ApsFrame ApsFrame::clone() const {
    ApsFrame copy(width_, height_, frameTag, timestamp);
    size_t bytes = byteCount(width_, height_);
    if (bytes && data_) std::memcpy(copy.data(), data_.get(), bytes);
    return copy;
}

uint64_t ApsFrame::getDataSize() const {
    // 32-bit signed product, as the interface promises, widened afterwards.
    return uint64_t(int64_t(int32_t(uint32_t(width_) * uint32_t(height_) * 3u)));
}

}  // namespace korvane
