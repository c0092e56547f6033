// A long slider session: thousands of notifications, the largest kernel with every shape, then q.
// Memory must level off, and the program must still answer q.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

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
TEST_F(Soak, ThousandsOfNotificationsThenQuit) {
    putPicture("sample/1.jpg");
    start({"LD_PRELOAD=" IMSHOW_SPY, "TONEMORPH_IMSHOW_LOG=" + dir_.file("imshow.log")});
    ASSERT_TRUE(windows_.complete());
    ASSERT_TRUE(findSliders());

    keysOn(gui::kContrast, {"--repeat 50 Right Left"});
    const int warmRenders = settledRenders();
    const long warmKiB = run_->residentKiB();
    EXPECT_GE(warmRenders, 100);

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
    EXPECT_GE(totalRenders, 2000);
    EXPECT_LE(endKiB - warmKiB, 8 * 1024) << "resident memory grew by " << endKiB - warmKiB << " KiB";

    pressKey(windows_.effect, "q");
    EXPECT_EQ(run_->waitExit(10.0), 0);
    EXPECT_EQ(run_->out(), gui::kBanner);
}

}  // namespace
