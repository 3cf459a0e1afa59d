#include "MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace korvane {

MappedFile::~MappedFile() {
    close();
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      fd_(std::exchange(other.fd_, -1)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        close();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool MappedFile::open(const std::string& path, std::string* error) {
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
    if (size_ == 0) return true;
    void* p = ::mmap(nullptr, size_t(size_), PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
        if (error) *error = std::string("cannot map: ") + std::strerror(errno);
        close();
        return false;
    }
    data_ = static_cast<const uint8_t*>(p);
    return true;
}

void MappedFile::close() {
    if (data_) ::munmap(const_cast<uint8_t*>(data_), size_t(size_));
    if (fd_ >= 0) ::close(fd_);
    data_ = nullptr;
    size_ = 0;
    fd_ = -1;
}

void MappedFile::adviseSequential(uint64_t offset, uint64_t length) const {
    if (!data_ || offset >= size_) return;
    long page = ::sysconf(_SC_PAGESIZE);
    uint64_t start = offset - offset % uint64_t(page);
    uint64_t end = std::min(size_, offset + length);
    ::madvise(const_cast<uint8_t*>(data_) + start, size_t(end - start), MADV_SEQUENTIAL);
}

void MappedFile::populate(uint64_t offset, uint64_t length) const {
#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22  // Linux 5.14; older kernels answer EINVAL
#endif
    if (!data_ || offset >= size_) return;
    const uint64_t page = uint64_t(::sysconf(_SC_PAGESIZE));
    const uint64_t start = offset / page * page;
    const uint64_t end = std::min(size_, offset + length);
    ::madvise(const_cast<uint8_t*>(data_) + start, size_t(end - start), MADV_POPULATE_READ);
}

void MappedFile::release(uint64_t offset, uint64_t length) const {
    if (!data_ || offset >= size_) return;
    const uint64_t page = uint64_t(::sysconf(_SC_PAGESIZE));
    const uint64_t start = (offset + page - 1) / page * page;
    const uint64_t end = std::min(size_, offset + length) / page * page;
    if (end > start)
        ::madvise(const_cast<uint8_t*>(data_) + start, size_t(end - start), MADV_DONTNEED);
}

}  // namespace korvane
