#include "control_panel.h"

#include <opencv2/highgui.hpp>

#include "app_state.h"
#include "effect_render.h"
#include "handler_failure.h"
#include "window/window_names.h"

namespace {

constexpr char kMorphOperationLabel[] = "腐蚀/膨胀";
constexpr char kKernelSizeLabel[] = "内核尺寸";
constexpr char kKernelShapeLabel[] = "内核形状";
constexpr char kContrastLabel[] = "对比度：";
constexpr char kBrightnessLabel[] = "亮   度：";

// Giving a slider its initial position makes the library call its handler; those calls are not
// user moves and must not render (start-up already rendered once).
bool panelReady = false;

void addSlider(const char* label, int initialValue, int maximum, cv::TrackbarCallback handler) {
    // No value pointer: the library deprecates it and warns; handlers keep the settings instead.
    cv::createTrackbar(label, panelWindow.id, nullptr, maximum, handler, nullptr);
    if (initialValue != 0) cv::setTrackbarPos(label, panelWindow.id, initialValue);
}

}  // namespace

const std::vector<const char*>& sliderLabels() {
    static const std::vector<const char*> labels{kMorphOperationLabel, kKernelSizeLabel, kKernelShapeLabel,
                                                 kContrastLabel, kBrightnessLabel};
    return labels;
}

void installControlPanel() {
    addSlider(kMorphOperationLabel, appState.morphOperation, 1, onMorphOperationChange);
    addSlider(kKernelSizeLabel, appState.kernelSize, 21, onKernelSizeChange);
    addSlider(kKernelShapeLabel, appState.kernelShape, 2, onKernelShapeChange);
    addSlider(kContrastLabel, appState.contrastValue, 300, onToneChange);
    addSlider(kBrightnessLabel, appState.brightnessValue, 200, onToneChange);
    panelReady = true;
}

void onMorphOperationChange(int position, void* /*userData*/) {
    if (!panelReady) return;
    appState.morphOperation = position;
    runHandler("rendering the new operation", renderEffect);
}

void onKernelSizeChange(int position, void* /*userData*/) {
    if (!panelReady) return;
    appState.kernelSize = position;
    runHandler("rendering the new kernel size", renderEffect);
}

void onKernelShapeChange(int position, void* /*userData*/) {
    if (!panelReady) return;
    appState.kernelShape = position;
    runHandler("rendering the new kernel shape", renderEffect);
}

void onToneChange(int /*position*/, void* /*userData*/) {
    if (!panelReady) return;
    runHandler("rendering the new contrast and brightness", [] {
        // Contrast and brightness share this handler, so read both sliders to know which moved.
        appState.contrastValue = cv::getTrackbarPos(kContrastLabel, panelWindow.id);
        appState.brightnessValue = cv::getTrackbarPos(kBrightnessLabel, panelWindow.id);
        renderEffect();
    });
}
