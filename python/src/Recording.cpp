#include "Recording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "EventArrays.h"
#include "korvane/file/RawHeader.h"
#include "korvane/file/TimeIndex.h"

namespace py = pybind11;
using korvane::DvsFileReader;
using korvane::EventBatch;

namespace velqora {

namespace {

// Windows over this many index stretches are decoded by a scan placed
// straight into the array, on every core: the same measure as the reader's
// own visits. Smaller ones go to the reader's walk.
constexpr size_t kParallelStretches = DvsFileReader::kParallelWindowStretches;
// A window decoded ahead takes the scan from this many stretches on, on its
// own thread: two windows are decoded at once, one per core, and a window's
// own workers on top only took turns with the other window's.
constexpr size_t kAheadScanStretches = 3;
// Windows of about this many events or more are decoded into a pooled buffer
// of their own (EventBuffer) rather than the reader's window buffer, which
// for a large window would be fresh memory each time (its array keeps it).
constexpr uint64_t kBufferedWindowEvents = 64 * 1024;

[[noreturn]] void raiseOsError(int error, const std::string& display) {
    // OSError(errno, ...) picks the subclass: FileNotFoundError, PermissionError...
    py::object exc = py::module_::import("builtins")
                         .attr("OSError")(error, std::strerror(error), py::str(display));
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
    throw py::error_already_set();
}

void checkWindow(int64_t t0_us, int64_t t1_us) {
    if (t0_us < 0 || t1_us < 0) {
        throw py::value_error("times are microseconds and never negative (t0_us " +
                              std::to_string(t0_us) + ", t1_us " + std::to_string(t1_us) + ")");
    }
    if (t1_us < t0_us) {
        throw py::value_error("reversed window: t1_us " + std::to_string(t1_us) +
                              " is before t0_us " + std::to_string(t0_us));
    }
}

// Puts a parallel scan's stretches into one buffer in file order, each
// copied by the worker that decoded it (or by the one whose stretch let it
// be placed), so the copy runs on every core instead of only the caller's.
// A stretch is placed once every stretch before it is: its place is then
// known. From the first stretch that does not fit in the room reserved on,
// the caller appends them, growing the buffer: every worker's copy has
// ended before the caller sees the next stretch.
// Threads: decoded() on the scan's workers, inOrder() on the caller.
class StretchPlacer {
public:
    explicit StretchPlacer(EventBuffer& out) : out_(out) {}

    void decoded(korvane::StretchBatch& b) {
        struct Copy {
            korvane::Event2D* to;
            const korvane::Event2D* from;
            size_t count;
        };
        std::vector<Copy> copies;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (overflowed_) return;
            waiting_.push_back(&b);
            // Every decoded stretch that is next in line, this one or those
            // that waited for it. Their slots stay theirs until the caller
            // has seen this stretch, which comes after this call returns.
            for (size_t i = 0; i < waiting_.size();) {
                korvane::StretchBatch* w = waiting_[i];
                if (w->sequence != placed_) {
                    ++i;
                    continue;
                }
                korvane::Event2D* to = out_.claim(w->count);
                if (!to) {
                    overflowed_ = true;
                    break;
                }
                copies.push_back({to, w->events, w->count});
                waiting_.erase(waiting_.begin() + std::ptrdiff_t(i));
                ++placed_;
                i = 0;
            }
        }
        for (const Copy& c : copies)
            copyEvents(c.to, c.from, c.count);
    }

    void inOrder(korvane::StretchBatch& b) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (b.sequence < placed_) return;  // a worker has copied it
            overflowed_ = true;                // workers place nothing more
            waiting_.clear();
        }
        out_.append(b.events, b.count);
    }

private:
    EventBuffer& out_;
    std::mutex mutex_;
    size_t placed_ = 0;  // stretches 0 .. placed_ - 1 have their place
    std::vector<korvane::StretchBatch*> waiting_;
    bool overflowed_ = false;
};

// Puts a parallel scan's stretches into one buffer without copying most of
// them. The stretches the index bounds wholly inside the window (a run of
// them, from the first) and the one after them are decoded straight into
// regions of the buffer laid side by side by their event bounds
// (IndexEntry::eventBound), which well-formed data fills exactly (the last
// is cut to the window in place). The stretches before that run (the window
// starts inside one) go into the room their bounds leave before the first
// region, the last copied straight to end where it begins (any earlier ones,
// gathered first, moved up ahead of it), and the array starts there; those
// after it are appended. A region left short
// is closed up by moving the later events down (never onto a region still
// being decoded); anything else the plan did not foresee (bounds that do
// not hold) sends every event to a second buffer by copy instead.
// Threads: place() and decoded() on the scan's workers (they read only what
// the constructor set), inOrder() on the caller.
class RegionPlacer {
public:
    // Stretches [first, last) as the scan will take them; the buffer is
    // reserved here and must not move until the scan has ended.
    RegionPlacer(EventBuffer& out, const korvane::TimeIndex& index, size_t first, size_t last,
                 uint64_t t0_us, uint64_t t1_us, bool clearPadding)
        : out_(out), first_(first), clearPadding_(clearPadding) {
        const auto& entries = index.entries();
        runBegin_ = first;
        while (runBegin_ < last && !index.stretchWithin(runBegin_, t0_us, t1_us))
            ++runBegin_;
        runEnd_ = runBegin_;
        while (runEnd_ < last && index.stretchWithin(runEnd_, t0_us, t1_us))
            ++runEnd_;
        // The stretch the window ends in has its events in the window first:
        // decoded in place too, cut to the window there, it needs no copy.
        if (runEnd_ > runBegin_ && runEnd_ < last) ++runEnd_;
        uint64_t at = 0;
        for (size_t k = first; k < runBegin_; ++k)
            at += entries[k].eventBound;
        leadRoom_ = at;
        for (size_t k = runBegin_; k < runEnd_; ++k) {
            regions_.push_back({at, entries[k].eventBound});
            at += entries[k].eventBound;
        }
        for (size_t k = runEnd_; k < last; ++k)
            at += entries[k].eventBound;
        out_.reserve(size_t(std::max<uint64_t>(1, at)));
        regionBase_ = base_ = out_.data();
    }

    // True when some stretch can be decoded in place.
    bool useful() const { return !regions_.empty(); }

    korvane::Event2D* place(const korvane::StretchBatch& b, size_t& room) const {
        const Region* r = regionFor(b);
        if (!r) return nullptr;
        room = size_t(r->bound);
        return regionBase_ + r->start;
    }

    // The decoders leave an EVT 2.0 event's padding as it was.
    void decoded(const korvane::StretchBatch& b) const {
        if (clearPadding_ && inRegion(b))
            clearEventPadding(const_cast<korvane::Event2D*>(b.events), b.count);
    }

    void inOrder(korvane::StretchBatch& b) {
        if (copy_) {
            copy_->append(b.events, b.count);
            return;
        }
        if (b.stretch < runBegin_) {
            // Before the run: the last one straight to end where the run
            // begins; any earlier ones gathered at the buffer's start, where
            // no region lies, and moved up ahead of it then.
            if (filled_ + b.count > leadRoom_) {
                toCopy();
                return inOrder(b);
            }
            if (b.stretch + 1 == runBegin_ && !leadPlaced_) {
                // Copied once (a window mostly starts inside a single stretch).
                placeLead(b.count);
                if (b.count > 0) copyEvents(base_ + filled_ - b.count, b.events, b.count);
                return;
            }
            if (b.count > 0) copyEvents(base_ + filled_, b.events, b.count);
            filled_ += b.count;
            return;
        }
        if (!leadPlaced_) placeLead();
        if (inRegion(b)) {
            const Region& r = *regionFor(b);
            if (filled_ < r.start) {
                // A region before was left short: close up (the events move
                // down, inside what was this region's and earlier ones').
                std::memmove(static_cast<void*>(base_ + filled_), b.events,
                             b.count * sizeof(korvane::Event2D));
            }
            filled_ += b.count;
            return;
        }
        if (b.stretch < runEnd_) {  // a run's stretch that left its region
            toCopy();
            return inOrder(b);
        }
        // After the run: every region is decoded, so the buffer may grow.
        out_.setExtent(begin_, filled_);
        out_.append(b.events, b.count);
        filled_ = out_.size();
        base_ = out_.data();
    }

    std::unique_ptr<EventBuffer> finish(std::unique_ptr<EventBuffer> out) {
        if (copy_) return std::move(copy_);
        out->setExtent(begin_, filled_);
        return out;
    }

private:
    struct Region {
        uint64_t start;
        uint64_t bound;
    };

    // The region of a stretch of the run; none when the scan did not start
    // where the plan did.
    const Region* regionFor(const korvane::StretchBatch& b) const {
        if (b.stretch - b.sequence != first_ || b.stretch < runBegin_ || b.stretch >= runEnd_)
            return nullptr;
        return &regions_[b.stretch - runBegin_];
    }

    bool inRegion(const korvane::StretchBatch& b) const {
        const Region* r = regionFor(b);
        return r && b.events == regionBase_ + r->start && b.count <= r->bound;
    }

    // The stretches gathered before the run, moved to end `then` events
    // short of where its first region begins.
    void placeLead(size_t then = 0) {
        begin_ = size_t(leadRoom_) - then - filled_;
        std::memmove(static_cast<void*>(base_ + begin_), base_, filled_ * sizeof(korvane::Event2D));
        filled_ = size_t(leadRoom_);
        leadPlaced_ = true;
    }

    // Everything so far, and all that comes, to a second buffer by copy.
    void toCopy() {
        copy_ = std::make_unique<EventBuffer>();
        copy_->reserve(std::max<size_t>(1, out_.capacity()));
        copy_->append(base_ + begin_, filled_ - begin_);
    }

    EventBuffer& out_;
    const size_t first_;
    const bool clearPadding_;
    size_t runBegin_ = 0, runEnd_ = 0;
    uint64_t leadRoom_ = 0;
    std::vector<Region> regions_;
    // Where the regions lie (fixed once reserved: workers read it), and the
    // buffer as the caller fills it (moves once the stretches after the run
    // make it grow).
    korvane::Event2D* regionBase_ = nullptr;
    korvane::Event2D* base_ = nullptr;
    bool leadPlaced_ = false;
    size_t begin_ = 0, filled_ = 0;  // the array so far: [begin_, filled_)
    std::unique_ptr<EventBuffer> copy_;
};

}  // namespace

FsPath fsPath(const py::handle& path) {
    py::module_ os = py::module_::import("os");
    FsPath out;
    out.bytes = os.attr("fsencode")(path).cast<std::string>();
    if (out.bytes.find('\0') != std::string::npos) {
        throw py::value_error("path contains a NUL byte");
    }
    out.display = py::str(os.attr("fsdecode")(path))
                      .attr("encode")("utf-8", "backslashreplace")
                      .cast<std::string>();
    return out;
}

Recording::Recording(const py::handle& path) {
    const FsPath p = velqora::fsPath(path);
    path_ = p.display;
    fsPath_ = p.bytes;
    struct stat st {};
    if (::stat(p.bytes.c_str(), &st) != 0) raiseOsError(errno, p.display);
    if (S_ISDIR(st.st_mode)) raiseOsError(EISDIR, p.display);
    // An unreadable file is a PermissionError, not a bad recording. The probe
    // never waits (a FIFO would block a plain open).
    const int probe = ::open(p.bytes.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (probe < 0) raiseOsError(errno, p.display);
    // The reader takes a file without a header for bare EVT 3.0 words, so an
    // .h5 or .npy file would open as noise: name what it is instead.
    char magic[8] = {};
    const bool regular = S_ISREG(st.st_mode);
    const ssize_t got = regular ? ::pread(probe, magic, sizeof magic, 0) : 0;
    ::close(probe);
    if (got == ssize_t(sizeof magic) && std::memcmp(magic, "\x89HDF\r\n\x1a\n", 8) == 0) {
        throw RecordingError(p.display +
                             ": an HDF5 file, not a RAW recording (velqora.convert reads it)");
    }
    if (got >= 6 && std::memcmp(magic, "\x93NUMPY", 6) == 0) {
        throw RecordingError(p.display +
                             ": a numpy file, not a RAW recording (velqora.convert reads it)");
    }

    std::string error;
    std::unique_ptr<DvsFileReader> reader;
    bool opened = false;
    bool interrupted = false;
    {
        py::gil_scoped_release release;
        reader = DvsFileReader::createFileReader(p.bytes, &error);
        if (reader) {
            // Python asks for whole windows: never cut one short.
            reader->setWindowEventLimit(std::numeric_limits<size_t>::max());
            DvsFileReader* raw = reader.get();
            reader->setOpenProgressCallback([&interrupted, raw](double) {
                if (interrupted) return;
                py::gil_scoped_acquire acquire;
                if (PyErr_CheckSignals() != 0) {
                    interrupted = true;
                    raw->cancelOpen();
                }
            });
            opened = reader->openForReading();
            reader->setOpenProgressCallback(nullptr);
        }
    }
    if (interrupted) throw py::error_already_set();
    if (!reader) throw RecordingError(p.display + ": " + error);
    if (!opened) throw RecordingError(p.display + ": cannot read");

    format_ = korvane::rawFormatName(reader->format());
    hasEvents_ = reader->getStartTime(start_us_);
    reader->getEndTime(end_us_);
    reader->getFileInfo(info_);
    bufferUse_ = std::make_unique<EventBufferUse>();
    reader_ = std::move(reader);
}

std::shared_ptr<DvsFileReader> Recording::openReader() const {
    if (!reader_) throw py::value_error("recording is closed: " + path_);
    return reader_;
}

py::dict Recording::info() const {
    openReader();
    auto text = [](const std::string& s) {
        return py::reinterpret_steal<py::str>(
            PyUnicode_DecodeUTF8(s.data(), py::ssize_t(s.size()), "replace"));
    };
    py::dict d;
    d["format"] = text(format_);
    d["width"] = info_.width;
    d["height"] = info_.height;
    d["serial_number"] = text(info_.serialNumber);
    d["start_us"] = hasEvents_ ? start_us_ : 0;
    d["end_us"] = hasEvents_ ? end_us_ : 0;
    d["dvs_start_timestamp"] = info_.dvsStartTimestamp;
    d["aps_start_timestamp"] = info_.apsStartTimestamp;
    return d;
}

std::optional<uint64_t> Recording::startUs() const {
    openReader();
    return hasEvents_ ? std::optional<uint64_t>(start_us_) : std::nullopt;
}

std::optional<uint64_t> Recording::endUs() const {
    openReader();
    return hasEvents_ ? std::optional<uint64_t>(end_us_) : std::nullopt;
}

py::array Recording::read(int64_t t0_us, int64_t t1_us) const {
    checkWindow(t0_us, t1_us);
    return readWindow(uint64_t(t0_us), uint64_t(t1_us));
}

std::shared_ptr<DvsFileReader> Recording::readerFor(uint64_t t0_us, uint64_t t1_us) const {
    std::shared_ptr<DvsFileReader> reader = openReader();
    if (t1_us > t0_us && hasEvents_ && t0_us <= end_us_) return reader;
    return nullptr;
}

py::array Recording::readWindow(uint64_t t0_us, uint64_t t1_us) const {
    DecodedWindow window;
    if (std::shared_ptr<DvsFileReader> reader = readerFor(t0_us, t1_us)) {
        py::gil_scoped_release release;
        window = decodeWindow(*reader, t0_us, t1_us, false);
    }
    return toArray(std::move(window));
}

DecodedWindow decodeWindow(DvsFileReader& reader, uint64_t t0_us, uint64_t t1_us, bool ahead) {
    DecodedWindow window;
    // The index is complete and unchanging once the reader is open.
    const korvane::TimeIndex& index = reader.index();
    size_t stretches = 0;
    uint64_t bytes = 0;
    size_t first = 0, last = 0;
    if (!index.empty() && t1_us > t0_us) {
        const auto& entries = index.entries();
        first = index.stretchAt(index.entryBefore(t0_us).offsetBytes);
        last = first;
        while (last < entries.size() && index.floorFrom(last) < t1_us)
            ++last;
        stretches = last - first;
        const uint64_t end = last < entries.size() ? entries[last].offsetBytes
                                                   : entries.back().offsetBytes +
                                                         korvane::TimeIndex::kDefaultStepBytes;
        bytes = end > entries[first].offsetBytes ? end - entries[first].offsetBytes : 0;
    }
    // About one event a word (a camera's vector words give a little more):
    // room for a quarter more, so a window rarely grows and copies itself.
    const uint64_t words = bytes / korvane::wordSizeBytes(reader.format());
    const uint64_t estimate = words + words / 4;
    const size_t scanFrom = ahead ? kAheadScanStretches : kParallelStretches;
    if (stretches < scanFrom && estimate < kBufferedWindowEvents) {
        window.batch = reader.readEventsInWindow(t0_us, t1_us - t0_us);
        if (window.batch) clearEventPadding(window.batch->data(), window.batch->size());
        return window;
    }
    auto buffer = std::make_unique<EventBuffer>();
    buffer->reserve(size_t(std::max<uint64_t>(1, estimate)));
    if (stretches < scanFrom) {
        reader.visitEventsInWindow(t0_us, t1_us - t0_us, [&](const korvane::Event2D* ev, size_t n) {
            buffer->append(ev, n);
        });
        window.buffer = std::move(buffer);
        return window;
    }
    korvane::ParallelScanOptions options;  // every core, or this thread for a window ahead
    options.inFlight = 3;
    if (ahead) options.threads = 1;
    RegionPlacer regions(*buffer, index, first, last, t0_us, t1_us,
                         reader.format() != korvane::RawFormat::Evt3);
    if (regions.useful()) {
        options.placeEvents = [&](const korvane::StretchBatch& b, size_t& room) {
            return regions.place(b, room);
        };
        options.onWorker = [&](korvane::StretchBatch& b) { regions.decoded(b); };
        reader.scanStretches(t0_us, t1_us, options, [&](korvane::StretchBatch& b) {
            regions.inOrder(b);
            return true;
        });
        window.buffer = regions.finish(std::move(buffer));
        return window;
    }
    StretchPlacer placer(*buffer);
    options.onWorker = [&](korvane::StretchBatch& b) { placer.decoded(b); };
    reader.scanStretches(t0_us, t1_us, options, [&](korvane::StretchBatch& b) {
        placer.inOrder(b);
        return true;
    });
    window.buffer = std::move(buffer);
    return window;
}

py::array toArray(DecodedWindow window) {
    if (window.buffer) return eventArray(std::move(window.buffer));
    return eventArray(std::move(window.batch));
}

py::array Recording::triggers(int64_t t0_us, int64_t t1_us) const {
    checkWindow(t0_us, t1_us);
    std::shared_ptr<DvsFileReader> reader = openReader();
    std::vector<korvane::EventTriggerIn> found;
    if (t1_us > t0_us) {
        py::gil_scoped_release release;
        found = reader->readTriggersInWindow(uint64_t(t0_us), uint64_t(t1_us - t0_us));
    }
    return triggerArray(found);
}

std::string Recording::repr() const {
    std::string s = "<velqora.Recording '" + path_ + "'";
    if (!reader_) return s + " closed>";
    return s + " " + format_ + " " + std::to_string(info_.width) + "x" +
           std::to_string(info_.height) + ">";
}

// One window decoded ahead on one of the iterator's worker threads. The
// second worker decodes through a reader of its own (the reader's lock lets
// one window decode at a time), opened on the same file with the index the
// first open stored; without one it shares the recording's.
struct Slices::Ahead {
    std::mutex mutex;
    std::condition_variable wake;  // a job, or stop
    std::condition_variable done;  // the job's result
    bool stop = false;
    bool pending = false;                   // handed over, not decoded yet
    bool ready = false;                     // decoded, not taken yet
    std::shared_ptr<DvsFileReader> reader;  // the job's share, dropped once decoded
    uint64_t t0_us = 0;
    uint64_t t1_us = 0;
    DecodedWindow result;
    std::exception_ptr error;
    std::string ownPath;  // empty: always the job's reader
    std::unique_ptr<DvsFileReader> own;
    bool ownFailed = false;
    std::thread thread;

    bool holds(uint64_t from, uint64_t to) const {
        return (pending || ready) && t0_us == from && t1_us == to;
    }

    DvsFileReader& readerFor(DvsFileReader& job) {
        if (ownPath.empty() || ownFailed) return job;
        if (!own) {
            std::string why;
            own = DvsFileReader::createFileReader(ownPath, &why);
            if (own) own->setWindowEventLimit(std::numeric_limits<size_t>::max());
            if (!own || !own->openForReading() || own->format() != job.format()) own.reset();
            ownFailed = !own;
        }
        return own ? *own : job;
    }

    void run() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return stop || pending; });
            if (stop) return;
            std::shared_ptr<DvsFileReader> job = std::move(reader);
            const uint64_t from = t0_us, to = t1_us;
            lock.unlock();
            DecodedWindow decoded;
            std::exception_ptr failed;
            try {
                decoded = decodeWindow(readerFor(*job), from, to, true);
            } catch (...) {
                failed = std::current_exception();
            }
            job.reset();  // a closed recording's file is released now
            lock.lock();
            result = std::move(decoded);
            error = failed;
            pending = false;
            ready = true;
            done.notify_all();
        }
    }
};

Slices::Slices(py::object recording, uint64_t duration_us, uint64_t t0_us, uint64_t t1_us)
    : owner_(std::move(recording)),
      recording_(owner_.cast<const Recording*>()),
      duration_us_(duration_us),
      next_us_(t0_us),
      stop_us_(t1_us) {}

Slices::~Slices() {
    stopWorkers();
}

void Slices::stopWorkers() {
    for (auto& ahead : ahead_) {
        if (!ahead) continue;
        {
            std::lock_guard<std::mutex> lock(ahead->mutex);
            ahead->stop = true;
        }
        ahead->wake.notify_all();
        // The worker never takes the GIL: waiting for it with the GIL held is safe.
        ahead->thread.join();
        ahead.reset();  // with its own reader
    }
    stopped_ = true;
}

uint64_t Slices::windowEnd(uint64_t t0_us) const {
    return t0_us + std::min(duration_us_, stop_us_ - t0_us);
}

void Slices::decodeAhead(std::shared_ptr<DvsFileReader> reader, uint64_t t0_us, uint64_t t1_us) {
    if (!reader || stopped_) return;
    Ahead* free = nullptr;
    for (size_t i = 0; i < ahead_.size(); ++i) {
        if (!ahead_[i]) {
            auto ahead = std::make_unique<Ahead>();
            if (i > 0) ahead->ownPath = recording_->fsPath();
            try {
                ahead->thread = std::thread([a = ahead.get()] { a->run(); });
            } catch (const std::system_error&) {
                break;  // no thread to be had: windows are decoded when asked for
            }
            ahead_[i] = std::move(ahead);
        }
        std::lock_guard<std::mutex> lock(ahead_[i]->mutex);
        if (ahead_[i]->holds(t0_us, t1_us)) return;
        if (!free && !ahead_[i]->pending && !ahead_[i]->ready) free = ahead_[i].get();
    }
    if (!free) return;
    {
        std::lock_guard<std::mutex> lock(free->mutex);
        free->reader = std::move(reader);
        free->t0_us = t0_us;
        free->t1_us = t1_us;
        free->pending = true;
    }
    free->wake.notify_all();
}

py::array Slices::next() {
    // Another thread inside next() on this iterator (it lets the GIL go while
    // it waits for its window) would wait for a window already taken, or
    // find the workers gone: refused, as Python refuses a running generator.
    if (busy_) throw py::value_error("slices iterator already executing");
    busy_ = true;
    struct Leave {
        bool& busy;
        ~Leave() { busy = false; }
    } leave{busy_};
    if (next_us_ >= stop_us_) throw py::stop_iteration();
    const uint64_t end = windowEnd(next_us_);
    std::shared_ptr<DvsFileReader> reader;
    try {
        reader = recording_->readerFor(next_us_, end);
    } catch (...) {
        stopWorkers();  // closed: the workers' readers go too
        throw;
    }
    // This window and the next decode at once, one on each worker.
    decodeAhead(reader, next_us_, end);
    if (end < stop_us_)
        decodeAhead(recording_->readerFor(end, windowEnd(end)), end, windowEnd(end));
    DecodedWindow window;
    std::exception_ptr error;
    bool taken = false;
    {
        py::gil_scoped_release release;
        for (auto& ahead : ahead_) {
            if (!ahead || taken) continue;
            std::unique_lock<std::mutex> lock(ahead->mutex);
            if (!ahead->holds(next_us_, end)) continue;
            ahead->done.wait(lock, [&] { return ahead->ready; });
            window = std::move(ahead->result);
            error = std::exchange(ahead->error, nullptr);
            ahead->ready = false;
            taken = true;
        }
        if (!taken && reader) window = decodeWindow(*reader, next_us_, end, true);
    }
    next_us_ = end;
    if (error) std::rethrow_exception(error);
    return toArray(std::move(window));
}

uint64_t Slices::remaining() const {
    if (next_us_ >= stop_us_) return 0;
    const uint64_t span = stop_us_ - next_us_;
    return span / duration_us_ + (span % duration_us_ != 0 ? 1 : 0);
}

}  // namespace velqora
