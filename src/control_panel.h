// The control panel: the five sliders in the panel window, each move running one render pass
// unless a later move of the same slider replaced it before it was rendered.
#pragma once

#include <vector>

// Creates the five sliders at their settings' current values. Call once, after the first render.
void installControlPanel();

// The sliders' labels, in the order they appear in the panel.
const std::vector<const char*>& sliderLabels();

// Slider handlers: render the new position at once, unless the move queued behind a pass; then it
// waits for the key wait to end, replacing a waiting move of the same slider (another slider's
// waiting move is rendered first).

void onMorphOperationChange(int position, void* userData);
void onKernelSizeChange(int position, void* userData);
void onKernelShapeChange(int position, void* userData);
void onToneChange(int position, void* userData);

// Stores the waiting move in its setting and renders it; false when no move waits.
bool renderWaitingMove();
// The key loop asks this after every key wait: true while a move waits and the last key wait
// brought more queued moves (a toolkit may hand over one per key wait), for a tenth of a second at
// most; the loop then waits for keys again before rendering.
bool moreMovesMayCome();
// The key loop calls this after every key wait: the waiting move is rendered once the moves
// queued with it are taken, and the next key wait starts afresh. False when no move waited.
bool afterKeyWait();
