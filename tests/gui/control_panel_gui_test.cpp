// The five sliders in real windows: values are set the way a person can (a click on a slider to
// give it the keyboard, then Home, End and arrow keys for exact values), and the effect window is
// compared pixel for pixel with the pass computed here from the same picture and settings.
#include <gtest/gtest.h>

#include <algorithm>

#include <opencv2/imgcodecs.hpp>

#include "gui/tool_fixture.h"
#include "reference/literal_pass.h"

namespace {

struct Settings {
    int morphOperation = 0;
    int kernelSize = 0;
    int kernelShape = 0;
    int contrastValue = 100;
    int brightnessValue = 100;
};

enum Slider { kOperation, kSize, kShape, kContrast, kBrightness };
constexpr int kMaximum[] = {1, 21, 2, 300, 200};

class ControlPanel : public gui::ToolTest {
protected:
    void SetUp() override {
        putPicture("sample/1.jpg");
        source_ = cv::imread(gui::repoFile("sample/1.jpg"), cv::IMREAD_COLOR);
        start({"LD_PRELOAD=" IMSHOW_COUNTER, "TONEMORPH_IMSHOW_LOG=" + dir_.file("imshow.log")});
        ASSERT_TRUE(windows_.complete());
        at_ = locateInSource(source_);
        ASSERT_NE(at_, cv::Point(-1, -1));
        gui::waitUntil(5.0, [&] {
            sliders_ = gui::findSliders(gui::screenshot(x(), windows_.panel));
            return !sliders_.empty();
        });
        ASSERT_EQ(sliders_.size(), 5u) << "the panel does not show five sliders";
    }

    // Gives the slider the keyboard with a click on its groove, then keys it to the exact value.
    void setSlider(Slider slider, int value) {
        const cv::Point p = sliders_[slider];
        std::string keys = "mousemove --window " + std::to_string(windows_.panel) + " " +
                           std::to_string(p.x) + " " + std::to_string(p.y) + " click 1 ";
        const int fromTop = kMaximum[slider] - value;
        if (value <= fromTop) {
            keys += "key Home";
            if (value > 0) keys += " key --delay 5 --repeat " + std::to_string(value) + " Right";
        } else {
            keys += "key End";
            if (fromTop > 0) keys += " key --delay 5 --repeat " + std::to_string(fromTop) + " Left";
        }
        gui::xdotool(display_.name(), keys);
        const int* field[] = {&settings_.morphOperation, &settings_.kernelSize,
                              &settings_.kernelShape, &settings_.contrastValue,
                              &settings_.brightnessValue};
        *const_cast<int*>(field[slider]) = value;
    }

    // Gives the slider the keyboard by clicking its handle, which leaves its value alone. The handle
    // sits between the white (upper) part of the groove and the blue (lower) part.
    void focusByHandle(Slider slider) {
        const cv::Mat shot = gui::screenshot(x(), windows_.panel);
        const cv::Point p = sliders_[slider];
        const auto pixel = [&](int col) { return shot.at<cv::Vec3b>(p.y, col); };
        int right = p.x;
        while (right > 0 && pixel(right) == cv::Vec3b(255, 255, 255)) --right;
        int left = right;
        while (left > 0 && !(pixel(left)[0] > pixel(left)[2] + 40)) --left;
        gui::xdotool(display_.name(), "mousemove --window " + std::to_string(windows_.panel) + " " +
                                          std::to_string((left + right) / 2) + " " +
                                          std::to_string(p.y) + " click 1");
    }

    cv::Mat expectedEffect() const {
        cv::Mat tone;
        cv::Mat effect;
        reference::literalTone(source_, tone, settings_.contrastValue, settings_.brightnessValue);
        reference::libraryMorphology(tone, effect, settings_.morphOperation, settings_.kernelSize,
                                     settings_.kernelShape);
        return effect;
    }

    // The effect window settles on the pass for the current settings.
    void expectEffect(const std::string& what) {
        EXPECT_TRUE(showsExactly(windows_.effect, at_, expectedEffect()))
            << what << ": the effect window does not show the expected pass";
    }

    int effectRenders() const {
        const std::string log = gui::readFile(dir_.file("imshow.log"));
        int count = 0;
        for (size_t pos = log.find("tonemorph-effect"); pos != std::string::npos;
             pos = log.find("tonemorph-effect", pos + 1)) {
            ++count;
        }
        return count;
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
    std::vector<cv::Point> sliders_;
    Settings settings_;
};

// Ensure slider 1 switches an eroded result to the dilated one with the same kernel and back.
TEST_F(ControlPanel, OperationSwitchesBetweenErosionAndDilation) {
    setSlider(kSize, 3);
    expectEffect("erode, rectangle, size 3");
    setSlider(kOperation, 1);
    expectEffect("dilate, rectangle, size 3");
    setSlider(kOperation, 0);
    expectEffect("back to erode");
    finish();
}

// Ensure the largest kernel (43x43) works for every shape and size 0 brings back the identity.
TEST_F(ControlPanel, LargestKernelEveryShapeAndBackToIdentity) {
    setSlider(kSize, 21);
    expectEffect("erode, rectangle, size 21");
    setSlider(kShape, 1);
    expectEffect("erode, cross, size 21");
    setSlider(kShape, 2);
    expectEffect("erode, ellipse, size 21");
    setSlider(kOperation, 1);
    expectEffect("dilate, ellipse, size 21");
    setSlider(kSize, 0);
    EXPECT_TRUE(showsExactly(windows_.effect, at_, source_)) << "size 0 is not the identity";
    finish();
}

// Ensure contrast 0 gives one uniform grey level, brightness - 100 clamped, whatever the
// morphology settings.
TEST_F(ControlPanel, ZeroContrastGivesUniformGrey) {
    setSlider(kOperation, 1);
    setSlider(kShape, 2);
    setSlider(kSize, 5);
    setSlider(kContrast, 0);
    EXPECT_TRUE(showsExactly(windows_.effect, at_, cv::Mat(source_.size(), CV_8UC3, cv::Scalar::all(0))));
    setSlider(kBrightness, 200);
    EXPECT_TRUE(showsExactly(windows_.effect, at_, cv::Mat(source_.size(), CV_8UC3, cv::Scalar::all(100))));
    finish();
}

// Ensure the tone sliders reach their limits: contrast 300, brightness 0 and 200.
TEST_F(ControlPanel, ToneSlidersAtTheirLimits) {
    setSlider(kContrast, 300);
    expectEffect("contrast 300");
    setSlider(kBrightness, 0);
    expectEffect("contrast 300, brightness 0");
    setSlider(kBrightness, 200);
    expectEffect("contrast 300, brightness 200");
    finish();
}

// Ensure tone and morphology combine: dilate, ellipse, size 3, contrast 150, brightness 120.
TEST_F(ControlPanel, ToneAndMorphologyCombine) {
    setSlider(kOperation, 1);
    setSlider(kShape, 2);
    setSlider(kSize, 3);
    setSlider(kContrast, 150);
    setSlider(kBrightness, 120);
    expectEffect("dilate, ellipse, size 3, contrast 150, brightness 120");
    finish();
}

// Ensure start-up renders exactly once, every slider notification renders exactly once, and the
// sliders start at the settings' values (one step on brightness keeps contrast at 100).
TEST_F(ControlPanel, EveryNotificationRendersOnceAndSlidersStartAtTheirValues) {
    EXPECT_EQ(effectRenders(), 1) << "start-up must render exactly once";

    // A step from each tone slider's start position: the other one must still read 100.
    focusByHandle(kBrightness);
    gui::xdotool(display_.name(), "key Right");
    settings_.brightnessValue = 101;
    expectEffect("brightness one step above its start");
    focusByHandle(kContrast);
    gui::xdotool(display_.name(), "key Left");
    settings_.contrastValue = 99;
    expectEffect("contrast one step below its start");
    EXPECT_EQ(effectRenders(), 3) << "clicking a handle must not render; each step renders once";

    const int before = effectRenders();
    gui::xdotool(display_.name(), "key --delay 5 --repeat 7 Right");  // contrast still has the keys
    settings_.contrastValue = 106;
    expectEffect("seven more steps");
    EXPECT_TRUE(gui::waitUntil(5.0, [&] { return effectRenders() == before + 7; }))
        << effectRenders() - before << " renders for 7 notifications";
    finish();
}

}  // namespace
