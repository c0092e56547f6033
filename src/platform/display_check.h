// Whether a window can be opened at all: without a reachable display the GUI library aborts the
// whole process, so the tool asks first and explains. One implementation per system family.
#pragma once

#include <string>

// Empty when windows can be opened; otherwise one line saying what is missing. On X11 a successful
// check keeps its own connection open: a server that resets (or terminates) when its last client
// leaves must not do so between this check and the toolkit's own connection. Where no X server
// can be reached but a Wayland compositor answers (a session without XWayland, or a stale
// DISPLAY), useWayland(display) decides: empty once the toolkit has been told to draw there, or
// what it lacks.
std::string displayProblem(std::string (*useWayland)(const std::string& display));

// Whether the display had a window manager when it was checked.
bool windowManagerRunning();

// Closes the check's connection; call once the toolkit has connected (after the first window).
void releaseDisplayCheck();
