#include "core/morphology.h"

#include <gtest/gtest.h>

#include <vector>

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

namespace {

enum class Content { kRandom, kConstant, kBlack, kWhite, kCheckerboard };

cv::Mat filled(cv::Size size, Content content, uint64_t seed) {
    cv::Mat image(size, CV_8UC3);
    switch (content) {
        case Content::kRandom: cv::RNG(seed).fill(image, cv::RNG::UNIFORM, 0, 256); break;
        case Content::kConstant: image.setTo(cv::Scalar(90, 140, 201)); break;
        case Content::kBlack: image.setTo(cv::Scalar::all(0)); break;
        case Content::kWhite: image.setTo(cv::Scalar::all(255)); break;
        case Content::kCheckerboard:
            for (int y = 0; y < size.height; ++y) {
                for (int x = 0; x < size.width; ++x) {
                    image.at<cv::Vec3b>(y, x) = (x + y) % 2 ? cv::Vec3b(255, 0, 255) : cv::Vec3b(0, 255, 7);
                }
            }
            break;
    }
    return image;
}

// Ensure our morphology equals the library's erode/dilate for every shape, every kernel size
// 0..21 (and 30, past the sliders' range, which callers of the core may still ask for) and both
// operations, on images from 1x1 up, smaller and larger than the element, with random, constant,
// black, white and checkerboard content.
TEST(Morphology, EqualsLibraryForEverySettingSizeAndContent) {
    const cv::Size sizes[] = {{1, 1}, {1, 7}, {7, 1}, {5, 9}, {37, 29}, {43, 43}, {44, 45},
                              {101, 77}, {640, 480}};
    const Content contents[] = {Content::kRandom, Content::kConstant, Content::kBlack,
                                Content::kWhite, Content::kCheckerboard};
    int failures = 0;
    uint64_t seed = 11;
    for (const cv::Size size : sizes) {
        for (const Content content : contents) {
            const cv::Mat src = filled(size, content, ++seed);
            for (int shape = 0; shape <= 2; ++shape) {
                for (int k = 0; k <= 30; k = k == 21 ? 30 : k + 1) {
                    for (int operation = 0; operation <= 1; ++operation) {
                        cv::Mat ours;
                        cv::Mat library;
                        tonemorph::applyMorphology(src, ours, operation, k, shape);
                        reference::libraryMorphology(src, library, operation, k, shape);
                        if (ours.size() != library.size() ||
                            cv::norm(ours, library, cv::NORM_INF) != 0) {
                            ADD_FAILURE() << size << " content " << static_cast<int>(content)
                                          << " shape " << shape << " k " << k << " operation "
                                          << operation;
                            if (++failures > 20) return;
                        }
                    }
                }
            }
        }
    }
}

// Ensure rows asked for alone equal those rows of the whole result, over several tiles' height, for
// every shape, small and large elements and both operations: every fourth row, a band, the first
// and last rows alone, and scattered rows; rows not asked for keep what they held or get their own
// result, and asking for the rest afterwards completes the whole result.
TEST(Morphology, RowsAskedForEqualThoseOfTheWholeResult) {
    // Wider than one tile of any shape, so rows are asked for across tile edges too; and narrower
    // than the widest vector's blocks with the element's reach, which the row loops finish apart.
    for (const cv::Size size : {cv::Size(1100, 600), cv::Size(40, 300)}) {
        const cv::Mat src = filled(size, Content::kRandom, 5);
        std::vector<std::vector<uchar>> masks(4, std::vector<uchar>(static_cast<size_t>(src.rows), 0));
        cv::RNG rng(3);
        for (int y = 0; y < src.rows; ++y) {
            masks[0][static_cast<size_t>(y)] = y % 4 == 1;
            masks[1][static_cast<size_t>(y)] = y >= 200 && y < 330;
            masks[2][static_cast<size_t>(y)] = y == 0 || y == src.rows - 1;
            masks[3][static_cast<size_t>(y)] = rng.uniform(0, 9) == 0;
        }
        const cv::Scalar marker(1, 2, 3);
        for (int shape = 0; shape <= 2; ++shape) {
            // 14: the last tile's 88 rows and the 2k rows around them come to whole blocks of 2k + 1.
            for (const int k : {1, 2, 5, 14, 21}) {
                for (int operation = 0; operation <= 1; ++operation) {
                    cv::Mat library;
                    reference::libraryMorphology(src, library, operation, k, shape);
                    for (size_t m = 0; m < masks.size(); ++m) {
                        SCOPED_TRACE(testing::Message() << size << " shape " << shape << " k " << k << " operation "
                                                        << operation << " mask " << m);
                        cv::Mat ours(src.size(), src.type(), marker);
                        tonemorph::applyMorphologyRows(src, ours, operation, k, shape, masks[m]);
                        for (int y = 0; y < src.rows; ++y) {
                            const bool same = cv::norm(ours.row(y), library.row(y), cv::NORM_INF) == 0;
                            const bool untouched =
                                cv::norm(ours.row(y), cv::Mat(1, src.cols, src.type(), marker), cv::NORM_INF) == 0;
                            ASSERT_TRUE(masks[m][static_cast<size_t>(y)] ? same : same || untouched) << "row " << y;
                        }
                        std::vector<uchar> rest(masks[m].size());
                        for (size_t y = 0; y < rest.size(); ++y) rest[y] = !masks[m][y];
                        tonemorph::applyMorphologyRows(src, ours, operation, k, shape, rest);
                        ASSERT_EQ(cv::norm(ours, library, cv::NORM_INF), 0);
                    }
                }
            }
        }
    }
}

// Ensure a view into a larger image (a region of interest) is processed as an image of its own:
// the pixels around it must not leak in, however bright or dark they are.
TEST(Morphology, ViewDoesNotSeeItsNeighbours) {
    for (const uchar surround : {uchar{0}, uchar{255}}) {
        cv::Mat big(200, 260, CV_8UC3, cv::Scalar::all(surround));
        const cv::Rect inner(50, 40, 131, 97);
        cv::RNG(5).fill(big(inner), cv::RNG::UNIFORM, 30, 220);
        const cv::Mat view = big(inner);
        const cv::Mat alone = view.clone();
        for (int shape = 0; shape <= 2; ++shape) {
            for (int k : {1, 4, 21}) {
                for (int operation = 0; operation <= 1; ++operation) {
                    cv::Mat fromView;
                    cv::Mat fromCopy;
                    tonemorph::applyMorphology(view, fromView, operation, k, shape);
                    reference::libraryMorphology(alone, fromCopy, operation, k, shape);
                    EXPECT_EQ(cv::norm(fromView, fromCopy, cv::NORM_INF), 0)
                        << "surround " << int(surround) << " shape " << shape << " k " << k
                        << " operation " << operation;
                }
            }
        }
    }
}

// Ensure a destination sharing the source's pixels still gets the right result, also on pictures
// of many tiles (where a tile would otherwise read rows its neighbour has already overwritten).
TEST(Morphology, InPlaceGivesTheSameResult) {
    for (const cv::Size size : {cv::Size(70, 60), cv::Size(640, 480)}) {
        for (int shape = 0; shape <= 2; ++shape) {
            for (int operation = 0; operation <= 1; ++operation) {
                cv::Mat image(size, CV_8UC3);
                cv::RNG(9).fill(image, cv::RNG::UNIFORM, 0, 256);
                cv::Mat expected;
                reference::libraryMorphology(image, expected, operation, 6, shape);
                tonemorph::applyMorphology(image, image, operation, 6, shape);
                EXPECT_EQ(cv::norm(image, expected, cv::NORM_INF), 0)
                    << size << " shape " << shape << " operation " << operation;
            }
        }
    }
}

// Ensure a pass reuses the destination once its size is set.
TEST(Morphology, ReusesDestination) {
    const cv::Mat src = randomImage(300, 400, CV_8UC3, 4);
    cv::Mat dst;
    tonemorph::applyMorphology(src, dst, 1, 21, 2);
    const uchar* first = dst.data;
    for (int shape = 0; shape <= 2; ++shape) {
        tonemorph::applyMorphology(src, dst, 0, 7 + shape, shape);
        EXPECT_EQ(dst.data, first);
    }
}

}  // namespace
