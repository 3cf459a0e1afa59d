#pragma once

// The one pass over a RAW recording's events that conversion makes: the
// events and trigger edges of [from, to), in batches, in order. Kept behind
// this single function so that a faster whole-file decode can replace it
// without touching the formats.
//
// Threads: `fn` runs on the caller's; the reader is used by this call alone
// meanwhile.
// Failures: none of its own (a corrupt stretch is skipped by the reader).

#include <cstdint>

#include "korvane/convert/ConvertStreams.h"
#include "korvane/file/DvsFileReader.h"

namespace korvane {

// Delivers [from_us, to_us) of an opened reader, decoded on every core and
// handed to `fn` on the calling thread in file order: the same events and
// edges as one serial pass. A stop requested by `fn` takes effect within a
// few stretches. False when `fn` stopped the pass.
bool deliverRawRange(DvsFileReader& reader, uint64_t from_us, uint64_t to_us, const BatchFn& fn);

}  // namespace korvane
