#include "core/sample_grid.h"

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
    for (size_t r = 0; r < grid.rows.size(); ++r) {
        const uchar* from = image.ptr<uchar>(grid.rows[r]);
        uchar* to = out.ptr<uchar>(static_cast<int>(r));
        if (pixel == 3) {
            // The common case, without a call per pixel.
            for (const int c : grid.cols) {
                const uchar* p = from + 3 * static_cast<size_t>(c);
                to[0] = p[0];
                to[1] = p[1];
                to[2] = p[2];
                to += 3;
            }
        } else {
            for (const int c : grid.cols) {
                std::memcpy(to, from + pixel * static_cast<size_t>(c), pixel);
                to += pixel;
            }
        }
    }
}

}  // namespace tonemorph
