#pragma once

// The fusion cameras' frame writer as this build has it: H.264 into an .mp4
// where FFmpeg is built, otherwise a factory that fails with the reason.
// Its own target (KorvaneSimDefaults, with the default camera manager), so
// what links only the simulated cameras links no FFmpeg.

#include "korvane/camera/FrameFileWriter.h"

namespace korvane {

FrameFileWriterFactory defaultFrameWriterFactory();

}  // namespace korvane
