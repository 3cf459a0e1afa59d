#include "korvane/convert/H5Chunks.h"

#include "DeflatePlanes.h"

#include <zlib.h>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

namespace korvane {

namespace {

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
        case 2: {
            size_t i = 0;
#if defined(__SSE2__) || defined(_M_X64)
            // Sixteen elements at a time: low bytes, then high bytes.
            const __m128i low = _mm_set1_epi16(0xff);
            for (; i + 16 <= n; i += 16) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
                const __m128i b =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i + 16));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                                 _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low)));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n + i),
                                 _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)));
            }
#endif
            for (; i < n; ++i) {
                out[i] = in[2 * i];
                out[n + i] = in[2 * i + 1];
            }
            return;
        }
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

// Bit j set: byte j of the elements is not the same in all of them. Planes
// past 64 count as varying.
uint64_t varyingPlanes(const uint8_t* in, size_t n, unsigned size) {
    if (n == 0) return 0;
    if (size > 8 || 8 % size != 0) {
        uint64_t mask = 0;
        for (unsigned j = 0; j < size; ++j) {
            for (size_t i = 1; i < n && j < 64; ++i) {
                if (in[i * size + j] != in[j]) {
                    mask |= uint64_t(1) << j;
                    break;
                }
            }
        }
        return mask;
    }
    // Eight bytes at a time against the first element repeated.
    uint8_t first[8];
    for (unsigned q = 0; q < 8; ++q)
        first[q] = in[q % size];
    uint64_t pattern;
    std::memcpy(&pattern, first, 8);
    const size_t bytes = n * size;
    uint64_t acc = 0;
    size_t k = 0;
    for (; k + 8 <= bytes; k += 8) {
        uint64_t v;
        std::memcpy(&v, in + k, 8);
        acc |= v ^ pattern;
    }
    uint64_t mask = 0;
    for (unsigned q = 0; q < 8; ++q)
        if ((acc >> (8 * q)) & 0xff) mask |= uint64_t(1) << (q % size);
    for (; k < bytes; ++k)
        if (in[k] != in[k % size]) mask |= uint64_t(1) << (k % size);
    return mask;
}

bool varies(uint64_t mask, unsigned j) {
    return j >= 64 || ((mask >> j) & 1);
}

// The varying planes only (a constant one is coded from its value): for
// times, two planes of eight.
void shufflePlanes(const uint8_t* in, size_t n, unsigned size, uint64_t mask, uint8_t* out) {
    const uint64_t all = size >= 64 ? ~uint64_t(0) : (uint64_t(1) << size) - 1;
    if ((mask & all) == all) return shuffle(in, n, size, out);
    if (size == 8 && mask == 3) {
        for (size_t i = 0; i < n; ++i) {
            uint64_t v;
            std::memcpy(&v, in + i * 8, 8);
            out[i] = uint8_t(v);
            out[n + i] = uint8_t(v >> 8);
        }
        return;
    }
    for (unsigned j = 0; j < size; ++j) {
        if (!varies(mask, j)) continue;
        uint8_t* dst = out + size_t(j) * n;
        const uint8_t* src = in + j;
        for (size_t i = 0; i < n; ++i)
            dst[i] = src[i * size];
    }
}

}  // namespace

struct ChunkWorkspace::Worker {
    std::vector<uint8_t> planes;  // the shuffled chunk
    std::vector<BytePlane> views;
    DeflateScratch deflate;
};

ChunkWorkspace::ChunkWorkspace() = default;
ChunkWorkspace::~ChunkWorkspace() = default;

namespace {

// zlib stream of chunk `c`: its varying byte planes shuffled, the
// constant ones given by their value.
void compressRle(const RawChunk& c, ChunkWorkspace::Worker& wk, std::vector<uint8_t>& out) {
    const size_t n = c.elements;
    const unsigned size = c.elementBytes;
    const size_t bytes = n * size;
    if (wk.planes.size() < bytes) wk.planes.resize(bytes);
    const uint64_t mask = varyingPlanes(c.data, n, size);
    shufflePlanes(c.data, n, size, mask, wk.planes.data());
    wk.views.resize(size);
    for (unsigned j = 0; j < size; ++j) {
        wk.views[j] = varies(mask, j) ? BytePlane{wk.planes.data() + size_t(j) * n, 0}
                                      : BytePlane{nullptr, n > 0 ? c.data[j] : uint8_t(0)};
    }
    deflatePlanes(wk.views.data(), size, n, wk.deflate, out);
}

bool compressOne(const RawChunk& c, int level, ChunkWorkspace::Worker& wk,
                 std::vector<uint8_t>& out) {
    if (level == kRunLengthCoder) {
        compressRle(c, wk, out);
        return true;
    }
    const size_t bytes = c.elements * c.elementBytes;
    if (wk.planes.size() < bytes) wk.planes.resize(bytes);
    shuffle(c.data, c.elements, c.elementBytes, wk.planes.data());
    uLongf length = compressBound(uLong(bytes));
    out.resize(length);
    if (compress2(out.data(), &length, wk.planes.data(), uLong(bytes), level) != Z_OK) return false;
    out.resize(length);
    return true;
}

}  // namespace

bool shuffleDeflateChunks(const std::vector<RawChunk>& chunks, int level,
                          std::vector<std::vector<uint8_t>>& out) {
    ChunkWorkspace workspace;
    return shuffleDeflateChunks(chunks, level, out, workspace);
}

bool shuffleDeflateChunks(const std::vector<RawChunk>& chunks, int level,
                          std::vector<std::vector<uint8_t>>& out, ChunkWorkspace& workspace) {
    out.resize(chunks.size());
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t workers =
        std::max<size_t>(1, std::min<size_t>({cores, kMaxCompressThreads, chunks.size()}));
    while (workspace.workers_.size() < workers)
        workspace.workers_.push_back(std::make_unique<ChunkWorkspace::Worker>());
    std::atomic<size_t> next{0};
    std::atomic<bool> ok{true};
    std::atomic<bool> outOfMemory{false};
    // Nothing may leave a helper thread (that would end the process): a
    // failed allocation is handed to the caller once every helper is joined.
    auto work = [&](ChunkWorkspace::Worker& wk) {
        try {
            for (size_t i; (i = next.fetch_add(1)) < chunks.size();) {
                if (!compressOne(chunks[i], level, wk, out[i])) ok.store(false);
            }
        } catch (const std::bad_alloc&) {
            outOfMemory.store(true);
            next.store(chunks.size());
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(workers - 1);
    for (size_t t = 1; t < workers; ++t) {
        try {
            threads.emplace_back(work, std::ref(*workspace.workers_[t]));
        } catch (const std::system_error&) {
            break;  // no thread to be had: the caller does the rest itself
        }
    }
    work(*workspace.workers_[0]);
    for (auto& t : threads)
        t.join();
    if (outOfMemory.load()) throw std::bad_alloc();
    return ok.load();
}

}  // namespace korvane
