// A long slider session: thousands of notifications, the largest kernel with every shape, then q.
// Memory must level off, and the program must still answer q.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include <opencv2/imgcodecs.hpp>

#include "gui/tool_fixture.h"

namespace {

class Soak : public gui::ToolTest {
protected:
    // Gives the slider the keyboard, then types each group of keys.
    void keysOn(gui::Slider slider, const std::vector<std::string>& groups) {
        focusByHandle(slider);
        std::string command;
        for (const std::string& keys : groups) command += " key --delay 1 " + keys;
        gui::xdotool(display_.name(), command);
    }

    // Notifications so far, of every slider.
    size_t notifications() const {
        size_t count = 0;
        for (const gui::Slider slider : {gui::kOperation, gui::kSize, gui::kShape, gui::kContrast, gui::kBrightness}) {
            count += sliderPositions(gui::kSliderLabel[slider]).size();
        }
        return count;
    }

    // Waits (up to two minutes) until the render count has not moved for two seconds; returns it.
    int settledRenders() {
        int last = -1;
        auto since = std::chrono::steady_clock::now();
        gui::waitUntil(120.0, [&] {
            const int now = effectRenders();
            if (now != last) {
                last = now;
                since = std::chrono::steady_clock::now();
            }
            return std::chrono::steady_clock::now() - since > std::chrono::seconds(2);
        });
        return last;
    }
};

// Ensure 2,000+ slider notifications (including the 43x43 element in every shape) leave resident
// memory within 8 MiB of its level after the first hundred, and q still ends the program with 0.
// Moves that come faster than passes are folded, so renders are counted at most one a notification.
TEST_F(Soak, ThousandsOfNotificationsThenQuit) {
    putPicture("sample/1.jpg");
    start({"LD_PRELOAD=" IMSHOW_SPY, "TONEMORPH_IMSHOW_LOG=" + dir_.file("imshow.log")});
    ASSERT_TRUE(windows_.complete());
    ASSERT_TRUE(findSliders());

    keysOn(gui::kContrast, {"--repeat 50 Right Left"});
    const int warmRenders = settledRenders();
    const long warmKiB = run_->residentKiB();
    EXPECT_GE(notifications(), 100u);

    keysOn(gui::kSize, {"End"});
    keysOn(gui::kShape, {"--repeat 120 Right Right Left Left"});  // every shape at 43x43
    keysOn(gui::kSize, {"--repeat 10 Home End", "--repeat 300 Left Right"});
    keysOn(gui::kOperation, {"--repeat 100 Right Left"});
    keysOn(gui::kBrightness, {"--repeat 300 Right Left"});
    keysOn(gui::kContrast, {"--repeat 100 End Home"});
    const int totalRenders = settledRenders();
    const long endKiB = run_->residentKiB();
    std::printf("renders: %d after warm-up, %d in all; resident: %ld KiB after warm-up, %ld KiB at the end\n",
                warmRenders, totalRenders, warmKiB, endKiB);
    EXPECT_GE(notifications(), 2000u);
    EXPECT_LE(static_cast<size_t>(totalRenders), notifications() + 1);
    EXPECT_LE(endKiB - warmKiB, 8 * 1024) << "resident memory grew by " << endKiB - warmKiB << " KiB";

    pressKey(windows_.effect, "q");
    EXPECT_EQ(run_->waitExit(10.0), 0);
    EXPECT_EQ(run_->out(), gui::kBanner);
}

// Ensure moves that come faster than passes (a key held on the kernel-size slider over a
// 12-megapixel picture, sizes 0 and 21 in turn) are folded: fewer passes than notifications, the
// last position rendered (size 0: the effect is the source), and q still ends the program with 0.
TEST_F(Soak, QueuedMovesOfOneSliderAreFolded) {
    cv::Mat photo(3000, 4000, CV_8UC3);
    cv::randu(photo, 0, 256);
    ASSERT_TRUE(cv::imwrite(dir_.file("1.jpg"), photo));
    const cv::Mat decoded = cv::imread(dir_.file("1.jpg"), cv::IMREAD_COLOR);
    start(spyEnvironment());
    ASSERT_TRUE(windows_.complete());
    ASSERT_TRUE(findSliders());

    keysOn(gui::kSize, {"--repeat 100 End Home"});
    EXPECT_TRUE(gui::waitUntil(60.0, [&] { return sliderPositions(gui::kSliderLabel[gui::kSize]).size() == 200; }))
        << sliderPositions(gui::kSliderLabel[gui::kSize]).size() << " notifications of 200";
    const int renders = settledRenders();
    std::printf("200 notifications, %d passes\n", renders - 1);
    EXPECT_LT(renders - 1, 200) << "no notification was folded";
    EXPECT_TRUE(effectGiven(decoded)) << "the last position was not rendered";

    pressKey(windows_.effect, "q");
    EXPECT_EQ(run_->waitExit(30.0), 0);
}

}  // namespace
