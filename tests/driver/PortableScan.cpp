// The state walks compiled with the portable fallback forced, so a test can
// hold them against the SIMD walks the library uses on this machine.
#define KORVANE_SCALAR_SCAN 1
#include "PortableScan.h"

#include "korvane/file/WordScan.h"

namespace kvtest {

static_assert(!KORVANE_SCAN_SSE2, "this file must compile the portable walk");

void portableEvt3Walk(const uint8_t* bytes, size_t words, korvane::DecoderState& s,
                      korvane::ScanStats& stats) {
    korvane::evt3::walk(bytes, words, s, stats);
}

size_t portableEvt3FindTimeBelow(const uint8_t* bytes, size_t words, korvane::DecoderState& s,
                                 uint64_t limit) {
    return korvane::evt3::findTimeBelow(bytes, words, s, limit);
}

}  // namespace kvtest
