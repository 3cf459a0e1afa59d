#pragma once

// The simulated cameras: products "EVK4" and "Pirel" by Korvane, each a
// SimulatedDvsCamera on its own scene. Opening a serial that is already
// open hands out the same camera.
//
// Threads: any; the list of open cameras is locked.

#include <map>
#include <memory>
#include <mutex>

#include "DvsCameraManager.h"
#include "SimulatedDvsCamera.h"

namespace korvane {

class SimulatedBackend : public CameraBackend {
public:
    static constexpr const char* kEvk4Serial = "KVSIM-EVK4-0001";
    static constexpr const char* kPirelSerial = "KVSIM-PIREL-0002";

    // Options per serial; the defaults when none are given.
    SimulatedBackend();
    explicit SimulatedBackend(std::vector<SimulatedCameraOptions> cameras);

    std::vector<CameraDescription> listCameras() override;
    std::shared_ptr<DvsCamera> openCamera(const std::string& serial) override;

    static std::vector<SimulatedCameraOptions> defaultCameras();

private:
    std::vector<SimulatedCameraOptions> cameras_;
    std::mutex mutex_;
    std::map<std::string, std::weak_ptr<SimulatedDvsCamera>> open_;
};

}  // namespace korvane
