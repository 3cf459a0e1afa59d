#include "korvane/sim/SimulatedBackend.h"

namespace korvane {

std::vector<SimulatedCameraOptions> SimulatedBackend::defaultCameras() {
    SimulatedCameraOptions evk4;
    evk4.serial = kEvk4Serial;
    evk4.product = "EVK4";
    evk4.eventsPerSecond = 2000000;
    evk4.seed = 4;
    SimulatedCameraOptions pirel;
    pirel.serial = kPirelSerial;
    pirel.product = "Pirel";
    pirel.eventsPerSecond = 1000000;
    pirel.seed = 7;
    return {evk4, pirel};
}

std::vector<SimulatedFusionOptions> SimulatedBackend::defaultFusionCameras() {
    SimulatedFusionOptions quenta;
    quenta.serial = kQuentaSerial;
    return {quenta};
}

SimulatedBackend::SimulatedBackend()
    : cameras_(defaultCameras()), fusionCameras_(defaultFusionCameras()) {}

SimulatedBackend::SimulatedBackend(std::vector<SimulatedCameraOptions> cameras,
                                   std::vector<SimulatedFusionOptions> fusionCameras)
    : cameras_(std::move(cameras)), fusionCameras_(std::move(fusionCameras)) {}

std::vector<CameraDescription> SimulatedBackend::listCameras() {
    std::vector<CameraDescription> out;
    for (const auto& o : cameras_) {
        // A twin-free description: what the camera would report once open.
        CameraDescription d;
        d.serial = o.serial;
        d.product = o.product;
        d.manufacturer = "Korvane";
        d.description = "Simulated event camera (synthetic scene, no hardware attached), 1280x720";
        d.connection = "simulated";
        out.push_back(d);
    }
    for (const auto& o : fusionCameras_)
        out.push_back(SimulatedFusionCamera::describe(o));
    return out;
}

std::shared_ptr<FusionCamera> SimulatedBackend::openFusionCamera(const std::string& serial) {
    std::lock_guard lock(mutex_);
    for (const auto& o : fusionCameras_) {
        if (o.serial != serial) continue;
        if (auto open = openFusion_[serial].lock(); open && open->isConnected()) return open;
        auto camera = std::make_shared<SimulatedFusionCamera>(o);
        openFusion_[serial] = camera;
        return camera;
    }
    return nullptr;
}

std::shared_ptr<DvsCamera> SimulatedBackend::openCamera(const std::string& serial) {
    std::lock_guard lock(mutex_);
    for (const auto& o : cameras_) {
        if (o.serial != serial) continue;
        if (auto open = open_[serial].lock()) return open;
        auto camera = std::make_shared<SimulatedDvsCamera>(o);
        open_[serial] = camera;
        return camera;
    }
    return nullptr;
}

}  // namespace korvane
