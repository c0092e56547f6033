#include "effect_render.h"

#include <opencv2/highgui.hpp>

#include "app_state.h"
#include "core/effect_pipeline.h"
#include "window_names.h"

void renderEffect() {
    const tonemorph::EffectSettings settings{appState.morphOperation, appState.kernelSize,
                                             appState.kernelShape, appState.contrastValue,
                                             appState.brightnessValue};
    tonemorph::computeEffect(appState.srcImage, appState.toneImage, appState.effectImage, settings);
    cv::imshow(effectWindow.id, appState.effectImage);
}
