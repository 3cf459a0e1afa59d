#include "RawFile.h"

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
    : fd_(std::exchange(other.fd_, -1)), size_(std::exchange(other.size_, 0)) {}

RawFile& RawFile::operator=(RawFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

bool RawFile::open(const std::string& path, std::string* error) {
    close();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
    fd_ = fd;
    size_ = uint64_t(st.st_size);
    return true;
}

void RawFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
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
