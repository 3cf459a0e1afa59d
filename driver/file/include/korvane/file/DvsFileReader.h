#pragma once

// Reader of RAW event recordings (EVT 3.0 and EVT 2.0).
//
// Ownership: createFileReader returns an owned reader that keeps the file open;
// batches it returns are shared and independent of the reader.
// Threads: one caller at a time is the contract; an internal lock makes
// concurrent calls safe but serialised.
// Failures: reads past the data return no batch; a corrupt stretch of data
// is skipped, never fatal. Times are microseconds.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DvsFileInfo.h"
#include "KvObjectPool.h"
#include "KvRecords.h"
#include "korvane/file/EventDecoder.h"
#include "korvane/file/ParallelScan.h"
#include "korvane/file/RawFile.h"
#include "korvane/file/RawHeader.h"
#include "korvane/file/TimeIndex.h"

namespace korvane {

struct VideoExportOptions;

using EventBatch = std::shared_ptr<std::vector<Event2D>>;

class DvsFileReader {
public:
    // By default the most events one window returns (1 GiB of events); the
    // rest of a window beyond the limit is left out, and a window's buffer
    // never grows past the limit.
    static constexpr size_t kMaxWindowEvents = 64u << 20;
    // Windows over this many index stretches (256 KiB of words each) are
    // decoded on every core while the caller visits; below, starting the
    // threads costs more than it gains.
    static constexpr size_t kParallelWindowStretches = 4;
    void setWindowEventLimit(size_t events) { windowEventLimit_ = std::max<size_t>(1, events); }
    size_t windowEventLimit() const { return windowEventLimit_; }
    // A pooled window buffer whose capacity grew past this (one huge window)
    // is given back to the system before it is used again.
    static constexpr size_t kPooledCapacityEvents = 16u << 20;

    // Path in the local 8-bit encoding. None when the path is missing, a
    // directory, unreadable, empty or of an encoding this reader cannot decode,
    // and when a file without header line does not decode cleanly from its
    // start (the first 64 KiB without anomalies and with events).
    static std::unique_ptr<DvsFileReader> createFileReader(const std::string& path);
    static std::unique_ptr<DvsFileReader> createFileReader(const std::string& path,
                                                           std::string* error);

    virtual ~DvsFileReader();

    // Loads or builds the seek index and finds the first and last event
    // (kept with the index, so a cached open decodes nothing). When the
    // header's dvs_start_timestamp agrees with the data, times read back
    // with the loops of the time counter the data itself cannot carry.
    // False when cancelled; a file without events opens.
    virtual bool openForReading();

    // Makes a running or later openForReading() give up soon and return
    // false; the reader then reads nothing. Any thread may call it.
    void cancelOpen() { cancelled_.store(true); }

    // Told the fraction of the data indexed so far (0 to 1) while
    // openForReading() builds the index, on the thread that opens; not called
    // when the index comes from the cache. Set it before opening.
    using OpenProgressCallback = std::function<void(double fraction)>;
    void setOpenProgressCallback(OpenProgressCallback callback) {
        openProgress_ = std::move(callback);
    }

    // First and last event time; false (and 0) when the file has no events.
    virtual bool getStartTime(uint64_t& start_us);
    virtual bool getEndTime(uint64_t& end_us);

    // Sets the read position. False when t lies beyond the last event.
    virtual bool seekToTime(uint64_t t_us);

    // Events with position <= t < position + duration; the position moves
    // to the window's end. None when the position is past the last event.
    virtual EventBatch readEventsFor(uint64_t duration_us);

    // Events with start <= t < start + duration, in file order (at most
    // the window event limit); the position moves to the window's end. None when
    // start is past the last event.
    virtual EventBatch readEventsInWindow(uint64_t start_us, uint64_t duration_us);

    // The events readEventsInWindow would return, handed to visit in file
    // order, piece by piece as they are decoded (each piece valid during the
    // call only), with the same limit and the same move of the position; no
    // window buffer is filled. For callers that look at each event once, as
    // a picture does. A window over several index stretches is decoded on
    // every core meanwhile; visit still runs on the calling thread. False,
    // with no call, when start is past the last event.
    using WindowCallback = std::function<void(const Event2D* events, size_t count)>;
    bool visitEventsInWindow(uint64_t start_us, uint64_t duration_us, const WindowCallback& visit);

    // Trigger edges with start <= t < start + duration, in file order.
    virtual std::vector<EventTriggerIn> readTriggersInWindow(uint64_t start_us,
                                                             uint64_t duration_us);

    virtual bool getFileInfo(DvsFileInfo& info);

    // Writes the events and trigger edges with start <= t <= end to a new
    // file at path (local 8-bit encoding), in the source's encoding and with
    // its geometry and sensor description; stretches wholly inside the range
    // that decode clean are copied word for word. All or nothing
    // (SafeOutput): the target is never the recording itself, never a device
    // or FIFO, and an existing target keeps its permissions.
    virtual bool exportRawRange(uint64_t start_us, uint64_t end_us, const std::string& path);
    // The same with the reason of a failure as one line in *error, and the
    // encoding to write (Unknown: the source's).
    bool exportRawRange(uint64_t start_us, uint64_t end_us, const std::string& path,
                        std::string* error, RawFormat format = RawFormat::Unknown);
    struct RawExportOptions {
        RawFormat format = RawFormat::Unknown;  // Unknown: the source's
        // Told the fraction of the range written (0 to 1), on the calling thread.
        std::function<void(double fraction)> progress;
        // Set (any thread) to stop soon; the cut then fails with no file.
        const std::atomic<bool>* cancel = nullptr;
    };
    bool exportRawRange(uint64_t start_us, uint64_t end_us, const std::string& path,
                        std::string* error, const RawExportOptions& options);

    // Writes the range [start, end] as an H.264 MP4 video at path (local
    // 8-bit encoding); the options (VideoExport.h) default to playback's
    // frame interval and accumulation time, 30 frames per second and the
    // "Gray" theme. All or nothing, as exportRawRange. Not virtual: defined
    // by the video library, so only its callers link FFmpeg.
    bool exportVideoRange(uint64_t start_us, uint64_t end_us, const std::string& path);
    bool exportVideoRange(uint64_t start_us, uint64_t end_us, const std::string& path,
                          const VideoExportOptions& options);

    // Walks [from, to) in file order, in chunks, for tools and benchmarks.
    // The callback gets each chunk of events and the trigger edges decoded
    // with it; an edge's eventIndex is the position in this chunk before
    // which it lies in the file (count: after all of them).
    using ChunkCallback = std::function<void(const Event2D* events, size_t count,
                                             const std::vector<TriggerRecord>& triggers)>;
    void forEachChunk(uint64_t from_us, uint64_t to_us, const ChunkCallback& callback);
    // The same walk decoded on `threads` threads (0: one per core, 1: the
    // calling thread only); the callback still runs on the calling thread,
    // in file order, and sees exactly the events and edges forEachChunk
    // gives (cut at other places). Returns false when cancelled early.
    bool forEachChunkParallel(uint64_t from_us, uint64_t to_us, const ChunkCallback& callback,
                              unsigned threads = 0, const std::atomic<bool>* cancel = nullptr);
    // The stretch-level scan behind it (ParallelScan.h) for tools that
    // reduce stretches on the workers; the sensor width is the reader's.
    ParallelScanResult scanStretches(uint64_t from_us, uint64_t to_us, ParallelScanOptions options,
                                     const std::function<bool(StretchBatch&)>& inOrder);
    // Bytes past the last whole word (a file that ends inside a word).
    uint64_t trailingBytes() const;

    RawFormat format() const { return header_.format; }
    const RawHeader& header() const { return header_; }
    const std::string& path() const { return path_; }
    uint64_t corruptWordCount() const { return corruptWords_; }
    const TimeIndex& index() const { return index_; }
    bool indexLoadedFromCache() const { return indexFromCache_; }

protected:
    DvsFileReader(std::string path, RawFile file, RawHeader header);

private:
    bool ensureOpenLocked();
    EventSpan findSpanLocked() const;
    void applyHeaderTimeBaseLocked();
    EventStream streamAt(uint64_t offsetBytes, const DecoderState& state) const;
    EventStream streamFrom(uint64_t t_us) const;
    EventBatch readWindowLocked(uint64_t start_us, uint64_t end_us);
    // The window's events to visit, and the resume point after it; true
    // when the window event limit cut it short.
    bool walkWindowLocked(uint64_t start_us, uint64_t end_us, const WindowCallback& visit);
    // The stretches holding times of a window, counted up to
    // kParallelWindowStretches.
    size_t windowStretches(uint64_t start_us, uint64_t end_us) const;
    void visitWindowParallelLocked(uint64_t start_us, uint64_t end_us, const WindowCallback& visit);
    // Events a window will probably hold, from the bytes of the stretches
    // it touches (one event per word); 0 when the index cannot tell.
    size_t windowEventEstimate(uint64_t start_us, uint64_t end_us) const;
    // Where the stretches that may hold times below end_us end; the index
    // must not be empty.
    uint64_t windowEndBytes(uint64_t end_us) const;
    uint64_t dataEnd() const;

    std::mutex mutex_;
    std::string path_;
    RawFile file_;
    RawHeader header_;
    TimeIndex index_;
    bool opened_ = false;
    std::atomic<bool> cancelled_{false};
    OpenProgressCallback openProgress_;
    bool indexFromCache_ = false;
    bool hasEvents_ = false;
    uint64_t startTime_ = 0;
    uint64_t endTime_ = 0;
    uint64_t position_ = 0;
    uint64_t corruptWords_ = 0;

    KvObjectPoolWrapper<std::vector<Event2D>> batchPool_{0};
    // The parallel scans' ring buffers, kept from one scan to the next.
    ScanStorage scanStorage_;
    // The window walks' read and decode buffers, kept likewise.
    EventStream::Buffers streamBuffers_;
    size_t windowEventLimit_ = kMaxWindowEvents;

    // Where the last window read stopped, so back-to-back windows continue
    // without a lookup.
    bool haveResume_ = false;
    uint64_t resumeOffset_ = 0;
    uint64_t resumeEnd_ = 0;  // end of the window that stopped there
    DecoderState resumeState_;
};

}  // namespace korvane
