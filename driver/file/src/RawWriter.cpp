#include "korvane/file/RawWriter.h"

#include <cerrno>
#include <cstring>

#include "korvane/file/EventDecoder.h"
#include "korvane/file/Platform.h"

namespace korvane {

namespace {
constexpr size_t kFlushBytes = 1 << 20;
constexpr unsigned kMinVectorRun = 3;  // below this, single words are smaller
}  // namespace

RawWriter::RawWriter(RawFormat format) : format_(format) {
    buffer_.reserve(kFlushBytes + 64);
}

RawWriter::~RawWriter() {
    if (fd_ >= 0) close();
}

bool RawWriter::open(const std::string& path, const std::string& headerText) {
    int why = 0;
    const int fd = platform::createOrTruncate(path, 0666, &why, /*waitForReader=*/true);
    if (!open(fd, headerText)) {
        errno_ = why;
        return false;
    }
    ownsFd_ = true;
    return true;
}

bool RawWriter::open(int fd, const std::string& headerText) {
    if (fd_ >= 0) close();
    ok_ = true;
    errno_ = 0;
    buffer_.clear();
    haveTime_ = false;
    haveY_ = false;
    eventsWritten_ = eventsDropped_ = 0;
    ownsFd_ = false;
    fd_ = fd;
    if (fd_ < 0) {
        ok_ = false;
        errno_ = EBADF;
        return false;
    }
    buffer_.insert(buffer_.end(), headerText.begin(), headerText.end());
    return true;
}

void RawWriter::flush() {
    if (fd_ < 0) return;  // buffer-only use
    writeAll(buffer_.data(), buffer_.size());
    buffer_.clear();
}

void RawWriter::writeAll(const uint8_t* bytes, size_t size) {
    size_t done = 0;
    while (ok_ && done < size) {
        const long long n = platform::writeSome(fd_, bytes + done, size - done);
        if (n <= 0) {
            ok_ = false;
            errno_ = n < 0 ? errno : ENOSPC;
            break;
        }
        done += size_t(n);
    }
}

void RawWriter::flushIfFull() {
    if (buffer_.size() >= kFlushBytes) flush();
}

bool RawWriter::close() {
    if (fd_ < 0) return ok_;
    flush();
    if (int e = ok_ ? platform::sync(fd_) : 0) {
        ok_ = false;
        errno_ = e;
    }
    if (int e = ownsFd_ ? platform::close(fd_) : 0; e && ok_) {
        ok_ = false;
        errno_ = e;
    }
    fd_ = -1;
    ownsFd_ = false;
    return ok_;
}

std::vector<uint8_t> RawWriter::takeBuffer() {
    std::vector<uint8_t> out;
    out.swap(buffer_);
    return out;
}

void RawWriter::put16(uint16_t w) {
    uint8_t b[2];
    std::memcpy(b, &w, 2);
    buffer_.insert(buffer_.end(), b, b + 2);
}

void RawWriter::put32(uint32_t w) {
    uint8_t b[4];
    std::memcpy(b, &w, 4);
    buffer_.insert(buffer_.end(), b, b + 4);
}

// Moves the time high to `target` steps along the path every decoder reads
// back as that move (timeHighWords). Long silences are written out as they
// come: a silence of years is gigabytes of steps, so the buffer is flushed
// on the way.
void RawWriter::moveTimeHigh(uint64_t target, unsigned fieldBits) {
    const uint64_t mask = (uint64_t(1) << fieldBits) - 1;
    auto putHigh = [&](uint64_t steps) {
        if (format_ == RawFormat::Evt2)
            put32(0x80000000u | uint32_t(steps & mask));
        else
            put16(uint16_t(0x8000 | (steps & mask)));
    };
    const uint64_t from = highSteps_;
    const uint64_t n = haveTime_ ? timeHighWords(from, target, fieldBits) : 1;
    for (uint64_t i = 1; i < n && ok_; ++i) {
        putHigh(timeHighStepOnPath(from, target, fieldBits, i, n));
        flushIfFull();
    }
    highSteps_ = target;
    haveTime_ = true;
    putHigh(target);
}

void RawWriter::setTime(uint64_t t) {
    if (format_ == RawFormat::Evt2) {
        const uint64_t target = t >> 6;
        if (haveTime_ && target == highSteps_) return;
        moveTimeHigh(target, 28);
        return;
    }
    const uint64_t target = t >> 12;
    const uint16_t low = uint16_t(t & 0xFFF);
    const bool highChanged = !haveTime_ || target != highSteps_;
    if (highChanged) moveTimeHigh(target, 12);
    if (highChanged || low != low_) {
        low_ = low;
        put16(uint16_t(0x6000 | low));
    }
}

void RawWriter::writeTrigger(const EventTriggerIn& trigger) {
    if (!ok_) return;
    setTime(trigger.timestamp);
    if (format_ == RawFormat::Evt2) {
        put32(0xA0000000u | uint32_t((trigger.timestamp & 0x3F) << 22) |
              uint32_t((trigger.id & 0x1F) << 8) | uint32_t(trigger.polarity & 1));
    } else {
        put16(uint16_t(0xA000 | ((trigger.id & 0xF) << 8) | (trigger.polarity & 1)));
    }
    flushIfFull();
}

void placeEdgesByTime(const Event2D* events, size_t count, const std::vector<EventTriggerIn>& edges,
                      std::vector<TriggerRecord>& out) {
    out.clear();
    size_t at = 0;
    for (const EventTriggerIn& edge : edges) {
        while (at < count && events[at].timestamp < edge.timestamp)
            ++at;
        out.push_back({edge, at});
    }
}

bool RawWriter::writeWords(const uint8_t* words, size_t bytes, const DecoderState& at,
                           const DecoderState& after, uint64_t events) {
    if (!ok_) return true;  // nothing more is written after a failure
    if (!haveTime_ || !at.haveTime || !after.haveTime || at.baseX > 0x7FF) return false;
    setTime(at.time);
    if (format_ == RawFormat::Evt3) {
        if (!haveY_ || y_ != at.y) put16(uint16_t(at.y & 0x7FF));
        put16(uint16_t(0x3000 | ((at.polarity & 1) << 11) | at.baseX));
    }
    if (fd_ >= 0 && bytes >= kFlushBytes / 8) {
        // Large copies go out from where they are, not through the buffer.
        flush();
        writeAll(words, bytes);
    } else {
        buffer_.insert(buffer_.end(), words, words + bytes);
    }
    highSteps_ = format_ == RawFormat::Evt2 ? after.timeHigh >> 6 : after.timeHigh >> 12;
    low_ = uint16_t(after.time & 0xFFF);
    y_ = after.y;
    haveY_ = true;
    eventsWritten_ += events;
    flushIfFull();
    return true;
}

void RawWriter::writeChunk(const Event2D* events, size_t count,
                           const std::vector<TriggerRecord>& edges) {
    visitInFileOrder(
        events, count, edges, [this](const Event2D* first, size_t n) { writeEvents(first, n); },
        [this](const EventTriggerIn& edge) { writeTrigger(edge); });
}

void RawWriter::writeEvents(const Event2D* events, size_t count) {
    if (!ok_) return;
    if (format_ == RawFormat::Evt2) {
        for (size_t i = 0; i < count; ++i) {
            const Event2D& e = events[i];
            if (e.x > 0x7FF || e.y > 0x7FF) {
                ++eventsDropped_;
                continue;
            }
            setTime(e.timestamp);
            put32((uint32_t(e.polarity ? 1 : 0) << 28) | uint32_t((e.timestamp & 0x3F) << 22) |
                  (uint32_t(e.x) << 11) | uint32_t(e.y));
            ++eventsWritten_;
            if ((i & 0xFFFF) == 0) flushIfFull();
        }
        flushIfFull();
        return;
    }

    size_t i = 0;
    while (i < count) {
        const Event2D& e = events[i];
        if (e.x > 0x7FF || e.y > 0x7FF) {
            ++eventsDropped_;
            ++i;
            continue;
        }
        setTime(e.timestamp);
        if (!haveY_ || e.y != y_) {
            y_ = e.y;
            haveY_ = true;
            put16(uint16_t(e.y));
        }
        const uint8_t pol = e.polarity ? 1 : 0;
        // A run: same time, row and polarity, x rising by less than 12 each step,
        // so every vector word of the run carries at least one event.
        size_t j = i + 1;
        while (j < count && events[j].timestamp == e.timestamp && events[j].y == e.y &&
               (events[j].polarity ? 1 : 0) == pol && events[j].x > events[j - 1].x &&
               events[j].x - events[j - 1].x < 12 && events[j].x <= 0x7FF) {
            ++j;
        }
        if (j - i < kMinVectorRun) {
            for (size_t k = i; k < j; ++k)
                put16(uint16_t(0x2000 | (pol << 11) | events[k].x));
        } else {
            uint32_t base = e.x;
            put16(uint16_t(0x3000 | (pol << 11) | base));
            size_t k = i;
            while (k < j) {
                const uint32_t span = events[j - 1].x - base;
                const uint32_t width = span < 8 ? 8 : 12;
                uint32_t mask = 0;
                while (k < j && events[k].x < base + width) {
                    mask |= 1u << (events[k].x - base);
                    ++k;
                }
                put16(uint16_t((width == 8 ? 0x5000 : 0x4000) | mask));
                base += width;
            }
        }
        eventsWritten_ += j - i;
        i = j;
        flushIfFull();
    }
}

}  // namespace korvane
