#include "korvane/file/RawFile.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "korvane/file/Platform.h"

namespace korvane {

RawFile::~RawFile() {
    close();
}

RawFile::RawFile(RawFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      size_(std::exchange(other.size_, 0)),
      identity_(std::exchange(other.identity_, {})),
      modifiedNs_(std::exchange(other.modifiedNs_, 0)) {}

RawFile& RawFile::operator=(RawFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        size_ = std::exchange(other.size_, 0);
        identity_ = std::exchange(other.identity_, {});
        modifiedNs_ = std::exchange(other.modifiedNs_, 0);
    }
    return *this;
}

bool RawFile::open(const std::string& path, std::string* error) {
    close();
    // O_NONBLOCK: opening a FIFO must not wait for a writer; only regular
    // files are read.
    int why = 0;
    int fd = platform::openForReading(path, &why);
    if (fd < 0) {
        if (error) *error = std::string("cannot open: ") + std::strerror(why);
        return false;
    }
    platform::FileStatus st;
    if (!platform::status(fd, st) || st.kind != platform::FileKind::Regular) {
        if (error) *error = "not a regular file";
        platform::close(fd);
        return false;
    }
    fd_ = fd;
    size_ = st.size;
    identity_.device = st.device;
    identity_.inode = st.inode;
    modifiedNs_ = st.modifiedNs;
    return true;
}

void RawFile::close() {
    if (fd_ >= 0) platform::close(fd_);
    fd_ = -1;
    size_ = 0;
    identity_ = {};
    modifiedNs_ = 0;
}

uint64_t RawFile::currentSize() const {
    platform::FileStatus st;
    if (fd_ < 0 || !platform::status(fd_, st)) return size_;
    return st.size;
}

bool RawFile::unchangedSinceOpen() const {
    platform::FileStatus st;
    return fd_ >= 0 && platform::status(fd_, st) && st.size == size_ &&
           st.modifiedNs == modifiedNs_;
}

size_t RawFile::readAt(uint64_t offset, uint8_t* dst, size_t length) const {
    size_t done = 0;
    while (done < length) {
        const long long n = platform::readAt(fd_, dst + done, length - done, offset + done);
        if (n <= 0) break;
        done += size_t(n);
    }
    return done;
}

void RawFile::adviseSequential(uint64_t offset, uint64_t length) const {
    platform::adviseSequential(fd_, offset, length);
}

}  // namespace korvane
