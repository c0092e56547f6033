// GTK 3: the picture windows' sizes are followed through their picture areas' allocations. The
// library draws a picture in the desktop's scaled units, so the size given is in those units, and
// fits it into its area keeping its shape, as the size given does. GTK's windows have no zoom.
#include "window/picture_display.h"

#include <gtk/gtk.h>

#include <string>

#include "window/followed_views.h"

namespace {

using Followed = FollowedView<GtkWidget*>;
FollowedViews<GtkWidget*> followed;

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

void onDestroyed(GtkWidget* /*area*/, gpointer data) { static_cast<Followed*>(data)->widget = nullptr; }

}  // namespace

cv::Size scaledViewSize(const WindowName& window, cv::Size picture) {
    const Followed* entry = followed.find(window);
    if (entry == nullptr || entry->widget == nullptr) return {};
    const int width = gtk_widget_get_allocated_width(entry->widget);
    const int height = gtk_widget_get_allocated_height(entry->widget);
    if (width <= 0 || height <= 0 || picture.empty()) return {};
    // Where the library draws the picture in that area: as large as fits with its shape kept,
    // reckoned as the library reckons it.
    const float aspect = static_cast<float>(picture.width) / static_cast<float>(picture.height);
    const float areaAspect = static_cast<float>(width) / static_cast<float>(height);
    const cv::Size view = aspect > areaAspect ? cv::Size(width, cvRound(width / aspect))
                                              : cv::Size(cvRound(height * aspect), height);
    const bool smaller = view.width <= picture.width && view.height <= picture.height && view.area() < picture.area();
    return smaller && view.width > 0 && view.height > 0 ? view : cv::Size();
}

void followPictureViews(void (*changed)(const WindowName&), FailureSink failed) {
    followed.follow(changed, failed);
    for (Followed& entry : followed) {
        entry.widget = pictureAreaOf(*entry.window);
        if (entry.widget == nullptr) continue;
        g_signal_connect_after(entry.widget, "size-allocate", G_CALLBACK(onAllocated), &entry);
        g_signal_connect(entry.widget, "destroy", G_CALLBACK(onDestroyed), &entry);
        followed.tellArranged(entry);
    }
}

void pictureZoomChanged(const WindowName& /*window*/, bool /*zoomedIn*/) {}
