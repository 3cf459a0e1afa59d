#include "korvane/video/EventPainter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define KORVANE_PAINT_SSE2 1
#else
#define KORVANE_PAINT_SSE2 0
#endif

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

namespace {

// Every packed cell's colour, worked out once: the rule of paintCounts.
template <typename Colour>
void cellColours(const Colour& background, const Colour& on, const Colour& off,
                 Colour (&colours)[256]) {
    for (unsigned cell = 0; cell < 256; ++cell) {
        const unsigned o = packedOff(uint8_t(cell)), n = packedOn(uint8_t(cell));
        colours[cell] = (n != 0 && n >= o) ? on : (o > n ? off : background);
    }
}

}  // namespace

void paintPacked(const uint8_t* cells, int width, int height, const PaintTheme& theme,
                 uint8_t* pixels, size_t bytesPerLine, PixelOrder order) {
    uint32_t colours[256];
    cellColours(pixelWord(theme.background, order), pixelWord(theme.on, order),
                pixelWord(theme.off, order), colours);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = pixels + size_t(y) * bytesPerLine;
        const uint8_t* c = cells + size_t(y) * size_t(width);
        for (int x = 0; x + 1 < width; ++x)
            std::memcpy(row + 3 * x, &colours[c[x]], 4);  // the spare byte is the next pixel's
        if (width > 0) std::memcpy(row + 3 * (width - 1), &colours[c[width - 1]], 3);
    }
}

#if KORVANE_PAINT_SSE2
namespace {

// Sixteen cells' colours as two disjoint byte masks (the rule of paintCounts):
// ON shows where ON saw events and at least as many as OFF, OFF where it
// saw more; the rest is background. Counts are 0-15, so signed compares hold.
struct CellMasks {
    __m128i on, off;
};
inline CellMasks cellMasks(__m128i cells) {
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i off = _mm_and_si128(cells, nibble);
    const __m128i on = _mm_and_si128(_mm_srli_epi16(cells, 4), nibble);
    const __m128i offWins = _mm_cmpgt_epi8(off, on);
    const __m128i noOn = _mm_cmpeq_epi8(on, _mm_setzero_si128());
    return {_mm_andnot_si128(_mm_or_si128(offWins, noOn), _mm_set1_epi8(-1)), offWins};
}

inline __m128i pick(const CellMasks& m, uint8_t background, uint8_t on, uint8_t off) {
    const __m128i either = _mm_or_si128(m.on, m.off);
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(m.on, _mm_set1_epi8(char(on))),
                                     _mm_and_si128(m.off, _mm_set1_epi8(char(off)))),
                        _mm_andnot_si128(either, _mm_set1_epi8(char(background))));
}

// Sixteen 0/1 bytes summed in neighbouring pairs: eight bytes of 0-2.
inline __m128i pairSums(__m128i bits) {
    const __m128i sums =
        _mm_add_epi16(_mm_and_si128(bits, _mm_set1_epi16(0x00FF)), _mm_srli_epi16(bits, 8));
    return _mm_packus_epi16(sums, sums);
}

}  // namespace
#endif

namespace {

// BT.601 limited range, unrounded.
struct YuvExact {
    double y, u, v;
};
YuvExact yuvExact(const PaintColor& c) {
    const double r = c.r, g = c.g, b = c.b;
    return {16.0 + 219.0 / 255.0 * (0.299 * r + 0.587 * g + 0.114 * b),
            128.0 + 224.0 / 255.0 * (-0.168736 * r - 0.331264 * g + 0.5 * b),
            128.0 + 224.0 / 255.0 * (0.5 * r - 0.418688 * g - 0.081312 * b)};
}

uint8_t roundedByte(double x) {
    return uint8_t(std::clamp(std::lround(x), 0L, 255L));
}

// For each row of cells, how many of each pair of pixels show ON and how
// many OFF (0-2 each): what a chroma sample weighs.
void rowPairs(const uint8_t* cells, size_t width, const uint8_t (&shows)[256], uint8_t* on,
              uint8_t* off) {
    size_t x = 0;
#if KORVANE_PAINT_SSE2
    const __m128i one = _mm_set1_epi8(1);
    for (; x + 16 <= width; x += 16) {
        const CellMasks m = cellMasks(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + x)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(on + x / 2),
                         pairSums(_mm_and_si128(m.on, one)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(off + x / 2),
                         pairSums(_mm_and_si128(m.off, one)));
    }
#endif
    for (; x < width; x += 2) {
        const uint8_t a = shows[cells[x]], b = shows[cells[x + 1]];
        on[x / 2] = uint8_t((a == 1) + (b == 1));
        off[x / 2] = uint8_t((a == 2) + (b == 2));
    }
}

}  // namespace

YuvColor toYuv(const PaintColor& c) {
    // Luma in FFmpeg's converter's own fixed point (its coefficients scaled
    // by 2^15, rounded in two steps), so that it comes out the same for
    // every colour; chroma, mixed below, from the exact values.
    const int r = c.r, g = c.g, b = c.b;
    const int y = (((8414 * r + 16519 * g + 3208 * b + (32 << 14) + (1 << 8)) >> 9) + 32) >> 6;
    const YuvExact e = yuvExact(c);
    return {uint8_t(y), roundedByte(e.u), roundedByte(e.v)};
}

void paintPackedI420(const uint8_t* cells, int width, int height, const PaintTheme& theme,
                     uint8_t* i420, size_t yStride) {
    if (width <= 0 || height <= 0 || width % 2 || height % 2) return;
    const YuvColor bg = toYuv(theme.background), on = toYuv(theme.on), off = toYuv(theme.off);
    uint8_t shows[256];  // 0 background, 1 ON, 2 OFF
    cellColours(uint8_t(0), uint8_t(1), uint8_t(2), shows);
    const uint8_t luma[3] = {bg.y, on.y, off.y};
    // A chroma sample is the 2 x 4 block around it weighed (1 1) across and
    // (1 3 3 1) down, as FFmpeg's converter weighs it: 16 parts, each one of
    // three colours. Every split of the parts into ON and OFF, worked out
    // once and rounded once.
    const YuvExact eb = yuvExact(theme.background), en = yuvExact(theme.on),
                   ef = yuvExact(theme.off);
    constexpr int kParts = 16;
    uint8_t mixU[(kParts + 1) * (kParts + 1)], mixV[(kParts + 1) * (kParts + 1)];
    for (int n = 0; n <= kParts; ++n) {
        for (int f = 0; f <= kParts; ++f) {
            const double b = double(kParts - std::min(kParts, n + f));
            mixU[n * (kParts + 1) + f] = roundedByte((b * eb.u + n * en.u + f * ef.u) / kParts);
            mixV[n * (kParts + 1) + f] = roundedByte((b * eb.v + n * en.v + f * ef.v) / kParts);
        }
    }

    const size_t w = size_t(width), h = size_t(height), cw = w / 2, cStride = yStride / 2;
    for (size_t row = 0; row < h; ++row) {
        const uint8_t* c = cells + row * w;
        uint8_t* y = i420 + row * yStride;
        size_t x = 0;
#if KORVANE_PAINT_SSE2
        for (; x + 16 <= w; x += 16) {
            const CellMasks m = cellMasks(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c + x)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(y + x), pick(m, bg.y, on.y, off.y));
        }
#endif
        for (; x < w; ++x)
            y[x] = luma[shows[c[x]]];
    }

    // Pair counts of the four rows a chroma row weighs (the edge rows
    // repeat), in a ring of four rows: each row is counted once.
    std::vector<uint8_t> pairs(8 * cw);
    auto onRow = [&](size_t row) { return &pairs[(row % 4) * 2 * cw]; };
    auto offRow = [&](size_t row) { return &pairs[(row % 4) * 2 * cw + cw]; };
    auto count = [&](size_t row) { rowPairs(cells + row * w, w, shows, onRow(row), offRow(row)); };
    uint8_t* const uPlane = i420 + yStride * h;
    uint8_t* const vPlane = uPlane + cStride * (h / 2);
    count(0);
    std::vector<uint16_t> mix(cw);
    for (size_t cy = 0; cy < h / 2; ++cy) {
        count(2 * cy + 1);
        if (2 * cy + 2 < h) count(2 * cy + 2);
        const size_t rows[4] = {cy > 0 ? 2 * cy - 1 : 0, 2 * cy, 2 * cy + 1,
                                std::min(h - 1, 2 * cy + 2)};
        const uint8_t *on0 = onRow(rows[0]), *on1 = onRow(rows[1]), *on2 = onRow(rows[2]),
                      *on3 = onRow(rows[3]);
        const uint8_t *off0 = offRow(rows[0]), *off1 = offRow(rows[1]), *off2 = offRow(rows[2]),
                      *off3 = offRow(rows[3]);
        size_t cx = 0;
#if KORVANE_PAINT_SSE2
        auto load = [](const uint8_t* p) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        };
        auto weigh = [&](const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d,
                         size_t at) {
            const __m128i middle = _mm_add_epi8(load(b + at), load(c + at));
            return _mm_add_epi8(_mm_add_epi8(load(a + at), load(d + at)),
                                _mm_add_epi8(middle, _mm_add_epi8(middle, middle)));
        };
        for (; cx + 16 <= cw; cx += 16) {
            const __m128i n = weigh(on0, on1, on2, on3, cx), f = weigh(off0, off1, off2, off3, cx);
            const __m128i zero = _mm_setzero_si128(), stride = _mm_set1_epi16(kParts + 1);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(&mix[cx]),
                             _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(n, zero), stride),
                                           _mm_unpacklo_epi8(f, zero)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(&mix[cx + 8]),
                             _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(n, zero), stride),
                                           _mm_unpackhi_epi8(f, zero)));
        }
#endif
        for (; cx < cw; ++cx) {
            const unsigned n = on0[cx] + 3u * (on1[cx] + on2[cx]) + on3[cx];
            const unsigned f = off0[cx] + 3u * (off1[cx] + off2[cx]) + off3[cx];
            mix[cx] = uint16_t(n * (kParts + 1) + f);
        }
        uint8_t* u = uPlane + cy * cStride;
        uint8_t* v = vPlane + cy * cStride;
        for (cx = 0; cx < cw; ++cx) {
            u[cx] = mixU[mix[cx]];
            v[cx] = mixV[mix[cx]];
        }
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
