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
    // A one-pixel element leaves every picture as it is: the effect is the tone image.
    if (settings.kernelSize == 0) {
        applyTone(src, effect, settings.contrastValue, settings.brightnessValue);
        return;
    }
    const int operation = settings.morphOperation != 0 ? 1 : 0;
    const int shape = morphShapeFor(settings.kernelShape);
    if (!samePicture(kept.source, src) || kept.operation != operation ||
        kept.kernelSize != settings.kernelSize || kept.shape != shape) {
        // Forgotten first: should the morphology throw, no half-made result counts as kept.
        kept.operation = -1;
        applyMorphology(src, kept.result, operation, settings.kernelSize, settings.kernelShape);
        kept.source = src;
        kept.operation = operation;
        kept.kernelSize = settings.kernelSize;
        kept.shape = shape;
    }
    applyTone(kept.result, effect, settings.contrastValue, settings.brightnessValue);
}

}  // namespace tonemorph
