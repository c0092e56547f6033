// No shortcuts of our own: the library's windows keep whatever their backend gives them.
#include "window/picture_shortcuts.h"

void addPictureShortcuts(const WindowName& /*window*/, const cv::Mat& (*/*picture*/)(),
                         void (*/*zoomChanged*/)(const WindowName&, bool),
                         FailureSink /*failed*/) {}
