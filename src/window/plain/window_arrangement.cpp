// Any backend without window code of its own here (Cocoa, GTK 2 or 4, Wayland, the framebuffer):
// the library's window calls only. They tell no screen size, so the layout assumes the smallest
// common desktop, 1280x720 at the top left: pictures larger than their half of it are shown
// scaled down, and a larger screen simply has room to spare.
#include "window/window_arrangement.h"

#include <opencv2/highgui.hpp>

#include "window/plain/library_windows.h"

std::string useSessionDisplay(const std::string& display, bool xServer) {
    if (xServer) return {};
    return "the window backend of this OpenCV build is not known to draw on the Wayland display \"" + display + "\"";
}

int pictureWindowFlags(cv::Size) { return cv::WINDOW_NORMAL | cv::WINDOW_KEEPRATIO | cv::WINDOW_GUI_NORMAL; }

void openWindow(const WindowName& window, int flags) { library_windows::open(window, flags); }

bool windowClosed(const WindowName& window) { return library_windows::closed(window); }

void arrangeWindows(cv::Size picture, bool windowManager, const std::vector<const char*>& sliderLabels) {
    // A title bar of some 30 pixels where a window manager draws one.
    library_windows::arrange(picture, cv::Rect(0, 0, 1280, 720), cv::Vec4i(0, windowManager ? 30 : 0, 0, 0),
                             library_windows::panelSize(static_cast<int>(sliderLabels.size())));
}
