#include "core/tone_stage.h"

#include <gtest/gtest.h>

#include "core/pixel_kernels.h"
#include "reference/literal_pass.h"

namespace {

struct ToneCase {
    int contrast;
    int brightness;
    int source;
    int expected;
    const char* why;
};

// Ensure the tone map lands on the documented value at every rounding and clamping edge.
TEST(ToneStage, EdgeCasesGiveDocumentedValues) {
    const ToneCase cases[] = {
        {100, 100, 0, 0, "initial settings are the identity"},
        {100, 100, 137, 137, "initial settings are the identity"},
        {100, 100, 255, 255, "initial settings are the identity"},
        {50, 100, 1, 0, "0.5 rounds to the even 0"},
        {50, 100, 3, 2, "1.5 rounds to the even 2"},
        {50, 100, 5, 2, "2.5 rounds to the even 2"},
        {50, 100, 255, 128, "127.5 rounds to the even 128"},
        {57, 100, 250, 143, "double product lies above 142.5"},
        {70, 100, 215, 151, "double product lies above 150.5"},
        {114, 100, 125, 143, "double product lies above 142.5"},
        {110, 100, 5, 6, "double product is exactly 5.5"},
        {35, 20, 230, 1, "v is 0.5000000000000142, not 0.5"},
        {7, 90, 150, 0, "add brightness, then subtract 100: exactly 0.5"},
        {300, 100, 85, 255, "clamps at 255"},
        {300, 100, 84, 252, "just below the clamp"},
        {100, 0, 50, 0, "clamps at 0"},
        {100, 0, 150, 50, "offset -100"},
        {100, 200, 200, 255, "clamps at 255"},
        {100, 200, 100, 200, "offset +100"},
        {0, 100, 255, 0, "zero gain, zero offset"},
        {0, 200, 17, 100, "zero gain leaves only the offset"},
        {0, 0, 255, 0, "zero gain, negative offset clamps"},
        {300, 0, 0, 0, "largest gain, smallest offset, black"},
        {300, 200, 1, 103, "largest gain and offset"},
    };
    for (const ToneCase& c : cases) {
        EXPECT_EQ(tonemorph::toneValue(c.source, c.contrast, c.brightness), c.expected)
            << "contrast " << c.contrast << ", brightness " << c.brightness << ", source "
            << c.source << ": " << c.why;
    }
}

// Ensure the table-driven stage equals the element-by-element double arithmetic for every
// contrast 0..300, brightness 0..200 and source value 0..255, in every channel; and that every
// pair has the fixed-point form, so no processor level falls back to a slower lookup.
TEST(ToneStage, TableEqualsLiteralArithmeticExhaustively) {
    // Each channel runs through all 256 values, offset so the channels differ at every pixel.
    cv::Mat src(1, 256, CV_8UC3);
    for (int x = 0; x < 256; ++x) {
        src.at<cv::Vec3b>(0, x) = cv::Vec3b(static_cast<uchar>(x), static_cast<uchar>(x + 85),
                                            static_cast<uchar>(x + 170));
    }
    cv::Mat fast;
    cv::Mat literal;
    int mismatches = 0;
    for (int contrast = 0; contrast <= 300; ++contrast) {
        for (int brightness = 0; brightness <= 200; ++brightness) {
            tonemorph::applyTone(src, fast, contrast, brightness);
            reference::literalTone(src, literal, contrast, brightness);
            const tonemorph::ToneTable table = tonemorph::buildToneTable(contrast, brightness);
            const bool arithmetic = tonemorph::toneProgram(table.data(), contrast, brightness).arithmetic;
            if (cv::norm(fast, literal, cv::NORM_INF) != 0 || !arithmetic) {
                ADD_FAILURE() << "contrast " << contrast << ", brightness " << brightness
                              << (arithmetic ? "" : " (no fixed-point form)");
                if (++mismatches > 10) return;
            }
        }
    }
}

// Ensure every tone table is non-decreasing in the source value, for every contrast and brightness
// pair: the render pass keeps its morphology result across tone moves because erosion and
// dilation commute with such a map, and a change of the arithmetic that breaks it must fail here.
TEST(ToneStage, EveryToneTableIsNonDecreasing) {
    for (int contrast = 0; contrast <= 300; ++contrast) {
        for (int brightness = 0; brightness <= 200; ++brightness) {
            const tonemorph::ToneTable table = tonemorph::buildToneTable(contrast, brightness);
            for (size_t x = 1; x < table.size(); ++x) {
                ASSERT_LE(table[x - 1], table[x]) << "contrast " << contrast << ", brightness "
                                                  << brightness << ", source " << x;
            }
        }
    }
}

// Ensure every element of the destination is rewritten, whatever it held, and that a view into a
// larger image is read without its neighbours.
TEST(ToneStage, OverwritesDestinationAndReadsViews) {
    cv::Mat big(40, 50, CV_8UC3);
    cv::randu(big, 0, 256);
    const cv::Mat view = big(cv::Rect(7, 5, 31, 23));
    cv::Mat dst(view.size(), CV_8UC3, cv::Scalar::all(77));
    const uchar* before = dst.data;
    tonemorph::applyTone(view, dst, 157, 63);
    cv::Mat expected;
    reference::literalTone(view.clone(), expected, 157, 63);
    EXPECT_EQ(cv::norm(dst, expected, cv::NORM_INF), 0);
    EXPECT_EQ(dst.data, before) << "a destination of the right size is reused, not reallocated";
}

}  // namespace
