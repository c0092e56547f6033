// How the effect window is given its picture. Where the window shows the picture scaled down and
// the user has not zoomed in, it gets the picture already sampled to the window's size, which is
// what the toolkit would draw of it anyway; that spares the toolkit converting and scaling every
// pixel of a large picture on each slider notification. Zoomed in (and in a window the toolkit
// does not let us follow) it gets the picture itself, so what is magnified are the result's own
// pixels.
#pragma once

#include <opencv2/core.hpp>

#include "toolkit_failure.h"

// Shows effect in the effect window.
void showEffect(const cv::Mat& effect);

// Once the windows are arranged: from then on the effect window's size and zoom decide what it is
// given. effect: the image showEffect shows, which must outlive the window.
// failed hears of a failure in the window's own callbacks.
void followEffectWindow(const cv::Mat& effect, FailureSink failed);

// From the zoom shortcuts: whether the view may now be zoomed in (false after a reset to the
// whole picture).
void effectZoomChanged(bool zoomedIn);
