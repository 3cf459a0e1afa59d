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

#include <hdf5.h>
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <limits>
#include <string>
#include <vector>

#include "ColumnarSource.h"
#include "ConvertStreams.h"
#include "H5Chunks.h"

namespace korvane {

// Chunks are stored as they lie in memory, in the file's little-endian types.
static_assert(std::endian::native == std::endian::little);

namespace {

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

// Keeps HDF5 from printing its error stack on this thread while alive; our
// callers get one line instead.
class QuietErrors {
public:
    QuietErrors() {
        H5Eget_auto2(H5E_DEFAULT, &func_, &data_);
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    }
    ~QuietErrors() { H5Eset_auto2(H5E_DEFAULT, func_, data_); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    H5E_auto2_t func_ = nullptr;
    void* data_ = nullptr;
};

// An HDF5 identifier closed by its own close function.
class Hid {
public:
    using Closer = herr_t (*)(hid_t);
    Hid() = default;
    Hid(hid_t id, Closer closer) : id_(id), closer_(closer) {}
    ~Hid() { reset(); }
    Hid(Hid&& o) noexcept : id_(o.id_), closer_(o.closer_) { o.id_ = -1; }
    Hid& operator=(Hid&& o) noexcept {
        if (this != &o) {
            reset();
            id_ = o.id_;
            closer_ = o.closer_;
            o.id_ = -1;
        }
        return *this;
    }
    Hid(const Hid&) = delete;
    Hid& operator=(const Hid&) = delete;
    hid_t get() const { return id_; }
    bool valid() const { return id_ >= 0; }
    // Closes now; false when the close failed (a file's last write).
    bool reset() {
        bool ok = true;
        if (id_ >= 0 && closer_) ok = closer_(id_) >= 0;
        id_ = -1;
        return ok;
    }

private:
    hid_t id_ = -1;
    Closer closer_ = nullptr;
};

// Elements per chunk: large enough for deflate to work well, small enough
// that a reader of a short window decompresses little.
constexpr size_t kChunkElements = size_t(1) << 16;
// Events held before their chunks are compressed (in parallel) and stored.
constexpr size_t kFlushElements = size_t(1) << 20;
constexpr unsigned kDeflateLevel = 1;  // most of the gain, a fraction of the time of higher levels

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
    size_t held() const { return buf_.size(); }

    // Chunks ready to store: the whole ones, and with `last` the rest too,
    // padded with zeros to a whole chunk (HDF5 keeps edge chunks whole and
    // reads only up to the dataset's length).
    void takeChunks(bool last, std::vector<RawChunk>& chunks) {
        count_ = last ? buf_.size() : buf_.size() / kChunkElements * kChunkElements;
        const size_t whole = (count_ + kChunkElements - 1) / kChunkElements;
        buf_.resize(std::max(buf_.size(), whole * kChunkElements), T{});
        for (size_t k = 0; k < whole; ++k) {
            chunks.push_back({reinterpret_cast<const uint8_t*>(buf_.data() + k * kChunkElements),
                              kChunkElements, unsigned(sizeof(T))});
        }
    }
    // Stores the chunks taken, compressed as `packed[first...]`; moves first on.
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
        buf_.erase(buf_.begin(), buf_.begin() + std::min(buf_.size(), count_));
        count_ = 0;
        return true;
    }
    bool close() { return dset_.reset(); }

private:
    Hid dset_;
    hsize_t size_ = 0;
    size_t count_ = 0;  // values the chunks taken cover
    std::vector<T> buf_;
};

// File access: locks where the file system has them, and no failure where
// it has none (network and some container file systems).
Hid fileAccess() {
    Hid fapl(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
    if (fapl.valid()) H5Pset_file_locking(fapl.get(), true, true);
    return fapl;
}

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
        QuietErrors quiet;
        closeAll();
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
        for (size_t i = 0; i < n; ++i) {
            const Event2D& e = ev[i];
            const int64_t t = relative(e.timestamp);
            while (t >= 0 && uint64_t(t) / 1000 >= nextMs_) {
                msToIdx_.push(events_ + i);
                ++nextMs_;
                if (msToIdx_.held() >= kFlushElements && !storeChunks(false)) {
                    return writeFailed(error);
                }
            }
            x_.push(e.x);
            y_.push(e.y);
            p_.push(e.polarity);
            t_.push(t);
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
        if (!closeAll()) return writeFailed(error);
        struct stat st {};
        if (::stat(out_.temporaryPath().c_str(), &st) == 0) bytes_ = uint64_t(st.st_size);
        return out_.commit(error);
    }

    uint64_t outputBytes() const override { return bytes_; }

private:
    int64_t relative(uint64_t t) const {
        // Times are at most 2^63 in every source; the offset is not above them.
        return int64_t(t) - int64_t(offset_us_);
    }

    // Compresses what the columns hold in whole chunks (with `last`: all of
    // it) on several threads, then stores it.
    bool storeChunks(bool last) {
        std::vector<RawChunk> chunks;
        x_.takeChunks(last, chunks);
        y_.takeChunks(last, chunks);
        p_.takeChunks(last, chunks);
        t_.takeChunks(last, chunks);
        trT_.takeChunks(last, chunks);
        trId_.takeChunks(last, chunks);
        trP_.takeChunks(last, chunks);
        msToIdx_.takeChunks(last, chunks);
        if (!shuffleDeflateChunks(chunks, kDeflateLevel, packed_)) return false;
        size_t i = 0;
        return x_.store(packed_, i) && y_.store(packed_, i) && p_.store(packed_, i) &&
               t_.store(packed_, i) && trT_.store(packed_, i) && trId_.store(packed_, i) &&
               trP_.store(packed_, i) && msToIdx_.store(packed_, i);
    }

    bool writeFailed(std::string* error) {
        // HDF5 does not say why; a full disk is the usual reason.
        return fail(error, "cannot write the HDF5 file " + out_.temporaryPath());
    }

    bool closeAll() {
        bool ok = x_.close() & y_.close() & p_.close() & t_.close() & trT_.close() & trId_.close() &
                  trP_.close() & msToIdx_.close();
        return file_.reset() && ok;
    }

    SafeOutput out_;
    Hid file_;
    Column<uint16_t> x_, y_;
    Column<uint8_t> p_;
    Column<int64_t> t_;
    Column<int64_t> trT_;
    Column<int16_t> trId_, trP_;
    Column<uint64_t> msToIdx_;
    std::vector<std::vector<uint8_t>> packed_;
    bool haveOffset_ = false;
    uint64_t offset_us_ = 0;
    uint64_t nextMs_ = 0;
    uint64_t events_ = 0;
    uint64_t triggers_ = 0;
    uint64_t bytes_ = 0;
};

// Largest element count accepted: far beyond any recording, small enough
// that counts and offsets never overflow.
constexpr uint64_t kMaxElements = uint64_t(1) << 44;

class H5Source : public ColumnarSource {
public:
    bool open(const std::string& path, std::string* error) {
        QuietErrors quiet;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return fail(error, errnoText(errno));
        if (!S_ISREG(st.st_mode)) return fail(error, "not a regular file");
        Hid access = fileAccess();
        if (H5Fis_hdf5(path.c_str()) <= 0) {
            return fail(error, "not an HDF5 file");
        }
        file_ = Hid(H5Fopen(path.c_str(), H5F_ACC_RDONLY, access.get()), H5Fclose);
        if (!file_.valid()) return fail(error, "cannot open the HDF5 file");
        if (!openColumns("/events", {"x", "y", "p", "t"}, events_, eventCount_, error)) {
            return false;
        }
        if (H5Lexists(file_.get(), "/triggers", H5P_DEFAULT) > 0 &&
            H5Lexists(file_.get(), "/triggers/t", H5P_DEFAULT) > 0) {
            if (!openColumns("/triggers", {"t", "id", "p"}, triggerCols_, triggerCount_, error)) {
                return false;
            }
        }
        if (H5Lexists(file_.get(), "/t_offset", H5P_DEFAULT) > 0) {
            Hid d(H5Dopen2(file_.get(), "/t_offset", H5P_DEFAULT), H5Dclose);
            Hid space(d.valid() ? H5Dget_space(d.get()) : -1, H5Sclose);
            if (!space.valid() || H5Sget_simple_extent_npoints(space.get()) != 1 ||
                !isInteger(d.get()) ||
                H5Dread(d.get(), H5T_NATIVE_INT64, H5S_ALL, H5S_ALL, H5P_DEFAULT, &offset_) < 0) {
                return fail(error, "/t_offset is not one integer");
            }
        }
        readMeta();
        return findSpan(error);
    }

protected:
    bool readEvents(uint64_t first, std::vector<StoredEvent>& out, std::string* error) override {
        QuietErrors quiet;
        const size_t n = out.size();
        for (int c = 0; c < 4; ++c) {
            if (!readColumn(events_[c], first, n, error)) return false;
            for (size_t i = 0; i < n; ++i) {
                int64_t* field = c == 0   ? &out[i].x
                                 : c == 1 ? &out[i].y
                                 : c == 2 ? &out[i].p
                                          : &out[i].t;
                *field = scratch_[i];
            }
        }
        for (auto& e : out)
            e.t = absolute(e.t);
        return true;
    }

    bool readTriggers(uint64_t first, std::vector<StoredTrigger>& out,
                      std::string* error) override {
        QuietErrors quiet;
        const size_t n = out.size();
        for (int c = 0; c < 3; ++c) {
            if (!readColumn(triggerCols_[c], first, n, error)) return false;
            for (size_t i = 0; i < n; ++i) {
                int64_t* field = c == 0 ? &out[i].t : c == 1 ? &out[i].id : &out[i].p;
                *field = scratch_[i];
            }
        }
        for (auto& t : out)
            t.t = absolute(t.t);
        return true;
    }

private:
    struct Col {
        Hid dset;
        std::string name;
    };

    static bool isInteger(hid_t dset) {
        Hid type(H5Dget_type(dset), H5Tclose);
        return type.valid() && H5Tget_class(type.get()) == H5T_INTEGER;
    }

    // Absolute time, or -1 when it would not fit (the check then refuses it).
    int64_t absolute(int64_t t) const {
        if (offset_ > 0 && t > std::numeric_limits<int64_t>::max() - offset_) return -1;
        if (offset_ < 0 && t < std::numeric_limits<int64_t>::min() - offset_) return -1;
        return t + offset_;
    }

    template <size_t N>
    bool openColumns(const std::string& group, const std::vector<std::string>& names,
                     Col (&cols)[N], uint64_t& count, std::string* error) {
        hsize_t length = 0;
        for (size_t c = 0; c < N; ++c) {
            const std::string path = group + "/" + names[c];
            cols[c].name = path;
            if (H5Lexists(file_.get(), group.c_str(), H5P_DEFAULT) <= 0 ||
                H5Lexists(file_.get(), path.c_str(), H5P_DEFAULT) <= 0) {
                return fail(error, "no dataset " + path);
            }
            cols[c].dset = Hid(H5Dopen2(file_.get(), path.c_str(), H5P_DEFAULT), H5Dclose);
            if (!cols[c].dset.valid()) return fail(error, path + " is not a dataset");
            if (!isInteger(cols[c].dset.get())) return fail(error, path + " is not of integers");
            Hid space(H5Dget_space(cols[c].dset.get()), H5Sclose);
            if (!space.valid() || H5Sget_simple_extent_ndims(space.get()) != 1) {
                return fail(error, path + " is not one-dimensional");
            }
            hsize_t dim = 0;
            H5Sget_simple_extent_dims(space.get(), &dim, nullptr);
            if (dim > kMaxElements) return fail(error, path + " is absurdly long");
            if (c > 0 && dim != length) {
                return fail(error, group + " datasets differ in length (" + std::to_string(length) +
                                       " and " + std::to_string(dim) + ")");
            }
            length = dim;
            // Deflate packs at most about 1000:1; a dataset claiming far more
            // elements than its stored bytes allow is mostly unwritten.
            Hid type(H5Dget_type(cols[c].dset.get()), H5Tclose);
            const uint64_t elementBytes = type.valid() ? H5Tget_size(type.get()) : 1;
            const uint64_t stored = H5Dget_storage_size(cols[c].dset.get());
            if (dim > kChunkElements && stored * 2048 < dim * elementBytes) {
                return fail(error, path + " holds less data than its length says");
            }
        }
        count = length;
        return true;
    }

    bool readColumn(const Col& col, uint64_t first, size_t n, std::string* error) {
        scratch_.resize(n);
        if (n == 0) return true;
        const hsize_t start = first, count = n;
        Hid fspace(H5Dget_space(col.dset.get()), H5Sclose);
        Hid mspace(H5Screate_simple(1, &count, nullptr), H5Sclose);
        if (!fspace.valid() || !mspace.valid() ||
            H5Sselect_hyperslab(fspace.get(), H5S_SELECT_SET, &start, nullptr, &count, nullptr) <
                0 ||
            H5Dread(col.dset.get(), H5T_NATIVE_INT64, mspace.get(), fspace.get(), H5P_DEFAULT,
                    scratch_.data()) < 0) {
            return fail(error, "cannot read " + col.name + " at " + std::to_string(first));
        }
        return true;
    }

    std::string stringAttr(const char* name) {
        if (H5Aexists(file_.get(), name) <= 0) return {};
        Hid attr(H5Aopen(file_.get(), name, H5P_DEFAULT), H5Aclose);
        Hid type(attr.valid() ? H5Aget_type(attr.get()) : -1, H5Tclose);
        Hid space(attr.valid() ? H5Aget_space(attr.get()) : -1, H5Sclose);
        if (!type.valid() || !space.valid() || H5Tget_class(type.get()) != H5T_STRING ||
            H5Sget_simple_extent_npoints(space.get()) != 1) {
            return {};
        }
        std::string value;
        if (H5Tis_variable_str(type.get()) > 0) {
            Hid mem(H5Tcopy(H5T_C_S1), H5Tclose);
            H5Tset_size(mem.get(), H5T_VARIABLE);
            H5Tset_cset(mem.get(), H5Tget_cset(type.get()));
            char* text = nullptr;
            if (H5Aread(attr.get(), mem.get(), &text) >= 0 && text) {
                value = text;
                H5free_memory(text);
            }
        } else {
            const size_t size = H5Tget_size(type.get());
            if (size == 0 || size > 4096) return {};
            std::vector<char> text(size + 1, '\0');
            Hid mem(H5Tcopy(type.get()), H5Tclose);
            if (H5Aread(attr.get(), mem.get(), text.data()) >= 0) value = text.data();
        }
        return value;
    }

    bool integerAttr(const char* name, uint64_t& value) {
        if (H5Aexists(file_.get(), name) <= 0) return false;
        Hid attr(H5Aopen(file_.get(), name, H5P_DEFAULT), H5Aclose);
        Hid type(attr.valid() ? H5Aget_type(attr.get()) : -1, H5Tclose);
        Hid space(attr.valid() ? H5Aget_space(attr.get()) : -1, H5Sclose);
        if (!type.valid() || !space.valid() || H5Tget_class(type.get()) != H5T_INTEGER ||
            H5Sget_simple_extent_npoints(space.get()) != 1) {
            return false;
        }
        return H5Aread(attr.get(), H5T_NATIVE_UINT64, &value) >= 0;
    }

    void readMeta() {
        uint64_t w = 0, h = 0;
        if (integerAttr("width", w) && integerAttr("height", h) && w > 0 && h > 0 && w <= 65536 &&
            h <= 65536) {
            meta_.width = uint32_t(w);
            meta_.height = uint32_t(h);
            meta_.geometryKnown = true;
        }
        meta_.serialNumber = stringAttr("serial_number");
        meta_.sourceFormat = stringAttr("source_format");
        integerAttr("source_start_timestamp", meta_.sourceStart_us);
        meta_.generation = stringAttr("generation");
        meta_.sensorGeneration = stringAttr("sensor_generation");
        meta_.sensorName = stringAttr("sensor_name");
    }

    Hid file_;
    Col events_[4];
    Col triggerCols_[3];
    int64_t offset_ = 0;
    std::vector<int64_t> scratch_;
};

}  // namespace

std::unique_ptr<EventSource> openH5Source(const std::string& path, std::string* error) {
    auto source = std::make_unique<H5Source>();
    if (!source->open(path, error)) return nullptr;
    return source;
}

std::unique_ptr<EventSink> makeH5Sink() {
    return std::make_unique<H5Sink>();
}

}  // namespace korvane
