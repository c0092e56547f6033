// Slow, obviously right versions of the render pass: the yardstick for tests and benchmarks.
#pragma once

#include <opencv2/core.hpp>

#include "core/effect_pipeline.h"

namespace reference {

// Tone stage element by element through checked access, the gain recomputed for every element.
void literalTone(const cv::Mat& src, cv::Mat& dst, int contrastValue, int brightnessValue);

// Morphology through the library's own erode/dilate with its default border value.
void libraryMorphology(const cv::Mat& src, cv::Mat& dst, int morphOperation, int kernelSize,
                       int kernelShape);

// Morphology by visiting every element cell of every pixel, skipping cells outside the image.
void bruteForceMorphology(const cv::Mat& src, cv::Mat& dst, int morphOperation, int kernelSize,
                          int kernelShape);

// The whole pass done literally: literalTone into tone, then libraryMorphology into effect.
void literalPass(const cv::Mat& src, cv::Mat& tone, cv::Mat& effect,
                 const tonemorph::EffectSettings& settings);

}  // namespace reference
