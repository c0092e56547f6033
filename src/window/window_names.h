// The three windows. The GUI library addresses a window by an ASCII identity (its sliders cannot find
// a window registered under a non-ASCII name); the title is what the user sees.
#pragma once

struct WindowName {
    const char* id;
    const char* title;
};

inline constexpr WindowName panelWindow{"tonemorph-panel", "【滑条】"};
inline constexpr WindowName sourceWindow{"tonemorph-source", "【原始图】"};
inline constexpr WindowName effectWindow{"tonemorph-effect", "【效果图】"};
