#include "TimeIndex.h"

#include <emmintrin.h>

#include <algorithm>
#include <memory>

#include "RawFile.h"

namespace korvane {

namespace {

inline void applyEvt3Word(uint16_t w, DecoderState& s) {
    switch (w >> 12) {
        case 0x0:
            s.y = w & 0x7FF;
            break;
        case 0x3:
            s.baseX = w & 0x7FF;
            s.polarity = uint8_t((w >> 11) & 1);
            break;
        case 0x4:
            s.baseX = uint16_t(s.baseX + 12);
            break;
        case 0x5:
            s.baseX = uint16_t(s.baseX + 8);
            break;
        case 0x6:
            s.low = w & 0xFFF;
            s.time = s.timeHigh | s.low;
            break;
        case 0x8: {
            const uint64_t high =
                s.haveTime ? nextEvt3TimeHigh(s.timeHigh, w & 0xFFF) : uint64_t(w & 0xFFF) << 12;
            if (s.haveTime && high != s.timeHigh) s.low = 0;  // as the decoder does
            s.timeHigh = high;
            s.time = s.timeHigh | s.low;
            s.haveTime = true;
            break;
        }
        default:
            break;
    }
}

inline uint32_t typeMask(__m128i ta, __m128i tb, int type) {
    const __m128i v = _mm_set1_epi16(short(type));
    return uint32_t(
        _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(ta, v), _mm_cmpeq_epi16(tb, v))));
}

inline unsigned lastBit(uint32_t mask) {
    return 31u - unsigned(__builtin_clz(mask));
}

// One block of 16 words. Only the last word of each kind matters unless a
// TIME_HIGH is present (its wrap rule depends on the previous one), so that
// case falls back to the word-by-word walk.
inline void advanceEvt3Block(const uint8_t* p, DecoderState& s) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i ta = _mm_srli_epi16(a, 12);
    const __m128i tb = _mm_srli_epi16(b, 12);
    if (typeMask(ta, tb, 0x8)) {
        for (int i = 0; i < 16; ++i)
            applyEvt3Word(loadWord16(p + 2 * i), s);
        return;
    }
    if (uint32_t m = typeMask(ta, tb, 0x0)) s.y = loadWord16(p + 2 * lastBit(m)) & 0x7FF;
    if (uint32_t m = typeMask(ta, tb, 0x6)) {
        s.low = loadWord16(p + 2 * lastBit(m)) & 0xFFF;
        s.time = s.timeHigh | s.low;
    }
    uint32_t m12 = typeMask(ta, tb, 0x4);
    uint32_t m8 = typeMask(ta, tb, 0x5);
    if (uint32_t mb = typeMask(ta, tb, 0x3)) {
        unsigned j = lastBit(mb);
        uint16_t w = loadWord16(p + 2 * j);
        s.baseX = w & 0x7FF;
        s.polarity = uint8_t((w >> 11) & 1);
        uint32_t after = ~((2u << j) - 1u);
        m12 &= after;
        m8 &= after;
    }
    if (m12 | m8) {
        s.baseX = uint16_t(s.baseX + 12 * __builtin_popcount(m12) + 8 * __builtin_popcount(m8));
    }
}

}  // namespace

void TimeIndex::advanceEvt3(const uint8_t* bytes, size_t words, DecoderState& s) {
    size_t i = 0;
    for (; i + 16 <= words; i += 16)
        advanceEvt3Block(bytes + 2 * i, s);
    for (; i < words; ++i)
        applyEvt3Word(loadWord16(bytes + 2 * i), s);
}

void TimeIndex::advanceEvt2(const uint8_t* bytes, size_t words, DecoderState& s) {
    for (size_t i = 0; i < words; ++i) {
        uint32_t w = loadWord32(bytes + 4 * i);
        if ((w >> 28) == 0x8) {
            s.timeHigh = s.haveTime ? nextEvt2TimeHigh(s.timeHigh, w & 0x0FFFFFFF)
                                    : uint64_t(w & 0x0FFFFFFF) << 6;
            s.time = s.timeHigh;
            s.haveTime = true;
        }
    }
}

// The running state of a scan: checkpoints every stepBytes from dataOffset.
struct TimeIndex::Scan {
    TimeIndex index;
    DecoderState state;
    uint64_t key = 0;
    uint64_t wordSize;
    uint64_t end;  // end of the last whole word

    Scan(uint64_t dataOffset, uint64_t dataEnd, RawFormat format, uint64_t stepBytes)
        : wordSize(wordSizeBytes(format)) {
        index.format_ = format;
        // Steps are whole 32-byte blocks so the block walk never straddles one.
        index.stepBytes_ = std::max<uint64_t>(32, stepBytes - stepBytes % 32);
        const uint64_t words = dataEnd > dataOffset ? (dataEnd - dataOffset) / wordSize : 0;
        end = dataOffset + words * wordSize;
        index.entries_.reserve(size_t(words * wordSize / index.stepBytes_ + 2));
        index.entries_.push_back({dataOffset, 0, state});
    }

    // Walks [pos, pos + length) whose bytes start at `bytes`; length is whole
    // steps except at the very end.
    void walk(const uint8_t* bytes, uint64_t pos, uint64_t length) {
        const uint64_t stop = pos + length;
        while (pos < stop) {
            const uint64_t chunk = std::min(index.stepBytes_, stop - pos);
            if (index.format_ == RawFormat::Evt2) {
                advanceEvt2(bytes, size_t(chunk / wordSize), state);
            } else {
                advanceEvt3(bytes, size_t(chunk / wordSize), state);
            }
            bytes += chunk;
            pos += chunk;
            if (state.haveTime) key = std::max(key, state.time);
            if (pos < end) index.entries_.push_back({pos, key, state});
        }
    }
};

TimeIndex TimeIndex::build(const uint8_t* data, uint64_t dataOffset, uint64_t dataEnd,
                           RawFormat format, uint64_t stepBytes) {
    Scan scan(dataOffset, dataEnd, format, stepBytes);
    scan.walk(data + dataOffset, dataOffset, scan.end - dataOffset);
    return std::move(scan.index);
}

TimeIndex TimeIndex::build(const RawFile& file, uint64_t dataOffset, uint64_t dataEnd,
                           RawFormat format, uint64_t stepBytes,
                           const std::function<bool(uint64_t)>& progress) {
    Scan scan(dataOffset, dataEnd, format, stepBytes);
    // Pieces of whole steps, read into one buffer that stays in cache-friendly reuse.
    // A small file needs no 8 MiB buffer: whole steps, as many as the data fills.
    const uint64_t step = scan.index.stepBytes_;
    const uint64_t dataSteps = (scan.end - dataOffset + step - 1) / step;
    const uint64_t pieceBytes =
        step * std::max<uint64_t>(1, std::min<uint64_t>((8u << 20) / step, dataSteps));
    std::unique_ptr<uint8_t[]> piece(new uint8_t[size_t(pieceBytes)]);
    uint64_t pos = dataOffset;
    while (pos < scan.end) {
        const uint64_t want = std::min(pieceBytes, scan.end - pos);
        const uint64_t got =
            file.readAt(pos, piece.get(), size_t(want)) / scan.wordSize * scan.wordSize;
        if (got < want) scan.end = pos + got;  // the file shrank: index what is there
        scan.walk(piece.get(), pos, got);
        pos += got;
        if (got == 0 || (progress && !progress(pos))) break;
    }
    return std::move(scan.index);
}

const IndexEntry& TimeIndex::entryBefore(uint64_t t) const {
    // EVT2 events carry 6 time bits of their own beyond the state's time.
    const uint64_t slack = format_ == RawFormat::Evt2 ? 64 : 1;
    if (t < slack) return entries_.front();
    const uint64_t limit = t - slack;
    auto it = std::upper_bound(entries_.begin(), entries_.end(), limit,
                               [](uint64_t v, const IndexEntry& e) { return v < e.keyTime; });
    return it == entries_.begin() ? entries_.front() : *(it - 1);
}

}  // namespace korvane
