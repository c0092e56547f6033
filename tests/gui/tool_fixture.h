// A GoogleTest fixture for one run of the program: its own X server and scratch folder, start-up
// until the windows and banner are up, keys and sliders driven like a person would.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "gui/gui_harness.h"

namespace gui {

inline const std::string kBanner = "\n\n\t运行成功，请调整滚动条（·8·）\n\n\tq键，退出程序\n";
inline const std::string kLoadFailed = "读取srcImage错误\n";
constexpr double kStartTimeout = 20.0;

class ToolTest : public ::testing::Test {
protected:
    explicit ToolTest(const DisplayOptions& options = {}) : display_(options) {}

    void putPicture(const std::string& repoRelative) {
        copyFile(repoFile(repoRelative), dir_.file("1.jpg"));
    }

    // Starts the program and waits until its windows are up and the banner is out (the program
    // has laid its windows out by then).
    // The spy is always preloaded for its slider report; it changes nothing the program does.
    ToolWindows start(const std::vector<std::string>& extraEnv = {}, const std::vector<std::string>& arguments = {}) {
        std::vector<std::string> env{"LD_PRELOAD=" IMSHOW_SPY, "TONEMORPH_SLIDER_REPORT=" + sliderReport()};
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        run_ = std::make_unique<ProgramRun>(dir_.path(), display_.name(), env, Output::kFiles, arguments);
        windows_ = waitForToolWindows(x(), kStartTimeout);
        if (!windows_.complete()) {
            ADD_FAILURE() << "windows did not appear; stderr: " << run_->err();
            return windows_;
        }
        EXPECT_TRUE(waitUntil(kStartTimeout, [&] { return run_->out() == kBanner; }))
            << "stdout: " << run_->out();
        return windows_;
    }

    void pressKey(Window window, const std::string& key) {
        gui::pressKey(display_.name(), x(), window, key);
    }

    // Where the source window shows picture at 1:1, waiting out repaints; (-1,-1) if it never does.
    cv::Point locateInSource(const cv::Mat& picture) {
        cv::Point at(-1, -1);
        waitUntil(5.0, [&] {
            at = locateExactly(screenshot(x(), windows_.source), picture);
            return at != cv::Point(-1, -1);
        });
        return at;
    }

    // Whether window shows expected at `at`, 1:1, within the timeout (a render may be under way).
    bool showsExactly(Window window, cv::Point at, const cv::Mat& expected, double seconds = 10.0) {
        return waitUntil(seconds, [&] {
            const cv::Mat shot = screenshot(x(), window);
            const cv::Rect area(at, expected.size());
            return (area & cv::Rect(0, 0, shot.cols, shot.rows)) == area &&
                   cv::norm(shot(area), expected, cv::NORM_INF) == 0;
        });
    }

    // Environment that preloads the imshow spy: a log of shown windows and copies of the images.
    std::vector<std::string> spyEnvironment() const {
        return {"LD_PRELOAD=" IMSHOW_SPY, "TONEMORPH_IMSHOW_LOG=" + dir_.file("imshow.log"),
                "TONEMORPH_IMSHOW_DUMP_DIR=" + dir_.path()};
    }

    // Render passes so far: the effect window's lines in the spy's log.
    int effectRenders() const {
        const std::string log = readFile(dir_.file("imshow.log"));
        int count = 0;
        for (size_t pos = log.find("tonemorph-effect\n"); pos != std::string::npos;
             pos = log.find("tonemorph-effect\n", pos + 1)) {
            ++count;
        }
        return count;
    }

    // Every position the slider with this label was notified of, in order (from the spy's log).
    std::vector<int> sliderPositions(const std::string& label) const {
        std::vector<int> positions;
        std::istringstream log(readFile(dir_.file("imshow.log")));
        const std::string prefix = "slider " + label + " ";
        for (std::string line; std::getline(log, line);) {
            if (line.rfind(prefix, 0) == 0) positions.push_back(std::stoi(line.substr(prefix.size())));
        }
        return positions;
    }

    // The exact image last shown in a window, as saved by the spy.
    cv::Mat lastShown(const std::string& windowId) const {
        return cv::imread(dir_.file(windowId + ".png"), cv::IMREAD_UNCHANGED);
    }

    // Whether the window was last given `picture`: itself, or where it shows it scaled down, one
    // pixel of it per shown pixel, the one under the shown pixel's centre.
    bool given(const std::string& windowId, const cv::Mat& picture) const {
        return isSampleOf(lastShown(windowId), picture);
    }
    bool effectGiven(const cv::Mat& picture) const { return given("tonemorph-effect", picture); }

    std::string sliderReport() const { return dir_.file("sliders.txt"); }

    // The five sliders as the toolkit reports them, labels in order.
    bool findSliders() {
        sliders_ = waitForSliders(sliderReport(), 10.0);
        if (sliders_.size() != 5) {
            ADD_FAILURE() << "no five sliders in the panel; the report reads:\n" << readFile(sliderReport());
        }
        return sliders_.size() == 5;
    }

    // The slider as it is now.
    SliderState slider(Slider which) const {
        const std::vector<SliderState> now = readSliderReport(sliderReport());
        return static_cast<size_t>(which) < now.size() ? now[static_cast<size_t>(which)] : SliderState{};
    }

    void setSlider(Slider which, int value) {
        gui::setSlider(display_.name(), windows_.panel, sliderReport(), which, value);
    }
    void focusByHandle(Slider which) {
        EXPECT_TRUE(gui::focusSlider(display_.name(), windows_.panel, sliderReport(), which))
            << kSliderLabel[which] << " never took the keyboard";
    }

    Display* x() const { return display_.connection(); }

    VirtualDisplay display_;
    ScratchDir dir_;
    std::unique_ptr<ProgramRun> run_;
    ToolWindows windows_;
    std::vector<SliderState> sliders_;
};

}  // namespace gui
