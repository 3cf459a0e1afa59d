#include "ApsFileReader.h"

namespace korvane {

// Placeholder until the FFmpeg frame reader lands: no frame file opens.
std::unique_ptr<ApsFileReader> ApsFileReader::createFileReader(const std::string&) {
    return nullptr;
}

}  // namespace korvane
