// The two picture windows as a toolkit's code follows them (picture_display.h): for each, the
// toolkit's widget that shows its picture once found, whether it is zoomed in, and the program's
// functions that hear of a change and of a failure. What Qt and GTK 3 share; each finds its
// widgets and watches them its own way.
#pragma once

#include "window/picture_display.h"
#include "window/toolkit_failure.h"
#include "window/window_names.h"

template <typename Widget>
struct FollowedView {
    const WindowName* window;
    Widget widget{};         // empty until followed
    bool zoomedIn = false;   // the view shows part of the picture, enlarged
    bool pending = false;    // a report of a new size is on its way
    cv::Size handed{};       // the size of the image last handed, where the window code needs it
};

template <typename Widget>
class FollowedViews {
public:
    FollowedView<Widget>* find(const WindowName& window) {
        for (FollowedView<Widget>& view : views_) {
            if (view.window == &window) return &view;
        }
        return nullptr;
    }

    FollowedView<Widget>* begin() { return views_; }
    FollowedView<Widget>* end() { return views_ + 2; }

    void follow(void (*changed)(const WindowName&), FailureSink failed) {
        changed_ = changed;
        failed_ = failed;
    }

    // From one of the toolkit's callbacks: what the window is handed may have changed. what: the
    // work, should it fail.
    void tell(const FollowedView<Widget>& view, const char* what) {
        if (changed_ != nullptr) inCallback(failed_, what, [&view, this] { changed_(*view.window); });
    }
    void tellNewSize(const FollowedView<Widget>& view) { tell(view, "showing the picture at its new size"); }
    // Right after following (picture_display.h): the whole picture, given before the windows were
    // arranged, may now need to be a sample.
    void tellArranged(const FollowedView<Widget>& view) { tell(view, "showing the picture at its arranged size"); }
    // From a shortcut, which guards its own work.
    void tellUnguarded(const FollowedView<Widget>& view) {
        if (changed_ != nullptr) changed_(*view.window);
    }

private:
    FollowedView<Widget> views_[2] = {{&sourceWindow}, {&effectWindow}};
    void (*changed_)(const WindowName&) = nullptr;
    FailureSink failed_ = nullptr;
};
