// GTK 3: the start-up layout in the work area of the monitor the panel opened on, with the frames
// the window manager draws, read from GDK; the windows themselves are moved and sized through the
// library. The library's windows are GTK top-level windows, found by their titles.
#include "window/window_arrangement.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/highgui.hpp>

#include "window/plain/library_windows.h"

namespace {

constexpr int kThinRatio = 64;
constexpr int kLargestWindow = 32767;

GtkWindow* toplevelTitled(const char* title) {
    GtkWindow* found = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr && found == nullptr; item = item->next) {
        GtkWindow* window = GTK_WINDOW(item->data);
        const gchar* text = gtk_window_get_title(window);
        if (text != nullptr && std::string(text) == title) found = window;
    }
    g_list_free(windows);
    return found;
}

// The panel shows its sliders and nothing else: the library's picture area below them (the one
// child of the window's box that is no slider row) goes, and every slider gets a groove long
// enough for a mouse to reach each of its steps, the same length for all so they line up.
void fitPanelToSliders(GtkWindow* panel) {
    GtkWidget* box = gtk_bin_get_child(GTK_BIN(panel));
    if (box == nullptr || !GTK_IS_CONTAINER(box)) return;
    std::vector<GtkWidget*> sliders;
    int longest = 0;
    GList* rows = gtk_container_get_children(GTK_CONTAINER(box));
    for (GList* row = rows; row != nullptr; row = row->next) {
        if (!GTK_IS_BOX(row->data)) {
            gtk_widget_hide(GTK_WIDGET(row->data));
            continue;
        }
        GList* parts = gtk_container_get_children(GTK_CONTAINER(row->data));
        for (GList* part = parts; part != nullptr; part = part->next) {
            if (!GTK_IS_RANGE(part->data)) continue;
            GtkAdjustment* steps = gtk_range_get_adjustment(GTK_RANGE(part->data));
            longest = std::max(longest, static_cast<int>(gtk_adjustment_get_upper(steps) - gtk_adjustment_get_lower(steps)) + 1);
            sliders.push_back(GTK_WIDGET(part->data));
        }
        g_list_free(parts);
    }
    g_list_free(rows);
    // One pixel per step, plus room for the handle at either end.
    for (GtkWidget* slider : sliders) gtk_widget_set_size_request(slider, longest + 40, -1);
    gtk_window_resize(panel, 1, 1);  // as small as its content allows
}

// The library's picture area in one of its windows: the child of the window's box that is no
// slider row.
GtkWidget* pictureArea(GtkWindow* window) {
    GtkWidget* box = window != nullptr ? gtk_bin_get_child(GTK_BIN(window)) : nullptr;
    if (box == nullptr || !GTK_IS_CONTAINER(box)) return nullptr;
    GtkWidget* area = nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(box));
    for (GList* child = children; child != nullptr; child = child->next) {
        if (!GTK_IS_BOX(child->data)) area = GTK_WIDGET(child->data);
    }
    g_list_free(children);
    return area;
}

// A resizable picture window asks for at least the size its picture area has now, so once a large
// picture is shown it could never shrink: the area is made small first, and the window's new
// size then decides.
void letShrink(const WindowName& window) {
    GtkWidget* area = pictureArea(toplevelTitled(window.title));
    GdkWindow* surface = area != nullptr ? gtk_widget_get_window(area) : nullptr;
    if (surface != nullptr) gdk_window_resize(surface, 1, 1);
}

// That least size also outlives the shrinking whenever the window's size is not the program's to
// decide: a window manager slow to answer lays the window out again at its old size first, and a
// tiling one, or a Wayland compositor, gives a size the window cannot take below it. The picture
// areas of scaling windows are asked for their least size through the library's own answer, with
// no least size of their own.
using SizeQuery = void (*)(GtkWidget*, gint*, gint*);
SizeQuery libraryWidth = nullptr;
SizeQuery libraryHeight = nullptr;
std::vector<GtkWidget*> scalingAreas;

bool scales(GtkWidget* area) { return std::find(scalingAreas.begin(), scalingAreas.end(), area) != scalingAreas.end(); }
void anyWidth(GtkWidget* area, gint* least, gint* natural) {
    libraryWidth(area, least, natural);
    if (scales(area)) *least = 1;
}
void anyHeight(GtkWidget* area, gint* least, gint* natural) {
    libraryHeight(area, least, natural);
    if (scales(area)) *least = 1;
}

void letShrinkAlways(const WindowName& window) {
    GtkWidget* area = pictureArea(toplevelTitled(window.title));
    if (area == nullptr) return;
    GtkWidgetClass* kind = GTK_WIDGET_GET_CLASS(area);
    if (kind->get_preferred_width != anyWidth) {
        libraryWidth = kind->get_preferred_width;
        libraryHeight = kind->get_preferred_height;
        kind->get_preferred_width = anyWidth;
        kind->get_preferred_height = anyHeight;
    }
    if (!scales(area)) {
        scalingAreas.push_back(area);
        // Forgotten when the library destroys the window (a closed GTK window is gone).
        g_signal_connect(area, "destroy", G_CALLBACK(+[](GtkWidget* gone, gpointer) {
            scalingAreas.erase(std::remove(scalingAreas.begin(), scalingAreas.end(), gone), scalingAreas.end());
        }), nullptr);
    }
    gtk_widget_queue_resize(area);
}

// The library forgets any key that reaches it before the key loop first waits, so keys typed while
// the windows are being arranged (a quick q) are held back meanwhile and handed on afterwards.
class KeysHeld {
public:
    KeysHeld() { gdk_event_handler_set(hold, this, nullptr); }
    ~KeysHeld() {
        gdk_event_handler_set(passOn, nullptr, nullptr);
        for (GdkEvent* event : held_) {
            gdk_event_put(event);
            gdk_event_free(event);
        }
    }
    KeysHeld(const KeysHeld&) = delete;
    KeysHeld& operator=(const KeysHeld&) = delete;

private:
    // What GTK itself hands each event to.
    static void passOn(GdkEvent* event, gpointer /*unused*/) { gtk_main_do_event(event); }
    static void hold(GdkEvent* event, gpointer self) {
        if (event->type == GDK_KEY_PRESS || event->type == GDK_KEY_RELEASE) {
            static_cast<KeysHeld*>(self)->held_.push_back(gdk_event_copy(event));
        } else {
            gtk_main_do_event(event);
        }
    }
    std::vector<GdkEvent*> held_;
};

// Lets the toolkit and the window manager catch up: new windows get mapped and framed.
void settle(int rounds) {
    for (int i = 0; i < rounds; ++i) {
        while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
        g_usleep(10000);
    }
}

// Whether the session is sway's: sway tells its programs its socket, and a session started as
// sway's names it among the current desktops.
bool onSway() {
    const char* socket = std::getenv("SWAYSOCK");
    if (socket != nullptr && *socket != '\0') return true;
    const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
    std::string list = desktops != nullptr ? desktops : "";
    for (char& c : list) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return (":" + list + ":").find(":sway:") != std::string::npos;
}

// What the window manager adds around a window: its frame's extents less the window's own place.
cv::Vec4i frameOf(GtkWindow* window) {
    GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(window));
    if (surface == nullptr) return {};
    GdkRectangle outer{};
    gdk_window_get_frame_extents(surface, &outer);
    int x = 0;
    int y = 0;
    gdk_window_get_origin(surface, &x, &y);
    const int width = gdk_window_get_width(surface);
    const int height = gdk_window_get_height(surface);
    return {std::max(0, x - outer.x), std::max(0, y - outer.y), std::max(0, outer.x + outer.width - x - width),
            std::max(0, outer.y + outer.height - y - height)};
}

}  // namespace

std::string useSessionDisplay(const std::string& display, bool xServer) {
    const char* chosen = std::getenv("GDK_BACKEND");
    if (chosen != nullptr && *chosen != '\0') {
        if (xServer || std::string(chosen).find("wayland") != std::string::npos) return {};
        return std::string("GDK_BACKEND=") + chosen + " keeps GTK from drawing on the Wayland display \"" + display + "\"";
    }
    // GTK 3 draws on Wayland itself; told which, since it would pick Wayland beside an X server
    // and X first beside a stale DISPLAY. Not X on sway: sway tiles X windows as it tiles its
    // own, so X brings no say in places there, and it answers a tiled X window's resize with the
    // size the window has, sending no configure event, for which GTK 3 then holds back every
    // drawing of that window.
    ::setenv("GDK_BACKEND", xServer && !onSway() ? "x11" : "wayland", 1);
    return {};
}

// The library fits a picture into its area keeping its shape, and fails on a side that comes to
// no pixel at all, which a long thin picture does in any window shorter than half its length over
// its width: such a picture is shown at 1:1, in a window as large as the picture, which the window
// system can hold up to 32767 pixels a side.
int pictureWindowFlags(cv::Size picture) {
    const int longSide = std::max(picture.width, picture.height);
    const int shortSide = std::min(picture.width, picture.height);
    if (static_cast<int64_t>(shortSide) * kThinRatio >= longSide) {
        return cv::WINDOW_NORMAL | cv::WINDOW_KEEPRATIO | cv::WINDOW_GUI_NORMAL;
    }
    // The limit is in device pixels, the picture shown in the desktop's scaled ones.
    GdkScreen* screen = gdk_screen_get_default();
    const int scale = screen != nullptr ? std::max(1, gdk_window_get_scale_factor(gdk_screen_get_root_window(screen))) : 1;
    if (static_cast<int64_t>(longSide) * scale > kLargestWindow) {
        throw std::runtime_error("a " + std::to_string(picture.width) + "x" + std::to_string(picture.height) +
                                 " picture is too long and thin for GTK windows to show");
    }
    return cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL;
}

void openWindow(const WindowName& window, int flags) { library_windows::open(window, flags); }

// The library destroys a window that is closed.
bool windowClosed(const WindowName& window) { return library_windows::closed(window); }

void arrangeWindows(cv::Size picture, bool windowManager, const std::vector<const char*>& sliderLabels) {
    const int sliders = static_cast<int>(sliderLabels.size());
    const KeysHeld keys;
    settle(windowManager ? 20 : 3);
    GtkWindow* panel = toplevelTitled(panelWindow.title);
    GdkDisplay* display = gdk_display_get_default();
    GdkWindow* surface = panel != nullptr ? gtk_widget_get_window(GTK_WIDGET(panel)) : nullptr;
    GdkMonitor* monitor = surface != nullptr && display != nullptr ? gdk_display_get_monitor_at_window(display, surface)
                                                                   : nullptr;
    if (monitor == nullptr) {
        library_windows::arrange(picture, cv::Rect(0, 0, 1280, 720), {}, library_windows::panelSize(sliders));
        return;
    }
    fitPanelToSliders(panel);
    settle(3);
    GdkRectangle work{};
    gdk_monitor_get_workarea(monitor, &work);
    // The panel as large as its sliders ask, even before the window system has answered its
    // resize (through XWayland that can take longer than a few rounds): waited for a little,
    // then taken as asked, so that no picture window is placed over it. Asked of its content,
    // which is what the window's size counts (not the decorations GTK draws on Wayland).
    GtkRequisition asked{};
    if (GtkWidget* content = gtk_bin_get_child(GTK_BIN(panel))) gtk_widget_get_preferred_size(content, &asked, nullptr);
    int panelWidth = 0;
    int panelHeight = 0;
    for (int round = 0; round < 50; ++round) {
        gtk_window_get_size(panel, &panelWidth, &panelHeight);
        if (panelWidth >= asked.width && panelHeight >= asked.height) break;
        settle(1);
    }
    panelWidth = std::max(panelWidth, asked.width);
    panelHeight = std::max(panelHeight, asked.height);
    const cv::Rect area(work.x, work.y, work.width, work.height);
    const cv::Vec4i frame = frameOf(panel);
    const cv::Size panelSize(std::max(panelWidth, library_windows::panelSize(sliders).width), std::max(panelHeight, 1));
    const int scale = std::max(1, gdk_monitor_get_scale_factor(monitor));
    const cv::Size units = library_windows::pictureUnits(picture, area, frame, panelSize, scale);
    const tonemorph::WindowLayout layout = library_windows::arrange(units, area, frame, panelSize);
    if (!layout.oneToOne || scale > 1) {
        // Shown scaled: asked again once the picture areas may shrink (at 1:1 they keep the
        // picture's own size, which a shrunk area would then scale by a pixel).
        for (const WindowName* window : {&sourceWindow, &effectWindow}) {
            if ((pictureWindowFlags(picture) & cv::WINDOW_AUTOSIZE) == 0) letShrinkAlways(*window);
            letShrink(*window);
            cv::resizeWindow(window->id, layout.view.width, layout.view.height);
        }
        // A Wayland compositor placed each window when it first appeared, at the picture's own
        // size, and keeps that place as the window shrinks (off the screen, for a photo): shown
        // anew, they are placed at their new sizes.
        if (std::string(G_OBJECT_TYPE_NAME(display)).find("Wayland") != std::string::npos) {
            settle(5);
            for (const WindowName* window : {&sourceWindow, &effectWindow}) {
                if (GtkWindow* top = toplevelTitled(window->title)) {
                    gtk_widget_hide(GTK_WIDGET(top));
                    gtk_widget_show(GTK_WIDGET(top));
                }
            }
        }
    }
    settle(windowManager ? 10 : 3);
    // GTK gives a tiny picture a window larger than the picture.
    int width = 0;
    int height = 0;
    if (GtkWindow* source = toplevelTitled(sourceWindow.title)) gtk_window_get_size(source, &width, &height);
    library_windows::keepApart(layout, units, area, frame, panelSize, cv::Size(width, height));
    settle(3);
}
