// The three windows through the library's own window calls only, which every backend has: for
// the window code of any toolkit, and all of it where the toolkit is none this program knows.
#pragma once

#include <opencv2/core.hpp>

#include "window_names.h"

namespace library_windows {

// Opens a window under its ASCII id and shows its title.
void open(const WindowName& window, int flags);

// Closed by the user: destroyed (most backends) or hidden (Qt).
bool closed(const WindowName& window);

// What the library itself can tell of the panel's size: at least room for its sliders.
cv::Size panelSize();

// Lays the windows out in area (the usable screen, as far as it is known) with the given frame
// margins (left, top, right, bottom), moving and sizing them with the library's calls; pictures
// too large for their place are shown scaled down whole.
void arrange(cv::Size picture, const cv::Rect& area, const cv::Vec4i& frame, cv::Size panel);

}  // namespace library_windows
