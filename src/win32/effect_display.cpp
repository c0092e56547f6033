// Win32: the library's own windows stretch whatever they are given to their size and have no
// zoom, so the effect window is simply given the picture itself.
#include "effect_display.h"

#include <opencv2/highgui.hpp>

#include "window_names.h"

void showEffect(const cv::Mat& effect) { cv::imshow(effectWindow.id, effect); }

void followEffectWindow(const cv::Mat& /*effect*/) {}

void effectZoomChanged(bool /*zoomedIn*/) {}
