#pragma once

// The header of a .npy file: written for our record layouts, and read
// (parsed as the small Python literal it is) to find a structured array's
// fields. A header is never trusted: its length, the dict's keys, the field
// types and the data's length must all agree, or the file is refused.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace korvane {

class RawFile;

// Header for a one-dimensional array of `count` records of type `descr`
// (a numpy descr literal). Its length does not depend on count, so the
// final header can overwrite a provisional one.
std::string npyHeader(const std::string& descr, uint64_t count);

struct NpyField {
    size_t offset = 0;   // within a record
    unsigned bytes = 0;  // 1, 2, 4 or 8
    bool isSigned = false;
    bool bigEndian = false;  // '>' fields; little-endian otherwise
    // The value; an unsigned 64-bit value above 2^63 - 1 reads as -1.
    int64_t load(const uint8_t* record) const {
        uint64_t u = 0;
        if (bigEndian) {
            for (unsigned i = 0; i < bytes; ++i)
                u = u << 8 | record[offset + i];
        } else {
            std::memcpy(&u, record + offset, bytes);
        }
        if (isSigned && bytes < 8 && (u >> (bytes * 8 - 1)) & 1) u |= ~uint64_t(0) << (bytes * 8);
        if (!isSigned && bytes == 8 && (u >> 63)) return -1;
        return int64_t(u);
    }
};

struct NpyLayout {
    uint64_t dataOffset = 0;  // first record's byte
    size_t itemBytes = 0;
    uint64_t count = 0;
    std::vector<NpyField> fields;  // in the order asked for
};

// Parses the header of `file`, requiring a one-dimensional C-order
// structured array with integer fields of these names. False with a
// one-line reason otherwise.
bool readNpyLayout(const RawFile& file, const std::vector<std::string>& fieldNames,
                   NpyLayout& layout, std::string* error);

// The same for a header given as text (the dict), for tests.
bool parseNpyDict(const std::string& dict, const std::vector<std::string>& fieldNames,
                  NpyLayout& layout, std::string* error);

}  // namespace korvane
