// A real Wayland desktop for the program: sway, KWin or mutter run headless by an unprivileged
// user (sway refuses root; KWin's file capability keeps runuser from starting it), with or
// without XWayland, and what the compositor itself knows of the windows: where they are, what
// they show, and keys and clicks sent as its input devices would send them.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <cstdio>

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "gui/gui_harness.h"

namespace gui {

enum class Compositor { kSway, kKwin, kMutter };

// The unprivileged user the compositors run as (tools/install-deps desktops makes it).
inline const std::string kDesktopUser = "tonemorph-desktop";

// What keeps this compositor from running here (not installed, not root, no user), or empty.
std::string desktopUnavailable(Compositor compositor);

// One window as the compositor has it, in screen coordinates.
struct DesktopWindow {
    std::string title;
    cv::Rect frame;    // with the compositor's decorations
    cv::Rect content;  // what the program draws
    bool x11 = false;       // shown through XWayland
    bool floating = false;  // floated over the tiles (sway)
};

class Desktop {
public:
    // xwayland: whether the session offers X programs a display too. screen: in the desktop's
    // units, scale screen pixels each (sway and KWin scale; mutter shows 1).
    Desktop(Compositor compositor, bool xwayland, cv::Size screen = {1920, 1080}, int scale = 1);
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    Compositor compositor() const { return compositor_; }
    // The X display (":N"), empty without XWayland.
    const std::string& xDisplay() const { return xDisplay_; }
    // A connection to it with every right a session's program has; null without XWayland.
    Display* x() const { return x_; }
    // What the session gives a program started in it (WAYLAND_DISPLAY, XAUTHORITY, the desktop's
    // name); DISPLAY is xDisplay().
    std::vector<std::string> environment() const;
    cv::Rect screen() const { return cv::Rect(cv::Point(), screen_); }
    int scale() const { return scale_; }

    // The windows the compositor lists with these titles (sway: its tree; KWin: a script of its
    // own; mutter: only those on XWayland, since it lists native ones to no client).
    std::vector<DesktopWindow> windows(const std::vector<std::string>& titles);
    // Whether windows() sees native windows.
    bool listsNativeWindows() const { return compositor_ != Compositor::kMutter; }

    // The whole screen as the compositor draws it, in screen pixels (sway); empty where it gives no
    // client that.
    cv::Mat screenshot();
    // Keys and the pointer as a seat's devices (sway: wtype, and a virtual pointer of our own).
    bool sendsInput() const { return compositor_ == Compositor::kSway; }
    void focus(const std::string& title);
    // Closes a native window as its close button would (sway, KWin); false where nothing can.
    bool close(const std::string& title);
    void type(const std::string& keys);
    void click(cv::Point at);

private:
    std::string asUser(const std::string& command) const;
    std::string runAsUser(const std::string& command) const;
    std::string swaySocket() const;

    Compositor compositor_;
    cv::Size screen_;
    int scale_;
    ScratchDir runtime_;
    std::string socketName_;
    std::string busAddress_;
    std::string xDisplay_;
    std::string xAuthority_;
    Display* x_ = nullptr;
    pid_t pid_ = -1;
    int scripts_ = 0;
    FILE* pointer_ = nullptr;  // the virtual pointer, kept: sway 1.7 crashes when one goes away
};

// How closely content shows picture whole in a window of another size: centred, scaled down with
// its shape kept where it is larger, else at the largest whole factor that fits.
ScaledView compareFittedView(const cv::Mat& content, const cv::Mat& picture);

}  // namespace gui
