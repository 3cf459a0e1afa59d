#include "korvane/camera/TriggerCache.h"

#include "korvane/file/Platform.h"
#include "korvane/file/SafeOutput.h"

#include <cerrno>
#include <filesystem>

namespace korvane {

namespace {
bool writeAll(int fd, const uint8_t* data, size_t size) {
    return platform::writeAll(fd, data, size);
}
}  // namespace

CacheSegment::~CacheSegment() {
    if (!file.empty()) platform::remove(file);
}

TriggerCache::TriggerCache(uint64_t duration_us, std::string directory, uint64_t afterSeq,
                           size_t memoryCap_bytes)
    : duration_us_(duration_us),
      directory_(std::move(directory)),
      memoryCap_(memoryCap_bytes),
      queue_(256u << 20),
      takenSeq_(afterSeq),
      pushedSeq_(afterSeq) {
    // Segments a killed camera process left here (a closed cache removes its own).
    removeOrphanedFiles(directory_, kFilePrefix, kOrphanAge_s);
    worker_ = std::thread([this] { run(); });
}

TriggerCache::~TriggerCache() {
    queue_.close();
    worker_.join();
    std::lock_guard lock(mutex_);
    closed_ = true;
    taken_.notify_all();
}

bool TriggerCache::usableDirectory(const std::string& directory) {
    platform::FileStatus st;
    return platform::status(directory, st, /*followLinks=*/true) &&
           st.kind == platform::FileKind::Directory && platform::canWriteIn(directory);
}

void TriggerCache::push(ChunkPtr chunk) {
    // The camera waits for a busy cache rather than leave a gap in it: the
    // cache always makes progress (a segment it cannot spill is dropped).
    const uint64_t seq = chunk->seq;
    while (!queue_.push(chunk, std::chrono::milliseconds(1000))) {
        if (queue_.closed()) return;
    }
    std::lock_guard lock(mutex_);
    pushedSeq_ = std::max(pushedSeq_, seq);
}

void TriggerCache::run() {
    while (ChunkPtr chunk = queue_.pop(std::chrono::milliseconds(1000000))) {
        std::lock_guard lock(mutex_);
        takeLocked(*chunk);
        takenSeq_ = chunk->seq;
        taken_.notify_all();
    }
    std::lock_guard lock(mutex_);
    closed_ = true;
    taken_.notify_all();
}

void TriggerCache::takeLocked(const StreamChunk& chunk) {
    if (!open_) {
        open_ = std::make_shared<CacheSegment>();
        open_->t0_us = chunk.t0_us;
        open_->firstSeq = chunk.seq;
        writer_ = std::make_unique<RawWriter>();
    }
    const bool any = !chunk.events.empty() || !chunk.triggers.empty();
    if (any) {
        uint64_t first = UINT64_MAX, last = 0;
        if (!chunk.events.empty()) {
            first = chunk.events.front().timestamp;
            last = chunk.events.back().timestamp;
        }
        if (!chunk.triggers.empty()) {
            first = std::min(first, chunk.triggers.front().timestamp);
            last = std::max(last, chunk.triggers.back().timestamp);
        }
        if (!open_->hasData) open_->firstTime_us = first;
        open_->lastTime_us = last;
        open_->hasData = true;
        writeChunk(*writer_, chunk);
    }
    open_->t1_us = chunk.t1_us;
    open_->lastSeq = chunk.seq;
    open_->events += chunk.events.size();
    if (open_->t1_us - open_->t0_us >= kSegment_us) closeSegmentLocked();
    trimLocked();
}

void TriggerCache::closeSegmentLocked() {
    if (!open_) return;
    open_->bytes = writer_->takeBuffer();
    open_->bytes.shrink_to_fit();
    open_->sizeBytes = open_->bytes.size();
    memoryBytes_ += open_->sizeBytes;
    segments_.push_back(std::move(open_));
    open_.reset();
    writer_.reset();
}

void TriggerCache::trimLocked() {
    const uint64_t newest = open_ ? open_->t1_us : segments_.empty() ? 0 : segments_.back()->t1_us;
    // The oldest goes once the rest still covers the whole duration and a
    // segment more: a recording takes its snapshot a little after it began.
    // A starting recording's hold keeps what it has yet to copy, while the
    // recording is at most the cache's length behind the stream: one that
    // cannot keep up fails as it did without a hold, rather than have the
    // cache grow beside it for as long as it runs.
    const uint64_t keepFrom = holds_->lowestAfter(
        newest > 2 * duration_us_ + kSegment_us ? newest - 2 * duration_us_ - kSegment_us : 0);
    while (segments_.size() >= 2 && segments_[1]->t0_us + duration_us_ + kSegment_us < newest &&
           segments_.front()->t1_us <= keepFrom) {
        memoryBytes_ -= segments_.front()->bytes.size();
        segments_.pop_front();
    }
    // Beyond the memory cap the oldest in-memory segments move to files.
    for (auto& seg : segments_) {
        if (memoryBytes_ <= memoryCap_) break;
        if (seg->bytes.empty()) continue;
        auto spilled = std::make_shared<CacheSegment>();
        spilled->t0_us = seg->t0_us;
        spilled->t1_us = seg->t1_us;
        spilled->firstSeq = seg->firstSeq;
        spilled->events = seg->events;
        spilled->lastSeq = seg->lastSeq;
        spilled->hasData = seg->hasData;
        spilled->firstTime_us = seg->firstTime_us;
        spilled->lastTime_us = seg->lastTime_us;
        spilled->sizeBytes = seg->sizeBytes;
        // A new file only: the folder may be shared, and a name planted
        // there (a link, someone's file) is never written through.
        std::string path;
        int fd = -1;
        for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
            path = directory_ + "/" + kFilePrefix + std::to_string(platform::processId()) + "-" +
                   std::to_string(reinterpret_cast<uintptr_t>(this)) + "-" +
                   std::to_string(fileCounter_++);
            int why = 0;
            fd = platform::createNew(path, 0600, &why);
            if (fd < 0 && why != EEXIST) break;
        }
        bool ok = fd >= 0 && writeAll(fd, seg->bytes.data(), seg->bytes.size());
        if (fd >= 0) platform::close(fd);
        memoryBytes_ -= seg->bytes.size();
        if (ok) {
            spilled->file = path;
        } else {
            // No room for it: the cache keeps less than asked rather than grow.
            if (fd >= 0) platform::remove(path);
            spilled->hasData = false;
            spilled->sizeBytes = 0;
        }
        seg = std::move(spilled);
    }
}

CacheSnapshot TriggerCache::snapshotThrough(uint64_t seq) {
    std::unique_lock lock(mutex_);
    if (seq == 0) seq = pushedSeq_;
    taken_.wait(lock, [&] { return closed_ || takenSeq_ >= seq; });
    closeSegmentLocked();
    CacheSnapshot snap;
    snap.segments.assign(segments_.begin(), segments_.end());
    snap.throughSeq = takenSeq_;
    return snap;
}

CacheSnapshot TriggerCache::closedSegments(uint64_t keepFrom_us) {
    std::lock_guard lock(mutex_);
    CacheSnapshot snap;
    snap.segments.assign(segments_.begin(), segments_.end());
    snap.throughSeq = segments_.empty() ? 0 : segments_.back()->lastSeq;
    if (keepFrom_us != UINT64_MAX) {
        std::shared_ptr<Holds> holds = holds_;
        std::multiset<uint64_t>::iterator it;
        {
            std::lock_guard h(holds->mutex);
            it = holds->from_us.insert(keepFrom_us);
        }
        // Released by whoever drops the last copy; the cache trims the
        // held segments when it next takes a chunk in.
        snap.hold = std::shared_ptr<void>(nullptr, [holds, it](void*) {
            std::lock_guard h(holds->mutex);
            holds->from_us.erase(it);
        });
    }
    return snap;
}

uint64_t TriggerCache::Holds::lowestAfter(uint64_t after_us) {
    std::lock_guard lock(mutex);
    const auto it = from_us.lower_bound(after_us);
    return it == from_us.end() ? UINT64_MAX : *it;
}

uint64_t TriggerCache::oldestTime_us() {
    std::lock_guard lock(mutex_);
    if (!segments_.empty()) return segments_.front()->t0_us;
    return open_ ? open_->t0_us : 0;
}

size_t TriggerCache::memoryBytes() {
    std::lock_guard lock(mutex_);
    return memoryBytes_;
}

uint64_t TriggerCache::fileBytes() {
    std::lock_guard lock(mutex_);
    uint64_t total = 0;
    for (const auto& s : segments_)
        if (!s->file.empty()) total += s->sizeBytes;
    return total;
}

size_t TriggerCache::fileCount() {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& s : segments_)
        n += s->file.empty() ? 0 : 1;
    return n;
}

}  // namespace korvane
