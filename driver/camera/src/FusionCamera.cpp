#include "korvane/camera/FusionCamera.h"

#include <utility>

namespace korvane {

FusionCamera::FusionCamera(CameraDescription description_) : description(std::move(description_)) {}

FusionCamera::FusionCamera(const FusionCamera& other) : description(other.description) {
    std::lock_guard<std::mutex> lock(other.toolsMutex_);
    tools = other.tools;
}

FusionCamera& FusionCamera::operator=(const FusionCamera& other) {
    if (this == &other) return *this;
    std::scoped_lock lock(toolsMutex_, other.toolsMutex_);
    description = other.description;
    tools = other.tools;
    return *this;
}

FusionCamera::FusionCamera(FusionCamera&& other) noexcept {
    std::lock_guard<std::mutex> lock(other.toolsMutex_);
    description = std::move(other.description);
    tools = std::move(other.tools);
    other.tools.clear();  // a moved-from map is only "valid"; callers rely on it being empty
}

FusionCamera& FusionCamera::operator=(FusionCamera&& other) noexcept {
    if (this == &other) return *this;
    std::scoped_lock lock(toolsMutex_, other.toolsMutex_);
    description = std::move(other.description);
    tools = std::move(other.tools);
    other.tools.clear();
    return *this;
}

FusionCamera::~FusionCamera() = default;

void FusionCamera::setStatisticInfoCallback(StatisticsCallback) {}

const std::shared_ptr<CameraTool> FusionCamera::getTool(ToolType type) {
    std::lock_guard<std::mutex> lock(toolsMutex_);
    auto it = tools.find(type);
    if (it != tools.end()) return it->second;
    std::shared_ptr<CameraTool> tool = makeTool(type);
    if (tool) tools.emplace(type, tool);
    return tool;
}

size_t FusionCamera::toolCount() const {
    std::lock_guard<std::mutex> lock(toolsMutex_);
    return tools.size();
}

uint32_t storedMirrorWidth(const RawHeader& header) {
    if (header.apsStartTimestamp == 0) return 0;
    return header.geometryKnown ? header.width : 1280;
}

}  // namespace korvane
