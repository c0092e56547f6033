#include "platform/display_check.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

xcb_connection_t* heldConnection = nullptr;
bool managed = false;

// Whether a window manager announces itself on the root window of the chosen screen.
bool hasWindowManager(xcb_connection_t* connection, int screenNumber) {
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem == 0) return false;
    static const char kName[] = "_NET_SUPPORTING_WM_CHECK";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, sizeof kName - 1, kName), nullptr);
    if (atom == nullptr) return false;
    const xcb_atom_t check = atom->atom;
    std::free(atom);
    if (check == XCB_ATOM_NONE) return false;
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, screens.data->root, check, XCB_ATOM_WINDOW, 0, 1),
        nullptr);
    const bool found = property != nullptr && xcb_get_property_value_length(property) == 4;
    std::free(property);
    return found;
}

// A connection that got through the handshake and answers a round trip. xcb, unlike Xlib, never
// ends the process when the server drops the connection.
xcb_connection_t* connectAndPing(const char* display) {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(display, &screen);
    if (xcb_connection_has_error(connection) == 0) {
        xcb_get_input_focus_reply_t* reply =
            xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
        if (reply != nullptr) {
            std::free(reply);
            managed = hasWindowManager(connection, screen);
            return connection;
        }
    }
    xcb_disconnect(connection);
    return nullptr;
}

// The Wayland display WAYLAND_DISPLAY names (a socket in XDG_RUNTIME_DIR, or a path) when a
// compositor accepts a connection on it; empty otherwise.
std::string answeringWaylandDisplay() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name == nullptr || *name == '\0') return {};
    std::string path = name;
    if (path.front() != '/') {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (runtime == nullptr || *runtime == '\0') return {};
        path = std::string(runtime) + "/" + path;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return {};
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) return {};
    const bool answers = ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(socket);
    return answers ? std::string(name) : std::string();
}

}  // namespace

std::string displayProblem(std::string (*useSession)(const std::string& display, bool xServer)) {
    // A platform other than X11 chosen for the toolkit (offscreen, wayland) is its own business.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0' && std::string(platform).rfind("xcb", 0) != 0) {
        return {};
    }
    const std::string wayland = answeringWaylandDisplay();
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0') {
        // A server in the middle of a reset (its last client just left) refuses or drops
        // connections for a moment; only a display that stays unreachable is reported. Beside a
        // live Wayland display, a dead X one is not waited for long.
        const int attempts = wayland.empty() ? 8 : 2;
        for (int attempt = 0; attempt < attempts; ++attempt) {
            heldConnection = connectAndPing(display);
            if (heldConnection != nullptr) {
                if (!wayland.empty() && useSession != nullptr) useSession(wayland, true);
                return {};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25 << std::min(attempt, 3)));
        }
    }
    if (!wayland.empty() && useSession != nullptr) {
        const std::string lacking = useSession(wayland, false);
        if (lacking.empty()) return {};
        return "no display: no X server can be reached, and " + lacking;
    }
    if (display == nullptr || *display == '\0') {
        return "no display: the DISPLAY environment variable is not set, so no window can be opened";
    }
    return std::string("no display: cannot connect to the X display \"") + display +
           "\", so no window can be opened";
}

bool windowManagerRunning() { return managed; }

void releaseDisplayCheck() {
    if (heldConnection == nullptr) return;
    xcb_disconnect(heldConnection);
    heldConnection = nullptr;
}
