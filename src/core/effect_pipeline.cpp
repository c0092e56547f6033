#include "core/effect_pipeline.h"

#include <algorithm>

#include "core/morphology.h"
#include "core/tone_stage.h"

namespace tonemorph {

namespace {

bool samePicture(const cv::Mat& a, const cv::Mat& b) {
    return a.data == b.data && a.size == b.size && a.step == b.step && a.type() == b.type();
}

// Whether kept holds the morphology of src under the settings.
bool keptFor(const cv::Mat& src, const EffectSettings& settings, const KeptMorphology& kept) {
    return samePicture(kept.source, src) && kept.operation == (settings.morphOperation != 0 ? 1 : 0) &&
           kept.kernelSize == settings.kernelSize && kept.shape == morphShapeFor(settings.kernelShape);
}

// Brings kept up to the morphology settings; false for size 0, where the effect is the tone image.
bool keepMorphology(const cv::Mat& src, const EffectSettings& settings, KeptMorphology& kept) {
    // A one-pixel element leaves every picture as it is.
    if (settings.kernelSize == 0) return false;
    if (!keptFor(src, settings, kept)) {
        const int operation = settings.morphOperation != 0 ? 1 : 0;
        // Forgotten first: should the morphology throw, no half-made result counts as kept.
        kept.operation = -1;
        applyMorphology(src, kept.result, operation, settings.kernelSize, settings.kernelShape);
        kept.source = src;
        kept.operation = operation;
        kept.kernelSize = settings.kernelSize;
        kept.shape = morphShapeFor(settings.kernelShape);
    }
    return true;
}

}  // namespace

void computeEffect(const cv::Mat& src, cv::Mat& tone, cv::Mat& effect,
                   const EffectSettings& settings, KeptMorphology& kept) {
    applyTone(src, tone, settings.contrastValue, settings.brightnessValue);
    const cv::Mat& morphed = keepMorphology(src, settings, kept) ? kept.result : src;
    applyTone(morphed, effect, settings.contrastValue, settings.brightnessValue);
}

void computeShownEffect(const cv::Mat& src, const SampleGrid& grid, cv::Mat& shown,
                        const EffectSettings& settings, KeptMorphology& kept) {
    const cv::Mat& morphed = keepMorphology(src, settings, kept) ? kept.result : src;
    // The tone maps each pixel on its own, so mapping the sample equals sampling the mapped image.
    takeSample(morphed, grid, shown);
    applyTone(shown, shown, settings.contrastValue, settings.brightnessValue);
}

bool completeEffect(const cv::Mat& src, cv::Mat& tone, cv::Mat& effect, const EffectSettings& settings,
                    const KeptMorphology& kept, int& doneRows, int rows) {
    CV_Assert(rows > 0);
    if (doneRows == 0) {
        tone.create(src.size(), src.type());
        effect.create(src.size(), src.type());
    }
    const bool morphed = settings.kernelSize != 0;
    CV_Assert(!morphed || keptFor(src, settings, kept));
    const int end = std::min(src.rows, doneRows + rows);
    if (end > doneRows) {
        const cv::Range band(doneRows, end);
        cv::Mat toneBand = tone.rowRange(band);
        cv::Mat effectBand = effect.rowRange(band);
        applyTone(src.rowRange(band), toneBand, settings.contrastValue, settings.brightnessValue);
        applyTone((morphed ? kept.result : src).rowRange(band), effectBand, settings.contrastValue,
                  settings.brightnessValue);
    }
    doneRows = end;
    return doneRows >= src.rows;
}

}  // namespace tonemorph
