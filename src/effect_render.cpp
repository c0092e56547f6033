#include "effect_render.h"

#include "app_state.h"
#include "core/effect_pipeline.h"
#include "picture_view.h"

void renderEffect() {
    const tonemorph::EffectSettings settings{appState.morphOperation, appState.kernelSize,
                                             appState.kernelShape, appState.contrastValue,
                                             appState.brightnessValue};
    tonemorph::computeEffect(appState.srcImage, appState.toneImage, appState.effectImage, settings,
                            appState.keptMorphology);
    showPicture(effectWindow, appState.effectImage);
}
