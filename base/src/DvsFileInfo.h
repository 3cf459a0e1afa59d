#pragma once

// Description of one recording, filled by the file reader from a RAW header
// and consumed by the header generator. Plain value record.

#include <cstdint>
#include <string>

namespace korvane {

struct DvsFileInfo {
    uint64_t dvsStartTimestamp = 0;  // first event, microseconds
    uint64_t dvsEndTimestamp = 0;    // last event, microseconds (filled by the reader)
    uint64_t apsStartTimestamp = 0;  // first frame of the frame recording; 0 when none
    uint32_t width = 0;              // sensor geometry from the header; 0 when absent
    uint32_t height = 0;
    std::string serialNumber;
};

}  // namespace korvane
