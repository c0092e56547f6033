// The picture windows' shortcuts on a photo larger than the screen, with a window manager: zoom
// and pan through the toolkit's view reach beyond 1:1 detail and come back to the whole picture,
// and Ctrl+S saves the picture at full resolution, not the window's scaled view. Also what the
// scaled effect window is given while zoomed in: the full result.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include <opencv2/imgcodecs.hpp>

#include "gui/tool_fixture.h"
#include "reference/literal_pass.h"

namespace {

class PictureShortcuts : public gui::ToolTest {
protected:
    PictureShortcuts() : ToolTest({{1920, 1080}, gui::ServerLife::kPersistent, true}) {}

    // Starts on a 4000x3000 picture, which this screen shows scaled down.
    void startWith(const cv::Mat& picture) {
        picture_ = picture;
        ASSERT_TRUE(cv::imwrite(dir_.file("picture.png"), picture_));
        std::filesystem::rename(dir_.file("picture.png"), dir_.file("1.jpg"));
        start(spyEnvironment());
        ASSERT_TRUE(windows_.complete());
        ASSERT_LT(gui::windowSize(x(), windows_.effect).width, picture_.cols) << "not scaled";
        ASSERT_TRUE(findSliders());
    }

    // Keys pressed in the effect window after a click has given it the keyboard.
    void keysInEffect(const std::string& keys) {
        const cv::Size size = gui::windowSize(x(), windows_.effect);
        gui::xdotool(display_.name(), "mousemove --window " + std::to_string(windows_.effect) + " " +
                                          std::to_string(size.width / 2) + " " +
                                          std::to_string(size.height / 2) + " click 1 " + keys);
    }

    cv::Mat effectShot() { return gui::screenshot(x(), windows_.effect); }

    // Long enough for a busy machine to work through queued view steps: at the deepest zoom the
    // toolkit writes every pixel's value on the screen, which makes each repaint slow.
    bool effectShows(const cv::Mat& expected) {
        return gui::waitUntil(20.0, [&] {
            const cv::Mat shot = effectShot();
            return shot.size() == expected.size() && cv::norm(shot, expected, cv::NORM_INF) == 0;
        });
    }

    bool holdsFullPicture() const { return lastShown("tonemorph-effect").size() == picture_.size(); }

    // The spy's copy of what was shown can lag the screen on a busy machine.
    bool comesToHoldFullPicture() const { return gui::waitUntil(5.0, [&] { return holdsFullPicture(); }); }

    cv::Mat picture_;
};

// stderr without the toolkit's report of one race of its own: when a dialog closes, the window
// manager destroys its frame while the toolkit may still be asking where that frame is, and the
// toolkit prints the X server's "no such window" answer (BadWindow on TranslateCoords). Nothing
// of the program's depends on the answer.
std::string withoutFrameQueryRace(const std::string& err) {
    std::istringstream lines(err);
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
        const bool race = line.find("XCB error: 3 (BadWindow)") != std::string::npos &&
                          line.find("major code: 40 (TranslateCoords)") != std::string::npos;
        if (!race) kept += line + "\n";
    }
    return kept;
}

// The longest run of identical pixels along the middle row: a picture zoomed past 1:1 shows each
// of its pixels as a block of screen pixels.
int longestRun(const cv::Mat& shot) {
    const int y = shot.rows / 2;
    int longest = 1;
    int run = 1;
    for (int x = 1; x < shot.cols; ++x) {
        run = shot.at<cv::Vec3b>(y, x) == shot.at<cv::Vec3b>(y, x - 1) ? run + 1 : 1;
        longest = std::max(longest, run);
    }
    return longest;
}

// Ensure the wheel, Ctrl+plus and Ctrl+equal zoom in, and that the wheel, Ctrl+minus and Ctrl+Z
// each bring back the whole picture exactly as it was first shown; Ctrl+X zooms past 1:1 (on a
// picture of random pixels, each picture pixel becomes a block of screen pixels); Ctrl+arrows
// pan. Zoomed in, the effect window holds the full picture, so what it magnifies are the result's
// own pixels; back at the whole view, whichever way, it holds the view-sized sample again.
TEST_F(PictureShortcuts, ZoomReachesPixelDetailAndComesBack) {
    cv::Mat noise(3000, 4000, CV_8UC3);
    cv::randu(noise, 0, 256);
    startWith(noise);
    // The whole view as first shown: once the window has been handed its sample and draws it one
    // to one. Until then the toolkit scales the whole picture its own way, which picks other
    // pixels on a few rows and columns (where a shown pixel's centre falls on a picture pixel's
    // edge), so a view taken then would never come back.
    cv::Mat whole;
    ASSERT_TRUE(gui::waitUntil(10.0, [&] {
        whole = effectShot();
        const cv::Mat given = lastShown("tonemorph-effect");
        return effectGiven(noise) && !holdsFullPicture() && given.size() == whole.size() &&
               cv::norm(whole, given, cv::NORM_INF) == 0;
    })) << "the effect window is not given its sample";
    const std::pair<const char*, const char*> inAndBack[] = {{"click --repeat 8 4", "click --repeat 12 5"},
                                                             {"key --repeat 4 ctrl+plus", "key --repeat 8 ctrl+minus"},
                                                             {"key --repeat 4 ctrl+equal", "key ctrl+z"}};
    for (const auto& [zoomIn, back] : inAndBack) {
        SCOPED_TRACE(std::string(zoomIn) + ", then " + back);
        keysInEffect(zoomIn);
        EXPECT_TRUE(gui::waitUntil(5.0, [&] { return cv::norm(effectShot(), whole, cv::NORM_INF) > 0; }))
            << "no zoom";
        EXPECT_TRUE(comesToHoldFullPicture()) << "zoomed in on a sample";
        keysInEffect(back);
        EXPECT_TRUE(effectShows(whole)) << "not back to the whole picture";
        EXPECT_TRUE(gui::waitUntil(5.0, [&] { return effectGiven(noise) && !holdsFullPicture(); }))
            << "the whole view is not given its sample again";
    }
    keysInEffect("key ctrl+x");
    EXPECT_TRUE(gui::waitUntil(5.0, [&] { return longestRun(effectShot()) >= 5; }))
        << "not zoomed past 1:1; longest run " << longestRun(effectShot());
    EXPECT_TRUE(comesToHoldFullPicture()) << "zoomed in on a sample";
    const cv::Mat zoomed = effectShot();
    keysInEffect("key --repeat 5 ctrl+Left");
    EXPECT_TRUE(gui::waitUntil(5.0, [&] { return cv::norm(effectShot(), zoomed, cv::NORM_INF) > 0; }))
        << "no panning";
    // At this zoom every repaint writes each pixel's value, and a key typed while the view is
    // still catching up with the pans can be dropped on a busy machine: a person presses again.
    keysInEffect("key ctrl+z");
    bool back = effectShows(whole);
    for (int again = 0; again < 3 && !back; ++again) {
        keysInEffect("key ctrl+z");
        back = effectShows(whole);
    }
    EXPECT_TRUE(back);
}

// Ensure Ctrl+S in a scaled window asks for a file and writes the effect at full resolution, and
// that a name without an extension is saved as PNG.
TEST_F(PictureShortcuts, SaveWritesTheFullResolutionPicture) {
    startWith(gui::testPicture({4000, 3000}));
    setSlider(gui::kSize, 4);
    cv::Mat shownEffect;
    reference::libraryMorphology(picture_, shownEffect, 0, 4, 0);
    ASSERT_TRUE(gui::waitUntil(20.0, [&] { return effectGiven(shownEffect); }))
        << "the effect of size 4 was never shown";
    for (const std::string name : {"saved-effect.png", "saved-without-extension"}) {
        SCOPED_TRACE(name);
        keysInEffect("key ctrl+s");
        const Window dialog = gui::waitForWindow(x(), "保存【效果图】", 10.0);
        ASSERT_NE(dialog, 0u) << "no save dialog";
        // At a person's pace: the dialog's completion popup comes and goes as the name is typed.
        gui::xdotool(display_.name(), "key --delay 20 ctrl+a type --delay 20 '" + dir_.file(name) + "'");
        gui::xdotool(display_.name(), "sleep 0.5 key Return");
        const std::string written = dir_.file(name.find('.') == std::string::npos ? name + ".png" : name);
        ASSERT_TRUE(gui::waitUntil(10.0, [&] { return std::filesystem::exists(written); }));
        // A person's next move comes after the dialog has gone.
        EXPECT_TRUE(gui::waitUntil(5.0, [&] { return gui::windowsTitled(x(), "保存【效果图】").empty(); }));
        cv::Mat saved;
        gui::waitUntil(5.0, [&] {
            saved = cv::imread(written, cv::IMREAD_UNCHANGED);
            return !saved.empty();
        });
        ASSERT_EQ(saved.size(), picture_.size()) << "not the full resolution";
        EXPECT_EQ(cv::norm(saved, shownEffect, cv::NORM_INF), 0) << "not the effect shown";
    }
    pressKey(windows_.effect, "q");
    EXPECT_EQ(run_->waitExit(10.0), 0);
    EXPECT_EQ(withoutFrameQueryRace(run_->err()), "");
}

}  // namespace
