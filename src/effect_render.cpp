#include "effect_render.h"

#include <algorithm>

#include "app_state.h"
#include "core/effect_pipeline.h"
#include "picture_view.h"

namespace {

// Rows of a band: about a megapixel of each image, whatever the picture's width.
int bandRows() { return std::max(1, (1 << 20) / std::max(1, appState.srcImage.cols)); }

tonemorph::EffectSettings settingsNow() {
    return {appState.morphOperation, appState.kernelSize, appState.kernelShape, appState.contrastValue,
            appState.brightnessValue};
}

}  // namespace

void renderEffect() {
    const tonemorph::EffectSettings settings = settingsNow();
    const tonemorph::SampleGrid* grid = shownGrid(effectWindow, appState.srcImage.size());
    if (grid == nullptr) {
        tonemorph::computeEffect(appState.srcImage, appState.toneImage, appState.effectImage, settings,
                                appState.keptMorphology);
        appState.finishedRows = appState.srcImage.rows;
        showPicture(effectWindow, appState.effectImage);
        return;
    }
    appState.finishedRows = 0;
    tonemorph::computeShownEffect(appState.srcImage, *grid, appState.shownEffect, settings, appState.keptMorphology);
    showTaken(effectWindow, appState.shownEffect, appState.srcImage.size());
}

bool completeEffectBand() {
    if (appState.finishedRows >= appState.srcImage.rows) return false;
    return !tonemorph::completeEffect(appState.srcImage, appState.toneImage, appState.effectImage, settingsNow(),
                                      appState.keptMorphology, appState.finishedRows, bandRows());
}

const cv::Mat& wholeEffect() {
    while (completeEffectBand()) {
    }
    return appState.effectImage;
}
