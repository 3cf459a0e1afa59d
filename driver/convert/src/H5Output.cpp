// HDF5 files (.h5) through HDF5's C library. Layout:
//   /events/x uint16, /events/y uint16, /events/p uint8, /events/t int64
//   /triggers/t int64, /triggers/id int16, /triggers/p int16
//   /t_offset int64 (scalar), /ms_to_idx uint64
// Times in /events/t and /triggers/t count microseconds from /t_offset (the
// range's first millisecond), so they start near zero; /ms_to_idx[k] is the
// index of the first event at or after t_offset + k ms. Datasets are chunked
// with the shuffle and deflate filters, which every HDF5 reader has built in.
// Root attributes: width, height (when known), serial_number, source_format,
// source_start_timestamp and the sensor description.
//
// Writing: values wait per column until whole chunks are there; those are
// compressed on several threads (H5Chunks) while the next values arrive,
// and stored as they are.

#include <hdf5.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "korvane/convert/ConvertStreams.h"
#include "korvane/convert/H5Chunks.h"
#include "korvane/convert/H5Support.h"

namespace korvane {

// Chunks are stored as they lie in memory, in the file's little-endian types.
static_assert(std::endian::native == std::endian::little);

namespace {

using namespace h5;

// Events held before their chunks are compressed (in parallel) and stored.
constexpr size_t kFlushElements = size_t(1) << 20;
constexpr unsigned kDeflateLevel = 1;  // most of the gain, a fraction of the time of higher levels

// Memory for the columns' values, with no zeros written into room that is
// filled right after. Small pages, as malloc gives them: huge pages would
// fault in fewer times, but on a virtual machine whose host takes free
// memory back a fresh huge page costs ten times what its small pages cost
// to touch (a 50 M-event conversion spent a tenth of its CPU clearing them).
template <typename T>
struct ColumnAllocator {
    using value_type = T;

    ColumnAllocator() = default;
    template <typename U>
    ColumnAllocator(const ColumnAllocator<U>&) {}

    T* allocate(size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, size_t n) { std::allocator<T>().deallocate(p, n); }
    // resize() leaves new values unset (they are written next).
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <typename U>
    bool operator==(const ColumnAllocator<U>&) const {
        return true;
    }
};

// One growing 1-D dataset. Values wait in memory until whole chunks are
// there; those are compressed together with the other columns' (H5Chunks)
// and stored as they are, so the file's own filters read them back.
template <typename T>
class Column {
public:
    bool create(hid_t parent, const char* name, hid_t fileType) {
        const hsize_t zero = 0, unlimited = H5S_UNLIMITED;
        Hid space(H5Screate_simple(1, &zero, &unlimited), H5Sclose);
        Hid dcpl(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
        if (!space.valid() || !dcpl.valid()) return false;
        const hsize_t chunk = kChunkElements;
        if (H5Pset_chunk(dcpl.get(), 1, &chunk) < 0 || H5Pset_shuffle(dcpl.get()) < 0 ||
            H5Pset_deflate(dcpl.get(), kDeflateLevel) < 0) {
            return false;
        }
        dset_ = Hid(
            H5Dcreate2(parent, name, fileType, space.get(), H5P_DEFAULT, dcpl.get(), H5P_DEFAULT),
            H5Dclose);
        return dset_.valid();
    }
    void push(T v) { buf_.push_back(v); }
    // Room for n more values, to be filled before the next call.
    T* extend(size_t n) {
        const size_t at = buf_.size();
        // Room for a whole batch at once: growing by doubling would copy
        // and fault in fresh pages several times over.
        if (buf_.capacity() < at + n) buf_.reserve(std::max(at + n, 2 * kFlushElements));
        buf_.resize(at + n);
        return buf_.data() + at;
    }
    size_t held() const { return buf_.size(); }

    // Moves the values of whole chunks (with `last`: all of them, the last
    // chunk padded with zeros; HDF5 keeps edge chunks whole and reads only up
    // to the dataset's length) out of the filling buffer, to be compressed
    // while the next values arrive; adds them to `chunks`.
    void detach(bool last, std::vector<RawChunk>& chunks) {
        count_ = last ? buf_.size() : buf_.size() / kChunkElements * kChunkElements;
        const size_t whole = (count_ + kChunkElements - 1) / kChunkElements;
        flight_.swap(buf_);  // the old flight's room (capacity kept) fills next
        buf_.assign(flight_.begin() + ptrdiff_t(count_), flight_.end());
        flight_.resize(whole * kChunkElements, T{});
        for (size_t k = 0; k < whole; ++k) {
            chunks.push_back({reinterpret_cast<const uint8_t*>(flight_.data() + k * kChunkElements),
                              kChunkElements, unsigned(sizeof(T))});
        }
    }
    // Stores the chunks detached, compressed as `packed[first...]`; moves first on.
    bool store(const std::vector<std::vector<uint8_t>>& packed, size_t& first) {
        if (count_ == 0) return true;
        const hsize_t total = size_ + count_;
        if (H5Dset_extent(dset_.get(), &total) < 0) return false;
        for (hsize_t at = 0; at < count_; at += kChunkElements) {
            const std::vector<uint8_t>& c = packed[first++];
            const hsize_t offset = size_ + at;
            if (H5Dwrite_chunk(dset_.get(), H5P_DEFAULT, 0, &offset, c.size(), c.data()) < 0) {
                return false;
            }
        }
        size_ = total;
        count_ = 0;
        return true;
    }
    bool close() { return dset_.reset(); }

private:
    Hid dset_;
    hsize_t size_ = 0;
    size_t count_ = 0;                           // values the detached chunks cover
    std::vector<T, ColumnAllocator<T>> buf_;     // filling
    std::vector<T, ColumnAllocator<T>> flight_;  // detached: being compressed, then stored
};

bool writeScalarAttr(hid_t obj, const char* name, hid_t fileType, hid_t memType,
                     const void* value) {
    Hid space(H5Screate(H5S_SCALAR), H5Sclose);
    Hid attr(H5Acreate2(obj, name, fileType, space.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
    return attr.valid() && H5Awrite(attr.get(), memType, value) >= 0;
}

bool writeStringAttr(hid_t obj, const char* name, const std::string& value) {
    Hid type(H5Tcopy(H5T_C_S1), H5Tclose);
    if (!type.valid() || H5Tset_size(type.get(), H5T_VARIABLE) < 0 ||
        H5Tset_cset(type.get(), H5T_CSET_UTF8) < 0) {
        return false;
    }
    const char* text = value.c_str();
    return writeScalarAttr(obj, name, type.get(), type.get(), &text);
}

class H5Sink : public EventSink {
public:
    ~H5Sink() override {
        if (compressor_.joinable()) compressor_.join();
        QuietErrors quiet;
        closeAll(false);
    }

    bool open(const std::string& path, const RecordingMeta& meta,
              const std::vector<FileIdentity>& inputs, std::string* error) override {
        QuietErrors quiet;
        if (!out_.open(path, inputs, error)) return false;
        file_ = Hid(
            H5Fcreate(out_.temporaryPath().c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fileAccess().get()),
            H5Fclose);
        if (!file_.valid()) return fail(error, "cannot create an HDF5 file");
        Hid events(H5Gcreate2(file_.get(), "events", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                   H5Gclose);
        Hid triggers(H5Gcreate2(file_.get(), "triggers", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                     H5Gclose);
        if (!events.valid() || !triggers.valid() || !x_.create(events.get(), "x", H5T_STD_U16LE) ||
            !y_.create(events.get(), "y", H5T_STD_U16LE) ||
            !p_.create(events.get(), "p", H5T_STD_U8LE) ||
            !t_.create(events.get(), "t", H5T_STD_I64LE) ||
            !trT_.create(triggers.get(), "t", H5T_STD_I64LE) ||
            !trId_.create(triggers.get(), "id", H5T_STD_I16LE) ||
            !trP_.create(triggers.get(), "p", H5T_STD_I16LE) ||
            !msToIdx_.create(file_.get(), "ms_to_idx", H5T_STD_U64LE)) {
            return fail(error, "cannot create the HDF5 datasets");
        }
        const hid_t root = file_.get();
        bool ok = true;
        if (meta.geometryKnown) {
            ok = ok &&
                 writeScalarAttr(root, "width", H5T_STD_U32LE, H5T_NATIVE_UINT32, &meta.width) &&
                 writeScalarAttr(root, "height", H5T_STD_U32LE, H5T_NATIVE_UINT32, &meta.height);
        }
        ok = ok && writeStringAttr(root, "serial_number", meta.serialNumber) &&
             writeStringAttr(root, "source_format", meta.sourceFormat) &&
             writeScalarAttr(root, "source_start_timestamp", H5T_STD_U64LE, H5T_NATIVE_UINT64,
                             &meta.sourceStart_us) &&
             writeStringAttr(root, "generation", meta.generation) &&
             writeStringAttr(root, "sensor_generation", meta.sensorGeneration) &&
             writeStringAttr(root, "sensor_name", meta.sensorName);
        if (!ok) return fail(error, "cannot write the HDF5 attributes");
        return true;
    }

    bool write(const Event2D* ev, size_t n, const std::vector<TriggerRecord>& triggers,
               std::string* error) override {
        QuietErrors quiet;
        if (!haveOffset_ && (n > 0 || !triggers.empty())) {
            // The first item in file order: the range's earliest time.
            uint64_t first = n > 0 ? ev[0].timestamp : triggers.front().trigger.timestamp;
            if (!triggers.empty() && triggers.front().eventIndex == 0) {
                first = std::min(first, triggers.front().trigger.timestamp);
            }
            offset_us_ = first / 1000 * 1000;
            haveOffset_ = true;
        }
        // A block at a time (still in cache for its second look): the
        // columns in one sweep, then the index, which may store chunks
        // midway through a long silence (the columns are independent).
        constexpr size_t kBlock = 4096;
        const int64_t offset = int64_t(offset_us_);
        for (size_t from = 0; from < n; from += kBlock) {
            const size_t to = std::min(n, from + kBlock);
            uint16_t* __restrict xs = x_.extend(to - from);
            uint16_t* __restrict ys = y_.extend(to - from);
            uint8_t* __restrict ps = p_.extend(to - from);
            int64_t* __restrict ts = t_.extend(to - from);
            for (size_t i = from; i < to; ++i) {
                const Event2D e = ev[i];  // one load: the stores cannot change it
                xs[i - from] = e.x;
                ys[i - from] = e.y;
                ps[i - from] = e.polarity;
                ts[i - from] = int64_t(e.timestamp) - offset;
            }
            for (size_t i = from; i < to; ++i) {
                // The next event whose time t >= 0 has t / 1000 >= nextMs_,
                // that is whose timestamp reaches offset + nextMs_ ms.
                const uint64_t next = nextMs_ * 1000;
                if (offset_us_ > UINT64_MAX - next) break;  // beyond any time
                const uint64_t reach = offset_us_ + next;
                // Four at a time, with one branch: the run is long (a ms of events).
                while (i + 4 <= to && (ev[i].timestamp < reach) & (ev[i + 1].timestamp < reach) &
                                          (ev[i + 2].timestamp < reach) &
                                          (ev[i + 3].timestamp < reach))
                    i += 4;
                while (i < to && ev[i].timestamp < reach)
                    ++i;
                if (i == to) break;
                const int64_t t = relative(ev[i].timestamp);
                while (uint64_t(t) / 1000 >= nextMs_) {
                    msToIdx_.push(events_ + i);
                    ++nextMs_;
                    if (msToIdx_.held() >= kFlushElements) {
                        if (!storeChunks(false)) return writeFailed(error);
                        // A long silence is a long run of entries.
                        if (stopRequested()) return fail(error, "cancelled");
                    }
                }
            }
        }
        events_ += n;
        for (const auto& r : triggers) {
            trT_.push(relative(r.trigger.timestamp));
            trId_.push(r.trigger.id);
            trP_.push(r.trigger.polarity);
        }
        triggers_ += triggers.size();
        if ((x_.held() >= kFlushElements || trT_.held() >= kFlushElements) && !storeChunks(false)) {
            return writeFailed(error);
        }
        return true;
    }

    bool finish(std::string* error) override {
        QuietErrors quiet;
        if (!storeChunks(true)) return writeFailed(error);
        {
            Hid space(H5Screate(H5S_SCALAR), H5Sclose);
            Hid dset(H5Dcreate2(file_.get(), "t_offset", H5T_STD_I64LE, space.get(), H5P_DEFAULT,
                                H5P_DEFAULT, H5P_DEFAULT),
                     H5Dclose);
            const int64_t offset = int64_t(offset_us_);
            if (!dset.valid() || H5Dwrite(dset.get(), H5T_NATIVE_INT64, H5S_ALL, H5S_ALL,
                                          H5P_DEFAULT, &offset) < 0) {
                return writeFailed(error);
            }
        }
        if (!closeAll(true)) return writeFailed(error);
        struct stat st {};
        if (::stat(out_.temporaryPath().c_str(), &st) == 0) bytes_ = uint64_t(st.st_size);
        return out_.commit(error);
    }

    uint64_t outputBytes() const override { return bytes_; }
    bool paysForSilence() const override { return true; }

private:
    int64_t relative(uint64_t t) const {
        // Times are at most 2^63 in every source; the offset is not above them.
        return int64_t(t) - int64_t(offset_us_);
    }

    // Hands what the columns hold in whole chunks (with `last`: all of it)
    // to a thread that compresses them (on several threads) while the next
    // values arrive; the batch before is stored first.
    bool storeChunks(bool last) {
        if (!storeFlight()) return false;
        flightChunks_.clear();
        x_.detach(last, flightChunks_);
        y_.detach(last, flightChunks_);
        p_.detach(last, flightChunks_);
        t_.detach(last, flightChunks_);
        trT_.detach(last, flightChunks_);
        trId_.detach(last, flightChunks_);
        trP_.detach(last, flightChunks_);
        msToIdx_.detach(last, flightChunks_);
        flying_ = true;
        auto compress = [this] {
            // Nothing may leave the thread: a failure waits for storeFlight().
            try {
                packedOk_ =
                    shuffleDeflateChunks(flightChunks_, kRunLengthCoder, packed_, workspace_);
            } catch (...) {
                packError_ = std::current_exception();
            }
        };
        if (!last) {
            try {
                compressor_ = std::thread(compress);
            } catch (const std::system_error&) {
                compress();  // no thread to be had: here and now
            }
        } else {
            compress();
        }
        return !last || storeFlight();
    }

    // Waits for the batch being compressed and stores it.
    bool storeFlight() {
        if (!flying_) return true;
        if (compressor_.joinable()) compressor_.join();
        flying_ = false;
        if (packError_) std::rethrow_exception(std::exchange(packError_, nullptr));
        if (!packedOk_) return false;
        size_t i = 0;
        return x_.store(packed_, i) && y_.store(packed_, i) && p_.store(packed_, i) &&
               t_.store(packed_, i) && trT_.store(packed_, i) && trId_.store(packed_, i) &&
               trP_.store(packed_, i) && msToIdx_.store(packed_, i);
    }

    bool writeFailed(std::string* error) {
        // HDF5 does not say why; a full disk is the usual reason. The
        // caller names the target (the temporary is gone by then).
        return fail(error, "cannot write the HDF5 file (is the disk full?)");
    }

    // Closes every dataset and the file. `keep`: the file is to be
    // committed; otherwise it is discarded and its space freed first.
    bool closeAll(bool keep) {
        // Every dataset is closed, whatever the others did.
        bool ok = true;
        for (bool closed : {x_.close(), y_.close(), p_.close(), t_.close(), trT_.close(),
                            trId_.close(), trP_.close(), msToIdx_.close()}) {
            ok = ok && closed;
        }
        return closeFile(keep && ok) && ok;
    }

    bool closeFile(bool keep) {
        const hid_t id = file_.release();
        if (id < 0) return true;
        // A close that fails to write its metadata (full disk) leaves the
        // file half-closed inside HDF5, which then crashes at exit. So the
        // metadata is flushed first, and a file that is not kept loses its
        // space before the close, which then has room for what it writes.
        if (keep && H5Fflush(id, H5F_SCOPE_LOCAL) >= 0) return H5Fclose(id) >= 0;
        if (out_.fd() >= 0) (void)::ftruncate(out_.fd(), 0);
        H5Fclose(id);
        return false;
    }

    SafeOutput out_;
    Hid file_;
    Column<uint16_t> x_, y_;
    Column<uint8_t> p_;
    Column<int64_t> t_;
    Column<int64_t> trT_;
    Column<int16_t> trId_, trP_;
    Column<uint64_t> msToIdx_;
    // The batch in flight: its chunks, their compressed bytes, the thread.
    std::vector<RawChunk> flightChunks_;
    std::vector<std::vector<uint8_t>> packed_;
    ChunkWorkspace workspace_;
    std::thread compressor_;
    bool flying_ = false;
    bool packedOk_ = false;
    std::exception_ptr packError_;
    bool haveOffset_ = false;
    uint64_t offset_us_ = 0;
    uint64_t nextMs_ = 0;
    uint64_t events_ = 0;
    uint64_t triggers_ = 0;
    uint64_t bytes_ = 0;
};

}  // namespace

std::unique_ptr<EventSink> makeH5Sink() {
    return std::make_unique<H5Sink>();
}

}  // namespace korvane
