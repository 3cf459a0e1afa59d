#include "korvane/video/EventPainter.h"

#include <cstring>

namespace korvane {

bool paintThemeByName(const std::string& name, PaintTheme& theme) {
    struct Row {
        const char* name;
        PaintTheme theme;
    };
    static const Row kRows[] = {
        {"Gray", {{191, 188, 180}, {64, 61, 51}, {112, 112, 112}}},
        {"RedBlue", {{255, 0, 0}, {0, 0, 255}, {112, 112, 112}}},
        {"Dark", {{216, 223, 236}, {64, 126, 201}, {30, 37, 52}}},
        {"RedGreen", {{255, 0, 0}, {0, 255, 0}, {112, 112, 112}}},
        {"Light", {{0, 0, 0}, {64, 126, 201}, {255, 255, 255}}},
    };
    for (const Row& row : kRows) {
        if (name == row.name) {
            theme = row.theme;
            return true;
        }
    }
    return false;
}

void countEvents(const Event2D* first, const Event2D* last, int width, int height,
                 uint16_t* counts) {
    if (width <= 0 || height <= 0) return;
    const uint32_t w = uint32_t(width), h = uint32_t(height);
    for (const Event2D* e = first; e != last; ++e) {
        if (e->x >= w || e->y >= h) continue;
        uint16_t& c = counts[(size_t(e->y) * w + e->x) * 2 + (e->polarity ? 1 : 0)];
        c = uint16_t(c + (c < kEventCountLimit));
    }
}

void paintCounts(const uint16_t* counts, int width, int height, const PaintTheme& theme,
                 uint8_t* rgb, size_t bytesPerLine) {
    // Colours as 32-bit words whose first three bytes in memory are R, G, B.
    uint32_t palette[3];  // 0 background, 1 ON, 2 OFF
    const PaintColor* colors[3] = {&theme.background, &theme.on, &theme.off};
    for (int k = 0; k < 3; ++k) {
        const uint8_t bytes[4] = {colors[k]->r, colors[k]->g, colors[k]->b, 0};
        std::memcpy(&palette[k], bytes, 4);
    }
    for (int y = 0; y < height; ++y) {
        uint8_t* row = rgb + size_t(y) * bytesPerLine;
        const uint16_t* c = counts + size_t(y) * size_t(width) * 2;
        for (int x = 0; x < width; ++x) {
            const unsigned off = c[2 * x], on = c[2 * x + 1];
            const unsigned onWins = (on != 0) & (on >= off);
            const unsigned offWins = off > on;
            const uint32_t colour = palette[onWins + 2 * offWins];
            if (x + 1 < width) {
                std::memcpy(row + 3 * x, &colour, 4);  // the spare byte is the next pixel's
            } else {
                std::memcpy(row + 3 * x, &colour, 3);
            }
        }
    }
}

}  // namespace korvane
