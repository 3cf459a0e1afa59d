#pragma once

// Properties every decoder must keep on any input, checked by the fuzz
// targets: no crash, piecewise decoding equals one pass, and the index scan
// reaches the decoder's state at every checkpoint.

#include <cstdlib>
#include <vector>

#include "korvane/file/EventDecoder.h"
#include "korvane/file/TimeIndex.h"

namespace fuzzcheck {

using namespace korvane;

inline void require(bool ok) {
    if (!ok) std::abort();
}

inline DecodeStep step(RawFormat f, const uint8_t* p, size_t words, DecoderState& s, Event2D* out,
                       size_t room, std::vector<TriggerRecord>* trig, uint64_t stop,
                       uint64_t& corrupt) {
    return f == RawFormat::Evt3 ? decodeEvt3(p, words, s, out, room, trig, 0, stop, corrupt)
                                : decodeEvt2(p, words, s, out, room, trig, 0, stop, corrupt);
}

inline void checkDecoder(RawFormat format, const uint8_t* data, size_t size) {
    if (size < 1) return;
    // The first byte steers the piece sizes; the rest is the word stream.
    const unsigned steer = data[0];
    data += 1;
    size -= 1;
    const size_t ws = wordSizeBytes(format);
    const size_t words = size / ws;

    std::vector<Event2D> whole, pieces, buf(64 + steer);
    std::vector<TriggerRecord> trig;
    DecoderState a, b;
    uint64_t ca = 0, cb = 0;
    size_t i = 0;
    while (i < words) {
        DecodeStep st = step(format, data + i * ws, words - i, a, buf.data(), buf.size(), &trig,
                             UINT64_MAX, ca);
        require(st.eventsWritten <= buf.size());
        whole.insert(whole.end(), buf.begin(), buf.begin() + long(st.eventsWritten));
        i += st.wordsConsumed;
    }
    i = 0;
    const size_t piece = 1 + steer % 7;
    while (i < words) {
        DecodeStep st = step(format, data + i * ws, std::min(piece, words - i), b, buf.data(),
                             12 + steer % 13, nullptr, UINT64_MAX, cb);
        pieces.insert(pieces.end(), buf.begin(), buf.begin() + long(st.eventsWritten));
        i += st.wordsConsumed;
    }
    require(whole == pieces);
    require(a == b);
    require(ca == cb);

    // Index checkpoints at 32-byte steps must equal the decoder walked that far.
    TimeIndex index = TimeIndex::build(data, 0, words * ws, format, 32);
    DecoderState s;
    uint64_t c = 0;
    size_t done = 0;
    for (const IndexEntry& e : index.entries()) {
        const size_t target = size_t(e.offsetBytes / ws);
        while (done < target) {
            DecodeStep st = step(format, data + done * ws, target - done, s, buf.data(), buf.size(),
                                 nullptr, UINT64_MAX, c);
            done += st.wordsConsumed;
        }
        require(s == e.state);
    }
}

}  // namespace fuzzcheck
