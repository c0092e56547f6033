#include "core/effect_pipeline.h"

#include "core/morphology.h"
#include "core/tone_stage.h"

namespace tonemorph {

namespace {

bool samePicture(const cv::Mat& a, const cv::Mat& b) {
    return a.data == b.data && a.size == b.size && a.step == b.step && a.type() == b.type();
}

}  // namespace

void computeEffect(const cv::Mat& src, cv::Mat& tone, cv::Mat& effect,
                   const EffectSettings& settings, KeptMorphology& kept) {
    applyTone(src, tone, settings.contrastValue, settings.brightnessValue);
    const int operation = settings.morphOperation != 0 ? 1 : 0;
    const int shape = morphShapeFor(settings.kernelShape);
    const bool morphologyMoved = !samePicture(kept.source, src) || kept.operation != operation ||
                                 kept.kernelSize != settings.kernelSize || kept.shape != shape;
    if (morphologyMoved) {
        kept.resultMade = false;
        kept.source = src;
        kept.operation = operation;
        kept.kernelSize = settings.kernelSize;
        kept.shape = shape;
    }
    // A one-pixel element leaves every picture as it is: the effect is the tone image.
    if (settings.kernelSize == 0) {
        applyTone(src, effect, settings.contrastValue, settings.brightnessValue);
        return;
    }
    if (morphologyMoved) {
        applyMorphology(tone, effect, operation, settings.kernelSize, settings.kernelShape);
        return;
    }
    // Only the tone moved: the eroded or dilated source is made once, then every further tone
    // move maps it.
    if (!kept.resultMade) {
        applyMorphology(src, kept.result, operation, settings.kernelSize, settings.kernelShape);
        kept.resultMade = true;
    }
    applyTone(kept.result, effect, settings.contrastValue, settings.brightnessValue);
}

}  // namespace tonemorph
