// The library's windows behind ours: each top-level frame, found by its class and its first title
// (the window's id) as soon as it is opened, before the title changes, and the picture area in it.
#pragma once

#include <windows.h>

#include <map>

#include "window/window_names.h"

inline std::map<const WindowName*, HWND>& libraryFrames() {
    static std::map<const WindowName*, HWND> found;
    return found;
}

// The library's picture area of a window; null when the window is gone.
inline HWND libraryPictureArea(const WindowName& window) {
    const auto frame = libraryFrames().find(&window);
    if (frame == libraryFrames().end() || !IsWindow(frame->second)) return nullptr;
    return FindWindowExW(frame->second, nullptr, L"HighGUI class", nullptr);
}
