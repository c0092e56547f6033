// Puts the three windows where a person can use them: everything inside the usable screen area,
// the source and effect pictures side by side (or stacked), the panel beside them, and pictures
// larger than their place shown whole, scaled down. Works through the GUI toolkit behind the
// image library (Qt); where it cannot read the screen, the pictures are shown 1:1 as they come.
#pragma once

#include <opencv2/core.hpp>

// The picture windows are created resizable so that no window ever grows past the screen (or
// past what the window system can hold) before it is arranged.
int pictureWindowFlags();

// Call once the three windows and the sliders exist. windowManager: whether a window manager
// runs, whose frames are then waited for, since they take part in the layout.
void arrangeWindows(cv::Size picture, bool windowManager);
