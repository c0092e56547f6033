// The control panel: the five sliders in the panel window, each move running one render pass.
#pragma once

// Creates the five sliders at their settings' current values. Call once, after the first render.
void installControlPanel();

// Slider handlers: store the new position in its setting, then render.
void onMorphOperationChange(int position, void* userData);
void onKernelSizeChange(int position, void* userData);
void onKernelShapeChange(int position, void* userData);
void onToneChange(int position, void* userData);
