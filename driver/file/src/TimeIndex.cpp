#include "korvane/file/TimeIndex.h"

#include <algorithm>
#include <memory>

#include "korvane/file/RawFile.h"
#include "korvane/file/WordScan.h"

namespace korvane {

void TimeIndex::advanceEvt3(const uint8_t* bytes, size_t words, DecoderState& s) {
    ScanStats ignored;
    evt3::walk(bytes, words, s, ignored);
}

void TimeIndex::advanceEvt2(const uint8_t* bytes, size_t words, DecoderState& s) {
    ScanStats ignored;
    evt2::walk(bytes, words, s, ignored);
}

// The running state of a scan: checkpoints every stepBytes from dataOffset.
struct TimeIndex::Scan {
    TimeIndex index;
    DecoderState state;
    uint64_t key = 0;
    uint64_t wordSize;
    uint64_t end;  // end of the last whole word

    Scan(uint64_t dataOffset, uint64_t dataEnd, RawFormat format, uint64_t stepBytes)
        : wordSize(wordSizeBytes(format)) {
        index.format_ = format;
        // Steps are whole 32-byte blocks so the block walk never straddles one.
        index.stepBytes_ = std::max<uint64_t>(32, stepBytes - stepBytes % 32);
        const uint64_t words = dataEnd > dataOffset ? (dataEnd - dataOffset) / wordSize : 0;
        end = dataOffset + words * wordSize;
        index.entries_.reserve(size_t(words * wordSize / index.stepBytes_ + 2));
        index.entries_.push_back({dataOffset, 0, state});
    }

    // Walks [pos, pos + length) whose bytes start at `bytes`; length is whole
    // steps except at the very end.
    void walk(const uint8_t* bytes, uint64_t pos, uint64_t length) {
        const uint64_t stop = pos + length;
        while (pos < stop) {
            const uint64_t chunk = std::min(index.stepBytes_, stop - pos);
            ScanStats stats;
            if (state.haveTime) stats.minTime = state.time;
            if (index.format_ == RawFormat::Evt2) {
                evt2::walk(bytes, size_t(chunk / wordSize), state, stats);
            } else {
                evt3::walk(bytes, size_t(chunk / wordSize), state, stats);
            }
            IndexEntry& stretch = index.entries_.back();
            stretch.minTime = std::min(stretch.minTime, stats.minTime);
            stretch.eventWords = stretch.eventWords || stats.eventWords;
            stretch.eventBound += stats.eventBound;
            bytes += chunk;
            pos += chunk;
            if (state.haveTime) key = std::max({key, state.time, stats.maxTime});
            if (pos < end) index.entries_.push_back({pos, key, state});
        }
    }
};

TimeIndex TimeIndex::build(const uint8_t* data, uint64_t dataOffset, uint64_t dataEnd,
                           RawFormat format, uint64_t stepBytes) {
    Scan scan(dataOffset, dataEnd, format, stepBytes);
    scan.walk(data + dataOffset, dataOffset, scan.end - dataOffset);
    scan.index.finish();
    return std::move(scan.index);
}

TimeIndex TimeIndex::build(const RawFile& file, uint64_t dataOffset, uint64_t dataEnd,
                           RawFormat format, uint64_t stepBytes,
                           const std::function<bool(uint64_t)>& progress) {
    Scan scan(dataOffset, dataEnd, format, stepBytes);
    // Pieces of whole steps, read into one buffer that stays in cache-friendly reuse.
    // A small file needs no 8 MiB buffer: whole steps, as many as the data fills.
    const uint64_t step = scan.index.stepBytes_;
    const uint64_t dataSteps = (scan.end - dataOffset + step - 1) / step;
    const uint64_t pieceBytes =
        step * std::max<uint64_t>(1, std::min<uint64_t>((8u << 20) / step, dataSteps));
    std::unique_ptr<uint8_t[]> piece(new uint8_t[size_t(pieceBytes)]);
    uint64_t pos = dataOffset;
    while (pos < scan.end) {
        const uint64_t want = std::min(pieceBytes, scan.end - pos);
        const uint64_t got =
            file.readAt(pos, piece.get(), size_t(want)) / scan.wordSize * scan.wordSize;
        if (got < want) scan.end = pos + got;  // the file shrank: index what is there
        scan.walk(piece.get(), pos, got);
        pos += got;
        if (got == 0 || (progress && !progress(pos))) break;
    }
    scan.index.finish();
    return std::move(scan.index);
}

void TimeIndex::finish() {
    floors_.assign(entries_.size(), std::numeric_limits<uint64_t>::max());
    uint64_t floor = std::numeric_limits<uint64_t>::max();
    for (size_t k = entries_.size(); k-- > 0;) {
        floor = std::min(floor, entries_[k].minTime);
        floors_[k] = floor;
    }
}

void TimeIndex::shiftTimes(uint64_t offset_us) {
    if (offset_us == 0) return;
    for (IndexEntry& e : entries_) {
        e.keyTime += offset_us;
        // Before the first TIME_HIGH the state carries the loops to start with.
        e.state.timeHigh += offset_us;
        if (e.state.haveTime) e.state.time += offset_us;
        if (e.minTime != std::numeric_limits<uint64_t>::max()) e.minTime += offset_us;
    }
    if (span_.hasEvents) {
        span_.first_us += offset_us;
        span_.last_us += offset_us;
    }
    finish();
}

const IndexEntry& TimeIndex::entryBefore(uint64_t t) const {
    // EVT2 events carry 6 time bits of their own beyond the state's time.
    const uint64_t slack = format_ == RawFormat::Evt2 ? 64 : 1;
    if (t < slack) return entries_.front();
    const uint64_t limit = t - slack;
    auto it = std::upper_bound(entries_.begin(), entries_.end(), limit,
                               [](uint64_t v, const IndexEntry& e) { return v < e.keyTime; });
    return it == entries_.begin() ? entries_.front() : *(it - 1);
}

size_t TimeIndex::stretchAt(uint64_t offsetBytes) const {
    auto it = std::upper_bound(entries_.begin(), entries_.end(), offsetBytes,
                               [](uint64_t v, const IndexEntry& e) { return v < e.offsetBytes; });
    return it == entries_.begin() ? 0 : size_t(it - entries_.begin()) - 1;
}

bool TimeIndex::stretchWithin(size_t k, uint64_t from_us, uint64_t to_us) const {
    if (k + 1 >= entries_.size() || entries_[k].minTime < from_us) return false;
    // An EVT 2.0 event adds its 6 low bits to the last TIME_HIGH the index saw.
    constexpr uint64_t kEventTimeAbove = 64;
    const uint64_t highest = entries_[k + 1].keyTime;
    return highest < to_us && to_us - highest > kEventTimeAbove;
}

bool TimeIndex::wordsWithin(uint64_t fromBytes, uint64_t toBytes, uint64_t from_us,
                            uint64_t to_us) const {
    if (entries_.empty() || fromBytes < entries_.front().offsetBytes) return false;
    const size_t k = stretchAt(fromBytes);
    return k + 1 < entries_.size() && toBytes <= entries_[k + 1].offsetBytes &&
           stretchWithin(k, from_us, to_us);
}

}  // namespace korvane
