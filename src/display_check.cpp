#include "display_check.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

xcb_connection_t* heldConnection = nullptr;

// A connection that got through the handshake and answers a round trip. xcb, unlike Xlib, never
// ends the process when the server drops the connection.
xcb_connection_t* connectAndPing(const char* display) {
    xcb_connection_t* connection = xcb_connect(display, nullptr);
    if (xcb_connection_has_error(connection) == 0) {
        xcb_get_input_focus_reply_t* reply =
            xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
        if (reply != nullptr) {
            std::free(reply);
            return connection;
        }
    }
    xcb_disconnect(connection);
    return nullptr;
}

}  // namespace

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
    // A server in the middle of a reset (its last client just left) refuses or drops connections
    // for a moment; only a display that stays unreachable is reported.
    constexpr int kAttempts = 8;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        heldConnection = connectAndPing(display);
        if (heldConnection != nullptr) return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(25 << std::min(attempt, 3)));
    }
    return std::string("no display: cannot connect to the X display \"") + display +
           "\", so no window can be opened";
}

void releaseDisplayCheck() {
    if (heldConnection == nullptr) return;
    xcb_disconnect(heldConnection);
    heldConnection = nullptr;
}
