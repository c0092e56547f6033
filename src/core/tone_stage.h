// Tone stage: the linear contrast/brightness adjustment applied to every channel of an 8-bit image.
#pragma once

#include <array>

#include <opencv2/core.hpp>

namespace tonemorph {

using ToneTable = std::array<uchar, 256>;

// The value one source channel takes: source x (contrast x 0.01) + brightness - 100, each step a
// separate double operation in that order, rounded halves-to-even and clamped to 0..255.
uchar toneValue(int source, int contrastValue, int brightnessValue);

// toneValue for all 256 source values at one setting pair.
ToneTable buildToneTable(int contrastValue, int brightnessValue);

// Writes the tone-adjusted src into dst (8-bit, any channel count), giving dst src's size and type:
// a lookup in buildToneTable's table, at the instruction-set level in use (simd_level.h).
void applyTone(const cv::Mat& src, cv::Mat& dst, int contrastValue, int brightnessValue);

}  // namespace tonemorph
