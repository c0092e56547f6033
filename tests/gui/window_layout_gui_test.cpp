// The start-up layout in real windows, on the screens people have, with and without a window
// manager, for pictures from 1x1 to 40000x10: every window inside the usable area, none covering
// another, all five sliders in sight, pictures that fit shown 1:1 pixel for pixel, larger ones
// shown whole, scaled down.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "gui/tool_fixture.h"

namespace {

struct ScreenCase {
    cv::Size screen;
    bool windowManager;
    int scale;  // the toolkit's whole scale factor, as on a HiDPI laptop
};

std::string describe(const ScreenCase& c) {
    return std::to_string(c.screen.width) + "x" + std::to_string(c.screen.height) +
           (c.windowManager ? "_openbox" : "_bare") + (c.scale > 1 ? "_scale" + std::to_string(c.scale) : "");
}

const cv::Size kPictures[] = {{1, 1},     {600, 400}, {1200, 800}, {1900, 1000},
                              {4000, 3000}, {1, 5000}, {5000, 1},   {40000, 10}};

class WindowLayoutGui : public gui::ToolTest, public ::testing::WithParamInterface<ScreenCase> {
protected:
    WindowLayoutGui()
        : ToolTest({GetParam().screen, gui::ServerLife::kPersistent, GetParam().windowManager}) {}

    // All three windows with their frames inside the usable area, none overlapping another.
    void expectInsideAndApart() {
        const cv::Rect area = gui::usableArea(x());
        const cv::Rect panel = gui::frameRect(x(), windows_.panel);
        const cv::Rect source = gui::frameRect(x(), windows_.source);
        const cv::Rect effect = gui::frameRect(x(), windows_.effect);
        for (const cv::Rect& window : {panel, source, effect}) {
            EXPECT_EQ(window & area, window) << window << " is not inside the usable area " << area;
        }
        EXPECT_TRUE((panel & source).empty()) << panel << " " << source;
        EXPECT_TRUE((panel & effect).empty()) << panel << " " << effect;
        EXPECT_TRUE((source & effect).empty()) << source << " " << effect;
    }

    // What a picture window shows against the picture: 1:1 pixel for pixel when the window is the
    // picture's size, the same as the other window for pictures smaller than any window, and
    // otherwise the whole picture scaled down.
    void expectShowsWhole(Window window, const cv::Mat& picture, const char* which) {
        SCOPED_TRACE(which);
        const cv::Size content = gui::windowSize(x(), window);
        if (content == picture.size()) {
            EXPECT_TRUE(gui::waitUntil(5.0, [&] {
                return gui::locateExactly(gui::screenshot(x(), window), picture) == cv::Point(0, 0);
            })) << "not shown 1:1";
            std::printf("%s %dx%d: 1:1\n", which, picture.cols, picture.rows);
            return;
        }
        if (content.width >= picture.cols && content.height >= picture.rows) {
            // Tiny pictures: the toolkit enlarges them alike in both windows.
            EXPECT_TRUE(gui::waitUntil(5.0, [&] {
                const cv::Mat a = gui::screenshot(x(), windows_.source);
                const cv::Mat b = gui::screenshot(x(), windows_.effect);
                return a.size() == b.size() && cv::norm(a, b, cv::NORM_INF) == 0;
            }));
            return;
        }
        EXPECT_LE(content.width, picture.cols);
        EXPECT_LE(content.height, picture.rows);
        const gui::ScaledView view = gui::compareScaledView(x(), window, picture, 5.0);
        std::printf("%s %dx%d: view %dx%d, mean difference %.2f, worst corner %.2f\n", which,
                    picture.cols, picture.rows, content.width, content.height, view.whole, view.worstCorner);
        EXPECT_TRUE(view.close()) << "view " << content << " of " << picture.size() << ": mean difference "
                                  << view.whole << ", worst corner " << view.worstCorner;
    }
    // GTK's windows fail on a picture scaled so thin that a side comes to no pixel: the program
    // shows a picture 64 times as long as wide at 1:1 there, and refuses one longer than a window
    // can be.
    void expectOneToOneOnGtk(cv::Size size, int scale, const std::vector<std::string>& environment) {
        if (std::max(size.width, size.height) * scale > 32767) {
            run_ = std::make_unique<gui::ProgramRun>(dir_.path(), display_.name(), environment);
            EXPECT_EQ(run_->waitExit(20.0), 1);
            EXPECT_NE(run_->err().find("too long and thin for GTK windows to show"), std::string::npos) << run_->err();
            return;
        }
        start(environment);
        ASSERT_TRUE(windows_.complete());
        EXPECT_EQ(gui::windowSize(x(), windows_.source), size * scale);
        pressKey(windows_.effect, "q");
        EXPECT_EQ(run_->waitExit(10.0), 0);
        EXPECT_EQ(run_->err(), "");
    }
};

// Ensure for every picture shape: all windows inside the usable area, none overlapping, the five
// sliders uncovered, the contrast groove longer than its 301 steps, both pictures shown whole
// (1:1 where they fit), nothing on stderr, and q still quits.
TEST_P(WindowLayoutGui, EveryPictureIsShownWholeAndNothingOverlaps) {
    const ScreenCase& screen = GetParam();
    std::vector<std::string> environment;
    if (screen.scale > 1) environment.push_back(gui::scaleSetting(100 * screen.scale));
    for (const cv::Size size : kPictures) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        const cv::Mat picture = gui::testPicture(size);
        std::vector<uchar> png;
        ASSERT_TRUE(cv::imencode(".png", picture, png));
        std::ofstream(dir_.file("1.jpg"), std::ios::binary)
            .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));

        if (gui::kToolkit == "gtk3" && std::min(size.width, size.height) * 64 < std::max(size.width, size.height)) {
            expectOneToOneOnGtk(size, screen.scale, environment);
            continue;
        }
        start(environment);
        ASSERT_TRUE(windows_.complete());
        expectInsideAndApart();
        ASSERT_TRUE(findSliders());
        // Inside the panel, which lies apart from the other windows: in sight.
        const cv::Rect panel(cv::Point(0, 0), gui::windowSize(x(), windows_.panel));
        for (const gui::SliderState& slider : sliders_) {
            EXPECT_EQ(slider.groove & panel, slider.groove) << slider.label << " reaches outside the panel";
        }
        EXPECT_GT(sliders_[gui::kContrast].groove.width, 301 * screen.scale);
        if (screen.scale == 1) {
            expectShowsWhole(windows_.source, picture, "source");
            expectShowsWhole(windows_.effect, picture, "effect");
        }
        pressKey(windows_.effect, "q");
        EXPECT_EQ(run_->waitExit(10.0), 0);
        EXPECT_EQ(run_->err(), "");
        EXPECT_TRUE(gui::waitUntil(5.0, [&] { return gui::windowsTitled(x(), gui::kSourceTitle).empty(); }));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Screens, WindowLayoutGui,
    ::testing::Values(ScreenCase{{1024, 768}, false, 1}, ScreenCase{{1024, 768}, true, 1},
                      ScreenCase{{1366, 768}, false, 1}, ScreenCase{{1366, 768}, true, 1},
                      ScreenCase{{1920, 1080}, false, 1}, ScreenCase{{1920, 1080}, true, 1},
                      ScreenCase{{2560, 1440}, false, 1}, ScreenCase{{2560, 1440}, true, 1},
                      ScreenCase{{3840, 2160}, false, 2}, ScreenCase{{3840, 2160}, true, 2}),
    [](const ::testing::TestParamInfo<ScreenCase>& param) { return describe(param.param); });

}  // namespace
