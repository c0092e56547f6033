// The library offers no way to follow a window's size: the windows are given the pictures
// themselves, and the toolkit scales both alike.
#include "window/picture_display.h"

cv::Size scaledViewSize(const WindowName& /*window*/, cv::Size /*picture*/) { return {}; }

void followPictureViews(void (*/*changed*/)(const WindowName&), FailureSink /*failed*/) {}

void pictureZoomChanged(const WindowName& /*window*/, bool /*zoomedIn*/) {}
