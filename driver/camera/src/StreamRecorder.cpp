#include "korvane/camera/StreamRecorder.h"

#include <cerrno>
#include <cstring>

#include "DvsFileInfo.h"
#include "Utils/FuncUtils.h"
#include "korvane/file/Platform.h"
#include "korvane/file/RawHeader.h"
#include "korvane/file/RawWriter.h"
#include "korvane/file/SafeOutput.h"

namespace korvane {

namespace {

std::string describeErrno(int err) {
    // A size limit (EFBIG) stops a recording as a full disk does.
    if (err == ENOSPC || err == EFBIG) return "disk full";
#ifdef EDQUOT
    if (err == EDQUOT) return "disk full";
#endif
    return std::strerror(err);
}

// First and last time of what a chunk writes, if anything.
bool chunkTimes(const StreamChunk& c, uint64_t& first, uint64_t& last) {
    if (c.events.empty() && c.triggers.empty()) return false;
    first = UINT64_MAX;
    last = 0;
    if (!c.events.empty()) {
        first = c.events.front().timestamp;
        last = c.events.back().timestamp;
    }
    if (!c.triggers.empty()) {
        first = std::min(first, c.triggers.front().timestamp);
        last = std::max(last, c.triggers.back().timestamp);
    }
    return true;
}
}  // namespace

std::unique_ptr<StreamRecorder> StreamRecorder::create(
    const std::string& path, const std::string& serial, uint64_t startTime_us,
    std::shared_ptr<TriggerCache> cache, uint64_t cacheSeq, CacheSnapshot held,
    ErrorCallback onError, std::string* error, uint64_t apsStartTimestamp_us,
    uint16_t mirrorWidth_px, const RawHeader* sensorFrom) {
    if (mirrorWidth_px > 0) cache.reset();
    // Written in place, so it plays while it grows and after a kill; never
    // through a link, never into a device or FIFO, never into a file another
    // recorder holds (the lock stays with the descriptor until the end).
    std::string why;
    const int fd = openInPlaceOutput(path, &why);
    if (fd < 0) {
        if (error) *error = "cannot create " + path + ": " + why;
        return nullptr;
    }
    platform::FileStatus target;
    platform::status(fd, target);  // the file's identity, to notice it being replaced
    std::unique_ptr<StreamRecorder> rec(
        new StreamRecorder(path, fd, std::move(cache), cacheSeq, std::move(onError)));
    rec->serial_ = serial;
    // Without a cache the camera's chunks are queued from the first on.
    rec->acceptingLive_.store(!rec->cache_);
    if (rec->cache_) rec->held_ = std::move(held);
    rec->startTime_us_ = startTime_us;
    rec->apsStartTimestamp_us_ = apsStartTimestamp_us;
    rec->mirrorWidth_px_ = mirrorWidth_px;
    if (sensorFrom) rec->sensorFrom_ = std::make_unique<RawHeader>(*sensorFrom);
    rec->device_ = target.device;
    rec->inode_ = target.inode;
    rec->thread_ = std::thread([r = rec.get()] { r->run(); });
    return rec;
}

StreamRecorder::StreamRecorder(std::string path, int fd, std::shared_ptr<TriggerCache> cache,
                               uint64_t cacheSeq, ErrorCallback onError)
    : path_(std::move(path)),
      fd_(fd),
      cache_(std::move(cache)),
      cacheSeq_(cacheSeq),
      onError_(std::move(onError)),
      queue_(kQueueCapacity_bytes) {
    status_.running = true;
    status_.path = path_;
}

StreamRecorder::~StreamRecorder() {
    stop();
}

bool StreamRecorder::push(ChunkPtr chunk) {
    if (failed_.load(std::memory_order_relaxed)) return false;
    if (!acceptingLive_.load()) return true;  // the cache has it; the recorder takes it there
    // The camera waits for a slow disk a while; a disk that cannot keep up
    // ends the recording instead of stalling the camera for good.
    if (queue_.push(std::move(chunk), std::chrono::milliseconds(3000))) return true;
    if (!queue_.closed()) fail("the disk cannot keep up with the stream");
    return false;
}

bool StreamRecorder::writeOut(const uint8_t* data, size_t size) {
    while (size > 0) {
        const long long n = platform::writeSome(fd_, data, size);
        if (n <= 0) {
            const int e = n < 0 ? errno : ENOSPC;
            // What a write that ran out of room left of its piece goes: the
            // file ends with whole words and holds the events counted.
            if (platform::truncate(fd_, wholeBytes_) != 0) {
                fail(describeErrno(e) +
                     " (and the file could not be cut back: " + describeErrno(errno) + ")");
                return false;
            }
            fail(describeErrno(e));
            return false;
        }
        data += n;
        size -= size_t(n);
        writtenBytes_ += uint64_t(n);
    }
    return true;
}

void StreamRecorder::fail(const std::string& reason) {
    if (failed_.exchange(true)) return;
    queue_.close();
    {
        std::lock_guard lock(statusMutex_);
        status_.error = reason;
        status_.running = false;
    }
    if (onError_) onError_(path_, reason);
}

bool StreamRecorder::checkStillThere() {
    platform::FileStatus st;
    if (!platform::status(path_, st, /*followLinks=*/true) || st.device != device_ ||
        st.inode != inode_) {
        fail("the recording's file or folder was removed");
        return false;
    }
    return true;
}

// Steps the high time from the last word written toward time_us, the way
// the writer bridges long jumps, so the next writer's first TIME_HIGH reads
// back as the move it makes.
void StreamRecorder::bridgeTo(uint64_t time_us) {
    if (!haveLastTime_) return;
    const uint64_t high = lastTime_us_ >> 12;
    const uint64_t target = time_us >> 12;
    if (target == high) return;
    const uint64_t n = timeHighWords(high, target, 12);
    std::vector<uint8_t> words;
    for (uint64_t i = 1; i < n; ++i) {
        const uint16_t w = uint16_t(0x8000 | (timeHighStepOnPath(high, target, 12, i, n) & 0xFFF));
        words.push_back(uint8_t(w & 0xFF));
        words.push_back(uint8_t(w >> 8));
    }
    if (!words.empty()) writeOut(words.data(), words.size());
}

// The header names the first event's time, so it is written with the
// first data (or at the end, with the start time, when nothing came).
bool StreamRecorder::writeHeader(uint64_t firstTime_us) {
    if (headerWritten_) return true;
    headerWritten_ = true;
    DvsFileInfo info;
    info.serialNumber = serial_;
    info.dvsStartTimestamp = firstTime_us;
    info.apsStartTimestamp = apsStartTimestamp_us_;
    const std::string header = sensorFrom_
                                   ? recordingHeader(info, RawFormat::Evt3, sensorFrom_->width,
                                                     sensorFrom_->height, sensorFrom_.get())
                                   : generateDvsFileHeader(info);
    if (!writeOut(reinterpret_cast<const uint8_t*>(header.data()), header.size())) return false;
    wholeBytes_ = writtenBytes_;
    return true;
}

size_t StreamRecorder::writeCached(const CacheSnapshot& snap, uint64_t after) {
    std::vector<uint8_t> buffer;
    // The cache's duration before the start, in whole segments.
    const uint64_t from = cache_->windowStart_us(startTime_us_);
    size_t count = 0;
    const uint64_t bound = cacheBound();
    for (const auto& seg : snap.segments) {
        if (failed_.load() || seg->lastSeq <= after) continue;
        if (seg->firstSeq > bound) break;  // gathered after the stop
        // Segments missing before this one ended before its start: a gap
        // older than the cached seconds is nothing the file needed.
        if (after != 0 && seg->firstSeq > after + 1 && seg->t0_us > from) {
            // The cache dropped what the file still needed.
            fail("the disk cannot keep up with the stream");
            break;
        }
        after = seg->lastSeq;
        ++count;
        if (!seg->hasData || seg->t1_us <= from) continue;
        if (!writeHeader(seg->firstTime_us)) break;
        bridgeTo(seg->firstTime_us);
        if (seg->file.empty()) {
            writeOut(seg->bytes.data(), seg->bytes.size());
        } else {
            int in = platform::openForReading(seg->file, nullptr);
            if (in < 0) continue;  // a lost cache segment leaves a gap, not a failure
            buffer.resize(4u << 20);
            long long n;
            while ((n = platform::readSome(in, buffer.data(), buffer.size())) > 0) {
                if (!writeOut(buffer.data(), size_t(n))) break;
            }
            platform::close(in);
        }
        if (failed_.load()) break;  // the segment is not in the file
        wholeBytes_ = writtenBytes_;
        lastTime_us_ = seg->lastTime_us;
        haveLastTime_ = true;
        eventsWritten_ += seg->events;
        std::lock_guard lock(statusMutex_);
        status_.eventsWritten = eventsWritten_;
    }
    return count;
}

// Copies the cache, then what it gathered meanwhile, until one round finds
// at most a segment; then opens the queue. Returns the last chunk written.
uint64_t StreamRecorder::catchUpWithCache() {
    uint64_t written = 0;
    // What the cache held at the start comes first, whatever it trimmed since;
    // its hold keeps what came after until the catch-up ends.
    const std::shared_ptr<void> hold = std::move(held_.hold);
    writeCached(held_, written);
    written = std::max(written, held_.throughSeq);
    held_ = CacheSnapshot();
    uint64_t target = cacheSeq_;
    while (!failed_.load()) {
        const CacheSnapshot snap = cache_->snapshotThrough(cappedSeq(target));
        const size_t segments = writeCached(snap, written);
        written = std::max(written, snap.throughSeq);
        if (segments <= 1 || queue_.closed()) break;  // caught up, or asked to stop
        target = 0;
    }
    acceptingLive_.store(true);
    // Chunks between the last round and the first queued one are in the
    // cache; the first queued one says where that ends.
    ChunkPtr first;
    while (!failed_.load() && !(first = queue_.pop(std::chrono::milliseconds(50))) &&
           !queue_.closed()) {
    }
    if (!failed_.load()) {
        const CacheSnapshot snap = cache_->snapshotThrough(first ? first->seq - 1 : cappedSeq(0));
        writeCached(snap, written);
        written = std::max(written, snap.throughSeq);
    }
    cache_.reset();  // releases the segments' files to the cache
    if (first && first->seq > written) pending_ = std::move(first);
    return written;
}

uint64_t StreamRecorder::cacheBound() const {
    uint64_t bound = UINT64_MAX;
    // 0 for either: no chunk was ever handed on, so there is nothing to bound.
    for (const uint64_t seq : {lastSeq_.load(), detachedSeq_.load()})
        if (seq != 0) bound = std::min(bound, seq);
    return bound;
}

uint64_t StreamRecorder::cappedSeq(uint64_t seq) const {
    const uint64_t bound = cacheBound();
    if (bound == UINT64_MAX) return seq;
    return seq == 0 ? bound : std::min(seq, bound);
}

void StreamRecorder::run() {
    uint64_t skipThrough = 0;
    if (cache_) skipThrough = catchUpWithCache();
    RawWriter writer;      // encodes into its buffer; this thread writes it out
    StreamChunk mirrored;  // reused: chunks are shared with the live view, never changed
    auto lastSync = std::chrono::steady_clock::now();
    while (!failed_.load()) {
        ChunkPtr chunk = pending_ ? std::move(pending_) : queue_.pop(std::chrono::milliseconds(50));
        if (!chunk && queue_.closed()) break;
        if (chunk && chunk->seq > skipThrough) {
            uint64_t first = 0, last = 0;
            if (chunkTimes(*chunk, first, last)) {
                if (!writeHeader(first)) break;
                bridgeTo(first);
                if (mirrorWidth_px_ > 0) {
                    mirrored.events.assign(chunk->events.begin(), chunk->events.end());
                    for (Event2D& e : mirrored.events)
                        if (e.x < mirrorWidth_px_) e.x = uint16_t(mirrorWidth_px_ - 1 - e.x);
                    mirrored.triggers.assign(chunk->triggers.begin(), chunk->triggers.end());
                    writeChunk(writer, mirrored);
                } else {
                    writeChunk(writer, *chunk);
                }
                const std::vector<uint8_t> bytes = writer.takeBuffer();
                if (!writeOut(bytes.data(), bytes.size())) break;
                wholeBytes_ = writtenBytes_;
                eventsWritten_ += chunk->events.size();
                lastTime_us_ = last;
                haveLastTime_ = true;
                std::lock_guard lock(statusMutex_);
                status_.eventsWritten = eventsWritten_;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastSync >= kSyncPeriod) {
            lastSync = now;
            if (int e = platform::syncData(fd_)) {
                fail(describeErrno(e));
                break;
            }
            if (!checkStillThere()) break;
        }
    }
}

bool StreamRecorder::stop(const std::string& reason, uint64_t lastSeq) {
    if (stopped_) return !failed_.load();
    stopped_ = true;
    lastSeq_.store(lastSeq);
    queue_.close();
    if (thread_.joinable()) thread_.join();
    if (!failed_.load()) writeHeader(startTime_us_);
    bool ok = !failed_.load();
    if (int e = ok ? platform::sync(fd_) : 0) {
        fail(describeErrno(e));
        ok = false;
    }
    if (int e = platform::close(fd_); e && ok) {
        fail(describeErrno(e));
        ok = false;
    }
    fd_ = -1;
    std::lock_guard lock(statusMutex_);
    status_.running = false;
    if (status_.error.empty()) status_.error = reason;
    return ok;
}

RecordingStatus StreamRecorder::status() const {
    std::lock_guard lock(statusMutex_);
    return status_;
}

}  // namespace korvane
