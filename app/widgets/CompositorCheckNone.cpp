#include "CompositorCheck.h"

bool x11CompositorRunning() {
    return false;  // cannot ask: opaque is always readable
}
