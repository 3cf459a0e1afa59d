#pragma once

// Read-only memory map of a whole file. Owns the mapping; movable, not
// copyable. A file that shrinks while mapped can raise SIGBUS on access:
// recordings are not expected to change while open.

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // False (and *error filled) when the path cannot be opened or mapped.
    bool open(const std::string& path, std::string* error = nullptr);
    void close();

    const uint8_t* data() const { return data_; }
    uint64_t size() const { return size_; }
    bool isOpen() const { return data_ != nullptr || (fd_ >= 0 && size_ == 0); }

    // Hint that [offset, offset + length) will be read front to back.
    void adviseSequential(uint64_t offset, uint64_t length) const;

    // Maps [offset, offset + length) in one go where the kernel can, instead
    // of one page fault at a time. A hint: failure changes nothing.
    void populate(uint64_t offset, uint64_t length) const;

    // Drops this process's mapping of whole pages inside [offset, offset +
    // length); the data stays in the page cache and is mapped again on the
    // next access. Keeps resident memory bounded during whole-file walks.
    void release(uint64_t offset, uint64_t length) const;

private:
    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
    int fd_ = -1;
};

}  // namespace korvane
