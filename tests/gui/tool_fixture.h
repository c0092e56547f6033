// A GoogleTest fixture for one run of the program: its own X server and scratch folder, start-up
// until the windows and banner are up, keys and sliders driven like a person would.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "gui/gui_harness.h"

namespace gui {

inline const std::string kBanner = "\n\n\t运行成功，请调整滚动条（·8·）\n\n\tq键，退出程序\n";
inline const std::string kLoadFailed = "读取srcImage错误\n";
constexpr double kStartTimeout = 20.0;

class ToolTest : public ::testing::Test {
protected:
    void putPicture(const std::string& repoRelative) {
        copyFile(repoFile(repoRelative), dir_.file("1.jpg"));
    }

    // Starts the program and waits until its windows are up, spread out, and the banner is out.
    ToolWindows start(const std::vector<std::string>& extraEnv = {}) {
        run_ = std::make_unique<ProgramRun>(dir_.path(), display_.name(), extraEnv);
        windows_ = waitForToolWindows(x(), kStartTimeout);
        if (!windows_.complete()) {
            ADD_FAILURE() << "windows did not appear; stderr: " << run_->err();
            return windows_;
        }
        spreadWindows(x(), windows_);
        EXPECT_TRUE(waitUntil(kStartTimeout, [&] { return run_->out() == kBanner; }))
            << "stdout: " << run_->out();
        return windows_;
    }

    // The pointer goes to the middle of the window, then the key: as for a person hovering there.
    void pressKey(Window window, const std::string& key) {
        const cv::Size size = windowSize(x(), window);
        xdotool(display_.name(), "mousemove --window " + std::to_string(window) + " " +
                                     std::to_string(size.width / 2) + " " +
                                     std::to_string(size.height / 2) + " key " + key);
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

    Display* x() const { return display_.connection(); }

    VirtualDisplay display_;
    ScratchDir dir_;
    std::unique_ptr<ProgramRun> run_;
    ToolWindows windows_;
};

}  // namespace gui
