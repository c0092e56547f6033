#include "core/window_layout.h"

#include <algorithm>
#include <cstdint>

#include "core/view_placement.h"

namespace tonemorph {

namespace {

cv::Size outer(cv::Size content, const FrameMargins& frame) {
    return {content.width + frame.left + frame.right, content.height + frame.top + frame.bottom};
}

// The largest size of the picture that fits limit with its aspect kept: the picture itself when
// it fits, never larger, and never below one pixel on a side.
cv::Size fitInside(cv::Size picture, cv::Size limit) {
    if (picture.width <= limit.width && picture.height <= limit.height) return picture;
    const int64_t w = limit.width;
    const int64_t h = limit.height;
    if (w * picture.height <= h * picture.width) {
        return {limit.width, static_cast<int>(std::max<int64_t>(1, w * picture.height / picture.width))};
    }
    return {static_cast<int>(std::max<int64_t>(1, h * picture.width / picture.height)), limit.height};
}

// The effect window right of (or below) the source window, whose content has this size.
cv::Point effectBeside(cv::Point source, cv::Size content, bool stacked, const LayoutRequest& request) {
    const cv::Size window = outer(content, request.frame);
    return stacked ? source + cv::Point(0, window.height + request.gap)
                   : source + cv::Point(window.width + request.gap, 0);
}

// The picture windows side by side (or stacked) at origin, showing view.
void placePictures(WindowLayout& layout, cv::Point origin, cv::Size view, bool stacked,
                   const LayoutRequest& request) {
    layout.view = view;
    layout.oneToOne = view == request.picture;
    layout.stacked = stacked;
    layout.source = origin;
    layout.effect = effectBeside(origin, view, stacked, request);
}

// When nothing fits: the panel whole at the top left, the pictures below it (or beside it, or
// over it if there is no room at all), the effect window lower than the source window's title bar.
WindowLayout fallbackLayout(const LayoutRequest& request) {
    const FrameMargins& f = request.frame;
    const cv::Rect& area = request.area;
    const cv::Size panel = outer(request.panel, f);
    const int title = std::max(f.top, 1);
    WindowLayout layout;
    layout.fits = false;
    layout.panel = area.tl();
    cv::Point origin = area.tl();
    if (area.height - panel.height - request.gap >= 2 * title + request.gap) {
        origin.y += panel.height + request.gap;
    } else if (area.width - panel.width - request.gap > f.left + f.right) {
        origin.x += panel.width + request.gap;
    }
    const cv::Point step(title, title + request.gap);
    const cv::Size room(area.x + area.width - origin.x - step.x - f.left - f.right,
                        area.y + area.height - origin.y - step.y - f.top - f.bottom);
    const cv::Size view = fitInside(request.picture, {std::max(room.width, 1), std::max(room.height, 1)});
    placePictures(layout, origin, view, false, request);
    layout.effect = origin + step;
    return layout;
}

}  // namespace

void adjustToPictureWindows(WindowLayout& layout, const LayoutRequest& request, cv::Size window) {
    if (!layout.fits) return;  // the overlapping fallback keeps its title-bar steps
    layout.effect = effectBeside(layout.source, window, layout.stacked, request);
    const cv::Rect panel(layout.panel, outer(request.panel, request.frame));
    const cv::Rect source(layout.source, outer(window, request.frame));
    const cv::Rect effect(layout.effect, outer(window, request.frame));
    const auto inside = [&](const cv::Rect& r) { return (r & request.area) == r; };
    layout.fits = inside(panel) && inside(source) && inside(effect) && (panel & source).empty() &&
                  (panel & effect).empty() && (source & effect).empty();
}

WindowLayout layOutWindows(const LayoutRequest& request) {
    const FrameMargins& f = request.frame;
    const cv::Rect& area = request.area;
    const int gap = request.gap;
    const cv::Size panel = outer(request.panel, f);
    WindowLayout best;
    int64_t bestArea = -1;
    if (panel.width <= area.width && panel.height <= area.height) {
        // Panel above the pictures or beside them; pictures side by side or stacked. On a tie
        // (pictures 1:1 in several) the first is kept: panel on top, pictures side by side.
        for (const bool panelOnTop : {true, false}) {
            const cv::Rect region = panelOnTop
                ? cv::Rect(area.x, area.y + panel.height + gap, area.width, area.height - panel.height - gap)
                : cv::Rect(area.x + panel.width + gap, area.y, area.width - panel.width - gap, area.height);
            for (const bool stacked : {false, true}) {
                const cv::Size cell = stacked ? cv::Size(region.width, (region.height - gap) / 2)
                                              : cv::Size((region.width - gap) / 2, region.height);
                const cv::Size limit(cell.width - f.left - f.right, cell.height - f.top - f.bottom);
                if (limit.width < 1 || limit.height < 1) continue;
                const cv::Size view = fitInside(request.picture, limit);
                if (static_cast<int64_t>(view.width) * view.height <= bestArea) continue;
                bestArea = static_cast<int64_t>(view.width) * view.height;
                best.panel = area.tl();
                placePictures(best, region.tl(), view, stacked, request);
            }
        }
    }
    return bestArea < 0 ? fallbackLayout(request) : best;
}

cv::Size pictureUnits(LayoutRequest request, cv::Size picture, double scale, double pixelsPerUnit) {
    const int factor = startFactor(scale);
    if (factor > 1) {
        request.picture = unitsFor(picture * factor, pixelsPerUnit);
        if (layOutWindows(request).oneToOne) return request.picture;
    }
    return unitsFor(picture, pixelsPerUnit);
}

}  // namespace tonemorph
