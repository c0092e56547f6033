// Puts the three windows where a person can use them: everything inside the usable screen area,
// the source and effect pictures side by side (or stacked), the panel beside them, and pictures
// larger than their place shown whole, scaled down. Works through the GUI toolkit behind the
// image library, one implementation per toolkit (src/window/qt, gtk3, win32, and plain with
// the library's own calls for every other backend).
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "window/window_names.h"

// Called when a Wayland compositor answers at display; xServer: whether an X server answers too
// (the session's XWayland). Unless the user chose where the toolkit draws, it is told: through X
// where there is one, since only there may a program place its windows, on Wayland otherwise.
// Returns empty, or why the toolkit cannot draw on Wayland (a package to install, for one).
std::string useSessionDisplay(const std::string& display, bool xServer);

// Opens one of the three windows under its id, its title shown exactly.
void openWindow(const WindowName& window, int flags);

// Whether the user has closed the window. Backends differ (some destroy a closed window, Qt only
// hides it); here a closed window counts as closed either way, and nothing is shown in it again.
bool windowClosed(const WindowName& window);

// The picture windows are created resizable so that no window ever grows past the screen (or
// past what the window system can hold) before it is arranged. picture: the size they will show.
int pictureWindowFlags(cv::Size picture);

// Call once the three windows and the sliders exist. windowManager: whether a window manager
// runs, whose frames are then waited for, since they take part in the layout.
// sliderLabels: the panel's sliders, top to bottom, as the control panel made them.
void arrangeWindows(cv::Size picture, bool windowManager, const std::vector<const char*>& sliderLabels);
