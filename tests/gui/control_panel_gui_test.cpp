// The five sliders in real windows: values are set the way a person can (a click on a slider to
// give it the keyboard, then Home, End and arrow keys for exact values), and the effect window is
// compared pixel for pixel with the pass computed here from the same picture and settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include <opencv2/imgcodecs.hpp>

#include "core/effect_pipeline.h"
#include "gui/tool_fixture.h"
#include "reference/literal_pass.h"

namespace {


class ControlPanel : public gui::ToolTest {
protected:
    void SetUp() override {
        putPicture("sample/1.jpg");
        source_ = cv::imread(gui::repoFile("sample/1.jpg"), cv::IMREAD_COLOR);
        start(spyEnvironment());
        ASSERT_TRUE(windows_.complete());
        at_ = locateInSource(source_);
        ASSERT_NE(at_, cv::Point(-1, -1));
        ASSERT_TRUE(findSliders()) << "the panel does not show five sliders";
    }

    // Keys the slider to value and records it in the settings the expected pass uses.
    void setSlider(gui::Slider slider, int value) {
        ToolTest::setSlider(slider, value);
        int* field[] = {&settings_.morphOperation, &settings_.kernelSize, &settings_.kernelShape,
                        &settings_.contrastValue, &settings_.brightnessValue};
        *field[slider] = value;
    }

    cv::Mat expectedEffect() const {
        cv::Mat tone;
        cv::Mat effect;
        reference::literalPass(source_, tone, effect, settings_);
        return effect;
    }

    // The effect window settles on the pass for the current settings.
    void expectEffect(const std::string& what) {
        EXPECT_TRUE(showsExactly(windows_.effect, at_, expectedEffect()))
            << what << ": the effect window does not show the expected pass";
    }

    // After a session of moves the source is untouched and q still ends the program with 0.
    void finish() {
        EXPECT_TRUE(showsExactly(windows_.source, at_, source_, 2.0))
            << "the source window changed";
        pressKey(windows_.effect, "q");
        EXPECT_EQ(run_->waitExit(10.0), 0);
        EXPECT_EQ(run_->out(), gui::kBanner);
    }

    cv::Mat source_;
    cv::Point at_;
    tonemorph::EffectSettings settings_;
};

// Ensure slider 1 switches an eroded result to the dilated one with the same kernel and back.
TEST_F(ControlPanel, OperationSwitchesBetweenErosionAndDilation) {
    setSlider(gui::kSize, 3);
    expectEffect("erode, rectangle, size 3");
    setSlider(gui::kOperation, 1);
    expectEffect("dilate, rectangle, size 3");
    setSlider(gui::kOperation, 0);
    expectEffect("back to erode");
    finish();
}

// Ensure the largest kernel (43x43) works for every shape and size 0 brings back the identity.
TEST_F(ControlPanel, LargestKernelEveryShapeAndBackToIdentity) {
    setSlider(gui::kSize, 21);
    expectEffect("erode, rectangle, size 21");
    setSlider(gui::kShape, 1);
    expectEffect("erode, cross, size 21");
    setSlider(gui::kShape, 2);
    expectEffect("erode, ellipse, size 21");
    setSlider(gui::kOperation, 1);
    expectEffect("dilate, ellipse, size 21");
    setSlider(gui::kSize, 0);
    EXPECT_TRUE(showsExactly(windows_.effect, at_, source_)) << "size 0 is not the identity";
    finish();
}

// Ensure contrast 0 gives one uniform grey level, brightness - 100 clamped, whatever the
// morphology settings.
TEST_F(ControlPanel, ZeroContrastGivesUniformGrey) {
    setSlider(gui::kOperation, 1);
    setSlider(gui::kShape, 2);
    setSlider(gui::kSize, 5);
    setSlider(gui::kContrast, 0);
    EXPECT_TRUE(showsExactly(windows_.effect, at_, cv::Mat(source_.size(), CV_8UC3, cv::Scalar::all(0))));
    setSlider(gui::kBrightness, 200);
    EXPECT_TRUE(showsExactly(windows_.effect, at_, cv::Mat(source_.size(), CV_8UC3, cv::Scalar::all(100))));
    finish();
}

// Ensure the tone sliders reach their limits: contrast 300, brightness 0 and 200.
TEST_F(ControlPanel, ToneSlidersAtTheirLimits) {
    setSlider(gui::kContrast, 300);
    expectEffect("contrast 300");
    setSlider(gui::kBrightness, 0);
    expectEffect("contrast 300, brightness 0");
    setSlider(gui::kBrightness, 200);
    expectEffect("contrast 300, brightness 200");
    finish();
}

// Ensure tone and morphology combine: dilate, ellipse, size 3, contrast 150, brightness 120.
TEST_F(ControlPanel, ToneAndMorphologyCombine) {
    setSlider(gui::kOperation, 1);
    setSlider(gui::kShape, 2);
    setSlider(gui::kSize, 3);
    setSlider(gui::kContrast, 150);
    setSlider(gui::kBrightness, 120);
    expectEffect("dilate, ellipse, size 3, contrast 150, brightness 120");
    finish();
}

// Ensure start-up renders exactly once, every slider notification that no later one waits behind
// renders exactly once, and the sliders start at the settings' values (one step on brightness
// keeps contrast at 100).
TEST_F(ControlPanel, EveryNotificationRendersOnceAndSlidersStartAtTheirValues) {
    EXPECT_EQ(effectRenders(), 1) << "start-up must render exactly once";

    // A step from each tone slider's start position: the other one must still read 100.
    focusByHandle(gui::kBrightness);
    gui::xdotool(display_.name(), "key Right");
    settings_.brightnessValue = 101;
    expectEffect("brightness one step above its start");
    focusByHandle(gui::kContrast);
    gui::xdotool(display_.name(), "key Left");
    settings_.contrastValue = 99;
    expectEffect("contrast one step below its start");
    EXPECT_EQ(effectRenders(), 3) << "clicking a handle must not render; each step renders once";

    const int before = effectRenders();
    // Contrast still has the keys; each comes after the last one's pass, so none is folded.
    gui::xdotool(display_.name(), "key --delay 150 --repeat 7 Right");
    settings_.contrastValue = 106;
    expectEffect("seven more steps");
    EXPECT_TRUE(gui::waitUntil(5.0, [&] { return effectRenders() == before + 7; }))
        << effectRenders() - before << " renders for 7 notifications";
    finish();
}

// Ensure each slider runs from exactly 0 to exactly its maximum: End and Home, pressed on the
// focused slider, are read back from the notifications the program receives.
TEST_F(ControlPanel, EachSliderReachesExactlyItsRange) {
    for (const gui::Slider slider : {gui::kOperation, gui::kSize, gui::kShape, gui::kContrast, gui::kBrightness}) {
        SCOPED_TRACE(gui::kSliderLabel[slider]);
        focusByHandle(slider);
        gui::xdotool(display_.name(), "key End sleep 0.2 key Home");
        EXPECT_TRUE(gui::waitUntil(5.0, [&] {
            const std::vector<int> positions = sliderPositions(gui::kSliderLabel[slider]);
            return positions.size() >= 2 && positions[positions.size() - 2] == gui::kSliderMaximum[slider] &&
                   positions.back() == 0;
        })) << "last positions: " << ::testing::PrintToString(sliderPositions(gui::kSliderLabel[slider]));
    }
    finish();
}

// Ensure a mouse can reach every step of the longest slider: dragging its handle one pixel at a
// time along the whole groove notifies every contrast value from 0 to 300.
TEST_F(ControlPanel, DraggingReachesEveryContrastStep) {
    const gui::SliderState contrast = slider(gui::kContrast);
    const int left = contrast.groove.x;
    const int right = contrast.groove.x + contrast.groove.width - 1;
    const cv::Point handle = contrast.handleMiddle();
    const auto moveTo = [&](int at) {
        return "mousemove --window " + std::to_string(windows_.panel) + " " + std::to_string(at) +
               " " + std::to_string(handle.y);
    };
    gui::xdotool(display_.name(), moveTo(handle.x) + " mousedown 1 " + moveTo(left - 10));
    // One pixel at a time, each move waiting for its notification (or a while, where two pixels
    // give the same value): moves that queue up are merged by the toolkit.
    const auto sweep = [&](int from, int to, int waitMilliseconds) {
        for (int at = from; at <= to; ++at) {
            const size_t before = sliderPositions(gui::kSliderLabel[gui::kContrast]).size();
            gui::xdotool(display_.name(), moveTo(at));
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
            while (sliderPositions(gui::kSliderLabel[gui::kContrast]).size() == before &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    };
    const auto missedValues = [&] {
        std::vector<bool> reached(gui::kSliderMaximum[gui::kContrast] + 1, false);
        for (const int position : sliderPositions(gui::kSliderLabel[gui::kContrast])) reached[position] = true;
        std::vector<int> missed;
        for (int value = 0; value < static_cast<int>(reached.size()); ++value) {
            if (!reached[value]) missed.push_back(value);
        }
        return missed;
    };
    sweep(left - 10, right + 10, 60);
    // A loaded machine can be slower than the short wait, and the toolkit then merges moves: go
    // back over the pixels around each value missed, slowly. The pointer holds the handle by its
    // middle, which travels the groove less the handle's width (near the ends, an estimate from
    // the whole groove is off by up to half a handle). A groove too short still misses.
    const int travel = contrast.groove.width - contrast.handle.width;
    for (const int value : missedValues()) {
        const int at = left + contrast.handle.width / 2 + travel * value / gui::kSliderMaximum[gui::kContrast];
        sweep(at - 6, at + 6, 500);
    }
    gui::xdotool(display_.name(), "mouseup 1");
    const std::vector<int> missed = missedValues();
    EXPECT_TRUE(missed.empty()) << "never reached: " << ::testing::PrintToString(missed);
    finish();
}

}  // namespace
