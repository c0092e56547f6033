// The three windows through the library's own window calls only, which every backend has: for
// the window code of any toolkit, and all of it where the toolkit is none this program knows.
#pragma once

#include <opencv2/core.hpp>

#include "core/window_layout.h"
#include "window/window_names.h"

namespace library_windows {

// Opens a window under its ASCII id and shows its title.
void open(const WindowName& window, int flags);

// Closed by the user: destroyed (most backends) or hidden (Qt).
bool closed(const WindowName& window);

// What the library itself can tell of the panel's size: at least room for its sliders.
cv::Size panelSize(int sliders);

// Lays the windows out in area (the usable screen, as far as it is known) with the given frame
// margins (left, top, right, bottom), moving and sizing them with the library's calls; pictures
// too large for their place are shown scaled down whole.
// Returns the layout it asked for.
tonemorph::WindowLayout arrange(cv::Size picture, const cv::Rect& area, const cv::Vec4i& frame, cv::Size panel);

// The picture's size in the toolkit's units for that layout on a screen showing scale of its own
// pixels per unit (pictureUnits in core/window_layout.h).
cv::Size pictureUnits(cv::Size picture, const cv::Rect& area, const cv::Vec4i& frame, cv::Size panel, double scale);

// Once the picture windows have taken their size: where the toolkit made them larger than the
// view (a tiny picture), the effect window moves along so the two do not overlap.
void keepApart(tonemorph::WindowLayout layout, cv::Size picture, const cv::Rect& area, const cv::Vec4i& frame,
               cv::Size panel, cv::Size window);

}  // namespace library_windows
