// What the two picture windows are handed where they show a picture scaled down: samples taken on
// one grid, one picture pixel per screen pixel, so that both windows show the same picture
// positions at every window size and on a scaled desktop.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "gui/tool_fixture.h"
#include "reference/literal_pass.h"

namespace {

// One-pixel stripes, columns alternating light and dark and every third row another colour: any
// difference in which pixels two windows take shows at once.
cv::Mat stripes(cv::Size size) {
    cv::Mat picture(size, CV_8UC3);
    for (int r = 0; r < size.height; ++r) {
        for (int c = 0; c < size.width; ++c) {
            const uchar level = c % 2 == 0 ? 210 : 40;
            picture.at<cv::Vec3b>(r, c) = r % 3 == 2 ? cv::Vec3b(level, 120, 255 - level) : cv::Vec3b(level, level, level);
        }
    }
    return picture;
}

class PictureView : public gui::ToolTest, public ::testing::WithParamInterface<int> {
protected:
    PictureView()
        : ToolTest({GetParam() == 1 ? cv::Size(1920, 1080) : cv::Size(3840, 2160), gui::ServerLife::kPersistent, true}) {}

    void startWith(const cv::Mat& picture) {
        picture_ = picture;
        ASSERT_TRUE(cv::imwrite(dir_.file("picture.png"), picture_));
        std::filesystem::rename(dir_.file("picture.png"), dir_.file("1.jpg"));
        std::vector<std::string> environment = spyEnvironment();
        if (GetParam() > 1) environment.push_back(gui::scaleSetting(GetParam()));
        start(environment);
        ASSERT_TRUE(windows_.complete());
        ASSERT_LT(gui::windowSize(x(), windows_.effect).width, picture_.cols) << "not scaled";
        ASSERT_TRUE(findSliders());
    }

    // Both windows show the same pixels; where the window code follows the views, each was handed
    // one pixel per pixel of its picture area (the window's own size: no toolbar or status bar; on
    // GTK in the desktop's scaled units, in which its library draws), elsewhere the picture
    // itself, which the toolkit scales alike in both.
    bool windowsAlike(const cv::Mat& effect) {
        const bool alike = gui::waitUntil(10.0, [&] {
            const cv::Mat source = gui::screenshot(x(), windows_.source);
            const cv::Mat shown = gui::screenshot(x(), windows_.effect);
            return source.size() == shown.size() && cv::norm(source, shown, cv::NORM_INF) == 0 &&
                   (!followed() || (fits(lastShown("tonemorph-source").size(), source.size()) &&
                                    fits(lastShown("tonemorph-effect").size(), shown.size()))) &&
                   given("tonemorph-source", picture_) &&
                   effectGiven(effect);
        });
        if (!alike) {
            const cv::Mat source = gui::screenshot(x(), windows_.source);
            const cv::Mat shown = gui::screenshot(x(), windows_.effect);
            ADD_FAILURE() << "source window " << source.size() << " handed " << lastShown("tonemorph-source").size()
                          << ", effect window " << shown.size() << " handed " << lastShown("tonemorph-effect").size();
        }
        return alike;
    }

    static bool followed() { return gui::kToolkit == "qt" || gui::kToolkit == "gtk3"; }
    // GTK's library draws the picture as large as fits its area with the picture's shape kept,
    // which may leave a pixel's band beside it.
    static bool fits(cv::Size handed, cv::Size window) {
        if (gui::kToolkit != "gtk3") return handed == window;
        const cv::Size area(window.width / GetParam(), window.height / GetParam());
        return handed.width <= area.width && handed.height <= area.height &&
               (handed.width == area.width || handed.height == area.height) &&
               area.width - handed.width <= 1 && area.height - handed.height <= 1;
    }

    void resizeBoth(cv::Size size) {
        for (const Window window : {windows_.source, windows_.effect}) {
            gui::xdotool(display_.name(), "windowsize " + std::to_string(window) + " " + std::to_string(size.width) +
                                              " " + std::to_string(size.height));
        }
    }

    cv::Mat picture_;
};

// Ensure the two windows show the same pixels at the initial settings: at the start-up layout, at
// two window sizes chosen by the user (shrunk, then enlarged again), after a wheel turn in and one
// back out in the effect window (where the toolkit zooms), and on a desktop scaled by two (in
// device pixels).
TEST_P(PictureView, BothWindowsShowTheSamePixelsAtEverySize) {
    startWith(stripes({4000, 3000}));
    EXPECT_TRUE(windowsAlike(picture_)) << "at the start-up layout";
    // GTK's library lets no window shrink below the size its picture has.
    for (const cv::Size size : gui::kToolkit == "gtk3" ? std::vector<cv::Size>{} : std::vector<cv::Size>{{700, 525}, {900, 675}}) {
        SCOPED_TRACE(testing::Message() << size);
        resizeBoth(size * GetParam());
        EXPECT_TRUE(windowsAlike(picture_));
    }
    const cv::Size window = gui::windowSize(x(), windows_.effect);
    gui::xdotool(display_.name(), "mousemove --window " + std::to_string(windows_.effect) + " " +
                                      std::to_string(window.width / 2) + " " + std::to_string(window.height / 2) +
                                      " click 4 sleep 0.3 click 5");
    EXPECT_TRUE(windowsAlike(picture_)) << "after a wheel turn in and out";
    pressKey(windows_.effect, "q");
    EXPECT_EQ(run_->waitExit(10.0), 0);
}

// Ensure a resized window is given a sample of the result at its new size, and keeps getting that
// size on the next notification.
TEST_P(PictureView, ResizedWindowIsGivenASampleOfItsNewSize) {
    if (gui::kToolkit != "qt") GTEST_SKIP() << "only Qt lets the user shrink a picture window";
    startWith(gui::testPicture({4000, 3000}));
    gui::xdotool(display_.name(), "windowsize " + std::to_string(windows_.effect) + " 500 400");
    const auto givenWidth = [&] { return lastShown("tonemorph-effect").cols; };
    EXPECT_TRUE(gui::waitUntil(5.0, [&] { return givenWidth() == 500 && effectGiven(picture_); }))
        << "given a picture " << givenWidth() << " wide";
    setSlider(gui::kSize, 2);
    cv::Mat expected;
    reference::libraryMorphology(picture_, expected, 0, 2, 0);
    EXPECT_TRUE(gui::waitUntil(10.0, [&] { return givenWidth() == 500 && effectGiven(expected); }));
}

INSTANTIATE_TEST_SUITE_P(Desktops, PictureView, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return param.param == 1 ? std::string("unscaled") : std::string("scaled_by_two");
                         });

}  // namespace
