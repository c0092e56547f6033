// Whether a window can be opened at all: without a reachable display the GUI library aborts the
// whole process, so the tool asks first and explains. One implementation per system family.
#pragma once

#include <string>

// Empty when windows can be opened; otherwise one line saying what is missing. On X11 a successful
// check keeps its own connection open: a server that resets (or terminates) when its last client
// leaves must not do so between this check and the toolkit's own connection. Where a Wayland
// compositor answers, useSession(display, xServer) is told whether an X server does too and
// decides where the toolkit draws: empty, or what it lacks to draw on Wayland (which matters only
// where no X server can be reached: a session without XWayland, or a stale DISPLAY).
std::string displayProblem(std::string (*useSession)(const std::string& display, bool xServer));

// Whether the display had a window manager when it was checked.
bool windowManagerRunning();

// Closes the check's connection; call once the toolkit has connected (after the first window).
void releaseDisplayCheck();
