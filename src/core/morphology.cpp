#include "core/morphology.h"

#include <opencv2/imgproc.hpp>

namespace tonemorph {

int morphShapeFor(int kernelShape) {
    switch (kernelShape) {
        case 1: return cv::MORPH_CROSS;
        case 2: return cv::MORPH_ELLIPSE;
        default: return cv::MORPH_RECT;
    }
}

cv::Mat structuringElement(int kernelSize, int kernelShape) {
    const int side = 2 * kernelSize + 1;
    return cv::getStructuringElement(morphShapeFor(kernelShape), cv::Size(side, side),
                                     cv::Point(kernelSize, kernelSize));
}

void applyMorphology(const cv::Mat& src, cv::Mat& dst, int morphOperation, int kernelSize,
                     int kernelShape) {
    const cv::Mat element = structuringElement(kernelSize, kernelShape);
    // The default border value (the largest double) keeps outside pixels out of the result.
    if (morphOperation == 0) {
        cv::erode(src, dst, element, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                  cv::morphologyDefaultBorderValue());
    } else {
        cv::dilate(src, dst, element, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                   cv::morphologyDefaultBorderValue());
    }
}

}  // namespace tonemorph
