// Win32: the library's picture windows keep their own shortcuts (Ctrl+C copies, Ctrl+S saves the
// picture they were given, which is the full-resolution one here), so there is nothing to add.
#include "picture_shortcuts.h"

void addPictureShortcuts(const WindowName& /*window*/, const cv::Mat& /*picture*/,
                         void (*/*zoomChanged*/)(bool zoomedIn)) {}
