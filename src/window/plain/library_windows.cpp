#include "window/plain/library_windows.h"

#include <algorithm>

#include <opencv2/highgui.hpp>


namespace library_windows {

void open(const WindowName& window, int flags) {
    cv::namedWindow(window.id, flags);
    cv::setWindowTitle(window.id, window.title);
}

bool closed(const WindowName& window) {
    try {
        // A destroyed window has no properties (-1); a hidden one is not visible (0). GTK reports
        // visibility as -1 for every window, so only 0 counts as hidden.
        return cv::getWindowProperty(window.id, cv::WND_PROP_AUTOSIZE) < 0 ||
               cv::getWindowProperty(window.id, cv::WND_PROP_VISIBLE) == 0;
    } catch (const cv::Exception&) {
        return true;  // a backend that refuses to answer for an unknown window
    }
}

cv::Size panelSize(int sliders) {
    // The library tells no panel size; its sliders' rows are about this tall with their labels.
    const cv::Rect panelArea = cv::getWindowImageRect(panelWindow.id);
    return {std::max(panelArea.width, 400), std::max(panelArea.height, 48 * sliders)};
}

namespace {

tonemorph::LayoutRequest requestFor(cv::Size picture, const cv::Rect& area, const cv::Vec4i& frame, cv::Size panel) {
    tonemorph::LayoutRequest request;
    request.area = area;
    request.frame = {frame[0], frame[1], frame[2], frame[3]};
    request.panel = panel;
    request.picture = picture;
    return request;
}

}  // namespace

cv::Size pictureUnits(cv::Size picture, const cv::Rect& area, const cv::Vec4i& frame, cv::Size panel, double scale) {
    return tonemorph::pictureUnits(requestFor(picture, area, frame, panel), picture, scale, scale);
}

void keepApart(tonemorph::WindowLayout layout, cv::Size picture, const cv::Rect& area, const cv::Vec4i& frame,
               cv::Size panel, cv::Size window) {
    const cv::Point effectBefore = layout.effect;
    tonemorph::adjustToPictureWindows(layout, requestFor(picture, area, frame, panel), window);
    if (layout.effect != effectBefore) cv::moveWindow(effectWindow.id, layout.effect.x, layout.effect.y);
}

tonemorph::WindowLayout arrange(cv::Size picture, const cv::Rect& area, const cv::Vec4i& frame, cv::Size panel) {
    const tonemorph::WindowLayout layout = tonemorph::layOutWindows(requestFor(picture, area, frame, panel));
    cv::moveWindow(panelWindow.id, layout.panel.x, layout.panel.y);
    const std::pair<const WindowName*, cv::Point> pictures[] = {{&sourceWindow, layout.source},
                                                                {&effectWindow, layout.effect}};
    for (const auto& [window, at] : pictures) {
        // The view is the picture itself where it fits: a resizable window is sized to it.
        cv::resizeWindow(window->id, layout.view.width, layout.view.height);
        cv::moveWindow(window->id, at.x, at.y);
    }
    return layout;
}

}  // namespace library_windows
