#pragma once

// The one home of the event-image colour rule, shared by the playback
// renderer and the video export: events are counted per pixel and polarity
// (saturating), and each pixel shows its majority polarity, ties to ON,
// background where it saw no event.
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
// dropped.
void countEvents(const Event2D* first, const Event2D* last, int width, int height,
                 uint16_t* counts);

// Paints counts into RGB888 rows of bytesPerLine bytes each (>= 3 x width).
void paintCounts(const uint16_t* counts, int width, int height, const PaintTheme& theme,
                 uint8_t* rgb, size_t bytesPerLine);

}  // namespace korvane
