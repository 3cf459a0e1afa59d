#pragma once

// Compression of HDF5 dataset chunks as the library's own shuffle + deflate
// filter pipeline would do it, on several threads at once, so that the
// chunks can be stored with H5Dwrite_chunk: any HDF5 reader decompresses
// them with its built-in filters. HDF5 itself compresses on the writing
// thread only, which made it the slowest step of a conversion.
//
// Threads: the call uses up to kMaxThreads short-lived workers and returns
// when all are done; it touches nothing shared but the workspace given,
// which one call at a time may use.
// Failures: false when zlib fails; std::bad_alloc (thrown on the calling
// thread, once every helper has ended) when memory runs out. `out` is then
// unusable.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace korvane {

struct RawChunk {
    const uint8_t* data = nullptr;  // a whole chunk: elements * elementBytes bytes
    size_t elements = 0;
    unsigned elementBytes = 1;
};

constexpr unsigned kMaxCompressThreads = 8;

// `level` for our own coder: literals and runs of a byte, one Huffman code
// per byte plane (what zlib's Z_RLE strategy makes, several times faster
// than zlib's level 1, with as good a ratio on shuffled events).
constexpr int kRunLengthCoder = -100;

// Working memory of the compressing threads, kept from call to call: a
// writer that compresses batch after batch touches fresh pages only once.
class ChunkWorkspace {
public:
    ChunkWorkspace();
    ~ChunkWorkspace();
    ChunkWorkspace(const ChunkWorkspace&) = delete;
    ChunkWorkspace& operator=(const ChunkWorkspace&) = delete;
    struct Worker;

private:
    friend bool shuffleDeflateChunks(const std::vector<RawChunk>&, int,
                                     std::vector<std::vector<uint8_t>>&, ChunkWorkspace&);
    std::vector<std::unique_ptr<Worker>> workers_;
};

// out[i] = deflate(shuffle(chunks[i])) in zlib's format, as the deflate
// filter stores it; `level` is zlib's (1-9) or kRunLengthCoder. The output
// is any valid stream of that content, not necessarily zlib's own.
bool shuffleDeflateChunks(const std::vector<RawChunk>& chunks, int level,
                          std::vector<std::vector<uint8_t>>& out);
bool shuffleDeflateChunks(const std::vector<RawChunk>& chunks, int level,
                          std::vector<std::vector<uint8_t>>& out, ChunkWorkspace& workspace);

}  // namespace korvane
