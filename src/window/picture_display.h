// What the toolkit tells of how a picture window shows its picture: the size of its view in the
// screen's own pixels, and when that changes. Where it is known, the window is handed exactly the
// pixels its view shows (picture_view.h); zoomed in, and where the toolkit does not let us follow
// the window, it gets the picture itself.
#pragma once

#include <opencv2/core.hpp>

#include "window/toolkit_failure.h"
#include "window/window_names.h"

// The size in the screen's own pixels of window's picture area where the window code draws a
// picture of exactly that size one to one: once followed, while not zoomed in and not sized by the
// library to its picture. Empty otherwise, where the window is handed the picture itself. picture:
// the size of the picture shown, whose shape a view that keeps it is fitted to.
cv::Size viewSize(const WindowName& window, cv::Size picture);

// Tells the window code what window was just handed, for toolkits whose picture the window code
// draws itself (GTK on a scaled desktop, whose library would smooth it); it keeps what it needs.
void viewHanded(const WindowName& window, const cv::Mat& shown);

// Once the windows are arranged: changed(window) is called whenever what viewSize gives for
// a picture window may have changed (a resize, a zoom step). failed hears of a failure inside the
// toolkit's callbacks.
void followPictureViews(void (*changed)(const WindowName& window), FailureSink failed);

// From the zoom shortcuts: whether window's view may now be zoomed in (false after a reset to the
// whole picture). Called before the view zooms in and after it is reset.
void pictureZoomChanged(const WindowName& window, bool zoomedIn);
