#include "core/sample_grid.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

namespace {

// The picture index whose pixel lies under the centre of shown pixel i, found by walking the
// picture's pixels: pixel p covers [p, p + 1) of the picture, shown pixel i the picture's
// [i * length / shown, (i + 1) * length / shown).
int underCentre(int i, int length, int shown) {
    for (int p = 0; p < length; ++p) {
        // centre = (i + 0.5) * length / shown, compared in whole numbers.
        const long long centreTwice = (2LL * i + 1) * length;
        if (centreTwice >= 2LL * p * shown && centreTwice < 2LL * (p + 1) * shown) return p;
    }
    return -1;
}

// Ensure each shown row and column takes the picture's pixel under its centre, for shown sizes
// from one pixel to the picture's own (which takes every pixel in order).
TEST(SampleGrid, TakesThePixelUnderEachShownPixelsCentre) {
    const cv::Size cases[][2] = {{{1, 1}, {1, 1}},        {{7, 5}, {7, 5}},       {{4000, 3000}, {957, 717}},
                                 {{4000, 3000}, {1, 1}},   {{8000, 6000}, {1914, 1434}}, {{1, 5000}, {1, 957}},
                                 {{40000, 10}, {957, 1}},  {{10, 9}, {9, 8}}};
    for (const auto& c : cases) {
        const cv::Size picture = c[0];
        const cv::Size shown = c[1];
        SCOPED_TRACE(testing::Message() << picture << " shown at " << shown);
        const tonemorph::SampleGrid grid = tonemorph::makeSampleGrid(picture, shown);
        ASSERT_EQ(grid.size(), shown);
        for (int i = 0; i < shown.height; ++i) ASSERT_EQ(grid.rows[i], underCentre(i, picture.height, shown.height)) << i;
        for (int i = 0; i < shown.width; ++i) ASSERT_EQ(grid.cols[i], underCentre(i, picture.width, shown.width)) << i;
    }
}

// Ensure a sample holds, for every channel count, exactly the grid's pixels of the image: of an
// image that is a region of a larger one, and of a whole image sampled up to its last byte (which
// the sanitizer build watches for a read past the end).
TEST(SampleGrid, SampleHoldsTheGridsPixels) {
    for (const int channels : {1, 3, 4}) {
        cv::Mat whole(40, 50, CV_8UC(channels));
        cv::randu(whole, 0, 256);
        const cv::Mat region = whole(cv::Rect(3, 2, 41, 33));
        const struct {
            const cv::Mat* image;
            cv::Size shown;
        } cases[] = {{&region, {13, 11}}, {&whole, {50, 40}}, {&whole, {7, 3}}};
        for (const auto& c : cases) {
            const cv::Mat& image = *c.image;
            SCOPED_TRACE(testing::Message() << channels << " channels, " << image.size() << " at " << c.shown);
            const tonemorph::SampleGrid grid = tonemorph::makeSampleGrid(image.size(), c.shown);
            cv::Mat sample;
            tonemorph::takeSample(image, grid, sample);
            ASSERT_EQ(sample.size(), c.shown);
            ASSERT_EQ(sample.type(), image.type());
            for (int r = 0; r < sample.rows; ++r) {
                for (int col = 0; col < sample.cols; ++col) {
                    for (int k = 0; k < channels; ++k) {
                        ASSERT_EQ(sample.ptr<uchar>(r)[col * channels + k],
                                  image.ptr<uchar>(grid.rows[r])[grid.cols[col] * channels + k]);
                    }
                }
            }
        }
    }
}

}  // namespace
