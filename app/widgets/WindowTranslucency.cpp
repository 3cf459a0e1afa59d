#include "WindowTranslucency.h"

#include <QGuiApplication>

#include "CompositorCheck.h"

namespace {
std::optional<bool> g_override;
}  // namespace

void overrideTranslucentWindows(std::optional<bool> available) {
    g_override = available;
}

bool translucentWindowsAvailable() {
    if (g_override) return *g_override;
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb")) return x11CompositorRunning();
    // Framebuffer and remote back ends have no compositor; the others
    // (Wayland, Windows, whose desktop always composes, macOS, offscreen)
    // blend translucent windows.
    return !(platform == QLatin1String("linuxfb") || platform == QLatin1String("vnc") ||
             platform == QLatin1String("eglfs") || platform == QLatin1String("minimal"));
}
