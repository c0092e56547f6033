// Which pixels of a picture a window shows when it shows the picture scaled down: one picture row
// and column per shown row and column, the one under the shown pixel's centre. Both picture
// windows are handed samples taken on the same grid, so they show the same picture positions.
#pragma once

#include <vector>

#include <opencv2/core.hpp>

namespace tonemorph {

struct SampleGrid {
    std::vector<int> rows;  // picture row of each shown row, increasing
    std::vector<int> cols;  // picture column of each shown column, increasing

    cv::Size size() const { return {static_cast<int>(cols.size()), static_cast<int>(rows.size())}; }
    bool empty() const { return rows.empty() || cols.empty(); }
};

// The grid for showing picture at shown (each side of shown at most the picture's): shown row i
// takes picture row floor((2i + 1) * rows / (2 * shown rows)), and the same for columns.
SampleGrid makeSampleGrid(cv::Size picture, cv::Size shown);

// The pixels of image (8-bit, any channel count) on grid into out, sized grid.size().
void takeSample(const cv::Mat& image, const SampleGrid& grid, cv::Mat& out);

}  // namespace tonemorph
