// Keyboard shortcuts of the source and effect windows. The windows have no toolbar (so they hug
// their pictures), and with it went the toolkit's own shortcuts; these bring them back: zoom and
// pan through the toolkit's view, and save and copy that take the picture at full resolution,
// whatever size the window shows it at.
#pragma once

#include <opencv2/core.hpp>

#include "window/toolkit_failure.h"
#include "window/window_names.h"

// picture: gives the image the window shows at full resolution, asked when a shortcut is used (it
// may change meanwhile).
// zoomChanged, if given, hears of zoom steps: true before the view zooms in, false after it is
// reset to the whole picture.
// failed hears of a failure inside a shortcut.
void addPictureShortcuts(const WindowName& window, const cv::Mat& (*picture)(),
                         void (*zoomChanged)(const WindowName& window, bool zoomedIn),
                         FailureSink failed);
