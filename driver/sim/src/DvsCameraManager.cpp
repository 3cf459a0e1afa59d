#include "korvane/camera/DvsCameraManager.h"

#include "korvane/sim/ReplayBackend.h"
#include "korvane/sim/SimulatedBackend.h"

namespace korvane {

// DvsCameraManager() is in KorvaneSimDefaults: it names the H.264 writer.

std::vector<std::shared_ptr<CameraBackend>> defaultCameraBackends(
    FrameFileWriterFactory frameWriter) {
    auto fusion = SimulatedBackend::defaultFusionCameras();
    for (auto& o : fusion)
        o.frameWriterFactory = frameWriter;
    return {
        std::make_shared<SimulatedBackend>(SimulatedBackend::defaultCameras(), std::move(fusion)),
        std::make_shared<ReplayBackend>()};
}

DvsCameraManager::DvsCameraManager(std::vector<std::shared_ptr<CameraBackend>> backends)
    : backends_(std::move(backends)) {}

std::vector<CameraDescription> DvsCameraManager::getCameraDescs() {
    std::vector<CameraDescription> all;
    for (const auto& backend : backends_) {
        auto some = backend->listCameras();
        all.insert(all.end(), some.begin(), some.end());
    }
    return all;
}

std::shared_ptr<DvsCamera> DvsCameraManager::openCamera(const std::string& serial) {
    for (const auto& backend : backends_) {
        if (auto camera = backend->openCamera(serial)) return camera;
    }
    return nullptr;
}

std::shared_ptr<FusionCamera> DvsCameraManager::openFusionCamera(const std::string& serial) {
    for (const auto& backend : backends_) {
        if (auto camera = backend->openFusionCamera(serial)) return camera;
    }
    return nullptr;
}

}  // namespace korvane
