#include "core/morphology.h"

#include <gtest/gtest.h>

#include "reference/literal_pass.h"

namespace {

cv::Mat randomImage(int rows, int cols, int type, uint64_t seed) {
    cv::RNG rng(seed);
    cv::Mat image(rows, cols, type);
    rng.fill(image, cv::RNG::UNIFORM, 0, 256);
    return image;
}

// Ensure a kernel size of 0 (a 1x1 element) leaves the image untouched for every shape and both
// operations.
TEST(Morphology, SizeZeroIsIdentityForEveryShapeAndOperation) {
    const cv::Mat src = randomImage(37, 29, CV_8UC3, 1);
    for (int operation = 0; operation <= 1; ++operation) {
        for (int shape = 0; shape <= 2; ++shape) {
            cv::Mat dst;
            tonemorph::applyMorphology(src, dst, operation, 0, shape);
            EXPECT_EQ(cv::norm(src, dst, cv::NORM_INF), 0)
                << "operation " << operation << ", shape " << shape;
        }
    }
}

// Ensure the 3x3 rectangle takes the minimum (erosion) or maximum (dilation) of each channel over
// the neighbourhood, ignoring pixels outside the image, so edges are neither darkened nor brightened.
TEST(Morphology, ThreeByThreeRectangleMatchesBruteForce) {
    const cv::Mat src = randomImage(23, 31, CV_8UC3, 2);
    for (int operation = 0; operation <= 1; ++operation) {
        cv::Mat fast;
        cv::Mat slow;
        tonemorph::applyMorphology(src, fast, operation, 1, 0);
        reference::bruteForceMorphology(src, slow, operation, 1, 0);
        EXPECT_EQ(cv::norm(fast, slow, cv::NORM_INF), 0) << "operation " << operation;
    }
    // An image darkest at its edge: erosion must not pull in a black outside.
    const cv::Mat bright(5, 5, CV_8UC3, cv::Scalar::all(200));
    cv::Mat eroded;
    tonemorph::applyMorphology(bright, eroded, 0, 1, 0);
    EXPECT_EQ(cv::norm(bright, eroded, cv::NORM_INF), 0);
}

// Ensure the setting-to-element mapping: 1 cross, 2 ellipse, anything else rectangle, all
// (2k+1) square.
TEST(Morphology, ElementFollowsShapeAndSize) {
    const cv::Mat cross = tonemorph::structuringElement(2, 1);
    ASSERT_EQ(cross.size(), cv::Size(5, 5));
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(cross.at<uchar>(y, x) != 0, y == 2 || x == 2) << y << "," << x;
        }
    }
    EXPECT_EQ(cv::countNonZero(tonemorph::structuringElement(21, 0)), 43 * 43);
    EXPECT_EQ(cv::countNonZero(tonemorph::structuringElement(3, 7)), 49) << "unknown shape";
    const cv::Mat ellipse = tonemorph::structuringElement(3, 2);
    EXPECT_EQ(ellipse.size(), cv::Size(7, 7));
    EXPECT_EQ(ellipse.at<uchar>(0, 0), 0);
    EXPECT_EQ(ellipse.at<uchar>(3, 3), 1);
}

// Ensure every shape and size agrees with the cell-by-cell definition on a small odd-sized image.
TEST(Morphology, AllShapesMatchBruteForceOnSmallImage) {
    const cv::Mat src = randomImage(13, 17, CV_8UC3, 3);
    for (int operation = 0; operation <= 1; ++operation) {
        for (int shape = 0; shape <= 2; ++shape) {
            for (int size : {1, 2, 5, 9}) {
                cv::Mat fast;
                cv::Mat slow;
                tonemorph::applyMorphology(src, fast, operation, size, shape);
                reference::bruteForceMorphology(src, slow, operation, size, shape);
                EXPECT_EQ(cv::norm(fast, slow, cv::NORM_INF), 0)
                    << "operation " << operation << ", shape " << shape << ", size " << size;
            }
        }
    }
}

}  // namespace
