#include "DeflatePlanes.h"

#include <zlib.h>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace korvane {

namespace {

// Runs are matches at distance 1.
namespace rle {

constexpr int kMaxBits = 15;     // litlen and distance codes
constexpr int kMaxCodeBits = 7;  // the code length code
constexpr int kLitLenSymbols = 286;
constexpr int kEndOfBlock = 256;

// Length 3..258 as its symbol and extra bits, ready to send.
struct LengthCode {
    uint16_t symbol = 0;
    uint8_t extraBits = 0;
    uint16_t extra = 0;
};

const std::array<LengthCode, 259>& lengthCodes() {
    static const std::array<LengthCode, 259> table = [] {
        static constexpr uint16_t kBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                               15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                               67, 83, 99, 115, 131, 163, 195, 227, 258};
        static constexpr uint8_t kExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                               2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        std::array<LengthCode, 259> t{};
        for (int c = 0; c < 29; ++c) {
            const int last = c == 28 ? 258 : kBase[c] + (1 << kExtra[c]) - 1;
            for (int len = kBase[c]; len <= last && len <= 258; ++len) {
                // 284 with all extra bits set would be 258, which has its own code.
                if (c == 27 && len == 258) break;
                t[size_t(len)] = {uint16_t(257 + c), kExtra[c], uint16_t(len - kBase[c])};
            }
        }
        return t;
    }();
    return table;
}

// Code lengths of a Huffman code for `freq`, none longer than maxBits. At
// least two symbols get a length (inflaters refuse a code of one symbol
// for some alphabets), so the code is always complete.
void codeLengths(const uint32_t* freq, int n, int maxBits, uint8_t* lens) {
    // (frequency, symbol) as one key, ascending; on the stack (n <= 286).
    std::array<uint64_t, kLitLenSymbols> syms;
    size_t m = 0;
    for (int i = 0; i < n; ++i) {
        lens[i] = 0;
        if (freq[i]) syms[m++] = uint64_t(freq[i]) << 16 | uint64_t(i);
    }
    for (int i = 0; m < 2; ++i) {
        if (!freq[i]) syms[m++] = uint64_t(1) << 16 | uint64_t(i);
    }
    std::sort(syms.begin(), syms.begin() + ptrdiff_t(m));
    // Two-queue Huffman: leaves in order, internal nodes made in order.
    std::array<uint64_t, 2 * kLitLenSymbols> weight;
    std::array<uint16_t, 2 * kLitLenSymbols> parent{};
    for (size_t i = 0; i < m; ++i)
        weight[i] = syms[i] >> 16;
    size_t leaf = 0, inner = m;
    auto take = [&](size_t made) {
        if (leaf < m && (inner >= made || weight[leaf] <= weight[inner])) return leaf++;
        return inner++;
    };
    for (size_t made = m; made < 2 * m - 1; ++made) {
        const size_t a = take(made), b = take(made);
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = uint16_t(made);
    }
    std::array<int, 2 * kLitLenSymbols> depth{};
    int count[64] = {};
    for (size_t i = 2 * m - 1; i-- > 0;) {
        if (i != 2 * m - 2) depth[i] = depth[parent[i]] + 1;
        if (i < m) ++count[std::min(depth[i], 63)];
    }
    // Longer codes than allowed: fold them in, then restore Kraft's equality.
    for (int b = maxBits + 1; b < 64; ++b) {
        count[maxBits] += count[b];
        count[b] = 0;
    }
    uint64_t total = 0;
    for (int b = 1; b <= maxBits; ++b)
        total += uint64_t(count[b]) << (maxBits - b);
    while (total != (uint64_t(1) << maxBits)) {
        --count[maxBits];
        for (int b = maxBits - 1; b > 0; --b) {
            if (count[b]) {
                --count[b];
                count[b + 1] += 2;
                break;
            }
        }
        --total;
    }
    // The rarest symbols get the longest codes.
    size_t next = 0;
    for (int b = maxBits; b >= 1; --b) {
        for (int k = 0; k < count[b]; ++k)
            lens[syms[next++] & 0xffff] = uint8_t(b);
    }
}

// Canonical codes for the lengths, bit-reversed for LSB-first output.
void canonicalCodes(const uint8_t* lens, int n, uint16_t* codes) {
    int count[kMaxBits + 1] = {};
    for (int i = 0; i < n; ++i)
        ++count[lens[i]];
    count[0] = 0;
    int next[kMaxBits + 2] = {};
    int code = 0;
    for (int b = 1; b <= kMaxBits; ++b) {
        code = (code + count[b - 1]) << 1;
        next[b] = code;
    }
    for (int i = 0; i < n; ++i) {
        const int len = lens[i];
        if (!len) {
            codes[i] = 0;
            continue;
        }
        int c = next[len]++, r = 0;
        for (int k = 0; k < len; ++k, c >>= 1)
            r = (r << 1) | (c & 1);
        codes[i] = uint16_t(r);
    }
}

// Bits LSB first. Every put stores eight bytes and moves on by the whole
// ones: no branch per symbol. The output needs 8 bytes of room past its end.
class BitWriter {
public:
    explicit BitWriter(uint8_t* out) : out_(out) {}
    // count <= 56
    void put(uint64_t bits, unsigned count) {
        buf_ |= bits << used_;
        used_ += count;
        std::memcpy(out_, &buf_, 8);
        out_ += used_ >> 3;
        buf_ >>= used_ & ~7u;
        used_ &= 7;
    }
    // Pads to a whole byte (a stored block's data starts on one).
    void align() {
        if (used_ > 0) *out_++ = uint8_t(buf_);
        buf_ = 0;
        used_ = 0;
    }
    // Whole bytes, after align().
    void bytes(const uint8_t* p, size_t n) {
        std::memcpy(out_, p, n);
        out_ += n;
    }
    // Pads to a whole byte; returns the end of the bytes written.
    uint8_t* finish() {
        align();
        return out_;
    }

private:
    uint8_t* out_;
    uint64_t buf_ = 0;
    unsigned used_ = 0;  // at most 7 between calls
};

// Token: a literal byte (< 256) or kRunBase + a run length (3..258).
constexpr unsigned kRunBase = 256;
constexpr unsigned kTokenKinds = kRunBase + 259;

// How many bytes from q on (at most `most`) equal b, eight at a time.
inline size_t sameAs(const uint8_t* q, size_t most, uint8_t b) {
    const uint64_t pattern = 0x0101010101010101ull * b;
    size_t r = 0;
    for (; most - r >= 8; r += 8) {
        uint64_t v;
        std::memcpy(&v, q + r, 8);
        if (const uint64_t d = v ^ pattern) return r + size_t(std::countr_zero(d) >> 3);
    }
    while (r < most && q[r] == b)
        ++r;
    return r;
}

// Stored blocks of `n` bytes (at most 65535 each).
void writeStored(const uint8_t* p, size_t n, bool last, BitWriter& w) {
    do {
        const size_t len = std::min<size_t>(n, 65535);
        n -= len;
        w.put(last && n == 0 ? 1 : 0, 3);  // BFINAL, BTYPE 00
        w.align();
        w.put(uint64_t(len) | uint64_t(~len & 0xffff) << 16, 32);
        w.bytes(p, len);
        p += len;
    } while (n > 0);
}

#if defined(__SSE2__) || defined(_M_X64)
// The tokens of the maximal runs of equal bytes that end within the 64
// places from q (65 bytes are read), found from bit masks rather than byte
// by byte: a run of four or more is its first byte and a match of the rest,
// a shorter one its bytes. q must start a run, or lie at most two bytes
// before a run's end. Writes up to one token past those it keeps; returns
// the bytes done (0: one run reaches past the window, for the caller).
inline size_t tokenizeWindow(const uint8_t* q, uint16_t*& tok, uint32_t* count) {
    // Bit k of `same`: q[k] == q[k + 1].
    uint64_t same = 0;
    for (unsigned c = 0; c < 4; ++c) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16 * c));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16 * c + 1));
        same |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)))) << (16 * c);
    }
    // The run that reaches place 63 may go on: it is left to the next call.
    const uint64_t breaks = ~same & ((uint64_t(1) << 63) - 1);
    if (!breaks) return 0;
    const unsigned end = 64u - unsigned(std::countl_zero(breaks));
    const uint64_t keep = (uint64_t(1) << end) - 1;
    const uint64_t quads = same & (same >> 1) & (same >> 2);  // q[k..k+3] equal
    const uint64_t inLong = quads | (quads << 1) | (quads << 2) | (quads << 3);
    const uint64_t repeats = same << 1;  // bit k: q[k - 1] == q[k]
    uint16_t* t = tok;
    if (!(inLong & keep)) {
        for (unsigned k = 0; k < end; ++k) {
            t[k] = q[k];
            ++count[q[k]];
        }
        tok = t + end;
        return end;
    }
    const uint64_t starts = inLong & ~repeats;  // literals a match follows
    for (uint64_t literals = ~(inLong & repeats) & keep; literals; literals &= literals - 1) {
        const unsigned k = unsigned(std::countr_zero(literals));
        const uint8_t b = q[k];
        t[0] = b;
        ++count[b];
        const unsigned match = unsigned((starts >> k) & 1);
        const unsigned length = unsigned(std::countr_zero(~(same >> k)));  // the equal bytes after
        t[1] = uint16_t(kRunBase + length);
        count[kRunBase + length] += match;
        t += 1 + match;
    }
    tok = t;
    return end;
}
#endif

// A plane's tokens into `tok`, their counts into `count`; returns how many.
size_t tokenize(const uint8_t* p, size_t n, uint16_t* tok, uint32_t* count) {
    uint16_t* const begin = tok;
    size_t i = 0;
    while (i < n) {
#if defined(__SSE2__) || defined(_M_X64)
        if (n - i >= 65) {
            const size_t done = tokenizeWindow(p + i, tok, count);
            i += done;
            if (done > 0) continue;
        }
#endif
        if (n - i >= 9) {
            // Eight bytes at once: byte k of `same` is 0x80 where p[k] ==
            // p[k + 1]. A run follows the literal at k only where k + 1,
            // k + 2 and k + 3 repeat it; the literals before the first such
            // k (of the first six) go out without a scan.
            uint64_t v, next;
            std::memcpy(&v, p + i, 8);
            std::memcpy(&next, p + i + 1, 8);
            const uint64_t d = v ^ next;
            constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full;
            const uint64_t same = ~(((d & kLow7) + kLow7) | d | kLow7);
            const uint64_t runs = same & (same >> 8) & (same >> 16) & 0x0000808080808080ull;
            const unsigned plain = runs ? unsigned(std::countr_zero(runs) >> 3) : 6u;
            for (unsigned q = 0; q < plain; ++q) {
                const uint8_t b = uint8_t(v >> (8 * q));
                tok[q] = b;
                ++count[b];
            }
            tok += plain;
            i += plain;
            if (plain == 6) continue;
        }
        const uint8_t b = p[i++];
        *tok++ = b;
        ++count[b];
        for (;;) {
            const size_t r = sameAs(p + i, std::min<size_t>(258, n - i), b);
            if (r < 3) break;
            *tok++ = uint16_t(kRunBase + r);
            ++count[kRunBase + r];
            i += r;
            if (r < 258) break;
        }
    }
    return size_t(tok - begin);
}

// The same for a plane that is `value` throughout (the high bytes of times
// and coordinates): its runs need no scan.
size_t tokenizeConstant(uint8_t value, size_t n, uint16_t* tok, uint32_t* count) {
    uint16_t* const begin = tok;
    if (n == 0) return 0;
    *tok++ = value;
    ++count[value];
    size_t i = 1;
    for (; n - i >= 3; i += std::min<size_t>(258, n - i)) {
        const size_t r = std::min<size_t>(258, n - i);
        *tok++ = uint16_t(kRunBase + r);
        ++count[kRunBase + r];
    }
    for (; i < n; ++i) {
        *tok++ = value;
        ++count[value];
    }
    return size_t(tok - begin);
}

// What decides between coding a plane's runs and coding its bytes one by
// one: byte counts, and how its bytes repeat.
struct PlaneShape {
    uint64_t quads = 0;     // bytes followed by three copies of themselves
    uint64_t longRuns = 0;  // runs of four or more equal bytes
};

// Counts of each byte value into count[0..255].
void countBytes(const uint8_t* p, size_t n, uint32_t* count) {
    uint32_t h[4][256] = {};
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        ++h[0][p[i]];
        ++h[1][p[i + 1]];
        ++h[2][p[i + 2]];
        ++h[3][p[i + 3]];
    }
    for (; i < n; ++i)
        ++h[0][p[i]];
    for (unsigned b = 0; b < 256; ++b)
        count[b] = h[0][b] + h[1][b] + h[2][b] + h[3][b];
}

PlaneShape shapeOf(const uint8_t* p, size_t n) {
    PlaneShape s;
    auto same = [&](size_t k) { return k + 1 < n && p[k] == p[k + 1]; };
    auto one = [&](size_t k) {
        const bool quad = same(k) && same(k + 1) && same(k + 2);
        s.quads += quad;
        s.longRuns += quad && (k == 0 || !same(k - 1));
    };
    size_t k = 0;
    if (n > 0) one(k++);
#if defined(__SSE2__) || defined(_M_X64)
    // Sixteen positions at a time, counted in byte lanes (at most 255 steps
    // before they are added up).
    const __m128i zero = _mm_setzero_si128();
    while (k + 19 <= n) {
        __m128i quads = zero, starts = zero;
        for (unsigned step = 0; step < 255 && k + 19 <= n; ++step, k += 16) {
            auto at = [&](size_t q) {
                return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + q));
            };
            const __m128i a0 = at(k - 1), a1 = at(k), a2 = at(k + 1), a3 = at(k + 2),
                          a4 = at(k + 3);
            const __m128i before = _mm_cmpeq_epi8(a0, a1);
            const __m128i quad =
                _mm_and_si128(_mm_cmpeq_epi8(a1, a2),
                              _mm_and_si128(_mm_cmpeq_epi8(a2, a3), _mm_cmpeq_epi8(a3, a4)));
            quads = _mm_sub_epi8(quads, quad);
            starts = _mm_sub_epi8(starts, _mm_andnot_si128(before, quad));
        }
        alignas(16) uint64_t q[2], r[2];
        _mm_store_si128(reinterpret_cast<__m128i*>(q), _mm_sad_epu8(quads, zero));
        _mm_store_si128(reinterpret_cast<__m128i*>(r), _mm_sad_epu8(starts, zero));
        s.quads += q[0] + q[1];
        s.longRuns += r[0] + r[1];
    }
#endif
    for (; k < n; ++k)
        one(k);
    return s;
}

// Whether coding runs promises a plane much smaller than coding its bytes
// one by one (`literalBits`): a run of four or more costs about a literal
// and a length of some six bits, a shorter one its literals. Close calls go
// to the bytes, which take a fraction of the time to code.
bool runsPay(const PlaneShape& s, size_t n, uint64_t literalBits) {
    if (n == 0) return false;
    const uint64_t literals = n - std::min<uint64_t>(n, s.quads + 2 * s.longRuns);
    const double runBits =
        double(literals) * double(literalBits) / double(n) + 6.0 * double(s.longRuns);
    return double(literalBits) > 1.15 * runBits;
}

// Total bits of `count` coded with code lengths made for it.
uint64_t codedBits(const uint32_t* count) {
    uint32_t freq[kLitLenSymbols] = {};
    std::memcpy(freq, count, 256 * sizeof(uint32_t));
    freq[kEndOfBlock] = 1;
    uint8_t lens[kLitLenSymbols];
    codeLengths(freq, kLitLenSymbols, kMaxBits, lens);
    uint64_t bits = 0;
    for (unsigned b = 0; b < 256; ++b)
        bits += uint64_t(count[b]) * lens[b];
    return bits;
}

// One byte plane of n bytes as one dynamic block, or as stored blocks where
// a code would not make it smaller (bytes without runs and about evenly
// spread, such as the low bytes of coordinates): those cost a copy only.
// `p` is the plane, or null for one that is `value` throughout.
void writePlane(const uint8_t* p, uint8_t value, size_t n, bool last, BitWriter& w,
                std::vector<uint16_t>& tokens) {
    const auto& lengths = lengthCodes();
    uint32_t count[kTokenKinds] = {};
    // Bytes one by one (no tokens: the plane itself) where runs promise
    // little, such as the low bytes of coordinates, or polarities that
    // change every few events.
    bool bytesOnly = false;
    size_t tokenCount = 0;
    if (p) {
        // Mostly runs (the second bytes of times): no need to weigh it.
        const PlaneShape shape = shapeOf(p, n);
        if (2 * shape.quads < n) {
            // Weighed on every fourth byte; counted in full for the code.
            uint32_t sample[256] = {};
            size_t taken = 0;
            for (size_t i = 0; i < n; i += 4, ++taken)
                ++sample[p[i]];
            bytesOnly = !runsPay(shape, n, codedBits(sample) * n / taken);
            if (bytesOnly) countBytes(p, n, count);
        }
    }
    if (!bytesOnly) {
        tokens.resize(n + 2);  // tokenizeWindow writes one past its last
        tokenCount = p ? tokenize(p, n, tokens.data(), count)
                       : tokenizeConstant(value, n, tokens.data(), count);
    }

    uint32_t freq[kLitLenSymbols] = {};
    std::memcpy(freq, count, 256 * sizeof(uint32_t));
    for (unsigned r = 3; r <= 258; ++r)
        freq[lengths[r].symbol] += count[kRunBase + r];
    freq[kEndOfBlock] = 1;

    uint8_t lens[kLitLenSymbols];
    codeLengths(freq, kLitLenSymbols, kMaxBits, lens);
    uint16_t codes[kLitLenSymbols];
    canonicalCodes(lens, kLitLenSymbols, codes);
    int hlit = kLitLenSymbols;
    while (hlit > 257 && lens[hlit - 1] == 0)
        --hlit;
    // Distances: only 1 is used; two codes of one bit keep the code complete.
    constexpr int kHdist = 2;

    // Each token's bits (at most 15 + 5 + 1) and, in the top byte, their count.
    uint32_t table[kTokenKinds];
    uint64_t dataBits = lens[kEndOfBlock];
    for (unsigned b = 0; b < 256; ++b) {
        table[b] = uint32_t(codes[b]) | uint32_t(lens[b]) << 24;
        dataBits += uint64_t(count[b]) * lens[b];
    }
    for (unsigned r = 0; r < 259; ++r) {
        if (r < 3) {
            table[kRunBase + r] = 0;
            continue;
        }
        // Distance 1 is code 0 of the two one-bit codes: a single 0 bit.
        const LengthCode& c = lengths[r];
        const unsigned bits = lens[c.symbol] + c.extraBits + 1u;
        table[kRunBase + r] =
            (uint32_t(codes[c.symbol]) | uint32_t(c.extra) << lens[c.symbol]) | bits << 24;
        dataBits += uint64_t(count[kRunBase + r]) * bits;
    }

    // The code lengths, zero runs as symbols 17 and 18.
    uint8_t all[kLitLenSymbols + kHdist];
    std::memcpy(all, lens, size_t(hlit));
    all[hlit] = 1;
    all[hlit + 1] = 1;
    const int total = hlit + kHdist;
    struct ClSym {
        uint8_t symbol, extraBits, extra;
    };
    ClSym cl[kLitLenSymbols + kHdist];
    int clCount = 0;
    uint32_t clFreq[19] = {};
    for (int k = 0; k < total;) {
        if (all[k] == 0) {
            int run = 1;
            while (k + run < total && all[k + run] == 0 && run < 138)
                ++run;
            if (run >= 11) {
                cl[clCount++] = {18, 7, uint8_t(run - 11)};
                ++clFreq[18];
                k += run;
                continue;
            }
            if (run >= 3) {
                cl[clCount++] = {17, 3, uint8_t(run - 3)};
                ++clFreq[17];
                k += run;
                continue;
            }
        }
        cl[clCount++] = {all[k], 0, 0};
        ++clFreq[all[k]];
        ++k;
    }
    uint8_t clLens[19];
    codeLengths(clFreq, 19, kMaxCodeBits, clLens);
    uint16_t clCodes[19];
    canonicalCodes(clLens, 19, clCodes);
    static constexpr uint8_t kClOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                             11, 4,  12, 3, 13, 2, 14, 1, 15};
    int hclen = 19;
    while (hclen > 4 && clLens[kClOrder[hclen - 1]] == 0)
        --hclen;

    uint64_t headerBits = 3 + 5 + 5 + 4 + 3 * uint64_t(hclen);
    for (int k = 0; k < clCount; ++k)
        headerBits += clLens[cl[k].symbol] + cl[k].extraBits;
    const uint64_t storedBits = 8 * uint64_t(n) + 48 * (n / 65535 + 1);
    // Stored as well where a code saves under 2 %: a copy is far quicker.
    if (p && (headerBits + dataBits) * 50 >= storedBits * 49) {
        writeStored(p, n, last, w);
        return;
    }

    w.put(last ? 1 : 0, 1);
    w.put(2, 2);  // dynamic Huffman
    w.put(unsigned(hlit - 257), 5);
    w.put(unsigned(kHdist - 1), 5);
    w.put(unsigned(hclen - 4), 4);
    for (int k = 0; k < hclen; ++k)
        w.put(clLens[kClOrder[k]], 3);
    for (int k = 0; k < clCount; ++k) {
        w.put(clCodes[cl[k].symbol], clLens[cl[k].symbol]);
        if (cl[k].extraBits) w.put(cl[k].extra, cl[k].extraBits);
    }
    // Two tokens a put (at most 42 bits), on a copy of the writer that
    // lives in registers (its own byte stores could alias the original).
    BitWriter out = w;
    auto emit = [&](const auto* t, size_t count) {
        size_t k = 0;
        for (; k + 2 <= count; k += 2) {
            const uint32_t a = table[t[k]], b = table[t[k + 1]];
            const unsigned aBits = a >> 24;
            out.put(uint64_t(a & 0xffffff) | uint64_t(b & 0xffffff) << aBits, aBits + (b >> 24));
        }
        if (k < count) out.put(table[t[k]] & 0xffffff, table[t[k]] >> 24);
    };
    if (bytesOnly) {
        emit(p, n);
    } else {
        emit(tokens.data(), tokenCount);
    }
    out.put(codes[kEndOfBlock], lens[kEndOfBlock]);
    w = out;
}

// Worst case of compress's output for `bytes` input bytes in `planes`
// planes: stored blocks (5 bytes a 65535), each plane's header, and the
// 8 bytes BitWriter stores past its end.
size_t bound(size_t bytes, size_t planes) {
    return bytes + (bytes / 65535 + 1) * planes * 5 + planes * 400 + 32;
}

// Adler-32 of n bytes of value b, in closed form: a = 1 + n b,
// s = n + b n (n + 1) / 2 (mod 65521).
uLong constantAdler(uint8_t b, size_t n) {
    constexpr uint64_t kMod = 65521;
    const uint64_t nm = n % kMod;
    const uint64_t tri =
        (n % 2 == 0 ? (n / 2) % kMod * ((n + 1) % kMod) : n % kMod * (((n + 1) / 2) % kMod)) % kMod;
    const uint64_t a = (1 + nm * b) % kMod;
    const uint64_t s = (nm + tri * b) % kMod;
    return uLong(s << 16 | a);
}

}  // namespace rle

// Adler-32 of n more bytes, sixteen at a time where the processor has the
// instructions for it (zlib's own takes one at a time).
uLong adler(uLong sum, const uint8_t* p, size_t n) {
#if defined(__SSE2__) || defined(_M_X64)
    constexpr uint64_t kMod = 65521;
    uint64_t s1 = sum & 0xffff, s2 = sum >> 16;
    // Blocks small enough that no 32-bit lane overflows.
    constexpr size_t kBlock = 5536;
    const __m128i zero = _mm_setzero_si128();
    const __m128i weightsLow = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i weightsHigh = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    while (n >= 16) {
        const size_t len = std::min(kBlock, n & ~size_t(15));
        __m128i vs1 = zero, vprefix = zero, vs2 = zero;
        for (size_t k = 0; k < len; k += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
            vprefix = _mm_add_epi32(vprefix, vs1);
            vs1 = _mm_add_epi32(vs1, _mm_sad_epu8(v, zero));
            vs2 = _mm_add_epi32(vs2, _mm_madd_epi16(_mm_unpacklo_epi8(v, zero), weightsLow));
            vs2 = _mm_add_epi32(vs2, _mm_madd_epi16(_mm_unpackhi_epi8(v, zero), weightsHigh));
        }
        alignas(16) uint32_t a[4], b[4], c[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(a), vs1);
        _mm_store_si128(reinterpret_cast<__m128i*>(b), vprefix);
        _mm_store_si128(reinterpret_cast<__m128i*>(c), vs2);
        const uint64_t bytesSum = uint64_t(a[0]) + a[2];  // sad sums sit in lanes 0 and 2
        const uint64_t prefix = uint64_t(b[0]) + b[2];
        const uint64_t weighted = uint64_t(c[0]) + c[1] + c[2] + c[3];
        s2 = (s2 + len * s1 + 16 * prefix + weighted) % kMod;
        s1 = (s1 + bytesSum) % kMod;
        p += len;
        n -= len;
    }
    for (size_t k = 0; k < n; ++k) {
        s1 += p[k];
        s2 += s1;
    }
    return uLong((s2 % kMod) << 16 | (s1 % kMod));
#else
    return adler32(sum, p, uInt(n));
#endif
}

}  // namespace

void deflatePlanes(const BytePlane* planes, size_t count, size_t n, DeflateScratch& scratch,
                   std::vector<uint8_t>& out) {
    const size_t need = rle::bound(n * count, count);
    if (scratch.buffer.size() < need) scratch.buffer.resize(need);
    scratch.buffer[0] = 0x78;  // deflate, 32 KiB window
    scratch.buffer[1] = 0x01;  // fastest; (0x78 << 8 | 0x01) % 31 == 0
    rle::BitWriter w(scratch.buffer.data() + 2);
    uLong sum = adler32(0, nullptr, 0);
    for (size_t j = 0; j < count; ++j) {
        const bool last = j + 1 == count;
        const BytePlane& plane = planes[j];
        rle::writePlane(plane.bytes, plane.value, n, last, w, scratch.tokens);
        if (plane.bytes) {
            sum = adler(sum, plane.bytes, n);
        } else if (n > 0) {
            sum = adler32_combine(sum, rle::constantAdler(plane.value, n), z_off_t(n));
        }
    }
    uint8_t* end = w.finish();
    for (int s = 24; s >= 0; s -= 8)
        *end++ = uint8_t(sum >> s);
    out.assign(scratch.buffer.data(), end);
}

}  // namespace korvane
