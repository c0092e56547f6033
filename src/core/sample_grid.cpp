#include "core/sample_grid.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tonemorph {

namespace {

std::vector<int> centres(int length, int shown) {
    std::vector<int> picked(static_cast<size_t>(shown));
    for (int i = 0; i < shown; ++i) {
        picked[static_cast<size_t>(i)] =
            static_cast<int>((2 * static_cast<int64_t>(i) + 1) * length / (2 * static_cast<int64_t>(shown)));
    }
    return picked;
}

void takeRow(const uchar* from, const std::vector<int>& cols, size_t pixel, uchar* to) {
    if (pixel == 3 && !cols.empty()) {
        // The common case, a pixel as one 4-byte load and store: the extra byte read lies inside
        // the row (the row's last pixel is copied on its own), and the extra byte written is the
        // next pixel's, which overwrites it.
        const size_t last = cols.size() - 1;
        for (size_t i = 0; i < last; ++i) {
            uint32_t bytes;
            std::memcpy(&bytes, from + 3 * static_cast<size_t>(cols[i]), 4);
            std::memcpy(to, &bytes, 4);
            to += 3;
        }
        std::memcpy(to, from + 3 * static_cast<size_t>(cols[last]), 3);
        return;
    }
    for (const int c : cols) {
        std::memcpy(to, from + pixel * static_cast<size_t>(c), pixel);
        to += pixel;
    }
}

}  // namespace

SampleGrid makeSampleGrid(cv::Size picture, cv::Size shown) {
    CV_Assert(shown.width >= 0 && shown.height >= 0 && shown.width <= picture.width &&
              shown.height <= picture.height);
    return {centres(picture.height, shown.height), centres(picture.width, shown.width)};
}

void takeSample(const cv::Mat& image, const SampleGrid& grid, cv::Mat& out) {
    CV_Assert(image.depth() == CV_8U && image.dims == 2);
    out.create(grid.size(), image.type());
    const size_t pixel = image.elemSize();
    // In bands of rows on every core: each row reads a whole picture row's cache lines.
    const int rows = static_cast<int>(grid.rows.size());
    cv::parallel_for_(
        cv::Range(0, rows),
        [&](const cv::Range& band) {
            for (int r = band.start; r < band.end; ++r) {
                takeRow(image.ptr<uchar>(grid.rows[static_cast<size_t>(r)]), grid.cols, pixel, out.ptr<uchar>(r));
            }
        },
        std::max(1.0, rows / 64.0));
}

}  // namespace tonemorph
