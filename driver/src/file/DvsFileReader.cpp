#include "DvsFileReader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "IndexCache.h"
#include "Logger.h"
#include "RawWriter.h"
#include "Utils/FuncUtils.h"

namespace korvane {

namespace fs = std::filesystem;

namespace {
constexpr uint64_t kNoStop = std::numeric_limits<uint64_t>::max();

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    return a > kNoStop - b ? kNoStop : a + b;
}

// True when every event lies in [from, to): the common case inside a window.
bool allInside(const Event2D* ev, size_t n, uint64_t from, uint64_t to) {
    bool inside = true;
    for (size_t i = 0; i < n; ++i)
        inside &= ev[i].timestamp >= from && ev[i].timestamp < to;
    return inside;
}
}  // namespace

std::unique_ptr<DvsFileReader> DvsFileReader::createFileReader(const std::string& path) {
    std::string error;
    auto reader = createFileReader(path, &error);
    if (!reader) KV_LOG_ERROR("Error: cannot read %s: %s", path.c_str(), error.c_str());
    return reader;
}

std::unique_ptr<DvsFileReader> DvsFileReader::createFileReader(const std::string& path,
                                                               std::string* error) {
    RawFile file;
    std::string why;
    if (!file.open(path, &why)) {
        if (error) *error = why;
        return nullptr;
    }
    if (file.size() == 0) {
        if (error) *error = "empty file";
        return nullptr;
    }
    RawHeader header = readRawHeader(file);
    if (header.format == RawFormat::Unknown) {
        if (error) *error = "unsupported event format '" + header.formatName + "'";
        return nullptr;
    }
    return std::unique_ptr<DvsFileReader>(new DvsFileReader(path, std::move(file), header));
}

DvsFileReader::DvsFileReader(std::string path, RawFile file, RawHeader header)
    : path_(std::move(path)), file_(std::move(file)), header_(std::move(header)) {}

DvsFileReader::~DvsFileReader() = default;

uint64_t DvsFileReader::dataEnd() const {
    const uint64_t ws = wordSizeBytes(header_.format);
    const uint64_t off = header_.dataOffsetBytes;
    return off + (file_.size() - off) / ws * ws;  // a trailing partial word is ignored
}

bool DvsFileReader::openForReading() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ensureOpenLocked();
}

bool DvsFileReader::ensureOpenLocked() {
    if (opened_) return true;
    if (cancelled_.load()) return false;
    const uint64_t ws = wordSizeBytes(header_.format);
    IndexFileKey key;
    const bool haveKey = IndexCache::keyFor(path_, header_.dataOffsetBytes, key);
    if (haveKey) {
        if (auto cached = IndexCache::load(key)) {
            bool fits = cached->format() == header_.format;
            for (const IndexEntry& e : cached->entries()) {
                if (!fits) break;
                fits = e.offsetBytes <= dataEnd() &&
                       (e.offsetBytes - header_.dataOffsetBytes) % ws == 0;
            }
            if (fits) {
                index_ = std::move(*cached);
                indexFromCache_ = true;
            }
        }
    }
    if (!indexFromCache_) {
        file_.adviseSequential(header_.dataOffsetBytes, dataEnd() - header_.dataOffsetBytes);
        index_ = TimeIndex::build(file_, header_.dataOffsetBytes, dataEnd(), header_.format,
                                  TimeIndex::kDefaultStepBytes,
                                  [&](uint64_t scanned) {
                                      if (openProgress_) {
                                          const uint64_t begin = header_.dataOffsetBytes;
                                          const uint64_t end = dataEnd();
                                          const double done =
                                              end <= begin || scanned >= end
                                                  ? 1.0
                                                  : double(scanned > begin ? scanned - begin : 0) /
                                                        double(end - begin);
                                          openProgress_(done);
                                      }
                                      return !cancelled_.load();
                                  });
        if (cancelled_.load()) {
            index_ = TimeIndex();  // incomplete: never used nor stored
            return false;
        }
        if (haveKey) IndexCache::store(key, index_);
    }
    findTimeRangeLocked();
    opened_ = true;
    return true;
}

void DvsFileReader::findTimeRangeLocked() {
    hasEvents_ = false;
    startTime_ = endTime_ = 0;
    const auto& entries = index_.entries();
    if (entries.empty()) return;

    // First event: decode from the start until one appears.
    {
        EventStream s(file_, dataEnd(), header_.format, entries.front().offsetBytes,
                      entries.front().state);
        const Event2D* ev;
        size_t n;
        while (s.next(kNoStop, ev, n, nullptr)) {
            if (n > 0) {
                startTime_ = ev[0].timestamp;
                hasEvents_ = true;
                break;
            }
        }
    }
    if (!hasEvents_) return;

    // Last event: the latest time in the last stretch between checkpoints that holds any.
    for (size_t k = entries.size(); k-- > 0;) {
        const uint64_t stretchEnd = k + 1 < entries.size() ? entries[k + 1].offsetBytes : dataEnd();
        EventStream s(file_, stretchEnd, header_.format, entries[k].offsetBytes, entries[k].state);
        const Event2D* ev;
        size_t n;
        bool found = false;
        uint64_t latest = 0;
        while (s.next(kNoStop, ev, n, nullptr)) {
            for (size_t i = 0; i < n; ++i)
                latest = std::max(latest, ev[i].timestamp);
            found = found || n > 0;
        }
        if (found) {
            endTime_ = std::max(latest, startTime_);
            return;
        }
    }
}

bool DvsFileReader::getStartTime(uint64_t& start_us) {
    std::lock_guard<std::mutex> lock(mutex_);
    ensureOpenLocked();
    start_us = startTime_;
    return hasEvents_;
}

bool DvsFileReader::getEndTime(uint64_t& end_us) {
    std::lock_guard<std::mutex> lock(mutex_);
    ensureOpenLocked();
    end_us = endTime_;
    return hasEvents_;
}

bool DvsFileReader::seekToTime(uint64_t t_us) {
    std::lock_guard<std::mutex> lock(mutex_);
    ensureOpenLocked();
    if (!hasEvents_ || t_us > endTime_) return false;
    position_ = t_us;
    return true;
}

EventStream DvsFileReader::streamFrom(uint64_t t_us) const {
    const IndexEntry& entry = index_.entryBefore(t_us);
    // Back-to-back windows continue where the last one stopped (EVT3 only:
    // there the stop leaves every earlier event strictly before it).
    if (haveResume_ && header_.format == RawFormat::Evt3 && resumeState_.time < t_us &&
        resumeOffset_ >= entry.offsetBytes) {
        return EventStream(file_, dataEnd(), header_.format, resumeOffset_, resumeState_);
    }
    return EventStream(file_, dataEnd(), header_.format, entry.offsetBytes, entry.state);
}

EventBatch DvsFileReader::readWindowLocked(uint64_t start_us, uint64_t end_us) {
    // Pooled vectors keep their capacity: a new window costs no allocation
    // and no page faults once playback has warmed up.
    EventBatch batch = batchPool_.acquire();
    batch->clear();
    EventStream s = streamFrom(start_us);
    const Event2D* ev;
    size_t n;
    while (s.next(end_us, ev, n, nullptr)) {
        if (n == 0) continue;
        if (allInside(ev, n, start_us, end_us)) {
            batch->insert(batch->end(), ev, ev + n);
        } else {
            for (size_t i = 0; i < n; ++i) {
                if (ev[i].timestamp >= start_us && ev[i].timestamp < end_us) {
                    batch->push_back(ev[i]);
                }
            }
        }
        if (batch->size() >= windowEventLimit_) {
            // A damaged file can pile millions of events onto one instant; a
            // window stops here rather than exhaust memory (the image is full anyway).
            haveResume_ = false;
            position_ = end_us;
            return batch;
        }
    }
    haveResume_ = true;
    resumeOffset_ = s.offsetBytes();
    resumeState_ = s.state();
    position_ = end_us;
    return batch;
}

EventBatch DvsFileReader::readEventsInWindow(uint64_t start_us, uint64_t duration_us) {
    std::lock_guard<std::mutex> lock(mutex_);
    ensureOpenLocked();
    if (!hasEvents_ || start_us > endTime_) return nullptr;
    return readWindowLocked(start_us, saturatingAdd(start_us, duration_us));
}

EventBatch DvsFileReader::readEventsFor(uint64_t duration_us) {
    std::lock_guard<std::mutex> lock(mutex_);
    ensureOpenLocked();
    if (!hasEvents_ || position_ > endTime_) return nullptr;
    return readWindowLocked(position_, saturatingAdd(position_, duration_us));
}

void DvsFileReader::forEachChunk(uint64_t from_us, uint64_t to_us, const ChunkCallback& callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ensureOpenLocked() || index_.empty()) return;
    if (from_us >= to_us) return;
    const IndexEntry& entry = index_.entryBefore(from_us);
    EventStream s(file_, dataEnd(), header_.format, entry.offsetBytes, entry.state);
    std::vector<TriggerRecord> raw;
    std::vector<TriggerRecord> triggers;
    std::vector<Event2D> kept;
    kept.reserve(EventStream::kChunkEvents);
    const bool wholeRange = from_us == 0 && to_us == kNoStop;  // nothing to filter
    const Event2D* ev;
    size_t n;
    bool more = true;
    while (more) {
        raw.clear();
        const uint64_t streamBase = s.eventsProduced();
        more = s.next(to_us, ev, n, &raw);
        kept.clear();
        triggers.clear();
        if (raw.empty() && (wholeRange || allInside(ev, n, from_us, to_us))) {
            if (n > 0) callback(ev, n, triggers);
            continue;
        }
        size_t t = 0;
        for (size_t i = 0; i <= n; ++i) {
            // Triggers that came before stream event (streamBase + i).
            while (t < raw.size() && raw[t].eventIndex <= streamBase + i) {
                const uint64_t tt = raw[t].trigger.timestamp;
                if (tt >= from_us && tt < to_us) {
                    triggers.push_back({raw[t].trigger, kept.size()});
                }
                ++t;
            }
            if (i < n && ev[i].timestamp >= from_us && ev[i].timestamp < to_us) {
                kept.push_back(ev[i]);
            }
        }
        if (!kept.empty() || !triggers.empty()) callback(kept.data(), kept.size(), triggers);
    }
    corruptWords_ = s.corruptWords();
}

std::vector<EventTriggerIn> DvsFileReader::readTriggersInWindow(uint64_t start_us,
                                                                uint64_t duration_us) {
    std::vector<EventTriggerIn> out;
    forEachChunk(start_us, saturatingAdd(start_us, duration_us),
                 [&](const Event2D*, size_t, const std::vector<TriggerRecord>& triggers) {
                     for (const auto& r : triggers)
                         out.push_back(r.trigger);
                 });
    return out;
}

bool DvsFileReader::getFileInfo(DvsFileInfo& info) {
    std::lock_guard<std::mutex> lock(mutex_);
    ensureOpenLocked();
    info = DvsFileInfo{};
    info.serialNumber = header_.serialNumber;
    info.dvsStartTimestamp = header_.dvsStartTimestamp;
    info.apsStartTimestamp = header_.apsStartTimestamp;
    info.dvsEndTimestamp = endTime_;
    info.width = header_.width;
    info.height = header_.height;
    return true;
}

bool DvsFileReader::exportRawRange(uint64_t start_us, uint64_t end_us, const std::string& path) {
    if (start_us > end_us || path.empty()) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ensureOpenLocked();
        if (!hasEvents_) return false;
    }
    std::error_code ec;
    fs::path target(path);
    fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (!fs::is_directory(dir, ec) || fs::is_directory(target, ec)) return false;

    std::string name = ".";
    name += target.filename().string();
    name += ".part-XXXXXX";
    std::string tmpl = (dir / name).string();
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return false;
    ::close(fd);
    const std::string tmp = tmpl;

    RawWriter writer(RawFormat::Evt3);
    bool headerWritten = false;
    bool ok = true;
    std::vector<EventTriggerIn> early;  // edges before the first event wait for the header
    DvsFileInfo info;
    info.serialNumber = header_.serialNumber;
    info.apsStartTimestamp = header_.apsStartTimestamp;

    auto emitEvents = [&](const Event2D* ev, size_t n) {
        if (n == 0 || !ok) return;
        if (!headerWritten) {
            info.dvsStartTimestamp = ev[0].timestamp;
            headerWritten = true;
            ok = writer.open(tmp, generateDvsFileHeader(info));
            for (const auto& t : early)
                writer.writeTrigger(t);
            early.clear();
        }
        writer.writeEvents(ev, n);
    };
    forEachChunk(start_us, saturatingAdd(end_us, 1),
                 [&](const Event2D* ev, size_t n, const std::vector<TriggerRecord>& triggers) {
                     size_t done = 0;
                     for (const auto& t : triggers) {
                         const size_t at = size_t(std::min<uint64_t>(t.eventIndex, n));
                         emitEvents(ev + done, at - done);
                         done = at;
                         if (headerWritten) {
                             writer.writeTrigger(t.trigger);
                         } else {
                             early.push_back(t.trigger);
                         }
                     }
                     emitEvents(ev + done, n - done);
                 });

    ok = headerWritten && ok && writer.close();
    if (ok) ::chmod(tmp.c_str(), 0644);
    if (ok) fs::rename(tmp, target, ec);
    if (!ok || ec) {
        writer.close();
        fs::remove(tmp, ec);
        return false;
    }
    return true;
}

}  // namespace korvane
