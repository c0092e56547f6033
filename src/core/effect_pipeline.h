// The whole render pass without the window: the tone-adjusted source into the tone image, and the
// eroded or dilated source, kept while the morphology settings stay, tone-adjusted into the effect;
// or first only the effect's pixels a window shows, the full-resolution images made afterwards.
#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "core/sample_grid.h"

namespace tonemorph {

// The five slider settings as the render pass reads them.
struct EffectSettings {
    int morphOperation = 0;
    int kernelSize = 0;
    int kernelShape = 0;
    int contrastValue = 100;
    int brightnessValue = 100;
};

// The eroded or dilated source of the last pass, and what it was made from. Every tone table is
// non-decreasing, and the minimum or maximum over a neighbourhood commutes with a non-decreasing
// map, so tone(erode(src)) equals erode(tone(src)): a pass that only moves the tone maps the kept
// result through the new table instead of redoing the morphology.
// Its rows are made as they are needed: those a window shows first, the rest later.
struct KeptMorphology {
    cv::Mat source;      // the picture it was made from; holding it keeps that buffer's address unique
    cv::Mat result;      // erosion or dilation of source, before any tone
    int operation = -1;  // 0 erosion, 1 dilation; -1 nothing kept
    int kernelSize = -1;
    int shape = -1;      // the library's shape code
    std::vector<uchar> made;    // per row of result, nonzero once made
    int unmade = 0;             // rows of result not yet made
    std::vector<uchar> wanted;  // scratch: the rows a pass asks for

    // What a window showed of it last, before any tone: the pixels on sampleGrid of sampledFrom
    // (result, or the source itself at size 0), so a tone move maps them instead of gathering them
    // anew. sampledFrom holds that image's buffer, which keeps its address unique.
    cv::Mat sample;
    cv::Mat sampledFrom;
    SampleGrid sampleGrid;
};

// Rewrites tone and effect from src (8-bit, three channels) under the given settings, reusing and
// updating kept. src's pixels must not change in place between passes that share kept.
void computeEffect(const cv::Mat& src, cv::Mat& tone, cv::Mat& effect,
                   const EffectSettings& settings, KeptMorphology& kept);

// The pixels of the effect a window shows on grid, and nothing else of the full-resolution
// images: kept is brought up to the settings on the grid's rows only, and shown is given exactly
// the pixels on grid of the effect computeEffect would make. The tone and effect images are left
// for completeEffect.
void computeShownEffect(const cv::Mat& src, const SampleGrid& grid, cv::Mat& shown,
                        const EffectSettings& settings, KeptMorphology& kept);

// Makes the full-resolution tone and effect images under the settings, a band of at most rows rows
// at a time (the kept morphology's rows with them): rows [0, doneRows) of both are made already,
// and doneRows moves on. Returns true once both images are whole.
bool completeEffect(const cv::Mat& src, cv::Mat& tone, cv::Mat& effect, const EffectSettings& settings,
                    KeptMorphology& kept, int& doneRows, int rows);

// Readies the first pass with an element on src while nothing is kept: kept's result allocated
// and written once, a band of at most rows rows at a time from doneRows (a first use of that much
// memory costs the first pass dearly: at 48 megapixels 80 of its 100 ms), then the morphology's
// scratch for every setting (at once where a morphology is kept already, whose rows are its own).
// Returns true once ready. For idle time.
bool prepareMorphologyFor(const cv::Mat& src, KeptMorphology& kept, int& doneRows, int rows);

}  // namespace tonemorph
