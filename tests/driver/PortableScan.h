#pragma once

// The EVT 3.0 state walks built without SIMD (see PortableScan.cpp).

#include <cstddef>
#include <cstdint>

#include "korvane/file/EventDecoder.h"

namespace korvane {
struct ScanStats;
}

namespace kvtest {
void portableEvt3Walk(const uint8_t* bytes, size_t words, korvane::DecoderState& s,
                      korvane::ScanStats& stats);
size_t portableEvt3FindTimeBelow(const uint8_t* bytes, size_t words, korvane::DecoderState& s,
                                 uint64_t limit);
}  // namespace kvtest
