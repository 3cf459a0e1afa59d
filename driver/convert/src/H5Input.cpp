// Reading .h5 files of the layout H5Output.cpp writes, and of any file
// with the same datasets in other integer types: /events/{x,y,p,t} (t
// counting from /t_offset when present), /triggers/{t,id,p} when present.
// Nothing is trusted: types, ranks, equal lengths and a stored size that
// can hold the claimed length are checked on opening; the values as they
// are read (ColumnarSource).

#include <hdf5.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "korvane/convert/ColumnarSource.h"
#include "korvane/convert/ConvertStreams.h"
#include "korvane/convert/H5Support.h"

namespace korvane {

namespace {

using namespace h5;

// Largest element count accepted: far beyond any recording, small enough
// that counts and offsets never overflow.
constexpr uint64_t kMaxElements = uint64_t(1) << 44;
// Chunks up to this size are read (ours hold 512 KiB at most, h5py's about
// 1 MiB); each column keeps one in memory while it is read.
constexpr uint64_t kMaxChunkBytes = uint64_t(64) << 20;
constexpr uint64_t kDefaultChunkCacheBytes = uint64_t(1) << 20;

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
        // Links into other files are never followed, wherever they hide.
        access_ = Hid(H5Pcreate(H5P_DATASET_ACCESS), H5Pclose);
        if (!access_.valid() || H5Pset_elink_cb(access_.get(), refuseExternalLink, nullptr) < 0) {
            return fail(error, "cannot set up the HDF5 reading");
        }
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
            if (!insideFile("/t_offset", error)) return false;
            Hid d(H5Dopen2(file_.get(), "/t_offset", access_.get()), H5Dclose);
            if (d.valid() && !storedHere(d.get(), "/t_offset", error)) return false;
            Hid space(d.valid() ? H5Dget_space(d.get()) : -1, H5Sclose);
            if (!space.valid() || H5Sget_simple_extent_npoints(space.get()) != 1 ||
                !isInteger(d.get()) ||
                H5Dread(d.get(), H5T_NATIVE_INT64, H5S_ALL, H5S_ALL, H5P_DEFAULT, &offset_) < 0) {
                return fail(error, "/t_offset is not one integer");
            }
            uint64_t unsignedOffset = 0;
            if (isUnsigned64(d.get()) &&
                (H5Dread(d.get(), H5T_NATIVE_UINT64, H5S_ALL, H5S_ALL, H5P_DEFAULT,
                         &unsignedOffset) < 0 ||
                 unsignedOffset > uint64_t(std::numeric_limits<int64_t>::max()))) {
                return fail(error, "/t_offset out of range");
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
        bool unsigned64 = false;  // values above 2^63 - 1 do not fit the reading
    };

    static herr_t refuseExternalLink(const char*, const char*, const char*, const char*, unsigned*,
                                     hid_t, void*) {
        return -1;
    }

    // Every link on the way to `path` is one within this file: an external
    // link would read any file the user can read.
    bool insideFile(const std::string& path, std::string* error) {
        for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
            const std::string part = path.substr(0, end);
            H5L_info_t info{};
            if (H5Lget_info(file_.get(), part.c_str(), &info, H5P_DEFAULT) < 0) {
                return fail(error, "no dataset " + path);
            }
            if (info.type != H5L_TYPE_HARD && info.type != H5L_TYPE_SOFT) {
                return fail(error,
                            part + " is a link to another file; such links are not followed");
            }
            if (end == std::string::npos) return true;
        }
    }

    // The data lies in this file: not in external raw files, nor mapped
    // from other datasets (virtual).
    static bool storedHere(hid_t dset, const std::string& path, std::string* error) {
        Hid dcpl(H5Dget_create_plist(dset), H5Pclose);
        if (!dcpl.valid()) return fail(error, path + " has an unreadable layout");
        if (H5Pget_external_count(dcpl.get()) != 0) {
            return fail(error, path + " is stored in other files; such data is not read");
        }
        if (H5Pget_layout(dcpl.get()) == H5D_VIRTUAL) {
            return fail(error, path + " is a virtual dataset; such data is not read");
        }
        return true;
    }

    static bool isUnsigned64(hid_t dset) {
        Hid type(H5Dget_type(dset), H5Tclose);
        return type.valid() && H5Tget_class(type.get()) == H5T_INTEGER &&
               H5Tget_sign(type.get()) == H5T_SGN_NONE && H5Tget_size(type.get()) == 8;
    }

    // Integers, and enumerations of integers (h5py stores numpy's bool as
    // one); HDF5 reads both as their numbers.
    static bool isInteger(hid_t dset) {
        Hid type(H5Dget_type(dset), H5Tclose);
        if (!type.valid()) return false;
        if (H5Tget_class(type.get()) == H5T_ENUM) {
            Hid base(H5Tget_super(type.get()), H5Tclose);
            return base.valid() && H5Tget_class(base.get()) == H5T_INTEGER;
        }
        return H5Tget_class(type.get()) == H5T_INTEGER;
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
            if (!insideFile(path, error)) return false;
            cols[c].dset = Hid(H5Dopen2(file_.get(), path.c_str(), access_.get()), H5Dclose);
            if (!cols[c].dset.valid()) return fail(error, path + " is not a dataset");
            if (!storedHere(cols[c].dset.get(), path, error)) return false;
            if (!cacheWholeChunks(cols[c].dset, path, error)) return false;
            if (!isInteger(cols[c].dset.get())) return fail(error, path + " is not of integers");
            cols[c].unsigned64 = isUnsigned64(cols[c].dset.get());
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

    // Blocks are read in a different size than the file's chunks; a chunk
    // larger than HDF5's default cache would be decompressed again for
    // every block touching it (hours for one large chunk). The dataset is
    // reopened with room for a whole chunk; absurd chunks are refused.
    bool cacheWholeChunks(Hid& dset, const std::string& path, std::string* error) {
        Hid dcpl(H5Dget_create_plist(dset.get()), H5Pclose);
        if (!dcpl.valid() || H5Pget_layout(dcpl.get()) != H5D_CHUNKED) return true;
        hsize_t chunk = 0;
        Hid type(H5Dget_type(dset.get()), H5Tclose);
        if (H5Pget_chunk(dcpl.get(), 1, &chunk) != 1 || !type.valid()) {
            return fail(error, path + " has an unreadable chunk layout");
        }
        const uint64_t chunkBytes = uint64_t(chunk) * H5Tget_size(type.get());
        if (chunkBytes > kMaxChunkBytes) {
            return fail(error, path + " is stored in chunks of " + std::to_string(chunkBytes) +
                                   " bytes, more than the " + std::to_string(kMaxChunkBytes) +
                                   " read here");
        }
        if (chunkBytes <= kDefaultChunkCacheBytes) return true;
        Hid dapl(H5Pcreate(H5P_DATASET_ACCESS), H5Pclose);
        if (!dapl.valid() || H5Pset_chunk_cache(dapl.get(), 521, size_t(chunkBytes) * 2, 1.0) < 0) {
            return fail(error, path + ": cannot set up its chunk cache");
        }
        dset.reset();  // a dataset open twice shares its first cache
        if (H5Pset_elink_cb(dapl.get(), refuseExternalLink, nullptr) < 0) {
            return fail(error, path + ": cannot set up its chunk cache");
        }
        dset = Hid(H5Dopen2(file_.get(), path.c_str(), dapl.get()), H5Dclose);
        return dset.valid() || fail(error, path + " is not a dataset");
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
            H5Dread(col.dset.get(), col.unsigned64 ? H5T_NATIVE_UINT64 : H5T_NATIVE_INT64,
                    mspace.get(), fspace.get(), H5P_DEFAULT, scratch_.data()) < 0) {
            return fail(error, "cannot read " + col.name + " at " + std::to_string(first));
        }
        if (col.unsigned64) {
            // HDF5 would clamp them to 2^63 - 1; the checks refuse them instead.
            for (int64_t& v : scratch_) {
                uint64_t u;
                std::memcpy(&u, &v, sizeof u);
                if (u > uint64_t(std::numeric_limits<int64_t>::max())) {
                    v = std::numeric_limits<int64_t>::min();
                }
            }
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
    Hid access_;  // dataset access that follows no external link
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

}  // namespace korvane
