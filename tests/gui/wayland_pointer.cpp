// A pointer for a wlroots compositor that has no input devices (sway run headless): moves to
// points of the screen and clicks there, through the compositor's virtual-pointer protocol, as a
// mouse would. Usage: wayland_pointer WIDTH HEIGHT, then one command a line on standard input
// ("move X Y", "click X Y", "press", "release"), each answered "ok" once the compositor has it.
// The pointer lives as long as the program: sway 1.7 crashes when a virtual pointer goes away.
// The protocol's two interfaces are declared here (wayland-scanner's usual output, written out)
// since Debian ships no copy of wlroots' protocol files.
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <chrono>
#include <string>
#include <thread>

namespace {

const wl_interface pointerInterface = [] {
    static const wl_interface* none[5] = {};
    static const wl_message requests[] = {
        {"motion", "uff", none},          {"motion_absolute", "uuuuu", none},
        {"button", "uuu", none},          {"axis", "uuf", none},
        {"frame", "", none},              {"axis_source", "u", none},
        {"axis_stop", "uu", none},        {"axis_discrete", "uufi", none},
        {"destroy", "", none},
    };
    return wl_interface{"zwlr_virtual_pointer_v1", 1, 9, requests, 0, nullptr};
}();

const wl_interface managerInterface = [] {
    static const wl_interface* createTypes[] = {&wl_seat_interface, &pointerInterface};
    static const wl_message requests[] = {
        {"create_virtual_pointer", "?on", createTypes},
        {"destroy", "", nullptr},
    };
    return wl_interface{"zwlr_virtual_pointer_manager_v1", 1, 2, requests, 0, nullptr};
}();

enum PointerRequest { kMotionAbsolute = 1, kButton = 2, kFrame = 4 };
constexpr uint32_t kLeftButton = 0x110;  // BTN_LEFT

struct Globals {
    wl_seat* seat = nullptr;
    wl_proxy* manager = nullptr;
};

void announced(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, "wl_seat") == 0 && globals->seat == nullptr) {
        globals->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, managerInterface.name) == 0) {
        globals->manager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &managerInterface, 1));
    }
}
void removed(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registryListener{announced, removed};

uint32_t milliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: wayland_pointer WIDTH HEIGHT < commands\n");
        return 2;
    }
    const uint32_t width = static_cast<uint32_t>(std::atoi(argv[1]));
    const uint32_t height = static_cast<uint32_t>(std::atoi(argv[2]));

    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "wayland_pointer: no Wayland display\n");
        return 1;
    }
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    wl_display_roundtrip(display);
    if (globals.seat == nullptr || globals.manager == nullptr) {
        std::fprintf(stderr, "wayland_pointer: the compositor offers no virtual pointer\n");
        return 1;
    }
    wl_proxy* pointer = wl_proxy_marshal_constructor(globals.manager, 0, &pointerInterface, globals.seat, nullptr);
    const auto button = [&](uint32_t state) {
        wl_proxy_marshal(pointer, kButton, milliseconds(), kLeftButton, state);
        wl_proxy_marshal(pointer, kFrame);
    };
    char line[256];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        char command[16] = {};
        unsigned x = 0;
        unsigned y = 0;
        const int read = std::sscanf(line, "%15s %u %u", command, &x, &y);
        const std::string what = read >= 1 ? command : "";
        if ((what == "move" || what == "click") && read == 3) {
            wl_proxy_marshal(pointer, kMotionAbsolute, milliseconds(), x, y, width, height);
            wl_proxy_marshal(pointer, kFrame);
        }
        if (what == "click") {
            // The program sees the pointer arrive before the press, as it would a hand's: GTK 3
            // ignores a press in the same moment the pointer entered its window.
            wl_display_roundtrip(display);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (what == "click" || what == "press") button(1);
        if (what == "click" || what == "release") {
            if (what == "click") wl_display_roundtrip(display);  // a press and release apart, as a hand makes them
            button(0);
        }
        if (wl_display_roundtrip(display) < 0) return 1;
        std::printf("ok\n");
        std::fflush(stdout);
    }
    wl_display_disconnect(display);
    return 0;
}
