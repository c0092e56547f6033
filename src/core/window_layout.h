// Where the three windows go at start-up: the panel, and the source and effect pictures side by
// side or one above the other, all inside the usable screen area, pictures 1:1 when they fit and
// scaled down whole (aspect kept) when they do not. Pure geometry, in the toolkit's pixels.
#pragma once

#include <opencv2/core.hpp>

namespace tonemorph {

// What a window manager adds around a window's content (title bar, borders); zero without one.
struct FrameMargins {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct LayoutRequest {
    cv::Rect area;        // the usable screen area (the work area of a window manager)
    FrameMargins frame;   // the same for every window
    cv::Size panel;       // the panel's content, which is never scaled
    cv::Size picture;     // the picture, shown in both the source and the effect window
    int gap = 2;          // between neighbouring windows
};

struct WindowLayout {
    // Top-left corners of the windows including their frames.
    cv::Point panel;
    cv::Point source;
    cv::Point effect;
    cv::Size view;        // the picture's size on screen in both picture windows
    bool oneToOne = true; // view equals the picture
    bool stacked = false; // effect below source rather than beside it
    bool fits = true;     // every window inside the area and none covering another
};

// The arrangement that shows the picture largest. If the three cannot all fit, the panel stays
// whole at the top left and the picture windows overlap, every title bar still visible.
WindowLayout layOutWindows(const LayoutRequest& request);

// The picture's size in the toolkit's units on a desktop at scale (1.0 at 100 %) whose toolkit
// counts pixelsPerUnit screen pixels a unit (the scale itself where the toolkit works in scaled
// units, 1 where it works in the screen's own pixels): each picture pixel a whole number of screen
// pixels, the one nearest the scale (startFactor in view_placement.h) where the layout of request
// (whose picture is not read) shows the picture whole at that size, else one; the layout scales it
// down from there where even that does not fit.
cv::Size pictureUnits(LayoutRequest request, cv::Size picture, double scale, double pixelsPerUnit);

// The toolkit may give a picture window more room than the view (a 10x10 picture gets a window
// of some 69x69): the effect window moves along so the two still do not overlap, and fits is
// worked out again for the real size.
void adjustToPictureWindows(WindowLayout& layout, const LayoutRequest& request, cv::Size window);

}  // namespace tonemorph
