#include "korvane/convert/H5Chunks.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>
#include <thread>

namespace korvane {

namespace {

// Byte j of element i goes to j * n + i: equal bytes of neighbouring
// elements end up together, which deflate packs much better.
void shuffle(const uint8_t* in, size_t n, unsigned size, uint8_t* out) {
    if (size == 1) {
        std::copy(in, in + n, out);
        return;
    }
    for (unsigned j = 0; j < size; ++j) {
        uint8_t* dst = out + size_t(j) * n;
        const uint8_t* src = in + j;
        for (size_t i = 0; i < n; ++i)
            dst[i] = src[i * size];
    }
}

bool compressOne(const RawChunk& c, int level, std::vector<uint8_t>& scratch,
                 std::vector<uint8_t>& out) {
    const size_t bytes = c.elements * c.elementBytes;
    scratch.resize(bytes);
    shuffle(c.data, c.elements, c.elementBytes, scratch.data());
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
            for (size_t i; (i = next.fetch_add(1)) < chunks.size();) {
                if (!compressOne(chunks[i], level, scratch, out[i])) ok.store(false);
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
