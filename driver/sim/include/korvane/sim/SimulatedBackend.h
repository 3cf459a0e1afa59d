#pragma once

// The simulated cameras: products "EVK4" and "Pirel" by Korvane, each a
// SimulatedDvsCamera on its own scene, and the fusion camera "Quenta" (a
// SimulatedFusionCamera, opened only through openFusionCamera). Opening a
// serial that is already open hands out the same camera.
//
// Threads: any; the list of open cameras is locked.

#include <map>
#include <memory>
#include <mutex>

#include "korvane/camera/DvsCameraManager.h"
#include "korvane/sim/SimulatedDvsCamera.h"
#include "korvane/sim/SimulatedFusionCamera.h"

namespace korvane {

class SimulatedBackend : public CameraBackend {
public:
    static constexpr const char* kEvk4Serial = "KVSIM-EVK4-0001";
    static constexpr const char* kPirelSerial = "KVSIM-PIREL-0002";
    static constexpr const char* kQuentaSerial = "KVSIM-QUENTA-0003";

    // Options per serial; the defaults when none are given.
    SimulatedBackend();
    explicit SimulatedBackend(std::vector<SimulatedCameraOptions> cameras,
                              std::vector<SimulatedFusionOptions> fusionCameras = {});

    std::vector<CameraDescription> listCameras() override;
    std::shared_ptr<DvsCamera> openCamera(const std::string& serial) override;
    std::shared_ptr<FusionCamera> openFusionCamera(const std::string& serial) override;

    static std::vector<SimulatedCameraOptions> defaultCameras();
    static std::vector<SimulatedFusionOptions> defaultFusionCameras();

private:
    std::vector<SimulatedCameraOptions> cameras_;
    std::vector<SimulatedFusionOptions> fusionCameras_;
    std::mutex mutex_;
    std::map<std::string, std::weak_ptr<SimulatedDvsCamera>> open_;
    std::map<std::string, std::weak_ptr<SimulatedFusionCamera>> openFusion_;
};

// The default manager's backends: the default simulated cameras, whose
// fusion camera writes its frames with frameWriter, and the replays of the
// user's replay folder. DvsCameraManager() gives them the build's writer
// (KorvaneSimDefaults); the Python module, which opens only event cameras,
// none.
std::vector<std::shared_ptr<CameraBackend>> defaultCameraBackends(
    FrameFileWriterFactory frameWriter = missingFrameWriterFactory());

}  // namespace korvane
