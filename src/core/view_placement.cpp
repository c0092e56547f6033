#include "core/view_placement.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tonemorph {

ViewPlacement placeInView(cv::Size picture, cv::Size view) {
    CV_Assert(!picture.empty() && !view.empty());
    ViewPlacement placement;
    placement.canvas = view;
    if (view.width >= picture.width && view.height >= picture.height) {
        placement.factor = std::min(view.width / picture.width, view.height / picture.height);
        placement.shown = picture;
    } else {
        // The tighter way decides, the other follows the picture's shape.
        const double scale = std::min(static_cast<double>(view.width) / picture.width,
                                      static_cast<double>(view.height) / picture.height);
        placement.shown = {std::clamp(static_cast<int>(picture.width * scale), 1, view.width),
                           std::clamp(static_cast<int>(picture.height * scale), 1, view.height)};
        // A view of the picture's shape but for rounding (a window the layout or the toolkit
        // sized to it) takes a sample of its own size, leaving no strip of background; one of
        // another shape (a tile, a window the user reshaped) shows the picture undistorted.
        const auto nearly = [](int shown, int whole) { return (whole - shown) * 100 <= whole; };
        if (view.width <= picture.width && view.height <= picture.height && nearly(placement.shown.width, view.width) &&
            nearly(placement.shown.height, view.height)) {
            placement.shown = view;
        }
    }
    const cv::Size block = placement.shown * placement.factor;
    placement.offset = {(view.width - block.width) / 2, (view.height - block.height) / 2};
    return placement;
}

int startFactor(double scale) {
    // The margin keeps a scale read as 1.5000001 from rounding up.
    return std::max(1, static_cast<int>(std::ceil(scale - 0.5 - 1e-6)));
}

namespace {

int unitsFor(int pixels, double scale) {
    const int least = static_cast<int>(std::ceil(pixels / scale - 1e-6));
    for (int units = least; units < least + 8; ++units) {
        const double device = units * scale;
        if (std::abs(device - std::round(device)) < 1e-6) return units;
    }
    return least;
}

}  // namespace

cv::Size unitsFor(cv::Size pixels, double scale) {
    CV_Assert(scale > 0);
    return {unitsFor(pixels.width, scale), unitsFor(pixels.height, scale)};
}

void placeOnCanvas(const cv::Mat& shown, const ViewPlacement& placement, const cv::Scalar& background,
                   cv::Mat& canvas) {
    CV_Assert(shown.depth() == CV_8U && shown.dims == 2 && shown.size() == placement.shown &&
              placement.factor >= 1);
    const int f = placement.factor;
    const cv::Rect block(placement.offset, placement.shown * f);
    CV_Assert((cv::Rect(cv::Point(), placement.canvas) & block) == block);
    canvas.create(placement.canvas, shown.type());
    // Only the bands around the picture: the picture's block is written whole below.
    canvas.rowRange(0, block.y).setTo(background);
    canvas.rowRange(block.br().y, canvas.rows).setTo(background);
    canvas(cv::Rect(0, block.y, block.x, block.height)).setTo(background);
    canvas(cv::Rect(block.br().x, block.y, canvas.cols - block.br().x, block.height)).setTo(background);

    const size_t pixel = shown.elemSize();
    const size_t rowBytes = pixel * static_cast<size_t>(block.width);
    for (int r = 0; r < shown.rows; ++r) {
        const uchar* from = shown.ptr<uchar>(r);
        uchar* first = canvas.ptr<uchar>(block.y + r * f) + pixel * static_cast<size_t>(block.x);
        if (f == 1) {
            std::memcpy(first, from, rowBytes);
            continue;
        }
        uchar* to = first;
        for (int c = 0; c < shown.cols; ++c, from += pixel) {
            for (int k = 0; k < f; ++k, to += pixel) std::memcpy(to, from, pixel);
        }
        // The other rows of the block are copies of its first.
        for (int k = 1; k < f; ++k) {
            std::memcpy(canvas.ptr<uchar>(block.y + r * f + k) + pixel * static_cast<size_t>(block.x), first, rowBytes);
        }
    }
}

}  // namespace tonemorph
