#pragma once

// What the HDF5 reader and writer share: identifiers closed on scope exit,
// quiet error stacks, the file access settings and the chunk size.
// Threads: any; HDF5 (Debian's build is thread-safe) serialises its calls.

#include <hdf5.h>

#include <cstddef>
#include <string>

namespace korvane::h5 {

inline bool fail(std::string* error, const std::string& why) {
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
    // Hands the identifier over to the caller, who closes it.
    hid_t release() {
        const hid_t id = id_;
        id_ = -1;
        return id;
    }
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

// File access: locks where the file system has them, and no failure where
// it has none (network and some container file systems).
inline Hid fileAccess() {
    Hid fapl(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
    if (fapl.valid()) H5Pset_file_locking(fapl.get(), true, true);
    return fapl;
}

}  // namespace korvane::h5
