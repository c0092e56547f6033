#include "core/effect_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "reference/literal_pass.h"

namespace {

cv::Mat photoLikeImage(uint64_t seed = 7) {
    cv::Mat image(48, 64, CV_8UC3);
    cv::RNG rng(seed);
    rng.fill(image, cv::RNG::UNIFORM, 0, 256);
    return image;
}

std::string describe(const tonemorph::EffectSettings& s) {
    return "operation " + std::to_string(s.morphOperation) + ", size " + std::to_string(s.kernelSize) +
           ", shape " + std::to_string(s.kernelShape) + ", contrast " + std::to_string(s.contrastValue) +
           ", brightness " + std::to_string(s.brightnessValue);
}

// Ensure the initial settings reproduce the source exactly in both derived images.
TEST(EffectPipeline, InitialSettingsReproduceSource) {
    const cv::Mat src = photoLikeImage();
    cv::Mat tone = cv::Mat::zeros(src.size(), src.type());
    cv::Mat effect = cv::Mat::zeros(src.size(), src.type());
    tonemorph::KeptMorphology kept;
    tonemorph::computeEffect(src, tone, effect, tonemorph::EffectSettings{}, kept);
    EXPECT_EQ(cv::norm(src, tone, cv::NORM_INF), 0);
    EXPECT_EQ(cv::norm(src, effect, cv::NORM_INF), 0);
}

struct Step {
    tonemorph::EffectSettings settings;
    int picture;  // index into the pictures the sequence runs on
};

struct Sequence {
    const char* name;
    std::vector<Step> steps;
};

// Ensure every pass of a run of slider moves equals the literal pass of its settings, however the
// kept morphology result is reused: tone moves after a morphology move, morphology moves after tone
// moves, back and forth, size 0 in between, shape codes that mean the same element, and a new
// picture under unchanged settings. Each sequence runs twice: whole passes, and the shown pixels
// first (on grids from a few pixels to the whole picture, its edges included, each kept for two
// steps), which must be those pixels of the literal effect, with the full-resolution images then
// made in bands of seven rows, and after them the memory of a first morphology readied in bands of
// five (which must leave a kept morphology's rows alone).
TEST(EffectPipeline, EveryPassOfASequenceEqualsTheLiteralPass) {
    const cv::Mat frame = photoLikeImage(11);
    // Two whole pictures of one size, and a view into a larger one.
    const cv::Mat pictures[] = {photoLikeImage(7), photoLikeImage(8),
                                frame(cv::Rect(3, 2, 40, 30))};
    const Sequence sequences[] = {
        {"tone moves after a morphology move",
         {{{0, 21, 2, 100, 100}, 0}, {{0, 21, 2, 150, 100}, 0}, {{0, 21, 2, 150, 30}, 0},
          {{0, 21, 2, 0, 200}, 0}, {{0, 21, 2, 57, 100}, 0}}},
        {"morphology moves after tone moves",
         {{{0, 0, 0, 57, 100}, 0}, {{0, 0, 0, 110, 120}, 0}, {{0, 3, 0, 110, 120}, 0},
          {{0, 3, 1, 110, 120}, 0}, {{0, 3, 2, 110, 120}, 0}, {{1, 3, 2, 110, 120}, 0},
          {{1, 4, 2, 110, 120}, 0}}},
        {"back and forth",
         {{{1, 5, 0, 110, 100}, 0}, {{0, 5, 0, 110, 100}, 0}, {{1, 5, 0, 110, 100}, 0},
          {{1, 5, 0, 35, 20}, 0}, {{0, 5, 0, 7, 90}, 0}, {{0, 6, 0, 7, 90}, 0}, {{0, 5, 0, 7, 90}, 0},
          {{0, 5, 1, 300, 100}, 0}, {{0, 5, 0, 300, 100}, 0}}},
        {"size 0 in between",
         {{{0, 7, 2, 120, 80}, 0}, {{0, 0, 2, 120, 80}, 0}, {{0, 7, 2, 200, 80}, 0},
          {{1, 0, 1, 50, 100}, 0}, {{1, 7, 1, 50, 100}, 0}, {{1, 0, 1, 50, 100}, 0}}},
        {"operation and shape codes beyond the sliders",
         {{{0, 2, 0, 90, 100}, 0}, {{0, 2, 5, 90, 100}, 0}, {{2, 2, 5, 90, 100}, 0},
          {{1, 2, 0, 130, 100}, 0}, {{1, 2, 1, 130, 100}, 0}}},
        {"a new picture under the same settings",
         {{{0, 4, 2, 140, 90}, 0}, {{0, 4, 2, 140, 90}, 1}, {{0, 4, 2, 100, 100}, 1},
          {{0, 4, 2, 100, 100}, 2}, {{0, 4, 2, 60, 150}, 2}, {{0, 4, 2, 60, 150}, 0}}},
    };
    const cv::Size shownSizes[] = {{9, 7}, {64, 48}, {1, 1}, {31, 29}, {40, 30}, {2, 30}};
    for (const Sequence& sequence : sequences) {
        for (const bool shownFirst : {false, true}) {
            SCOPED_TRACE(shownFirst ? "shown pixels first" : "whole passes");
            cv::Mat tone;
            cv::Mat effect;
            tonemorph::KeptMorphology kept;
            int preparedRows = 0;
            for (size_t i = 0; i < sequence.steps.size(); ++i) {
                const Step& step = sequence.steps[i];
                const cv::Mat& src = pictures[step.picture];
                cv::Mat literalTone;
                cv::Mat literalEffect;
                reference::literalPass(src.clone(), literalTone, literalEffect, step.settings);
                if (shownFirst) {
                    // Two steps to a grid: the second may reuse what the first sampled.
                    const cv::Size wanted = shownSizes[(i / 2) % 6];
                    const cv::Size shownSize(std::min(src.cols, wanted.width), std::min(src.rows, wanted.height));
                    const tonemorph::SampleGrid grid = tonemorph::makeSampleGrid(src.size(), shownSize);
                    cv::Mat shown;
                    tonemorph::computeShownEffect(src, grid, shown, step.settings, kept);
                    cv::Mat literalShown;
                    tonemorph::takeSample(literalEffect, grid, literalShown);
                    EXPECT_EQ(cv::norm(shown, literalShown, cv::NORM_INF), 0)
                        << sequence.name << ", step " << i << ": shown " << shownSize << ", " << describe(step.settings);
                    int doneRows = 0;
                    int bands = 0;
                    while (!tonemorph::completeEffect(src, tone, effect, step.settings, kept, doneRows, 7)) ++bands;
                    EXPECT_EQ(bands, (src.rows - 1) / 7);
                    if (preparedRows < src.rows) tonemorph::prepareMorphologyFor(src, kept, preparedRows, 5);
                } else {
                    tonemorph::computeEffect(src, tone, effect, step.settings, kept);
                }
                EXPECT_EQ(cv::norm(tone, literalTone, cv::NORM_INF), 0)
                    << sequence.name << ", step " << i << ": tone, " << describe(step.settings);
                EXPECT_EQ(cv::norm(effect, literalEffect, cv::NORM_INF), 0)
                    << sequence.name << ", step " << i << ": effect, " << describe(step.settings);
            }
        }
    }
}

// Ensure contrast 0 gives one uniform grey level, brightness - 100 clamped, whatever the
// morphology settings.
TEST(EffectPipeline, ZeroContrastGivesUniformGrey) {
    const cv::Mat src = photoLikeImage();
    tonemorph::KeptMorphology kept;
    for (int brightness : {0, 100, 150, 200}) {
        for (int shape = 0; shape <= 2; ++shape) {
            cv::Mat tone;
            cv::Mat effect;
            tonemorph::computeEffect(src, tone, effect, {shape % 2, 4, shape, 0, brightness}, kept);
            const cv::Mat grey(src.size(), src.type(), cv::Scalar::all(std::max(0, brightness - 100)));
            EXPECT_EQ(cv::norm(effect, grey, cv::NORM_INF), 0)
                << "brightness " << brightness << ", shape " << shape;
        }
    }
}

// Ensure readying begun on one picture carries on over a larger one (it used to write rows past
// the end of the smaller picture's result) and leaves that picture's first pass exact.
TEST(EffectPipeline, ReadyingCarriesOnOverAPictureOfAnotherSize) {
    const cv::Mat small = photoLikeImage(3);
    cv::Mat large;
    cv::repeat(photoLikeImage(4), 2, 2, large);
    tonemorph::KeptMorphology kept;
    int preparedRows = 0;
    while (!tonemorph::prepareMorphologyFor(small, kept, preparedRows, 7)) {
    }
    while (!tonemorph::prepareMorphologyFor(large, kept, preparedRows, 7)) {
    }
    EXPECT_EQ(kept.result.size(), large.size());
    const tonemorph::EffectSettings settings{1, 5, 2, 120, 110};  // dilation, 11x11 ellipse
    cv::Mat tone;
    cv::Mat effect;
    tonemorph::computeEffect(large, tone, effect, settings, kept);
    cv::Mat literalTone;
    cv::Mat literalEffect;
    reference::literalPass(large.clone(), literalTone, literalEffect, settings);
    EXPECT_EQ(cv::norm(effect, literalEffect, cv::NORM_INF), 0);
}

}  // namespace
