// Where a picture lands in a picture window's view, in the screen's own pixels: sampled down where
// it is larger than the view, otherwise magnified by a whole factor (each picture pixel a square
// block of 1, 2x2, 3x3 ... screen pixels, never a fraction), centred on a background that fills
// the rest of the view. The window is handed a canvas exactly the view's size, which the toolkit
// then draws one to one.
#pragma once

#include <opencv2/core.hpp>

namespace tonemorph {

struct ViewPlacement {
    cv::Size canvas;    // the view: what the window is handed
    cv::Size shown;     // the picture's pixels taken: the picture's size, or a smaller sample's
    int factor = 1;     // each shown pixel becomes a factor x factor block
    cv::Point offset;   // the picture's top-left corner on the canvas

    // The shown pixels are the canvas itself: no magnification and no background.
    bool fillsCanvas() const { return factor == 1 && shown == canvas; }
    // Fewer pixels shown than the picture has.
    bool sampled(cv::Size picture) const { return shown != picture; }
};

// How a picture of size picture fills a view of size view (both non-empty): the largest whole
// factor that fits; a view no larger than the picture either way takes a sample of exactly its
// size; a view larger one way and smaller the other, a sample with the picture's shape kept.
ViewPlacement placeInView(cv::Size picture, cv::Size view);

// The magnification a start-up layout tries first on a screen scaled by scale (1.0 at 100 %):
// the whole factor nearest it, halves going down (1 at 125 % and 150 %, 2 at 175 % and 200 %).
int startFactor(double scale);

// The size in a toolkit's units (the screen's pixels over scale) of a window that holds pixels
// screen pixels: the smallest at least that large whose screen size is whole, where a few more
// units reach one, so that a toolkit drawing it at a fractional scale draws it one to one.
cv::Size unitsFor(cv::Size pixels, double scale);

// shown (8-bit, any channel count, sized placement.shown) magnified into canvas at its place, the
// rest of canvas background.
void placeOnCanvas(const cv::Mat& shown, const ViewPlacement& placement, const cv::Scalar& background,
                   cv::Mat& canvas);

}  // namespace tonemorph
