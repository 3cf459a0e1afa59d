#pragma once

// A recording opened for positioned reads. Reads go through the kernel's
// copy rather than a memory map: the page cache is read at full speed,
// resident memory stays small, and a file that shrinks while open only
// ends early instead of raising SIGBUS. Any thread may read concurrently.

#include <cstddef>
#include <cstdint>
#include <string>

#include "korvane/file/SafeOutput.h"

namespace korvane {

class RawFile {
public:
    RawFile() = default;
    ~RawFile();
    RawFile(RawFile&& other) noexcept;
    RawFile& operator=(RawFile&& other) noexcept;
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;

    // False (and *error filled) when the path cannot be opened or is not a regular file.
    bool open(const std::string& path, std::string* error = nullptr);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // Size when opened: every offset the reader derives stays within it,
    // even while the file grows or shrinks.
    uint64_t size() const { return size_; }
    // Size now (a live recording grows); size() when it cannot be asked.
    uint64_t currentSize() const;
    // Device and inode, to recognise this file under another name.
    const FileIdentity& identity() const { return identity_; }
    // Modification time when opened, nanoseconds since the epoch.
    int64_t modifiedNs() const { return modifiedNs_; }

    // Reads up to length bytes at offset; returns how many arrived (fewer at
    // the end of the file, or on an I/O error).
    size_t readAt(uint64_t offset, uint8_t* dst, size_t length) const;

    // True while the file still has the size and modification time it had
    // when opened: what was learnt from its bytes then (the seek index)
    // still describes them. False when it cannot be asked.
    bool unchangedSinceOpen() const;

    // Hint that [offset, offset + length) will be read front to back soon.
    void adviseSequential(uint64_t offset, uint64_t length) const;

private:
    int fd_ = -1;
    uint64_t size_ = 0;
    FileIdentity identity_;
    int64_t modifiedNs_ = 0;
};

}  // namespace korvane
