#include "picture_view.h"

#include <opencv2/highgui.hpp>

#include "core/view_placement.h"
#include "window/picture_display.h"
#include "window/window_arrangement.h"

namespace {

// Around a picture smaller than its view: a dark grey, against which neither a light nor a dark
// picture's edge is lost.
const cv::Scalar kBackground(64, 64, 64, 255);

struct Shown {
    cv::Size picture;                  // the size of the picture last shown, empty before
    cv::Size view;                     // the view it was placed in; empty while handed the picture itself
    tonemorph::ViewPlacement placed;   // valid while view is not empty
    tonemorph::SampleGrid grid;        // empty unless the picture is sampled
    cv::Mat sample;                    // kept between notifications, so a pass allocates nothing for them
    cv::Mat canvas;
    cv::Mat handed;                    // what the window was last handed (sharing its pixels)
};
Shown shown[2];
void (*showAgainIn)(const WindowName&) = nullptr;

Shown& shownIn(const WindowName& window) { return shown[&window == &effectWindow ? 1 : 0]; }

// The view a picture is placed in; empty where the window takes the picture itself (also where
// the view is the picture's size, which the toolkit then draws one to one anyway).
cv::Size placingView(const WindowName& window, cv::Size picture) {
    const cv::Size view = viewSize(window, picture);
    return view == picture ? cv::Size() : view;
}

// Brings the window's placement up to its view and picture; false where it takes the picture itself.
bool place(Shown& state, const WindowName& window, cv::Size picture) {
    const cv::Size view = placingView(window, picture);
    if (view.empty() || picture.empty()) {
        state.view = {};
        state.grid = {};
        return false;
    }
    // Made anew only when the view or the picture changed.
    if (view != state.view || picture != state.picture) {
        state.placed = tonemorph::placeInView(picture, view);
        state.grid = state.placed.sampled(picture) ? tonemorph::makeSampleGrid(picture, state.placed.shown)
                                                   : tonemorph::SampleGrid{};
    }
    state.view = view;
    state.picture = picture;
    return true;
}

void hand(const WindowName& window, const cv::Mat& image) {
    cv::imshow(window.id, image);
    viewHanded(window, image);
    shownIn(window).handed = image;
}

// Hands the window its placed pixels (the picture or its sample), on the canvas where they do not
// fill it.
void handPlaced(const WindowName& window, Shown& state, const cv::Mat& pixels) {
    if (state.placed.fillsCanvas()) {
        hand(window, pixels);
        return;
    }
    tonemorph::placeOnCanvas(pixels, state.placed, kBackground, state.canvas);
    hand(window, state.canvas);
}

void viewChanged(const WindowName& window) {
    const Shown& state = shownIn(window);
    if (state.picture.empty() || showAgainIn == nullptr) return;
    // Resizes that keep the view (the toolkit settling on the same size) show nothing anew.
    if (placingView(window, state.picture) != state.view) showAgainIn(window);
}

}  // namespace

const tonemorph::SampleGrid* shownGrid(const WindowName& window, cv::Size picture) {
    Shown& state = shownIn(window);
    return place(state, window, picture) && !state.grid.empty() ? &state.grid : nullptr;
}

void showTaken(const WindowName& window, const cv::Mat& taken, cv::Size picture) {
    if (windowClosed(window)) return;
    Shown& state = shownIn(window);
    if (!place(state, window, picture) || taken.size() != state.placed.shown) {
        // The view changed since the sample was taken: shown as it is until the pass it asked for.
        state.picture = picture;
        hand(window, taken);
        return;
    }
    handPlaced(window, state, taken);
}

void showPicture(const WindowName& window, const cv::Mat& picture) {
    if (windowClosed(window)) return;
    Shown& state = shownIn(window);
    if (!place(state, window, picture.size())) {
        state.picture = picture.size();
        state.sample.release();
        state.canvas.release();
        hand(window, picture);
        return;
    }
    if (state.grid.empty()) {
        handPlaced(window, state, picture);
        return;
    }
    tonemorph::takeSample(picture, state.grid, state.sample);
    handPlaced(window, state, state.sample);
}

void followPictures(void (*showAgain)(const WindowName&), FailureSink failed) {
    showAgainIn = showAgain;
    followPictureViews(viewChanged, failed);
    // Window code that draws the pictures itself starts from what the windows already show.
    for (const WindowName* window : {&sourceWindow, &effectWindow}) {
        const Shown& state = shownIn(*window);
        if (!state.handed.empty() && !windowClosed(*window)) viewHanded(*window, state.handed);
    }
}
