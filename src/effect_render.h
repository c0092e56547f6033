// The render pass: recomputes the effect from the source and the current settings, then shows it.
#pragma once

#include <opencv2/core.hpp>

// Reads appState's source and settings and shows the effect. Where the effect window shows its
// picture scaled down, only the pixels it shows are computed first, and the full-resolution tone
// and effect images are left to completeEffectBand or wholeEffect; otherwise both are rewritten
// whole and the effect is shown.
void renderEffect();

// Makes one band of the full-resolution images the last render left, or once they are whole,
// readies one more band of the memory the first pass with an element uses; false once nothing is
// left. For the key loop's idle time: a band takes a few milliseconds at most.
bool completeEffectBand();

// The effect at full resolution, made whole first where a render left it (a save, a copy, a zoom).
const cv::Mat& wholeEffect();
