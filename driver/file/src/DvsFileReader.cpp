#include "korvane/file/DvsFileReader.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <optional>

#include "Logger.h"
#include "Utils/FuncUtils.h"
#include "korvane/file/FileCheck.h"
#include "korvane/file/IndexCache.h"
#include "korvane/file/RawWriter.h"
#include "korvane/file/SafeOutput.h"

namespace korvane {

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

// Without a header line nothing says the bytes are a recording: any file
// would "decode" into events at random times. Such data is taken only when
// its start decodes cleanly, as a recording written without header does.
constexpr size_t kHeaderlessProbeBytes = 64 * 1024;

bool headerlessDataPlausible(const RawFile& file, const RawHeader& header, std::string* why) {
    const uint64_t ws = wordSizeBytes(header.format);
    const uint64_t size = file.size();
    const size_t wanted = size_t(std::min<uint64_t>(kHeaderlessProbeBytes, size));
    std::vector<uint8_t> bytes(wanted);
    const size_t got = file.readAt(0, bytes.data(), wanted);
    const size_t words = size_t(got / ws);
    const WordCheck c = checkWords(bytes.data(), words, header.format, DecoderState{},
                                   kAddressRange, kAddressRange);
    // A file shorter than the probe that ends inside a word is damaged too.
    const bool padding = size <= kHeaderlessProbeBytes && size % ws != 0;
    const uint64_t anomalies = c.reservedWords + c.eventsBeforeTime + c.vectorsWithoutBase +
                               c.vectorEventsBeyondRange + c.eventsOutsideGeometry +
                               c.timeBackSteps + (padding ? 1 : 0);
    if (anomalies == 0 && c.events > 0) return true;
    if (why) {
        *why = "no RAW header, and the data does not decode as " +
               std::string(rawFormatName(header.format)) + " (" + std::to_string(anomalies) +
               " anomalies and " + std::to_string(c.events) + " events in the first " +
               std::to_string(words) + " words)";
    }
    return false;
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
        if (error) *error = "unsupported event format '" + printableText(header.formatName) + "'";
        return nullptr;
    }
    if (!header.hasHeader && !headerlessDataPlausible(file, header, error)) return nullptr;
    return std::unique_ptr<DvsFileReader>(new DvsFileReader(path, std::move(file), header));
}

DvsFileReader::DvsFileReader(std::string path, RawFile file, RawHeader header)
    : path_(std::move(path)), file_(std::move(file)), header_(std::move(header)) {}

DvsFileReader::~DvsFileReader() = default;

uint64_t DvsFileReader::dataEnd() const {
    const uint64_t ws = wordSizeBytes(header_.format);
    const uint64_t off = header_.dataOffsetBytes;
    if (off >= file_.size()) return off;          // header only (or grown past the size at open)
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
    const bool haveKey = IndexCache::keyFor(file_, path_, header_.dataOffsetBytes, key);
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
        const uint64_t begin = header_.dataOffsetBytes;
        const uint64_t end = dataEnd();
        file_.adviseSequential(begin, end - begin);
        double reported = -1.0;
        index_ = TimeIndex::build(
            file_, begin, end, header_.format, TimeIndex::kDefaultStepBytes, [&](uint64_t scanned) {
                if (openProgress_) {
                    reported =
                        end <= begin || scanned >= end
                            ? 1.0
                            : double(scanned > begin ? scanned - begin : 0) / double(end - begin);
                    openProgress_(reported);
                }
                return !cancelled_.load();
            });
        if (cancelled_.load()) {
            index_ = TimeIndex();  // incomplete: never used nor stored
            return false;
        }
        // Nothing to scan, or a file that shrank meanwhile, still completes it.
        if (openProgress_ && reported < 1.0) openProgress_(1.0);
        index_.setSpan(findSpanLocked());
        applyHeaderTimeBaseLocked();
        if (haveKey) IndexCache::store(key, index_);
    }
    const EventSpan& span = index_.span();
    hasEvents_ = span.hasEvents;
    startTime_ = span.first_us;
    endTime_ = span.last_us;
    opened_ = true;
    return true;
}

EventStream DvsFileReader::streamAt(uint64_t offsetBytes, const DecoderState& state) const {
    EventStream s(file_, dataEnd(), header_.format, offsetBytes, state);
    s.setIndex(&index_);
    if (header_.geometryKnown) s.setSensorWidth(header_.width);
    return s;
}

EventSpan DvsFileReader::findSpanLocked() const {
    EventSpan span;
    span.known = true;
    const auto& entries = index_.entries();
    if (entries.empty()) return span;
    const Event2D* ev;
    size_t n;

    // First event in file order: from the first stretch that may hold one.
    size_t k = 0;
    while (k < entries.size() && !entries[k].eventWords)
        ++k;
    if (k == entries.size()) return span;
    {
        EventStream s = streamAt(entries[k].offsetBytes, entries[k].state);
        s.setIndex(nullptr);
        while (s.next(kNoStop, ev, n, nullptr)) {
            if (n > 0) {
                span.first_us = ev[0].timestamp;
                span.hasEvents = true;
                break;
            }
        }
    }
    if (!span.hasEvents) return span;

    // Last: the latest event time of the last stretch holding events, and of
    // any earlier stretch whose time reached past it (time that went back).
    const uint64_t eventSlack = header_.format == RawFormat::Evt2 ? 63 : 0;
    auto latestIn = [&](size_t j, bool& found) {
        const uint64_t stretchEnd = j + 1 < entries.size() ? entries[j + 1].offsetBytes : dataEnd();
        EventStream s(file_, stretchEnd, header_.format, entries[j].offsetBytes, entries[j].state);
        if (header_.geometryKnown) s.setSensorWidth(header_.width);
        uint64_t latest = 0;
        while (s.next(kNoStop, ev, n, nullptr)) {
            for (size_t i = 0; i < n; ++i)
                latest = std::max(latest, ev[i].timestamp);
            found = found || n > 0;
        }
        return latest;
    };
    bool found = false;
    uint64_t latest = 0;
    size_t j = entries.size();
    while (j-- > 0 && !found) {
        if (entries[j].eventWords) latest = latestIn(j, found);
    }
    if (!found) {
        span.last_us = span.first_us;
        return span;
    }
    for (size_t i = j + 1; i-- > 0;) {
        if (entries[i + 1].keyTime + eventSlack <= latest)
            break;  // nothing earlier reaches further
        if (entries[i].eventWords) {
            bool any = false;
            latest = std::max(latest, latestIn(i, any));
        }
    }
    span.last_us = std::max(latest, span.first_us);
    return span;
}

void DvsFileReader::applyHeaderTimeBaseLocked() {
    // The data carries its time modulo one loop of the counter (EVT 3.0:
    // 2^24 us, EVT 2.0: 2^34 us). Our writers put the first event's
    // absolute time into the header: where it agrees with the data, add the
    // loops it implies.
    const EventSpan& span = index_.span();
    const uint64_t start = header_.dvsStartTimestamp;
    if (!span.hasEvents || start <= span.first_us) return;
    const uint64_t loop = header_.format == RawFormat::Evt2 ? uint64_t(1) << 34 : uint64_t(1) << 24;
    // A recording may note its start a little before the first event arrives.
    constexpr uint64_t kEarlyStart_us = 1000000;
    const uint64_t earliest = start > kEarlyStart_us ? start - kEarlyStart_us : 0;
    if (earliest <= span.first_us) return;
    const uint64_t offset = (earliest - span.first_us + loop - 1) / loop * loop;
    if (offset > kNoStop - span.last_us) return;  // would overflow: not ours
    const uint64_t first = span.first_us + offset;
    if (first > start && first - start > kEarlyStart_us) return;  // no agreement
    index_.shiftTimes(offset);
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
    // there the stop leaves every earlier event before the last window's
    // end, even where the time went back).
    if (haveResume_ && header_.format == RawFormat::Evt3 && resumeEnd_ <= t_us &&
        resumeOffset_ >= entry.offsetBytes) {
        return streamAt(resumeOffset_, resumeState_);
    }
    return streamAt(entry.offsetBytes, entry.state);
}

uint64_t DvsFileReader::windowEndBytes(uint64_t end_us) const {
    const auto& entries = index_.entries();
    const size_t last = index_.stretchAt(index_.entryBefore(end_us - 1).offsetBytes);
    return last + 1 < entries.size() ? entries[last + 1].offsetBytes : dataEnd();
}

size_t DvsFileReader::windowEventEstimate(uint64_t start_us, uint64_t end_us) const {
    if (index_.empty() || end_us <= start_us) return 0;
    const uint64_t from = index_.entryBefore(start_us).offsetBytes;
    const uint64_t to = windowEndBytes(end_us);
    if (to <= from) return 0;
    return size_t((to - from) / wordSizeBytes(header_.format));
}

bool DvsFileReader::walkWindowLocked(uint64_t start_us, uint64_t end_us,
                                     const WindowCallback& visit) {
    const size_t limit = windowEventLimit_;
    size_t taken = 0;
    EventStream s = streamFrom(start_us);
    s.adoptBuffers(std::move(streamBuffers_));
    // The window's words in one read where the index can tell their extent.
    if (!index_.empty() && end_us > start_us) {
        const uint64_t to = windowEndBytes(end_us);
        if (to > s.offsetBytes()) s.setFirstPiece(to - s.offsetBytes());
    }
    struct KeepBuffers {
        EventStream& s;
        EventStream::Buffers& kept;
        ~KeepBuffers() { kept = s.takeBuffers(); }
    } keepBuffers{s, streamBuffers_};
    const Event2D* ev;
    size_t n;
    bool full = false;
    // A file rewritten since it was opened is not what the index describes;
    // asked once, and only when the index would spare a look.
    std::optional<bool> indexTimesHold;
    auto trustIndex = [&] {
        if (!indexTimesHold) indexTimesHold = file_.unchangedSinceOpen();
        return *indexTimesHold;
    };
    for (uint64_t before = s.offsetBytes(); !full && s.next(end_us, ev, n, nullptr);
         before = s.offsetBytes()) {
        if (n == 0) continue;
        const size_t room = limit - taken;
        // Words the index places wholly inside the window need no look at their events.
        if (n <= room &&
            ((index_.wordsWithin(before, s.offsetBytes(), start_us, end_us) && trustIndex()) ||
             allInside(ev, n, start_us, end_us))) {
            visit(ev, n);
            taken += n;
        } else {
            // The runs of events inside the window, each handed on as it ends.
            size_t run = 0, i = 0;
            for (; i < n; ++i) {
                if (ev[i].timestamp >= start_us && ev[i].timestamp < end_us) {
                    if (taken + run == limit) {
                        full = true;
                        break;
                    }
                    ++run;
                } else if (run > 0) {
                    visit(ev + i - run, run);
                    taken += run;
                    run = 0;
                }
            }
            if (run > 0) {
                visit(ev + i - run, run);
                taken += run;
            }
        }
        // A damaged file can pile millions of events onto one instant; a
        // window stops at the limit rather than exhaust memory (the image is
        // full anyway).
        full = full || taken == limit;
    }
    haveResume_ = !full && !s.resumedAfterStop();
    resumeOffset_ = s.offsetBytes();
    resumeState_ = s.state();
    resumeEnd_ = end_us;
    position_ = end_us;
    return full;
}

EventBatch DvsFileReader::readWindowLocked(uint64_t start_us, uint64_t end_us) {
    // Pooled vectors keep their capacity: a new window costs no allocation
    // and no page faults once playback has warmed up. One that grew huge
    // goes back to the system.
    EventBatch batch = batchPool_.acquire();
    batch->clear();
    if (batch->capacity() > kPooledCapacityEvents) {
        std::vector<Event2D>().swap(*batch);
    }
    const size_t limit = windowEventLimit_;
    // A large first window would otherwise double its way up, copying and
    // faulting in its pages several times; the estimate is capped so a
    // window over a whole large file does not ask for all of it at once.
    const size_t guess =
        std::min({limit, windowEventEstimate(start_us, end_us), kPooledCapacityEvents});
    if (guess > batch->capacity()) batch->reserve(guess);
    walkWindowLocked(start_us, end_us, [&](const Event2D* ev, size_t n) {
        // Grows like a vector does, but never past the limit.
        const size_t want = batch->size() + n;
        if (want > batch->capacity())
            batch->reserve(std::min(limit, std::max(want, batch->capacity() * 2)));
        batch->insert(batch->end(), ev, ev + n);
    });
    return batch;
}

EventBatch DvsFileReader::readEventsInWindow(uint64_t start_us, uint64_t duration_us) {
    std::lock_guard<std::mutex> lock(mutex_);
    ensureOpenLocked();
    if (!hasEvents_ || start_us > endTime_) return nullptr;
    return readWindowLocked(start_us, saturatingAdd(start_us, duration_us));
}

bool DvsFileReader::visitEventsInWindow(uint64_t start_us, uint64_t duration_us,
                                        const WindowCallback& visit) {
    std::lock_guard<std::mutex> lock(mutex_);
    ensureOpenLocked();
    if (!hasEvents_ || start_us > endTime_) return false;
    const uint64_t end_us = saturatingAdd(start_us, duration_us);
    // Only while the index describes the file: each stretch then decodes
    // from its checkpoint's state exactly as the walk reaches it.
    if (windowStretches(start_us, end_us) >= kParallelWindowStretches &&
        file_.unchangedSinceOpen()) {
        visitWindowParallelLocked(start_us, end_us, visit);
    } else {
        walkWindowLocked(start_us, end_us, visit);
    }
    return true;
}

size_t DvsFileReader::windowStretches(uint64_t start_us, uint64_t end_us) const {
    if (index_.empty() || end_us <= start_us) return 0;
    const auto& entries = index_.entries();
    // Those holding times below the end: where time goes back, the ones in
    // between are skipped by the walk and the scan alike.
    size_t k = index_.stretchAt(index_.entryBefore(start_us).offsetBytes), holding = 0;
    for (; k < entries.size() && holding < kParallelWindowStretches && index_.floorFrom(k) < end_us;
         ++k)
        holding += entries[k].minTime < end_us;
    return holding;
}

void DvsFileReader::visitWindowParallelLocked(uint64_t start_us, uint64_t end_us,
                                              const WindowCallback& visit) {
    const size_t limit = windowEventLimit_;
    size_t taken = 0;
    ParallelScanOptions options;  // every core decodes; the caller visits in order
    options.inFlight = 4;
    options.sensorWidth =
        header_.geometryKnown ? std::min(header_.width, kAddressRange) : kAddressRange;
    options.storage = &scanStorage_;  // the lock keeps it to one scan
    options.indexTimesHold = true;    // the caller found the file as it was opened
    options.skipStretchesPastRange = true;
    korvane::scanStretches(file_, index_, dataEnd(), start_us, end_us, options,
                           [&](StretchBatch& b) {
                               const size_t n = std::min(b.count, limit - taken);
                               if (n > 0) visit(b.events, n);
                               taken += n;
                               return taken < limit;
                           });
    // The next window looks its start up in the index.
    haveResume_ = false;
    position_ = end_us;
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
    EventStream s = streamAt(entry.offsetBytes, entry.state);
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

ParallelScanResult DvsFileReader::scanStretches(uint64_t from_us, uint64_t to_us,
                                                ParallelScanOptions options,
                                                const std::function<bool(StretchBatch&)>& inOrder) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ensureOpenLocked()) return {};
    options.sensorWidth =
        header_.geometryKnown ? std::min(header_.width, kAddressRange) : kAddressRange;
    if (!options.storage) options.storage = &scanStorage_;  // the lock keeps it to one scan
    options.indexTimesHold = options.indexTimesHold && file_.unchangedSinceOpen();
    ParallelScanResult r =
        korvane::scanStretches(file_, index_, dataEnd(), from_us, to_us, options, inOrder);
    corruptWords_ = r.corruptWords;
    return r;
}

bool DvsFileReader::forEachChunkParallel(uint64_t from_us, uint64_t to_us,
                                         const ChunkCallback& callback, unsigned threads,
                                         const std::atomic<bool>* cancel) {
    ParallelScanOptions o;
    o.threads = threads;
    o.cancel = cancel;
    const ParallelScanResult r = scanStretches(from_us, to_us, o, [&](StretchBatch& b) {
        if (b.count > 0 || !b.triggers.empty()) callback(b.events, b.count, b.triggers);
        return true;
    });
    return r.completed;
}

uint64_t DvsFileReader::trailingBytes() const {
    return file_.size() > dataEnd() ? file_.size() - dataEnd() : 0;
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
    return exportRawRange(start_us, end_us, path, nullptr);
}

bool DvsFileReader::exportRawRange(uint64_t start_us, uint64_t end_us, const std::string& path,
                                   std::string* error, RawFormat format) {
    RawExportOptions options;
    options.format = format;
    return exportRawRange(start_us, end_us, path, error, options);
}

bool DvsFileReader::exportRawRange(uint64_t start_us, uint64_t end_us, const std::string& path,
                                   std::string* error, const RawExportOptions& options) {
    RawFormat format = options.format;
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (start_us > end_us) return fail("start after end");
    if (path.empty()) return fail("empty output name");
    const uint64_t stop = saturatingAdd(end_us, 1);
    // The header names the first event's time: find it before writing
    // anything, so nothing before it has to wait in memory.
    uint64_t firstEvent = 0;
    bool timesHold = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!ensureOpenLocked()) return fail("cancelled");
        if (!hasEvents_) return fail("no events in range");
        const IndexEntry& entry = index_.entryBefore(start_us);
        EventStream s = streamAt(entry.offsetBytes, entry.state);
        const Event2D* ev;
        size_t n;
        bool found = false;
        while (!found && s.next(stop, ev, n, nullptr)) {
            for (size_t i = 0; i < n && !found; ++i) {
                if (ev[i].timestamp >= start_us && ev[i].timestamp < stop) {
                    firstEvent = ev[i].timestamp;
                    found = true;
                }
            }
        }
        if (!found) return fail("no events in range");
        timesHold = file_.unchangedSinceOpen();
    }
    if (format == RawFormat::Unknown) format = header_.format;

    SafeOutput out;
    std::string why;
    if (!out.open(path, {file_.identity()}, &why)) return fail(why);
    RawWriter writer(format);
    writer.open(out.fd(), copyHeader(header_, format, firstEvent));
    uint64_t written = 0;
    const double span = double(stop - start_us);
    // A stretch the index bounds wholly inside the range whose words check
    // clean (every event has its time and lies on the sensor, no reserved
    // words) is copied word for word when the format stays: it decodes the
    // same, and the check costs half a decode, a re-encode several. Anything
    // else is decoded and written from its events.
    const bool sameFormat = format == header_.format;
    const uint32_t width = header_.geometryKnown ? header_.width : kAddressRange;
    ParallelScanOptions scan;
    scan.cancel = options.cancel;
    scan.keepBytes = sameFormat;
    std::vector<uint64_t> cleanEvents(parallelScanSlots(scan));
    if (sameFormat && timesHold) {
        scan.wordsOnly = [&](const StretchBatch& b) {
            const auto& entries = index_.entries();  // fixed while the scan runs
            const size_t k = b.stretch;
            if (k + 1 >= entries.size() || b.endBytes != entries[k + 1].offsetBytes ||
                !b.startState.haveTime || b.startState.baseX > 0x7FF ||
                !index_.stretchWithin(k, start_us, stop)) {
                return false;
            }
            const WordCheck c = checkWords(b.bytes, b.byteCount / wordSizeBytes(format), format,
                                           b.startState, width, kAddressRange);
            if (c.reservedWords || c.eventsBeforeTime || c.vectorEventsBeyondRange ||
                c.eventsOutsideGeometry || c.events != entries[k].eventBound) {
                return false;
            }
            cleanEvents[b.slot] = c.events;
            return true;
        };
    }
    // The decode a copy falls back on: the first words of the cut must be
    // the writer's own.
    auto writeDecoded = [&](const StretchBatch& b) {
        EventStream s(b.bytes, b.byteCount, format, 0, b.startState);
        s.setSensorWidth(width);
        const Event2D* ev = nullptr;
        size_t n = 0;
        std::vector<TriggerRecord> triggers;
        uint64_t count = 0;
        // The last call may still hand over edges (after the last event).
        for (bool more = true; more;) {
            triggers.clear();
            const uint64_t base = s.eventsProduced();
            more = s.next(stop, ev, n, &triggers);
            // The stream counts edges' places over all it gave; a chunk's own.
            for (TriggerRecord& r : triggers)
                r.eventIndex -= base;
            if (n > 0 || !triggers.empty()) writer.writeChunk(ev, n, triggers);
            count += n;
        }
        return count;
    };
    const bool completed =
        scanStretches(start_us, stop, scan, [&](StretchBatch& b) {
            if (b.wordsOnly) {
                const auto& entries = index_.entries();
                const uint64_t events = cleanEvents[b.slot];
                written += writer.writeWords(b.bytes, b.byteCount, b.startState,
                                             entries[b.stretch + 1].state, events)
                               ? events
                               : writeDecoded(b);
                if (options.progress) {
                    options.progress(
                        std::min(1.0, double(entries[b.stretch + 1].keyTime - start_us) / span));
                }
                return true;
            }
            if (b.count > 0 || !b.triggers.empty())
                writer.writeChunk(b.events, b.count, b.triggers);
            written += b.count;
            if (options.progress && b.count > 0) {
                options.progress(
                    std::min(1.0, double(b.events[b.count - 1].timestamp - start_us) / span));
            }
            return true;
        }).completed;
    // Decoded ahead, the scan may complete after a late cancel: still no file.
    if (!completed || (options.cancel && options.cancel->load())) return fail("cancelled");
    if (!writer.close()) return fail(errnoText(writer.error()));
    if (written == 0) return fail("no events in range");  // the data went away meanwhile
    if (!out.commit(&why)) return fail(why);
    return true;
}

}  // namespace korvane
