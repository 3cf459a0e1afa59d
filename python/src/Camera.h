#pragma once

// Cameras as Python sees them (velqora.cameras, velqora.open_camera,
// velqora.Camera and its stream iterator).
//
// Ownership: a Camera shares the driver's camera handle until close();
// a stream iterator holds its Camera object, so the camera outlives it.
// One consumer of the live batches at a time: an open stream iterator or a
// running record call; another one is refused (CameraError). close() on
// another thread ends either: the record call finishes its file and
// returns, the stream's wait ends (it keeps its own share of the camera
// until then).
// Threads: every method is called with the GIL held; the waits release it
// and take it back about every 50 ms to let Ctrl+C through (the wait then
// ends cleanly: the stream is stopped, a recording finished and readable,
// and KeyboardInterrupt raised). The camera's callbacks (statistics,
// trigger edges) run on its threads, never take the GIL and only store
// under a mutex.

#include <pybind11/pybind11.h>

namespace velqora {

// Adds cameras(), open_camera(), simulate(), Camera, CameraStream,
// StreamBatch, CameraInfo and CameraError to the module.
void registerCameras(pybind11::module_& m);

}  // namespace velqora
