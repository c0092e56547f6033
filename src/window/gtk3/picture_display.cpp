// GTK 3: the picture windows' sizes are followed through their picture areas' allocations. The
// library draws its picture in the desktop's scaled units, smoothing it up to the screen's pixels
// on a scaled desktop; once followed, the areas are drawn here instead, at the screen's own pixels,
// and handed a canvas of the area's size in them. GTK's windows have no zoom.
#include "window/picture_display.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <string>

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include "window/followed_views.h"

namespace {

using Followed = FollowedView<GtkWidget*>;
FollowedViews<GtkWidget*> followed;

// What each picture area was last handed, as cairo takes it (4 bytes a pixel), where drawn here.
cv::Mat drawn[2];
cv::Mat& drawnIn(const Followed& entry) { return drawn[entry.window == &effectWindow ? 1 : 0]; }

int scaleOf(GtkWidget* area) { return std::max(1, gtk_widget_get_scale_factor(area)); }

// The part of the area its window shows, in the desktop's units: a tiling window manager may hand
// the window less than the area was last allocated (seen through XWayland on sway), and what lies
// past the window is never seen.
cv::Size visibleSize(GtkWidget* area) {
    GtkAllocation allocation{};
    gtk_widget_get_allocation(area, &allocation);
    int width = allocation.width;
    int height = allocation.height;
    GtkWidget* top = gtk_widget_get_toplevel(area);
    if (GdkWindow* frame = top != nullptr ? gtk_widget_get_window(top) : nullptr) {
        width = std::min(width, gdk_window_get_width(frame) - std::max(0, allocation.x));
        height = std::min(height, gdk_window_get_height(frame) - std::max(0, allocation.y));
    }
    return width > 0 && height > 0 ? cv::Size(width, height) : cv::Size();
}

// In the screen's own pixels: the handed picture at the largest whole factor that fits, centred,
// or scaled down where it is larger than the area (only until the canvas of its size is handed).
gboolean drawArea(GtkWidget* area, cairo_t* cr, gpointer data) {
    const cv::Mat& pixels = drawnIn(*static_cast<Followed*>(data));
    if (pixels.empty()) return TRUE;
    const int scale = scaleOf(area);
    const cv::Size seen = visibleSize(area);
    if (seen.empty()) return TRUE;
    const double width = seen.width * scale;
    const double height = seen.height * scale;
    double factor = std::min(width / pixels.cols, height / pixels.rows);
    if (factor >= 1) factor = std::floor(factor);
    cairo_surface_t* surface = cairo_image_surface_create_for_data(const_cast<uchar*>(pixels.data), CAIRO_FORMAT_RGB24,
                                                                   pixels.cols, pixels.rows, static_cast<int>(pixels.step));
    cairo_surface_set_device_scale(surface, scale, scale);
    cairo_save(cr);
    // Whole screen pixels from the area's corner, in the area's units.
    cairo_translate(cr, std::floor((width - pixels.cols * factor) / 2) / scale,
                    std::floor((height - pixels.rows * factor) / 2) / scale);
    cairo_scale(cr, factor, factor);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), factor >= 1 ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    cairo_rectangle(cr, 0, 0, static_cast<double>(pixels.cols) / scale, static_cast<double>(pixels.rows) / scale);
    cairo_fill(cr);
    cairo_restore(cr);
    cairo_surface_destroy(surface);
    return TRUE;
}

// The library's own drawing of the area gives way to drawArea's.
void drawHere(Followed& entry) {
    const guint draw = g_signal_lookup("draw", GTK_TYPE_WIDGET);
    const gulong library = g_signal_handler_find(entry.widget, G_SIGNAL_MATCH_ID, draw, 0, nullptr, nullptr, nullptr);
    if (library != 0) g_signal_handler_block(entry.widget, library);
    g_signal_connect(entry.widget, "draw", G_CALLBACK(drawArea), &entry);
}

GtkWidget* pictureAreaOf(const WindowName& window) {
    GtkWidget* found = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr && found == nullptr; item = item->next) {
        const gchar* title = gtk_window_get_title(GTK_WINDOW(item->data));
        if (title == nullptr || std::string(title) != window.title) continue;
        // The child of the window's box that is no slider row.
        GtkWidget* box = gtk_bin_get_child(GTK_BIN(item->data));
        if (box == nullptr || !GTK_IS_CONTAINER(box)) continue;
        GList* children = gtk_container_get_children(GTK_CONTAINER(box));
        for (GList* child = children; child != nullptr; child = child->next) {
            if (!GTK_IS_BOX(child->data)) found = GTK_WIDGET(child->data);
        }
        g_list_free(children);
    }
    g_list_free(windows);
    return found;
}

// After the toolkit has finished laying the window out: showing a picture from inside the layout
// would ask for another.
gboolean reportSize(gpointer data) {
    Followed* entry = static_cast<Followed*>(data);
    entry->pending = false;
    if (entry->widget != nullptr) followed.tellNewSize(*entry);
    return G_SOURCE_REMOVE;
}

void onAllocated(GtkWidget* /*area*/, GdkRectangle* /*allocation*/, gpointer data) {
    Followed* entry = static_cast<Followed*>(data);
    if (entry->pending) return;
    entry->pending = true;
    g_idle_add(reportSize, entry);
}

void onDestroyed(GtkWidget* /*area*/, gpointer data) {
    Followed* entry = static_cast<Followed*>(data);
    entry->widget = nullptr;
    drawnIn(*entry).release();
}

}  // namespace

cv::Size viewSize(const WindowName& window, cv::Size /*picture*/) {
    const Followed* entry = followed.find(window);
    if (entry == nullptr || entry->widget == nullptr) return {};
    // A window sized to its picture (a long thin one) would grow with whatever it is handed.
    if (cv::getWindowProperty(window.id, cv::WND_PROP_AUTOSIZE) == 1) return {};
    const cv::Size seen = visibleSize(entry->widget);
    if (seen.empty()) return {};
    const int scale = scaleOf(entry->widget);
    return seen * scale;
}

void viewHanded(const WindowName& window, const cv::Mat& shown) {
    Followed* entry = followed.find(window);
    if (entry == nullptr || entry->widget == nullptr) return;
    cv::Mat& pixels = drawnIn(*entry);
    const int code = shown.channels() == 1 ? cv::COLOR_GRAY2BGRA : shown.channels() == 3 ? cv::COLOR_BGR2BGRA : -1;
    if (code < 0) {
        shown.copyTo(pixels);
    } else {
        cv::cvtColor(shown, pixels, code);
    }
    gtk_widget_queue_draw(entry->widget);
}

void followPictureViews(void (*changed)(const WindowName&), FailureSink failed) {
    followed.follow(changed, failed);
    for (Followed& entry : followed) {
        entry.widget = pictureAreaOf(*entry.window);
        if (entry.widget == nullptr) continue;
        g_signal_connect_after(entry.widget, "size-allocate", G_CALLBACK(onAllocated), &entry);
        g_signal_connect(entry.widget, "destroy", G_CALLBACK(onDestroyed), &entry);
        drawHere(entry);
        followed.tellArranged(entry);
    }
}

void pictureZoomChanged(const WindowName& /*window*/, bool /*zoomedIn*/) {}
