#pragma once

// One open recording as Python sees it (velqora.Recording).
//
// Ownership: holds the file reader through a shared pointer. close() drops
// this object's share; a read running on another Python thread keeps its own
// share until it returns, so closing never frees a reader in use.
// Threads: every method is called with the GIL held; the decoding parts
// release it, and the reader's own lock serialises concurrent reads.
// Failures: RecordingError for a file that is no readable recording,
// OSError (FileNotFoundError, ...) for a path that cannot be opened at all,
// ValueError for bad arguments or a closed recording. Nothing is left open
// when the constructor throws.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "EventArrays.h"
#include "korvane/file/DvsFileReader.h"

namespace velqora {

// A file that exists but is no recording this reader can decode; carries the
// reader's reason. Raised as velqora.RecordingError (an OSError).
struct RecordingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A path given by Python (str, bytes or os.PathLike) in the file system's
// encoding, and its text for messages.
struct FsPath {
    std::string bytes;
    std::string display;
};
FsPath fsPath(const pybind11::handle& path);

class Recording {
public:
    // Opens the file and loads or builds its seek index (GIL released;
    // Ctrl+C cancels and raises KeyboardInterrupt).
    explicit Recording(const pybind11::handle& path);

    pybind11::dict info() const;
    std::optional<uint64_t> startUs() const;
    std::optional<uint64_t> endUs() const;
    const std::string& path() const { return path_; }
    // The path in the file system's encoding, as opened.
    const std::string& fsPath() const { return fsPath_; }
    bool closed() const { return !reader_; }

    // Events with t0 <= t < t1 in file order (ValueError for negative or
    // reversed bounds).
    pybind11::array read(int64_t t0_us, int64_t t1_us) const;
    pybind11::array readWindow(uint64_t t0_us, uint64_t t1_us) const;
    // What readWindow reads is decoded here: the reader (ValueError when
    // closed), or null when the window cannot hold an event.
    std::shared_ptr<korvane::DvsFileReader> readerFor(uint64_t t0_us, uint64_t t1_us) const;
    // Trigger edges with t0 <= t < t1 in file order.
    pybind11::array triggers(int64_t t0_us, int64_t t1_us) const;

    void close() {
        reader_.reset();
        bufferUse_.reset();
    }
    std::string repr() const;

private:
    std::shared_ptr<korvane::DvsFileReader> openReader() const;

    std::shared_ptr<korvane::DvsFileReader> reader_;
    std::unique_ptr<EventBufferUse> bufferUse_;  // while open: idle buffers kept for reads
    std::string path_;
    std::string fsPath_;
    std::string format_;
    korvane::DvsFileInfo info_;
    bool hasEvents_ = false;
    uint64_t start_us_ = 0;
    uint64_t end_us_ = 0;
};

// The events of a window, decoded without the GIL: windows over several
// index stretches by a scan placed straight into the array, on every core
// (on this thread alone when `ahead`: a window decoded ahead of the one in
// use), others by the reader alone; all but small ones into a pooled buffer
// of their own (EventBuffer),
// small ones into the reader's pooled window buffer. Any thread; never
// touches Python.
struct DecodedWindow {
    korvane::EventBatch batch;
    std::unique_ptr<EventBuffer> buffer;
};
DecodedWindow decodeWindow(korvane::DvsFileReader& reader, uint64_t t0_us, uint64_t t1_us,
                           bool ahead);
pybind11::array toArray(DecodedWindow window);

// Iterator over consecutive windows [t0 + k * duration, t0 + (k + 1) *
// duration), the last one cut at t1, so every event of [t0, t1) comes
// exactly once. Holds the recording object: a recording closed meanwhile
// raises ValueError at the next window.
// Threads: two worker threads of the iterator decode window k and k + 1 at
// once while Python works (each job holding its own share of the reader,
// the second worker a reader of its own; never the GIL). The iterator's destruction (dropped early,
// an exception, the end) waits for that decode and ends the thread; a window decoded ahead for a
// recording closed meanwhile is dropped.
class Slices {
public:
    Slices(pybind11::object recording, uint64_t duration_us, uint64_t t0_us, uint64_t t1_us);
    ~Slices();
    Slices(const Slices&) = delete;
    Slices& operator=(const Slices&) = delete;
    Slices(Slices&&) = delete;
    pybind11::array next();
    uint64_t remaining() const;

private:
    struct Ahead;
    void decodeAhead(std::shared_ptr<korvane::DvsFileReader> reader, uint64_t t0_us,
                     uint64_t t1_us);
    void stopWorkers();
    uint64_t windowEnd(uint64_t t0_us) const;

    pybind11::object owner_;
    const Recording* recording_;
    uint64_t duration_us_;
    uint64_t next_us_;
    uint64_t stop_us_;
    std::array<std::unique_ptr<Ahead>, 2> ahead_;
    bool stopped_ = false;  // the recording was found closed
    bool busy_ = false;     // a thread is in next() (read and set with the GIL)
};

}  // namespace velqora
