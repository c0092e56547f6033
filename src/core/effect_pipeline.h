// The whole render pass without the window: tone stage into the tone image, then morphology into
// the effect image.
#pragma once

#include <opencv2/core.hpp>

namespace tonemorph {

// The five slider settings as the render pass reads them.
struct EffectSettings {
    int morphOperation = 0;
    int kernelSize = 0;
    int kernelShape = 0;
    int contrastValue = 100;
    int brightnessValue = 100;
};

// Rewrites tone and effect from src (8-bit, three channels) under the given settings.
void computeEffect(const cv::Mat& src, cv::Mat& tone, cv::Mat& effect,
                   const EffectSettings& settings);

}  // namespace tonemorph
