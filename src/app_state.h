// The one record the whole program shares: the pipeline's three images and the five slider settings.
#pragma once

#include <opencv2/core.hpp>

#include "core/effect_pipeline.h"

struct AppState {
    // Constructed in this order and destroyed in reverse when the process ends.
    cv::Mat srcImage;     // the picture from 1.jpg, never written after loading
    cv::Mat effectImage;  // the final result shown in the effect window
    cv::Mat toneImage;    // the tone-adjusted picture, rewritten by every pass
    // The eroded or dilated source, kept while the morphology settings stay: a contrast or
    // brightness move then only maps it through the new tone table.
    tonemorph::KeptMorphology keptMorphology;
    // Rows of toneImage and effectImage that hold the present settings' result: all of them after
    // a whole pass; after a pass that computed only the effect window's shown pixels (shownEffect),
    // the rest is made in the key loop's idle time, or at once when the whole effect is needed.
    int finishedRows = 0;
    cv::Mat shownEffect;

    int morphOperation = 0;    // 0 erosion, anything else dilation (0..1)
    int kernelSize = 0;        // half-size k: a (2k+1) x (2k+1) element (0..21)
    int kernelShape = 0;       // 0 rectangle, 1 cross, 2 ellipse (0..2)
    int contrastValue = 100;   // gain in percent (0..300)
    int brightnessValue = 100; // offset plus 100 (0..200)
};

extern AppState appState;
