#include "korvane/file/RawFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

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
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error) *error = "not a regular file";
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    size_ = uint64_t(st.st_size);
    identity_.device = st.st_dev;
    identity_.inode = st.st_ino;
    modifiedNs_ = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

void RawFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
    identity_ = {};
    modifiedNs_ = 0;
}

uint64_t RawFile::currentSize() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return size_;
    return uint64_t(st.st_size);
}

size_t RawFile::readAt(uint64_t offset, uint8_t* dst, size_t length) const {
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(fd_, dst + done, length - done, off_t(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    return done;
}

void RawFile::adviseSequential(uint64_t offset, uint64_t length) const {
    if (fd_ >= 0) ::posix_fadvise(fd_, off_t(offset), off_t(length), POSIX_FADV_SEQUENTIAL);
}

}  // namespace korvane
