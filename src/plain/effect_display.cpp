// The effect window is given the result itself: the library offers no way to follow its size.
#include "effect_display.h"

#include <opencv2/highgui.hpp>

#include "window_names.h"

void showEffect(const cv::Mat& effect) { cv::imshow(effectWindow.id, effect); }

void followEffectWindow(const cv::Mat& /*effect*/, FailureSink /*failed*/) {}

void effectZoomChanged(bool /*zoomedIn*/) {}
