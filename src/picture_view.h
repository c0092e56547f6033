// Hands the two picture windows their pictures: where the window code knows a window's view,
// exactly the screen pixels it shows (view_placement.h): a sample where the picture is larger,
// taken on one grid for both windows so they show the same picture positions, or the picture at a
// whole magnification on a background; otherwise (zoomed in, a toolkit we cannot follow) the
// picture itself.
#pragma once

#include <opencv2/core.hpp>

#include "core/sample_grid.h"
#include "window/toolkit_failure.h"
#include "window/window_names.h"

// Shows picture in window (the source or the effect window); a closed window stays closed.
void showPicture(const WindowName& window, const cv::Mat& picture);

// The grid window shows a picture of the given size on, or null where it is handed the picture
// itself.
const tonemorph::SampleGrid* shownGrid(const WindowName& window, cv::Size picture);

// Shows in window the pixels of a picture of the given size already taken on its shownGrid.
void showTaken(const WindowName& window, const cv::Mat& taken, cv::Size picture);

// Once the windows are arranged: from then on their sizes and zooms decide what they are handed.
// showAgain(window) is called when a window needs its picture handed anew (through showPicture
// or showTaken); failed hears of a failure inside it.
void followPictures(void (*showAgain)(const WindowName& window), FailureSink failed);
