#include "korvane/camera/DvsCameraManager.h"
#include "korvane/sim/DefaultFrameWriter.h"
#include "korvane/sim/SimulatedBackend.h"
#if defined(KORVANE_HAVE_VIDEO)
#include "korvane/video/H264FrameWriter.h"
#endif

namespace korvane {

FrameFileWriterFactory defaultFrameWriterFactory() {
#if defined(KORVANE_HAVE_VIDEO)
    return h264FrameWriterFactory();
#else
    return missingFrameWriterFactory();
#endif
}

DvsCameraManager::DvsCameraManager()
    : DvsCameraManager(defaultCameraBackends(defaultFrameWriterFactory())) {}

}  // namespace korvane
