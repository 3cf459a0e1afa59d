#pragma once

// The one pass over a RAW recording's events that conversion makes: the
// events and trigger edges of [from, to), in batches, in order. Kept behind
// this single function so that a faster whole-file decode can replace it
// without touching the formats.
//
// Threads: the caller's; the reader is used by this call alone meanwhile.
// Failures: none of its own (a corrupt stretch is skipped by the reader).

#include <cstdint>

#include "ConvertStreams.h"
#include "DvsFileReader.h"

namespace korvane {

// Delivers [from_us, to_us) of an opened reader. Windows follow the seek
// index, so a stop requested by `fn` takes effect within a few megabytes of
// data. An event or edge is delivered exactly once even where the time goes
// back. False when `fn` stopped the pass.
bool deliverRawRange(DvsFileReader& reader, uint64_t from_us, uint64_t to_us, const BatchFn& fn);

}  // namespace korvane
