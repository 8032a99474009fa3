// Kept apart from the window code: Xlib's global `Window` type clashes with DGL's.
#include "app/shell/ThraskVellApp.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <string>

namespace thraskvell {

std::shared_ptr<void> ThraskVellApp::connectToDisplay(std::string& problem) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        problem = wayland && *wayland
                      ? "ThraskVell: no X11 display (DISPLAY is not set); under Wayland it needs XWayland"
                      : "ThraskVell: no display to open a window on (DISPLAY is not set)";
        return nullptr;
    }
    // The window's toolkit turns on Xlib's thread support, which has to come before any connection.
    XInitThreads();
    Display* connection = XOpenDisplay(nullptr);
    if (!connection) {
        problem = "ThraskVell: cannot open display \"" + std::string(display) + "\"";
        return nullptr;
    }
    return std::shared_ptr<void>(connection, [](void* c) { XCloseDisplay(static_cast<Display*>(c)); });
}

} // namespace thraskvell
