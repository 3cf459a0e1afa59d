#pragma once

// Finds and opens cameras through a list of backends. The simulated backend
// is always there, so every machine has cameras to try.
//
// Threads: one caller at a time per manager. Cameras it opened live on
// independently of it.

#include <memory>
#include <string>
#include <vector>

#include "korvane/camera/CameraDescription.h"
#include "korvane/camera/DvsCamera.h"
#include "korvane/camera/FusionCamera.h"

namespace korvane {

// The seam to a family of cameras (simulated, hardware).
class CameraBackend {
public:
    virtual ~CameraBackend() = default;
    virtual std::vector<CameraDescription> listCameras() = 0;
    // Null when the serial is not this backend's or the camera cannot open.
    virtual std::shared_ptr<DvsCamera> openCamera(const std::string& serial) = 0;
    // The same for cameras with a frame sensor; a backend without any says null.
    virtual std::shared_ptr<FusionCamera> openFusionCamera(const std::string&) { return nullptr; }
};

class DvsCameraManager {
public:
    // With the simulated backend and the replays of the user's replay folder.
    DvsCameraManager();
    explicit DvsCameraManager(std::vector<std::shared_ptr<CameraBackend>> backends);

    std::vector<CameraDescription> getCameraDescs();
    // Null on failure (unknown serial, camera busy).
    std::shared_ptr<DvsCamera> openCamera(const std::string& serial);
    // Null on failure, also for a camera without a frame sensor.
    std::shared_ptr<FusionCamera> openFusionCamera(const std::string& serial);

private:
    std::vector<std::shared_ptr<CameraBackend>> backends_;
};

}  // namespace korvane
