#include "picture_view.h"

#include <opencv2/highgui.hpp>

#include "picture_display.h"
#include "window_arrangement.h"

namespace {

struct Shown {
    const cv::Mat* picture = nullptr;  // what the window shows, once followed
    cv::Size pictureSize;
    tonemorph::SampleGrid grid;  // empty while the window is handed the picture itself
    cv::Mat sample;              // kept between notifications, so a pass allocates nothing for it
};
Shown shown[2];

Shown& shownIn(const WindowName& window) { return shown[&window == &effectWindow ? 1 : 0]; }

// The grid for the window's present view, made anew only when the view or picture changed.
const tonemorph::SampleGrid* gridFor(const WindowName& window, cv::Size picture) {
    Shown& state = shownIn(window);
    const cv::Size view = scaledViewSize(window, picture);
    if (view.empty()) {
        state.grid = {};
        return nullptr;
    }
    if (state.grid.size() != view || state.pictureSize != picture) {
        state.grid = tonemorph::makeSampleGrid(picture, view);
        state.pictureSize = picture;
    }
    return &state.grid;
}

void viewChanged(const WindowName& window) {
    const Shown& state = shownIn(window);
    if (state.picture == nullptr) return;
    const cv::Size view = scaledViewSize(window, state.picture->size());
    const bool handedWhole = state.grid.empty();
    // Resizes that keep the sample (the toolkit settling on the same size) show nothing anew.
    if (view.empty() ? !handedWhole : view != state.grid.size()) showPicture(window, *state.picture);
}

}  // namespace

const tonemorph::SampleGrid* shownGrid(const WindowName& window, cv::Size picture) {
    return gridFor(window, picture);
}

void showPicture(const WindowName& window, const cv::Mat& picture) {
    if (windowClosed(window)) return;
    Shown& state = shownIn(window);
    const tonemorph::SampleGrid* grid = gridFor(window, picture.size());
    if (grid == nullptr) {
        state.sample.release();
        cv::imshow(window.id, picture);
        return;
    }
    tonemorph::takeSample(picture, *grid, state.sample);
    cv::imshow(window.id, state.sample);
}

void followPictures(const cv::Mat& source, const cv::Mat& effect, FailureSink failed) {
    shownIn(sourceWindow).picture = &source;
    shownIn(effectWindow).picture = &effect;
    followPictureViews(viewChanged, failed);
}
