#include "core/effect_pipeline.h"

#include <gtest/gtest.h>

#include "reference/literal_pass.h"

namespace {

cv::Mat photoLikeImage() {
    cv::Mat image(48, 64, CV_8UC3);
    cv::RNG rng(7);
    rng.fill(image, cv::RNG::UNIFORM, 0, 256);
    return image;
}

// Ensure the initial settings reproduce the source exactly in both derived images.
TEST(EffectPipeline, InitialSettingsReproduceSource) {
    const cv::Mat src = photoLikeImage();
    cv::Mat tone = cv::Mat::zeros(src.size(), src.type());
    cv::Mat effect = cv::Mat::zeros(src.size(), src.type());
    tonemorph::computeEffect(src, tone, effect, tonemorph::EffectSettings{});
    EXPECT_EQ(cv::norm(src, tone, cv::NORM_INF), 0);
    EXPECT_EQ(cv::norm(src, effect, cv::NORM_INF), 0);
}

// Ensure a whole pass equals the literal tone stage followed by the library's morphology.
TEST(EffectPipeline, PassEqualsLiteralPass) {
    const cv::Mat src = photoLikeImage();
    const tonemorph::EffectSettings settings[] = {
        {1, 1, 2, 150, 120}, {0, 3, 1, 57, 100}, {0, 21, 2, 300, 0}, {1, 7, 0, 35, 200}};
    for (const auto& s : settings) {
        cv::Mat tone;
        cv::Mat effect;
        tonemorph::computeEffect(src, tone, effect, s);
        cv::Mat literalTone;
        cv::Mat literalEffect;
        reference::literalPass(src, literalTone, literalEffect, s);
        EXPECT_EQ(cv::norm(tone, literalTone, cv::NORM_INF), 0);
        EXPECT_EQ(cv::norm(effect, literalEffect, cv::NORM_INF), 0)
            << s.morphOperation << " " << s.kernelSize << " " << s.kernelShape << " "
            << s.contrastValue << " " << s.brightnessValue;
    }
}

// Ensure contrast 0 gives one uniform grey level, brightness - 100 clamped, whatever the
// morphology settings.
TEST(EffectPipeline, ZeroContrastGivesUniformGrey) {
    const cv::Mat src = photoLikeImage();
    for (int brightness : {0, 100, 150, 200}) {
        for (int shape = 0; shape <= 2; ++shape) {
            cv::Mat tone;
            cv::Mat effect;
            tonemorph::computeEffect(src, tone, effect, {shape % 2, 4, shape, 0, brightness});
            const cv::Mat grey(src.size(), src.type(), cv::Scalar::all(std::max(0, brightness - 100)));
            EXPECT_EQ(cv::norm(effect, grey, cv::NORM_INF), 0)
                << "brightness " << brightness << ", shape " << shape;
        }
    }
}

}  // namespace
