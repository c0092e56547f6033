// Morphology stage: flat grey-level erosion or dilation by a (2k+1) x (2k+1) rectangle, cross or
// ellipse centred on each pixel; pixels outside the image take no part in the minimum or maximum.
#pragma once

#include <vector>

#include <opencv2/core.hpp>

namespace tonemorph {

// The library's shape code for a kernelShape setting: 1 cross, 2 ellipse, anything else rectangle.
int morphShapeFor(int kernelShape);

// The structuring element for a kernelSize/kernelShape setting pair, anchored at its centre.
cv::Mat structuringElement(int kernelSize, int kernelShape);

// Erodes (morphOperation 0) or dilates (any other value) src into dst; dst takes src's size and type.
void applyMorphology(const cv::Mat& src, cv::Mat& dst, int morphOperation, int kernelSize,
                     int kernelShape);

// The same for the rows of dst where wanted (one entry per row) is nonzero; the others are left
// as they are, or may be written with their own result.
void applyMorphologyRows(const cv::Mat& src, cv::Mat& dst, int morphOperation, int kernelSize, int kernelShape,
                         const std::vector<uchar>& wanted);

// Gives the calling thread the scratch every setting the sliders reach needs on a picture of this
// size, so that no pass on it allocates later: the first pass at a larger element would otherwise
// allocate and fill its scratch anew (at k = 21, a 48-megapixel picture's sample 77 ms instead of
// 23). For idle time.
void prepareMorphology(cv::Size picture, int channels);

}  // namespace tonemorph
