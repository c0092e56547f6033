// The render pass: recomputes the effect image from the source and the current settings, then shows it.
#pragma once

// Reads appState's source and settings, rewrites its tone and effect images, shows the effect.
void renderEffect();
