// The library offers no way to follow a window's size: the windows are given the pictures
// themselves, and the toolkit scales both alike.
#include "window/picture_display.h"

cv::Size viewSize(const WindowName& /*window*/, cv::Size /*picture*/) { return {}; }

void viewHanded(const WindowName& /*window*/, const cv::Mat& /*shown*/) {}

void followPictureViews(void (*/*changed*/)(const WindowName&), FailureSink /*failed*/) {}

void pictureZoomChanged(const WindowName& /*window*/, bool /*zoomedIn*/) {}
