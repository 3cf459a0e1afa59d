#pragma once

namespace korvane {
// Which streams a camera delivers or a view shows: 0 events, 1 frames, 2 both.
enum STREAM_TYPE : int { STREAM_DVS = 0, STREAM_APS = 1, STREAM_BOTH = 2 };
}  // namespace korvane
