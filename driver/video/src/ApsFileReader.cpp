#include "korvane/video/ApsFileReader.h"

#include <filesystem>

#include "korvane/video/Mp4FrameReader.h"

namespace korvane {

std::unique_ptr<ApsFileReader> ApsFileReader::createFileReader(const std::string& path) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return nullptr;
    return std::make_unique<Mp4FrameReader>(path);
}

}  // namespace korvane
