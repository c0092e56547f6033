// What the toolkit tells of how a picture window shows its picture: whether it shows it scaled
// down, at what size in the screen's own pixels, and when that changes. Where it shows it scaled,
// the window is handed exactly the pixels it shows (picture_view.h); zoomed in, and where the
// toolkit does not let us follow the window, it gets the picture itself.
#pragma once

#include <opencv2/core.hpp>

#include "window/toolkit_failure.h"
#include "window/window_names.h"

// The size in device pixels of window's picture area while it shows a picture of size picture
// whole and scaled down, and is not zoomed in; empty otherwise.
cv::Size scaledViewSize(const WindowName& window, cv::Size picture);

// Once the windows are arranged: changed(window) is called whenever what scaledViewSize gives for
// a picture window may have changed (a resize, a zoom step). failed hears of a failure inside the
// toolkit's callbacks.
void followPictureViews(void (*changed)(const WindowName& window), FailureSink failed);

// From the zoom shortcuts: whether window's view may now be zoomed in (false after a reset to the
// whole picture). Called before the view zooms in and after it is reset.
void pictureZoomChanged(const WindowName& window, bool zoomedIn);
