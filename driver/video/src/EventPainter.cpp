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

void countEvents(const Event2D* first, const Event2D* last, int width, int height, uint16_t* counts,
                 uint32_t mirrorWidth) {
    if (width <= 0 || height <= 0) return;
    const uint32_t w = uint32_t(width), h = uint32_t(height);
    // Two loops: the plain one is the playback's hot path.
    if (mirrorWidth > 0) {
        for (const Event2D* e = first; e != last; ++e) {
            const uint32_t x = e->x < mirrorWidth ? mirrorWidth - 1 - e->x : e->x;
            if (x >= w || e->y >= h) continue;
            uint16_t& c = counts[(size_t(e->y) * w + x) * 2 + (e->polarity ? 1 : 0)];
            c = uint16_t(c + (c < kEventCountLimit));
        }
        return;
    }
    for (const Event2D* e = first; e != last; ++e) {
        if (e->x >= w || e->y >= h) continue;
        uint16_t& c = counts[(size_t(e->y) * w + e->x) * 2 + (e->polarity ? 1 : 0)];
        c = uint16_t(c + (c < kEventCountLimit));
    }
}

void countEventsPacked(const Event2D* first, const Event2D* last, int width, int height,
                       uint8_t* cells, uint32_t mirrorWidth) {
    if (width <= 0 || height <= 0) return;
    const uint32_t w = uint32_t(width), h = uint32_t(height);
    // One byte a pixel; the polarity picks the nibble, which stops at the limit.
    auto add = [&](uint32_t x, uint32_t y, uint8_t polarity) {
        uint8_t& c = cells[size_t(y) * w + x];
        const unsigned shift = polarity ? 4 : 0;
        c = uint8_t(c + (unsigned(((c >> shift) & 0x0F) < kEventCountLimit) << shift));
    };
    if (mirrorWidth > 0) {
        for (const Event2D* e = first; e != last; ++e) {
            const uint32_t x = e->x < mirrorWidth ? mirrorWidth - 1 - e->x : e->x;
            if (x >= w || e->y >= h) continue;
            add(x, e->y, e->polarity);
        }
        return;
    }
    for (const Event2D* e = first; e != last; ++e) {
        if (e->x >= w || e->y >= h) continue;
        add(e->x, e->y, e->polarity);
    }
}

namespace {

// A colour as a 32-bit word whose first three bytes in memory are the
// pixel's three bytes in the given order.
uint32_t pixelWord(const PaintColor& c, PixelOrder order) {
    const uint8_t bytes[4] = {order == PixelOrder::Rgb ? c.r : c.b, c.g,
                              order == PixelOrder::Rgb ? c.b : c.r, 0};
    uint32_t word;
    std::memcpy(&word, bytes, 4);
    return word;
}

}  // namespace

void paintCounts(const uint16_t* counts, int width, int height, const PaintTheme& theme,
                 uint8_t* pixels, size_t bytesPerLine, PixelOrder order) {
    // 0 background, 1 ON, 2 OFF
    const uint32_t palette[3] = {pixelWord(theme.background, order), pixelWord(theme.on, order),
                                 pixelWord(theme.off, order)};
    for (int y = 0; y < height; ++y) {
        uint8_t* row = pixels + size_t(y) * bytesPerLine;
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

void paintPacked(const uint8_t* cells, int width, int height, const PaintTheme& theme,
                 uint8_t* pixels, size_t bytesPerLine, PixelOrder order) {
    const uint32_t background = pixelWord(theme.background, order), on = pixelWord(theme.on, order),
                   off = pixelWord(theme.off, order);
    // Every cell's colour, worked out once: the rule of paintCounts.
    uint32_t colours[256];
    for (unsigned cell = 0; cell < 256; ++cell) {
        const unsigned o = packedOff(uint8_t(cell)), n = packedOn(uint8_t(cell));
        colours[cell] = (n != 0 && n >= o) ? on : (o > n ? off : background);
    }
    for (int y = 0; y < height; ++y) {
        uint8_t* row = pixels + size_t(y) * bytesPerLine;
        const uint8_t* c = cells + size_t(y) * size_t(width);
        for (int x = 0; x + 1 < width; ++x)
            std::memcpy(row + 3 * x, &colours[c[x]], 4);  // the spare byte is the next pixel's
        if (width > 0) std::memcpy(row + 3 * (width - 1), &colours[c[width - 1]], 3);
    }
}

void drawEvents(const Event2D* first, const Event2D* last, int width, int height,
                const PaintTheme& theme, uint8_t* pixels, size_t bytesPerLine, PixelOrder order,
                bool mirrored) {
    if (width <= 0 || height <= 0) return;
    const uint32_t on = pixelWord(theme.on, order), off = pixelWord(theme.off, order);
    const uint32_t w = uint32_t(width), h = uint32_t(height);
    for (const Event2D* e = first; e != last; ++e) {
        if (e->x >= w || e->y >= h) continue;
        const uint32_t column = mirrored ? w - 1 - e->x : e->x;
        std::memcpy(pixels + size_t(e->y) * bytesPerLine + size_t(column) * 3,
                    e->polarity == 1 ? &on : &off, 3);
    }
}

}  // namespace korvane
