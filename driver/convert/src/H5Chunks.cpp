#include "korvane/convert/H5Chunks.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

namespace korvane {

namespace {

// Deflate blocks as zlib's Z_RLE strategy makes them (literals, and runs of
// one byte as matches at distance 1, coded with a dynamic Huffman code per
// byte plane), written here because zlib's own coder took most of a
// conversion's time. The stream is plain zlib format: HDF5's deflate filter
// and any inflater read it.
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
    std::vector<std::pair<uint32_t, int>> syms;  // (frequency, symbol), ascending
    syms.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        lens[i] = 0;
        if (freq[i]) syms.push_back({freq[i], i});
    }
    for (int i = 0; syms.size() < 2; ++i) {
        if (!freq[i]) syms.push_back({1, i});
    }
    std::sort(syms.begin(), syms.end());
    const size_t m = syms.size();
    // Two-queue Huffman: leaves in order, internal nodes made in order.
    std::vector<uint64_t> weight(2 * m - 1);
    std::vector<size_t> parent(2 * m - 1, 0);
    for (size_t i = 0; i < m; ++i)
        weight[i] = syms[i].first;
    size_t leaf = 0, inner = m;
    auto take = [&](size_t made) {
        if (leaf < m && (inner >= made || weight[leaf] <= weight[inner])) return leaf++;
        return inner++;
    };
    for (size_t made = m; made < 2 * m - 1; ++made) {
        const size_t a = take(made), b = take(made);
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = made;
    }
    std::vector<int> depth(2 * m - 1, 0);
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
            lens[syms[next++].second] = uint8_t(b);
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

class BitWriter {
public:
    explicit BitWriter(uint8_t* out) : out_(out) {}
    void put(uint64_t bits, unsigned count) {
        buf_ |= bits << used_;
        used_ += count;
        if (used_ >= 32) {
            const uint32_t low = uint32_t(buf_);
            std::memcpy(out_, &low, 4);
            out_ += 4;
            buf_ >>= 32;
            used_ -= 32;
        }
    }
    // Pads to a whole byte; returns the end of the bytes written.
    uint8_t* finish() {
        while (used_ > 0) {
            *out_++ = uint8_t(buf_);
            buf_ >>= 8;
            used_ = used_ > 8 ? used_ - 8 : 0;
        }
        return out_;
    }

private:
    uint8_t* out_;
    uint64_t buf_ = 0;
    unsigned used_ = 0;  // at most 31 between calls; a call adds at most 32
};

// Token: a literal byte (< 256) or a run length | kRun.
constexpr uint32_t kRun = 1u << 16;

// One byte plane as one dynamic block. True when the plane is one byte
// throughout.
bool writePlane(const uint8_t* p, size_t n, bool last, BitWriter& w,
                std::vector<uint32_t>& tokens) {
    const auto& lengths = lengthCodes();
    uint32_t freq[kLitLenSymbols] = {};
    tokens.resize(n + 1);
    uint32_t* tok = tokens.data();
    size_t i = 0;
    const bool constant = n > 1 && std::memcmp(p, p + 1, n - 1) == 0;
    if (constant) {
        // One byte throughout (the high bytes of times and coordinates): its
        // runs need no scan.
        *tok++ = p[0];
        ++freq[p[0]];
        for (i = 1; n - i >= 3;) {
            const size_t r = std::min<size_t>(258, n - i);
            *tok++ = kRun | uint32_t(r);
            ++freq[lengths[r].symbol];
            i += r;
        }
    }
    while (i < n) {
        const uint8_t b = p[i++];
        *tok++ = b;
        ++freq[b];
        for (;;) {
            const size_t most = std::min<size_t>(258, n - i);
            size_t r = 0;
            while (r < most && p[i + r] == b)
                ++r;
            if (r < 3) break;
            *tok++ = kRun | uint32_t(r);
            ++freq[lengths[r].symbol];
            i += r;
            if (r < 258) break;
        }
    }
    freq[kEndOfBlock] = 1;
    const size_t tokenCount = size_t(tok - tokens.data());

    uint8_t lens[kLitLenSymbols];
    codeLengths(freq, kLitLenSymbols, kMaxBits, lens);
    uint16_t codes[kLitLenSymbols];
    canonicalCodes(lens, kLitLenSymbols, codes);
    int hlit = kLitLenSymbols;
    while (hlit > 257 && lens[hlit - 1] == 0)
        --hlit;
    // Distances: only 1 is used; two codes of one bit keep the code complete.
    constexpr int kHdist = 2;

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
    // Distance 1 is code 0 of the two one-bit codes: a single 0 bit.
    for (size_t k = 0; k < tokenCount; ++k) {
        const uint32_t t = tokens[k];
        if (t < kRun) {
            w.put(codes[t], lens[t]);
        } else {
            const LengthCode& c = lengths[t & 0xffff];
            w.put(uint64_t(codes[c.symbol]) | (uint64_t(c.extra) << lens[c.symbol]),
                  unsigned(lens[c.symbol] + c.extraBits + 1));
        }
    }
    w.put(codes[kEndOfBlock], lens[kEndOfBlock]);
    return constant;
}

// Worst case of compressRle's output for `bytes` input bytes in `planes`
// planes: literals of 15 bits, plus each block's header.
size_t bound(size_t bytes, size_t planes) {
    return bytes * 2 + planes * 400 + 16;
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

// zlib stream of `data` (`planes` planes of `planeBytes` each) into `out`;
// `buffer` is working room kept from call to call (no page faults).
void compress(const uint8_t* data, size_t planeBytes, size_t planes, std::vector<uint8_t>& out,
              std::vector<uint32_t>& tokens, std::vector<uint8_t>& buffer) {
    const size_t need = bound(planeBytes * planes, planes);
    if (buffer.size() < need) buffer.resize(need);
    buffer[0] = 0x78;  // deflate, 32 KiB window
    buffer[1] = 0x01;  // fastest; (0x78 << 8 | 0x01) % 31 == 0
    BitWriter w(buffer.data() + 2);
    uLong sum = adler32(0, nullptr, 0);
    for (size_t k = 0; k < planes; ++k) {
        const uint8_t* p = data + k * planeBytes;
        const bool constant = writePlane(p, planeBytes, k + 1 == planes, w, tokens);
        sum = constant && planeBytes > 0
                  ? adler32_combine(sum, constantAdler(p[0], planeBytes), z_off_t(planeBytes))
                  : adler32(sum, p, uInt(planeBytes));
    }
    uint8_t* end = w.finish();
    for (int s = 24; s >= 0; s -= 8)
        *end++ = uint8_t(sum >> s);
    out.assign(buffer.data(), end);
}

}  // namespace rle

// Byte j of element i goes to j * n + i: equal bytes of neighbouring
// elements end up together, which deflate packs much better.
template <unsigned Size>
void shuffleFixed(const uint8_t* in, size_t n, uint8_t* out) {
    // One element at a time, its bytes to their planes: one pass over the
    // input, which the compiler unrolls for the element's size.
    for (size_t i = 0; i < n; ++i) {
        uint8_t e[Size];
        std::memcpy(e, in + i * Size, Size);
        for (unsigned j = 0; j < Size; ++j)
            out[j * n + i] = e[j];
    }
}

void shuffle(const uint8_t* in, size_t n, unsigned size, uint8_t* out) {
    switch (size) {
        case 1:
            std::copy(in, in + n, out);
            return;
        case 2:
            return shuffleFixed<2>(in, n, out);
        case 8:
            return shuffleFixed<8>(in, n, out);
        default:
            break;
    }
    for (unsigned j = 0; j < size; ++j) {
        uint8_t* dst = out + size_t(j) * n;
        const uint8_t* src = in + j;
        for (size_t i = 0; i < n; ++i)
            dst[i] = src[i * size];
    }
}

bool compressOne(const RawChunk& c, int level, std::vector<uint8_t>& scratch,
                 std::vector<uint32_t>& tokens, std::vector<uint8_t>& buffer,
                 std::vector<uint8_t>& out) {
    const size_t bytes = c.elements * c.elementBytes;
    scratch.resize(bytes);
    shuffle(c.data, c.elements, c.elementBytes, scratch.data());
    if (level == kRunLengthCoder) {
        rle::compress(scratch.data(), c.elements, c.elementBytes, out, tokens, buffer);
        return true;
    }
    uLongf length = compressBound(uLong(bytes));
    out.resize(length);
    if (compress2(out.data(), &length, scratch.data(), uLong(bytes), level) != Z_OK) return false;
    out.resize(length);
    return true;
}

}  // namespace

bool shuffleDeflateChunks(const std::vector<RawChunk>& chunks, int level,
                          std::vector<std::vector<uint8_t>>& out) {
    out.resize(chunks.size());
    std::atomic<size_t> next{0};
    std::atomic<bool> ok{true};
    std::atomic<bool> outOfMemory{false};
    // Nothing may leave a helper thread (that would end the process): a
    // failed allocation is handed to the caller once every helper is joined.
    auto work = [&] {
        try {
            std::vector<uint8_t> scratch;
            std::vector<uint32_t> tokens;
            std::vector<uint8_t> buffer;
            for (size_t i; (i = next.fetch_add(1)) < chunks.size();) {
                if (!compressOne(chunks[i], level, scratch, tokens, buffer, out[i])) {
                    ok.store(false);
                }
            }
        } catch (const std::bad_alloc&) {
            outOfMemory.store(true);
            next.store(chunks.size());
        }
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t helpers =
        std::min<size_t>({cores, kMaxCompressThreads, chunks.size()}) - (chunks.empty() ? 0 : 1);
    std::vector<std::thread> threads;
    threads.reserve(helpers);
    for (size_t t = 0; t < helpers; ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no thread to be had: the caller does the rest itself
        }
    }
    work();
    for (auto& t : threads)
        t.join();
    if (outOfMemory.load()) throw std::bad_alloc();
    return ok.load();
}

}  // namespace korvane
