#pragma once

// The one home of the event-image colour rule, shared by the playback
// renderer, the live views, the fusion views and the video export: events
// are counted per pixel and polarity (saturating), and each pixel shows its
// majority polarity, ties to ON, background where it saw no event. Events
// drawn over a camera frame take their own polarity's colour, the last one
// at a pixel winning.
//
// Plain functions on caller-owned buffers; no state, any thread.

#include <cstddef>
#include <cstdint>
#include <string>

#include "KvRecords.h"

namespace korvane {

struct PaintColor {
    uint8_t r = 0, g = 0, b = 0;
};

struct PaintTheme {
    PaintColor on;
    PaintColor off;
    PaintColor background;
};

// The named themes of the colour-type setting ("Gray", "RedBlue", "Dark",
// "RedGreen", "Light"), for tools without the program's configuration.
// False for an unknown name.
bool paintThemeByName(const std::string& name, PaintTheme& theme);

// The largest value a counter reaches: beyond it more events change nothing.
constexpr uint16_t kEventCountLimit = 10;

// Adds the events of [first, last) to counts (width x height x 2 counters,
// OFF then ON per pixel, rows top to bottom). Events outside the grid are
// dropped. mirrorWidth > 0 first turns each column x below it into
// mirrorWidth - 1 - x (a recording stored mirrored, see storedMirrorWidth).
void countEvents(const Event2D* first, const Event2D* last, int width, int height, uint16_t* counts,
                 uint32_t mirrorWidth = 0);

// The same counters packed one byte a pixel, OFF in the low four bits and
// ON in the high four (kEventCountLimit fits in four): a quarter of the
// memory, so the scattered increments of a dense window mostly stay in the
// cache. cells holds width x height bytes.
void countEventsPacked(const Event2D* first, const Event2D* last, int width, int height,
                       uint8_t* cells, uint32_t mirrorWidth = 0);
constexpr uint8_t packedOff(uint8_t cell) {
    return cell & 0x0F;
}
constexpr uint8_t packedOn(uint8_t cell) {
    return cell >> 4;
}

// The byte order of a painted pixel: Qt's RGB888 or BGR888 images.
enum class PixelOrder { Rgb, Bgr };

// Paints counts into 24-bit rows of bytesPerLine bytes each (>= 3 x width).
void paintCounts(const uint16_t* counts, int width, int height, const PaintTheme& theme,
                 uint8_t* pixels, size_t bytesPerLine, PixelOrder order = PixelOrder::Rgb);

// The same rule painted from packed cells.
void paintPacked(const uint8_t* cells, int width, int height, const PaintTheme& theme,
                 uint8_t* pixels, size_t bytesPerLine, PixelOrder order = PixelOrder::Rgb);

// A colour in BT.601 limited-range YUV, the space the video encoder writes
// (Y 16-235, U and V 16-240), rounded as FFmpeg's converter rounds luma.
struct YuvColor {
    uint8_t y = 16, u = 128, v = 128;
};
YuvColor toYuv(const PaintColor& c);

// The rule of paintPacked painted straight into a planar YUV 4:2:0 image
// (I420): the Y plane, height rows yStride apart, then the U and V planes,
// height / 2 rows of width / 2 each, yStride / 2 apart. What FFmpeg's
// converter makes of the painted RGB picture: the same luma, and chroma
// weighed over the 2 x 4 block around each sample, (1 1) across and
// (1 3 3 1) down, within one level of it (pictures under 8 rows, which the
// converter filters otherwise, excepted). Width and height even (as the
// encoder takes); otherwise nothing is painted.
void paintPackedI420(const uint8_t* cells, int width, int height, const PaintTheme& theme,
                     uint8_t* i420, size_t yStride);

// Draws each event of [first, last) in its polarity's colour onto 24-bit
// rows (width x height, bytesPerLine each); mirrored puts column x at
// width - 1 - x. Events outside the grid are dropped.
void drawEvents(const Event2D* first, const Event2D* last, int width, int height,
                const PaintTheme& theme, uint8_t* pixels, size_t bytesPerLine, PixelOrder order,
                bool mirrored);

}  // namespace korvane
