#pragma once

// Whether the desktop can show translucent top-level windows (rounded menus,
// tool tips, the waiting window). Without a compositing manager on X11 the
// transparent parts come out black, so such windows must draw opaque.
// GUI thread only; asked when a window is made (a compositor started later
// is noticed by windows made later).

#include <optional>

bool translucentWindowsAvailable();

// Tests force an answer; std::nullopt asks the desktop again.
void overrideTranslucentWindows(std::optional<bool> available);
