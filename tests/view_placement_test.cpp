#include "core/view_placement.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

namespace {

// Ensure the picture lands as large as a whole factor lets it, centred to within a pixel, inside
// the view; views smaller than the picture both ways take a sample of their own size where they
// have its shape (to within a hundredth), and all others a sample with the picture's shape.
TEST(ViewPlacement, PicksTheLargestWholeFactorAndCentres) {
    struct Case {
        cv::Size picture, view;
        int factor;
        cv::Size shown;
    };
    const Case cases[] = {
        {{1000, 600}, {1000, 600}, 1, {1000, 600}},    // one to one: the picture itself
        {{1000, 600}, {1914, 1148}, 1, {1000, 600}},   // 1.9 times: stays at 1, centred
        {{1000, 600}, {2000, 1200}, 2, {1000, 600}},   // 200 %
        {{1000, 600}, {3001, 1799}, 2, {1000, 600}},   // one way short of 3
        {{1, 1}, {69, 40}, 40, {1, 1}},
        {{4000, 3000}, {1914, 1434}, 1, {1914, 1434}}, // sampled at the view's size
        {{4000, 3000}, {1914, 1425}, 1, {1914, 1425}}, // under a hundredth off the shape
        {{4000, 3000}, {636, 1053}, 1, {636, 477}},    // a tall tile: the shape kept, centred
        {{3000, 4000}, {1900, 600}, 1, {450, 600}},    // a window reshaped by the user
        {{4000, 100}, {1900, 300}, 1, {1900, 47}},     // too wide only: the shape kept
        {{100, 4000}, {300, 1900}, 1, {47, 1900}},
        {{40000, 10}, {1300, 600}, 1, {1300, 1}},      // a side never comes to no pixel
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.picture << " in " << c.view);
        const tonemorph::ViewPlacement placed = tonemorph::placeInView(c.picture, c.view);
        EXPECT_EQ(placed.canvas, c.view);
        EXPECT_EQ(placed.factor, c.factor);
        EXPECT_EQ(placed.shown, c.shown);
        const cv::Size block = placed.shown * placed.factor;
        const cv::Size left = c.view - block;
        EXPECT_GE(placed.offset.x, 0);
        EXPECT_GE(placed.offset.y, 0);
        EXPECT_LE(std::abs(2 * placed.offset.x - left.width), 1);
        EXPECT_LE(std::abs(2 * placed.offset.y - left.height), 1);
    }
}

// Ensure the start-up factor is the whole one nearest the screen's scale, halves going down.
TEST(ViewPlacement, StartFactorIsTheNearestWholeOne) {
    const std::pair<double, int> cases[] = {{1.0, 1}, {1.25, 1}, {1.5, 1}, {1.5000001, 1}, {1.75, 2},
                                            {2.0, 2}, {2.25, 2}, {2.5, 2},  {3.0, 3},       {0.5, 1}};
    for (const auto& [scale, factor] : cases) EXPECT_EQ(tonemorph::startFactor(scale), factor) << scale;
}

// Ensure a window's size in a toolkit's units holds the pixels asked for, is whole in screen
// pixels wherever a few more units make it so, and is no larger than needed.
TEST(ViewPlacement, UnitsHoldThePixelsAtAWholeScreenSize) {
    struct Case {
        cv::Size pixels;
        double scale;
        cv::Size units;
    };
    const Case cases[] = {{{1000, 600}, 1.0, {1000, 600}}, {{1000, 600}, 2.0, {500, 300}},
                          {{1001, 601}, 2.0, {501, 301}},  {{1000, 600}, 1.5, {668, 400}},
                          {{999, 3}, 1.25, {800, 4}},      {{1000, 600}, 1.75, {572, 344}},
                          {{7, 5}, 1.1, {10, 10}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pixels << " at " << c.scale);
        EXPECT_EQ(tonemorph::unitsFor(c.pixels, c.scale), c.units);
    }
}

// Ensure each canvas pixel is the shown pixel whose block covers it, found one pixel at a time,
// or the background outside the block, for every channel count and for a shown image that is a
// region of a larger one.
TEST(ViewPlacement, CanvasHoldsEachPixelAsASquareBlock) {
    const std::pair<cv::Size, cv::Size> cases[] = {{{7, 5}, {7, 5}},   {{7, 5}, {23, 11}}, {{7, 5}, {21, 15}},
                                                   {{3, 2}, {40, 9}},  {{1, 1}, {5, 6}},   {{40, 10}, {13, 11}}};
    for (const int channels : {1, 3, 4}) {
        for (const auto& [picture, view] : cases) {
            SCOPED_TRACE(testing::Message() << channels << " channels, " << picture << " in " << view);
            const tonemorph::ViewPlacement placed = tonemorph::placeInView(picture, view);
            cv::Mat whole(placed.shown.height + 3, placed.shown.width + 4, CV_8UC(channels));
            cv::randu(whole, 0, 256);
            const cv::Mat shown = whole(cv::Rect(cv::Point(2, 1), placed.shown));
            const cv::Scalar background(17, 34, 51, 68);
            cv::Mat canvas(1, 1, CV_8UC(channels), cv::Scalar::all(99));  // reused at another size
            tonemorph::placeOnCanvas(shown, placed, background, canvas);
            ASSERT_EQ(canvas.size(), view);
            ASSERT_EQ(canvas.type(), shown.type());
            for (int y = 0; y < view.height; ++y) {
                for (int x = 0; x < view.width; ++x) {
                    const int r = y - placed.offset.y;
                    const int c = x - placed.offset.x;
                    const bool inside = r >= 0 && c >= 0 && r < placed.shown.height * placed.factor &&
                                        c < placed.shown.width * placed.factor;
                    for (int k = 0; k < channels; ++k) {
                        const int expected = inside ? shown.ptr<uchar>(r / placed.factor)[c / placed.factor * channels + k]
                                                    : static_cast<int>(background[k]);
                        ASSERT_EQ(canvas.ptr<uchar>(y)[x * channels + k], expected) << x << "," << y;
                    }
                }
            }
        }
    }
}

}  // namespace
