#include "effect_render.h"

#include <algorithm>
#include <limits>

#include "app_state.h"
#include "core/effect_pipeline.h"
#include "picture_view.h"

namespace {

// Rows of a band: about half a megapixel of each image, whatever the picture's width, and at
// least the rows the element reaches beyond a band on either side, which the band remakes.
int bandRows() {
    return std::max(2 * appState.kernelSize + 1, (1 << 19) / std::max(1, appState.srcImage.cols));
}

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

namespace {

// Makes up to rows more rows of the full-resolution images; false once they are whole.
bool completeRows(int rows) {
    if (appState.finishedRows >= appState.srcImage.rows) return false;
    return !tonemorph::completeEffect(appState.srcImage, appState.toneImage, appState.effectImage, settingsNow(),
                                      appState.keptMorphology, appState.finishedRows, rows);
}

}  // namespace

bool completeEffectBand() {
    static int preparedRows = 0;
    static bool prepared = false;
    if (appState.finishedRows < appState.srcImage.rows) {
        completeRows(bandRows());
        return true;
    }
    // Then the first pass with an element, readied the same way.
    if (!prepared) {
        prepared = tonemorph::prepareMorphologyFor(appState.srcImage, appState.keptMorphology, preparedRows, bandRows());
    }
    return !prepared;
}

const cv::Mat& wholeEffect() {
    // In one go: each band also remakes the rows its element reaches beyond it.
    completeRows(std::numeric_limits<int>::max());
    return appState.effectImage;
}
