#include "core/window_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using tonemorph::FrameMargins;
using tonemorph::LayoutRequest;
using tonemorph::WindowLayout;

const cv::Size kPanel(477, 125);
const FrameMargins kNoFrame{};
const FrameMargins kOpenboxFrame{1, 21, 1, 6};

cv::Rect framed(cv::Point at, cv::Size content, const FrameMargins& f) {
    return {at, cv::Size(content.width + f.left + f.right, content.height + f.top + f.bottom)};
}

bool inside(const cv::Rect& r, const cv::Rect& area) { return (r & area) == r; }

// The windows as rectangles on the screen: panel, source, effect.
std::vector<cv::Rect> windowRects(const WindowLayout& l, const LayoutRequest& r, cv::Size view) {
    return {framed(l.panel, r.panel, r.frame), framed(l.source, view, r.frame),
            framed(l.effect, view, r.frame)};
}

bool fitsWithoutOverlap(const std::vector<cv::Rect>& windows, const cv::Rect& area) {
    for (size_t i = 0; i < windows.size(); ++i) {
        if (!inside(windows[i], area)) return false;
        for (size_t j = i + 1; j < windows.size(); ++j) {
            if (!(windows[i] & windows[j]).empty()) return false;
        }
    }
    return true;
}

// Slow and plain: whether the picture fits 1:1 in some arrangement (panel above or left of the
// pictures; pictures side by side or stacked), trying each by placing rectangles.
bool fitsOneToOneSomehow(const LayoutRequest& r) {
    const cv::Rect panel = framed(r.area.tl(), r.panel, r.frame);
    for (const cv::Point pictures : {panel.tl() + cv::Point(0, panel.height + r.gap),
                                     panel.tl() + cv::Point(panel.width + r.gap, 0)}) {
        const cv::Rect source = framed(pictures, r.picture, r.frame);
        for (const cv::Point effect : {source.tl() + cv::Point(source.width + r.gap, 0),
                                       source.tl() + cv::Point(0, source.height + r.gap)}) {
            if (fitsWithoutOverlap({panel, source, framed(effect, r.picture, r.frame)}, r.area)) {
                return true;
            }
        }
    }
    return false;
}

struct Screen {
    cv::Rect area;
    FrameMargins frame;
};

const Screen kScreens[] = {
    {{0, 0, 1024, 768}, kNoFrame},      {{0, 0, 1024, 768}, kOpenboxFrame},
    {{0, 0, 1366, 768}, kNoFrame},      {{0, 0, 1366, 768}, kOpenboxFrame},
    {{0, 0, 1920, 1080}, kNoFrame},     {{0, 24, 1920, 1032}, kOpenboxFrame},  // a top panel
    {{0, 0, 2560, 1440}, kNoFrame},     {{60, 0, 2500, 1440}, kOpenboxFrame},  // a side dock
};
const cv::Size kPictures[] = {{1, 1},     {600, 400},  {1200, 800}, {1900, 1000}, {4000, 3000},
                              {1, 5000},  {5000, 1},   {40000, 10}, {3000, 4000}, {10, 10}};

// Ensure on every screen and for every picture: all three windows inside the usable area and none
// covering another; 1:1 exactly when some arrangement holds the picture 1:1; otherwise the
// picture scaled down whole, aspect kept to within a pixel, and as large as its place allows.
TEST(WindowLayout, EveryScreenAndPictureFitsWithoutOverlap) {
    for (const Screen& screen : kScreens) {
        for (const cv::Size picture : kPictures) {
            const LayoutRequest request{screen.area, screen.frame, kPanel, picture, 2};
            const WindowLayout layout = tonemorph::layOutWindows(request);
            SCOPED_TRACE(::testing::Message() << screen.area << " picture " << picture);
            ASSERT_TRUE(layout.fits);
            EXPECT_TRUE(fitsWithoutOverlap(windowRects(layout, request, layout.view), screen.area));
            EXPECT_EQ(layout.oneToOne, fitsOneToOneSomehow(request));
            EXPECT_EQ(layout.oneToOne, layout.view == picture);
            if (layout.oneToOne) continue;
            EXPECT_LE(layout.view.width, picture.width);
            EXPECT_LE(layout.view.height, picture.height);
            // Aspect: the rounded-down side is within one pixel of exact (or clamped at 1).
            const double exactHeight = static_cast<double>(layout.view.width) * picture.height / picture.width;
            const double exactWidth = static_cast<double>(layout.view.height) * picture.width / picture.height;
            EXPECT_TRUE(std::abs(layout.view.height - exactHeight) < 1 || std::abs(layout.view.width - exactWidth) < 1 ||
                        layout.view.width == 1 || layout.view.height == 1)
                << "view " << layout.view;
            // Largest: one pixel more on both sides no longer fits the same arrangement (with the
            // aspect check above, the view is as large as whole pixels allow).
            WindowLayout grown = layout;
            tonemorph::adjustToPictureWindows(grown, request, layout.view + cv::Size(1, 1));
            EXPECT_FALSE(grown.fits) << "room left around " << layout.view;
        }
    }
}

// Ensure the arrangement follows the picture's shape: a landscape photo side by side below the
// panel, a strip wider than the screen stacked, a tall strip beside the panel.
TEST(WindowLayout, ArrangementFollowsThePictureShape) {
    const cv::Rect area(0, 0, 1920, 1200);
    struct Case {
        cv::Size picture;
        bool stacked;
        bool panelOnTop;
    };
    for (const Case c : {Case{{4000, 3000}, false, true}, Case{{40000, 10}, true, true},
                         Case{{1, 5000}, false, false}, Case{{600, 400}, false, true}}) {
        const LayoutRequest request{area, kOpenboxFrame, kPanel, c.picture, 2};
        const WindowLayout layout = tonemorph::layOutWindows(request);
        SCOPED_TRACE(::testing::Message() << c.picture);
        EXPECT_EQ(layout.stacked, c.stacked);
        EXPECT_EQ(layout.source.y > layout.panel.y, c.panelOnTop);
    }
}

// Ensure that on a screen too small for the three (hardly larger than the panel, or shorter than
// it) the panel sits whole at the top left and the effect window leaves the source window's title
// bar uncovered.
TEST(WindowLayout, TooSmallAScreenKeepsTitleBarsUncovered) {
    for (const cv::Rect area : {cv::Rect(0, 0, 483, 160), cv::Rect(0, 0, 700, 150)}) {
        const LayoutRequest request{area, kOpenboxFrame, kPanel, {4000, 3000}, 2};
        const WindowLayout layout = tonemorph::layOutWindows(request);
        SCOPED_TRACE(::testing::Message() << area);
        EXPECT_FALSE(layout.fits);
        EXPECT_EQ(layout.panel, area.tl());
        const cv::Rect sourceTitle(layout.source, cv::Size(layout.view.width + 2, kOpenboxFrame.top));
        EXPECT_TRUE((sourceTitle & framed(layout.effect, layout.view, kOpenboxFrame)).empty());
    }
}

// Ensure a picture window the toolkit makes larger than asked pushes the effect window along.
TEST(WindowLayout, LargerPictureWindowsStayApart) {
    const LayoutRequest request{{0, 0, 1366, 768}, kNoFrame, kPanel, {10, 10}, 2};
    WindowLayout layout = tonemorph::layOutWindows(request);
    tonemorph::adjustToPictureWindows(layout, request, {69, 69});
    EXPECT_TRUE(layout.fits);
    EXPECT_TRUE(fitsWithoutOverlap(windowRects(layout, request, {69, 69}), request.area));
}

// Ensure a picture starts at the whole factor nearest the desktop's scale where the three windows
// fit it, else at one, in the toolkit's units: the scale's own for Qt and GTK, screen pixels for
// Windows.
TEST(WindowLayout, PictureStartsAtTheNearestWholeFactorThatFits) {
    struct Case {
        cv::Size picture;
        double scale, pixelsPerUnit;
        cv::Size units;
    };
    const Case cases[] = {
        {{300, 200}, 1.0, 1.0, {300, 200}},     // 100 %: the picture itself
        {{300, 200}, 2.0, 2.0, {300, 200}},     // 200 %: 600x400 screen pixels
        {{1000, 600}, 2.0, 2.0, {500, 300}},    // too large at 2: at 1
        {{300, 200}, 1.5, 1.5, {200, 134}},     // 150 %: at 1, whole in screen pixels
        {{300, 200}, 1.75, 1.75, {344, 232}},   // 175 %: at 2
        {{300, 200}, 2.0, 1.0, {600, 400}},     // Windows at 200 %
        {{1000, 600}, 2.0, 1.0, {1000, 600}},
        {{4000, 3000}, 2.0, 2.0, {2000, 1500}}, // scaled down by the layout from one to one
    };
    // A 4K screen at each scale, in its units.
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.picture << " at " << c.scale << ", " << c.pixelsPerUnit << " a unit");
        const cv::Rect area(0, 0, static_cast<int>(3840 / c.pixelsPerUnit), static_cast<int>(2160 / c.pixelsPerUnit));
        const LayoutRequest request{area, kOpenboxFrame, kPanel, {}, 2};
        EXPECT_EQ(tonemorph::pictureUnits(request, c.picture, c.scale, c.pixelsPerUnit), c.units);
    }
}

}  // namespace
