// What the two picture windows are handed: where they show a picture scaled down, samples taken on
// one grid, one picture pixel per screen pixel, so that both windows show the same picture
// positions at every window size; where they are larger than it, the picture at a whole factor;
// on desktops at 100 %, 150 % and 200 %, in the screen's own pixels.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

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
        : ToolTest({GetParam() == 100 ? cv::Size(1920, 1080) : cv::Size(3840, 2160), gui::ServerLife::kPersistent, true}) {}

    // percent: the desktop's scale.
    void startWith(const cv::Mat& picture) {
        if (gui::kToolkit == "gtk3" && GetParam() % 100 != 0) GTEST_SKIP() << "GTK scales by whole factors only";
        picture_ = picture;
        ASSERT_TRUE(cv::imwrite(dir_.file("picture.png"), picture_));
        std::filesystem::rename(dir_.file("picture.png"), dir_.file("1.jpg"));
        std::vector<std::string> environment = spyEnvironment();
        if (GetParam() != 100) environment.push_back(gui::scaleSetting(GetParam()));
        start(environment);
        ASSERT_TRUE(windows_.complete());
        ASSERT_TRUE(findSliders());
    }

    // Both windows show the same pixels; where the window code follows the views, each was handed
    // one pixel per screen pixel of its picture area (the window's own size: no toolbar or status
    // bar), and the screen shows exactly that, unblended; elsewhere the picture itself, which the
    // toolkit scales alike in both. effect: what the effect window shows at full resolution.
    bool windowsAlike(const cv::Mat& effect) {
        const bool alike = gui::waitUntil(10.0, [&] {
            const cv::Mat source = gui::screenshot(x(), windows_.source);
            const cv::Mat shown = gui::screenshot(x(), windows_.effect);
            return source.size() == shown.size() && cv::norm(source, shown, cv::NORM_INF) == 0 &&
                   (!followed() || (handedWhole(lastShown("tonemorph-source").size(), source.size()) &&
                                    handedWhole(lastShown("tonemorph-effect").size(), shown.size()) &&
                                    gui::isSampleOf(source, lastShown("tonemorph-source")))) &&
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

    // Where the window shows picture magnified f times, each pixel a block of f x f screen pixels
    // ((-1,-1) where it does not within the timeout).
    cv::Point locateMagnified(Window window, const cv::Mat& picture, int f) {
        cv::Mat blocks;
        cv::resize(picture, blocks, picture.size() * f, 0, 0, cv::INTER_NEAREST);
        cv::Point at(-1, -1);
        gui::waitUntil(5.0, [&] {
            at = gui::locateExactly(gui::screenshot(x(), window), blocks);
            return at != cv::Point(-1, -1);
        });
        return at;
    }

    static bool followed() { return gui::kToolkit == "qt" || gui::kToolkit == "gtk3"; }
    // A window is handed its view's pixels, or, sized to its picture on a desktop scaled by a
    // whole factor, the picture, which the toolkit magnifies by that factor.
    static bool handedWhole(cv::Size handed, cv::Size window) {
        return handed == window || (GetParam() % 100 == 0 && handed * (GetParam() / 100) == window);
    }
    // Qt's windows are sized to their pictures where these are shown at the desktop's own whole
    // scale, and the user cannot resize them; GTK's and the others' can be.
    static bool resizable(cv::Size window, cv::Size picture) {
        return gui::kToolkit != "qt" || GetParam() % 100 != 0 || window != picture * (GetParam() / 100);
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
// two window sizes chosen by the user (shrunk, then enlarged again), in two tall windows after one
// was handed a sample of another shape, after a wheel turn in and one
// back out in the effect window (where the toolkit zooms), and on a desktop scaled by two (in
// device pixels).
TEST_P(PictureView, BothWindowsShowTheSamePixelsAtEverySize) {
    startWith(stripes({4000, 3000}));
    if (IsSkipped()) return;
    ASSERT_LT(gui::windowSize(x(), windows_.effect).width, picture_.cols) << "not scaled";
    EXPECT_TRUE(windowsAlike(picture_)) << "at the start-up layout";
    // GTK's library lets no window shrink below the size its picture has. Sizes whole in screen
    // pixels at 150 % too: Qt draws a view of half a pixel stretched by that half.
    for (const cv::Size size : gui::kToolkit == "gtk3" ? std::vector<cv::Size>{} : std::vector<cv::Size>{{700, 526}, {900, 676}}) {
        SCOPED_TRACE(testing::Message() << size);
        resizeBoth(size * GetParam() / 100);
        EXPECT_TRUE(windowsAlike(picture_));
    }
    if (gui::kToolkit == "qt") {
        // Views that keep the picture's shape follow the picture's, not that of the sample each
        // window was handed last: the source handed a sample a little wider than the picture,
        // then both windows given one tall size (as two tiles are).
        const cv::Size wider = cv::Size(700, 524) * GetParam() / 100;
        gui::xdotool(display_.name(), "windowsize " + std::to_string(windows_.source) + " " +
                                          std::to_string(wider.width) + " " + std::to_string(wider.height));
        EXPECT_TRUE(gui::waitUntil(5.0, [&] { return lastShown("tonemorph-source").size() == wider; }))
            << "handed " << lastShown("tonemorph-source").size();
        resizeBoth(cv::Size(640, 900) * GetParam() / 100);
        const cv::Size fitted = cv::Size(640, 480) * GetParam() / 100;
        EXPECT_TRUE(gui::waitUntil(10.0, [&] {
            return lastShown("tonemorph-source").size() == fitted && lastShown("tonemorph-effect").size() == fitted &&
                   cv::norm(gui::screenshot(x(), windows_.source), gui::screenshot(x(), windows_.effect), cv::NORM_INF) == 0;
        })) << "in windows of one tall size: handed " << lastShown("tonemorph-source").size() << " and "
            << lastShown("tonemorph-effect").size();
        resizeBoth(cv::Size(900, 676) * GetParam() / 100);
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
    if (IsSkipped()) return;
    gui::xdotool(display_.name(), "windowsize " + std::to_string(windows_.effect) + " 500 400");
    const auto givenWidth = [&] { return lastShown("tonemorph-effect").cols; };
    EXPECT_TRUE(gui::waitUntil(5.0, [&] { return givenWidth() == 500 && effectGiven(picture_); }))
        << "given a picture " << givenWidth() << " wide";
    setSlider(gui::kSize, 2);
    cv::Mat expected;
    reference::libraryMorphology(picture_, expected, 0, 2, 0);
    EXPECT_TRUE(gui::waitUntil(10.0, [&] { return givenWidth() == 500 && effectGiven(expected); }));
}

// Ensure a picture smaller than the screen is shown at a whole factor of the screen's own pixels:
// at start-up the factor nearest the desktop's scale where the layout holds it (1 at 100 % and
// 150 %, 2 at 200 %), the windows otherwise hugging it; in windows the user enlarged, the largest
// factor that fits, centred; both windows alike, and the effect window the computed pass after a
// slider move.
TEST_P(PictureView, PictureThatFitsIsShownAtAWholeFactor) {
    startWith(stripes({300, 200}));
    if (IsSkipped()) return;
    int factor = GetParam() >= 175 ? 2 : 1;
    const cv::Size window = gui::windowSize(x(), windows_.source);
    EXPECT_GE(window.width, 300 * factor);
    EXPECT_LE(window.width, 300 * factor + 2) << "the window hugs the picture";
    EXPECT_NE(locateMagnified(windows_.source, picture_, factor), cv::Point(-1, -1)) << "not at " << factor;
    EXPECT_TRUE(windowsAlike(picture_)) << "at the start-up layout";

    if (followed() && resizable(window, picture_.size())) {
        // Side by side along the foot of the screen, clear of the panel and of each other; whole
        // in screen pixels at 150 %.
        const cv::Rect area = gui::usableArea(x());
        const cv::Size enlarged(3 * 300 + 30, 3 * 200 + 21);
        resizeBoth(enlarged);
        const int y = area.br().y - enlarged.height - 40;
        gui::xdotool(display_.name(), "windowmove " + std::to_string(windows_.source) + " 0 " + std::to_string(y));
        gui::xdotool(display_.name(), "windowmove " + std::to_string(windows_.effect) + " " +
                                          std::to_string(enlarged.width + 20) + " " + std::to_string(y));
        factor = 3;
        int handed = 0;
        EXPECT_TRUE(gui::waitUntil(10.0, [&] {
            return gui::isSampleOf(lastShown("tonemorph-source"), picture_, &handed) && handed == factor;
        })) << "handed " << lastShown("tonemorph-source").size() << " at " << handed;
        EXPECT_TRUE(windowsAlike(picture_)) << "in enlarged windows";
    }
    EXPECT_NE(locateMagnified(windows_.source, picture_, factor), cv::Point(-1, -1)) << "not at " << factor;

    setSlider(gui::kSize, 2);
    cv::Mat expected;
    reference::libraryMorphology(picture_, expected, 0, 2, 0);
    EXPECT_TRUE(gui::waitUntil(10.0, [&] { return effectGiven(expected); }));
    EXPECT_NE(locateMagnified(windows_.effect, expected, factor), cv::Point(-1, -1)) << "effect not at " << factor;
    pressKey(windows_.effect, "q");
    EXPECT_EQ(run_->waitExit(10.0), 0);
}

INSTANTIATE_TEST_SUITE_P(Desktops, PictureView, ::testing::Values(100, 150, 200),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return "at_" + std::to_string(param.param) + "_percent";
                         });

}  // namespace
