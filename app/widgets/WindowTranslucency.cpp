#include "WindowTranslucency.h"

#include <QGuiApplication>

#ifdef VELQORA_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <string>
#endif

namespace {
std::optional<bool> g_override;

#ifdef VELQORA_HAVE_XCB
// A compositing manager owns the selection _NET_WM_CM_S<screen>.
bool x11CompositorRunning() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return false;
    const std::string name = "_NET_WM_CM_S0";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, uint16_t(name.size()), name.c_str()), nullptr);
    if (!atom) return false;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE) return false;  // never interned: nobody owns it
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    if (!owner) return false;
    const bool running = owner->owner != XCB_NONE;
    std::free(owner);
    return running;
}
#endif
}  // namespace

void overrideTranslucentWindows(std::optional<bool> available) {
    g_override = available;
}

bool translucentWindowsAvailable() {
    if (g_override) return *g_override;
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb")) {
#ifdef VELQORA_HAVE_XCB
        return x11CompositorRunning();
#else
        return false;  // cannot ask: opaque is always readable
#endif
    }
    // Framebuffer and remote back ends have no compositor; the others
    // (Wayland, Windows, macOS, offscreen) blend translucent windows.
    return !(platform == QLatin1String("linuxfb") || platform == QLatin1String("vnc") ||
             platform == QLatin1String("eglfs") || platform == QLatin1String("minimal"));
}
