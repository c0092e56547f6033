#include "core/effect_pipeline.h"

#include "core/morphology.h"
#include "core/tone_stage.h"

namespace tonemorph {

void computeEffect(const cv::Mat& src, cv::Mat& tone, cv::Mat& effect,
                   const EffectSettings& settings) {
    // Nothing is cached between passes: every pass reflects all five settings as they are now.
    applyTone(src, tone, settings.contrastValue, settings.brightnessValue);
    applyMorphology(tone, effect, settings.morphOperation, settings.kernelSize,
                    settings.kernelShape);
}

}  // namespace tonemorph
