#pragma once

// One zlib stream of byte planes, each plane one deflate block: literals
// and runs of one byte (as zlib's Z_RLE strategy makes them) with a
// Huffman code of the plane's own, or stored where no code makes the plane
// smaller. Ours because zlib's own coder took most of a conversion's time;
// the stream is plain zlib format, so HDF5's deflate filter and any
// inflater read it.
//
// Threads: no shared state; each caller brings its own scratch.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvane {

// n bytes at `bytes`, or (bytes null) n bytes all equal to `value`.
struct BytePlane {
    const uint8_t* bytes = nullptr;
    uint8_t value = 0;
};

// Working memory kept from call to call (no fresh pages each time).
struct DeflateScratch {
    std::vector<uint16_t> tokens;  // one plane's
    std::vector<uint8_t> buffer;   // the coded stream
};

// out = the zlib stream of the `count` planes, of n bytes each, one after
// the other.
void deflatePlanes(const BytePlane* planes, size_t count, size_t n, DeflateScratch& scratch,
                   std::vector<uint8_t>& out);

}  // namespace korvane
