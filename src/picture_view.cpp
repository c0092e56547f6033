#include "picture_view.h"

#include <opencv2/highgui.hpp>

#include "window/picture_display.h"
#include "window/window_arrangement.h"

namespace {

struct Shown {
    cv::Size picture;            // the size of the picture last shown, empty before
    tonemorph::SampleGrid grid;  // empty while the window is handed the picture itself
    cv::Mat sample;              // kept between notifications, so a pass allocates nothing for it
};
Shown shown[2];
void (*showAgainIn)(const WindowName&) = nullptr;

Shown& shownIn(const WindowName& window) { return shown[&window == &effectWindow ? 1 : 0]; }

void viewChanged(const WindowName& window) {
    const Shown& state = shownIn(window);
    if (state.picture.empty() || showAgainIn == nullptr) return;
    const cv::Size view = scaledViewSize(window, state.picture);
    // Resizes that keep the sample (the toolkit settling on the same size) show nothing anew.
    if (view.empty() ? !state.grid.empty() : view != state.grid.size()) showAgainIn(window);
}

}  // namespace

const tonemorph::SampleGrid* shownGrid(const WindowName& window, cv::Size picture) {
    Shown& state = shownIn(window);
    const cv::Size view = scaledViewSize(window, picture);
    if (view.empty()) {
        state.grid = {};
        return nullptr;
    }
    // Made anew only when the view or the picture changed.
    if (state.grid.size() != view || state.picture != picture) state.grid = tonemorph::makeSampleGrid(picture, view);
    state.picture = picture;
    return &state.grid;
}

void showTaken(const WindowName& window, const cv::Mat& taken, cv::Size picture) {
    if (windowClosed(window)) return;
    shownIn(window).picture = picture;
    cv::imshow(window.id, taken);
}

void showPicture(const WindowName& window, const cv::Mat& picture) {
    if (windowClosed(window)) return;
    Shown& state = shownIn(window);
    const tonemorph::SampleGrid* grid = shownGrid(window, picture.size());
    state.picture = picture.size();
    if (grid == nullptr) {
        state.sample.release();
        cv::imshow(window.id, picture);
        return;
    }
    tonemorph::takeSample(picture, *grid, state.sample);
    cv::imshow(window.id, state.sample);
}

void followPictures(void (*showAgain)(const WindowName&), FailureSink failed) {
    showAgainIn = showAgain;
    followPictureViews(viewChanged, failed);
}
