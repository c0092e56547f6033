// The control panel: the five sliders in the panel window, each move running one render pass.
#pragma once

#include <vector>

// Creates the five sliders at their settings' current values. Call once, after the first render.
void installControlPanel();

// The sliders' labels, in the order they appear in the panel.
const std::vector<const char*>& sliderLabels();

// Slider handlers: store the new position in its setting, then render.
void onMorphOperationChange(int position, void* userData);
void onKernelSizeChange(int position, void* userData);
void onKernelShapeChange(int position, void* userData);
void onToneChange(int position, void* userData);
