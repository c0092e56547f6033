#include "display_check.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <string>

std::string displayProblem() {
    // A platform other than X11 chosen for the toolkit (offscreen, wayland) is its own business.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0' && std::string(platform).rfind("xcb", 0) != 0) {
        return {};
    }
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        return "no display: the DISPLAY environment variable is not set, so no window can be opened";
    }
    Display* connection = XOpenDisplay(display);
    if (connection == nullptr) {
        return std::string("no display: cannot connect to the X display \"") + display +
               "\", so no window can be opened";
    }
    XCloseDisplay(connection);
    return {};
}
