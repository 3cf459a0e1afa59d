#pragma once

// Whether an X11 compositing manager runs: CompositorCheckXcb.cpp asks the
// X server, CompositorCheckNone.cpp (a build without xcb, such as Windows)
// cannot ask and says false. GUI thread only.

bool x11CompositorRunning();
