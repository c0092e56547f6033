// The Windows program under Wine: started in a folder holding the sample picture, it opens its
// three windows under their exact titles, shows the effect equal to the source at the initial
// settings, prints its banner and ends with 0 on q; sliders keyed after a click re-render the
// exact pass; a picture larger than the screen is shown whole; a file that holds no picture is
// refused with the message and 1; at 100 to 200 % the pictures are at the screen's own pixels and
// the panel usable. Skipped unless TONEMORPH_WINDOWS_EXE names the cross-built
// program (make test-windows sets it).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "gui/tool_fixture.h"
#include "reference/literal_pass.h"

namespace {

class WineRun : public ::testing::Test {
protected:
    void SetUp() override {
        const char* exe = std::getenv("TONEMORPH_WINDOWS_EXE");
        if (exe == nullptr || !std::filesystem::exists(exe)) GTEST_SKIP() << "no Windows build to run";
        gui::copyFile(exe, dir_.file("tonemorph.exe"));
        // The program under Wine (tools/wine-env stops Wine's server after it).
        std::ofstream(dir_.file("run-under-wine"))
            << "#!/bin/sh\nexec " << gui::repoFile("tools/wine-env") << " /usr/lib/wine/wine64 ./tonemorph.exe \"$@\"\n";
        ::chmod(dir_.file("run-under-wine").c_str(), 0755);
        // The library keeps each window's last place and size in the registry and starts it
        // there: every test starts as a new user's first run does.
        const std::string forget = gui::repoFile("tools/wine-env") +
                                   " /usr/lib/wine/wine64 reg delete 'HKCU\\Software\\OpenCV' /f >/dev/null 2>&1";
        (void)std::system(forget.c_str());
    }

    // locale: the Unix locale Wine derives the Windows ANSI code page from. arguments: the
    // program's command line.
    void start(const std::string& locale = "C.UTF-8", const std::vector<std::string>& arguments = {}) {
        run_ = std::make_unique<gui::ProgramRun>(
            dir_.path(), display_.name(),
            std::vector<std::string>{"TONEMORPH_EXECUTABLE=" + dir_.file("run-under-wine"), "LANG=" + locale,
                                     "LC_ALL=" + locale},
            gui::Output::kFiles, arguments);
    }

    // Starts the program and waits for its three windows and its banner (Wine's first start in a
    // fresh prefix is slow).
    gui::ToolWindows startAndWait(const std::string& locale = "C.UTF-8", const std::vector<std::string>& arguments = {}) {
        start(locale, arguments);
        const gui::ToolWindows windows = gui::waitForToolWindows(display_.connection(), 90.0);
        EXPECT_TRUE(windows.complete()) << "stdout: " << run_->out() << "\nstderr: " << run_->err();
        EXPECT_TRUE(windows.complete() && gui::waitUntil(20.0, [&] { return out() == gui::kBanner; })) << out();
        return windows;
    }

    // Where the panel's slider grooves run, top to bottom, in panel coordinates: a Win32 trackbar's
    // groove is a light channel between two grey lines, seen here in a column near the right end
    // of the grooves, where no handle rests at the values the tests start from.
    std::vector<cv::Point> sliderGrooves(Window panel) {
        std::vector<cv::Point> grooves;
        gui::waitUntil(10.0, [&] {
            const cv::Mat shot = gui::screenshot(display_.connection(), panel);
            grooves.clear();
            if (shot.empty()) return false;
            const int column = shot.cols * 9 / 10;
            auto shade = [&](int row) { return shot.at<cv::Vec3b>(row, column)[1]; };
            for (int row = 1; row + 2 < shot.rows; ++row) {
                const bool edgeAbove = shade(row - 1) < 200 && shade(row - 1) > 100;
                if (!edgeAbove || shade(row) != 255) continue;
                int below = row;
                while (below < shot.rows && shade(below) == 255) ++below;
                if (below - row >= 2 && below < shot.rows && shade(below) == shade(row - 1)) {
                    grooves.emplace_back(column, (row + below) / 2);
                }
                row = below;
            }
            return grooves.size() == 5;
        });
        return grooves;
    }

    // The ink of each slider's label (its dark pixels, in the band between its groove and the
    // neighbouring ones), one box per groove.
    std::vector<cv::Rect> labelInk(Window panel, const std::vector<cv::Point>& grooves) {
        const cv::Mat shot = gui::screenshot(display_.connection(), panel);
        std::vector<cv::Rect> boxes;
        for (size_t i = 0; i < grooves.size(); ++i) {
            const int spacing = grooves.size() > 1 ? grooves[1].y - grooves[0].y : shot.rows;
            const int top = std::max(0, grooves[i].y - spacing / 2);
            const int bottom = std::min(shot.rows, grooves[i].y + spacing / 2);
            cv::Mat dark;
            cv::inRange(shot(cv::Range(top, bottom), cv::Range::all()), cv::Scalar::all(0), cv::Scalar::all(63), dark);
            std::vector<cv::Point> ink;
            if (cv::countNonZero(dark) > 0) cv::findNonZero(dark, ink);
            cv::Rect box;
            for (const cv::Point& dot : ink) box = box.empty() ? cv::Rect(dot, cv::Size(1, 1)) : box | cv::Rect(dot, cv::Size(1, 1));
            box.y += top;
            boxes.push_back(box);
        }
        return boxes;
    }

    // A click on a slider's groove to give it the keyboard (it moves by a page), then the keys.
    void keySlider(Window panel, cv::Point groove, const std::string& keys) {
        gui::xdotool(display_.name(), "mousemove --window " + std::to_string(panel) + " " +
                                          std::to_string(groove.x) + " " + std::to_string(groove.y) +
                                          " click 1 sleep 0.3 " + keys);
    }

    // Whether the effect window comes to show expected 1:1 at its top left corner.
    bool effectShows(Window effect, const cv::Mat& expected) {
        return gui::waitUntil(20.0, [&] {
            const cv::Mat shot = gui::screenshot(display_.connection(), effect);
            return shot.cols >= expected.cols && shot.rows >= expected.rows &&
                   cv::norm(shot(cv::Rect(0, 0, expected.cols, expected.rows)), expected, cv::NORM_INF) == 0;
        });
    }

    // q in the given window until the program ends (Wine drops a key now and then while a window
    // is still settling; a person presses again), and its exit status.
    std::optional<int> quitWithQ(Window window) {
        for (int press = 0; press < 3; ++press) {
            gui::pressKey(display_.name(), display_.connection(), window, "q");
            if (const std::optional<int> status = run_->waitExit(10.0)) return status;
        }
        return std::nullopt;
    }

    // What the program printed, with the console's line ends made plain.
    std::string out() const {
        std::string text = run_->out();
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }

    gui::ScratchDir dir_;
    gui::VirtualDisplay display_{{{1920, 1080}, gui::ServerLife::kPersistent, true}};
    std::unique_ptr<gui::ProgramRun> run_;
};

class WineStart : public WineRun, public ::testing::WithParamInterface<std::string> {};

// Ensure the cross-built program starts, shows the source unchanged as the effect and quits on q,
// its titles exact under a Western (1252) and a Chinese (936) ANSI code page alike.
TEST_P(WineStart, ShowsTheSourceUnchangedAndQuitsOnQ) {
    gui::copyFile(gui::repoFile("sample/1.jpg"), dir_.file("1.jpg"));
    const gui::ToolWindows windows = startAndWait(GetParam());
    ASSERT_TRUE(windows.complete());
    cv::Mat source;
    cv::Mat effect;
    EXPECT_TRUE(gui::waitUntil(10.0, [&] {
        source = gui::screenshot(display_.connection(), windows.source);
        effect = gui::screenshot(display_.connection(), windows.effect);
        return !source.empty() && source.size() == effect.size() && cv::norm(source, effect, cv::NORM_INF) == 0;
    })) << "source " << source.size() << ", effect " << effect.size();
    EXPECT_EQ(quitWithQ(windows.effect), 0) << run_->err();
}
INSTANTIATE_TEST_SUITE_P(CodePages, WineStart, ::testing::Values("C.UTF-8", "zh_CN.GB18030"),
                         [](const ::testing::TestParamInfo<std::string>& locale) {
                             return std::string(locale.index == 0 ? "Western" : "Chinese");
                         });

// Ensure keys on a slider the user clicked re-render the exact pass: contrast to its top and one
// step back (a tone move), then the kernel size to 2 (a morphology move under that tone); q typed
// on the slider quits.
TEST_F(WineRun, KeyedSlidersRenderTheExactPass) {
    gui::copyFile(gui::repoFile("sample/1.jpg"), dir_.file("1.jpg"));
    const cv::Mat source = cv::imread(dir_.file("1.jpg"), cv::IMREAD_COLOR);
    const gui::ToolWindows windows = startAndWait();
    ASSERT_TRUE(windows.complete());
    // Wine hands the window's new size to X a moment after the program has set it.
    ASSERT_TRUE(gui::waitUntil(10.0, [&] { return gui::windowSize(display_.connection(), windows.effect) == source.size(); }))
        << "not shown 1:1: " << gui::windowSize(display_.connection(), windows.effect);
    const std::vector<cv::Point> grooves = sliderGrooves(windows.panel);
    ASSERT_EQ(grooves.size(), 5u) << "the panel does not show five slider grooves";

    tonemorph::EffectSettings settings;
    auto expected = [&] {
        cv::Mat tone;
        cv::Mat effect;
        reference::literalPass(source, tone, effect, settings);
        return effect;
    };
    keySlider(windows.panel, grooves[gui::kContrast], "key End key Left");
    settings.contrastValue = 299;
    EXPECT_TRUE(effectShows(windows.effect, expected())) << "contrast 299";
    keySlider(windows.panel, grooves[gui::kSize], "key Home key Right key Right");
    settings.kernelSize = 2;
    EXPECT_TRUE(effectShows(windows.effect, expected())) << "contrast 299, kernel size 2";

    // The slider still has the keyboard: q typed there ends the program too.
    gui::xdotool(display_.name(), "key q");
    EXPECT_EQ(run_->waitExit(30.0), 0) << run_->err();
}

// Ensure a picture larger than the screen comes up whole in both picture windows, scaled down.
TEST_F(WineRun, PictureLargerThanTheScreenIsShownWhole) {
    const cv::Mat picture = gui::testPicture({4000, 3000});
    ASSERT_TRUE(cv::imwrite(dir_.file("1.jpg"), picture, {cv::IMWRITE_JPEG_QUALITY, 100}));
    const cv::Mat decoded = cv::imread(dir_.file("1.jpg"), cv::IMREAD_COLOR);
    const gui::ToolWindows windows = startAndWait();
    ASSERT_TRUE(windows.complete());
    const cv::Rect screen(0, 0, 1920, 1080);
    for (const Window window : {windows.source, windows.effect}) {
        cv::Rect frame;
        EXPECT_TRUE(gui::waitUntil(10.0, [&] {  // Wine's moves reach the X server a little later
            frame = gui::frameRect(display_.connection(), window);
            return (frame & screen) == frame;
        })) << frame << " is not on the screen";
        const gui::ScaledView view = gui::compareScaledView(display_.connection(), window, decoded, 10.0);
        EXPECT_TRUE(view.close()) << "view " << view.content << ": mean difference " << view.whole
                                  << ", worst corner " << view.worstCorner;
    }
    EXPECT_EQ(quitWithQ(windows.effect), 0) << run_->err();
}

// Ensure closing the three windows, as the title bars' close buttons do, ends the program with 0,
// and closing two does not.
TEST_F(WineRun, ClosingAllThreeWindowsEndsIt) {
    gui::copyFile(gui::repoFile("sample/1.jpg"), dir_.file("1.jpg"));
    const gui::ToolWindows windows = startAndWait();
    ASSERT_TRUE(windows.complete());
    gui::requestClose(display_.connection(), windows.source);
    gui::requestClose(display_.connection(), windows.effect);
    EXPECT_FALSE(run_->waitExit(2.0).has_value()) << "ended with a window still open";
    gui::requestClose(display_.connection(), windows.panel);
    EXPECT_EQ(run_->waitExit(30.0), 0) << run_->err();
}

// Ensure a picture dropped on the program, which Windows passes as its full path, is the one shown,
// its folder and name in Chinese under a Western code page (which the narrow argv cannot carry).
TEST_F(WineRun, PictureDroppedOnTheProgramIsOpened) {
    gui::copyFile(gui::repoFile("sample/1.jpg"), dir_.file("1.jpg"));
    const cv::Mat picture = gui::testPicture({320, 240});
    std::filesystem::create_directories(dir_.file("我的图片"));
    ASSERT_TRUE(cv::imwrite(dir_.file("我的图片/猫.png"), picture));
    std::string windowsPath = "Z:" + dir_.file("我的图片/猫.png");
    std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
    const gui::ToolWindows windows = startAndWait("C.UTF-8", {windowsPath});
    ASSERT_TRUE(windows.complete());
    EXPECT_TRUE(effectShows(windows.effect, picture)) << "not the dropped picture";
    EXPECT_EQ(quitWithQ(windows.effect), 0) << run_->err();
}

// The Windows desktop at a scale, as Windows' display settings set it (LogPixels, in dots per
// inch: 96 is 100 %), back at 100 % after the test.
class WineScale : public WineRun, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        WineRun::SetUp();
        if (!IsSkipped()) setLogPixels(GetParam());
    }
    void TearDown() override {
        if (!IsSkipped()) setLogPixels(96);
    }
    static void setLogPixels(int dpi) {
        const std::string command = gui::repoFile("tools/wine-env") +
                                    " /usr/lib/wine/wine64 reg add 'HKCU\\Control Panel\\Desktop' /v LogPixels"
                                    " /t REG_DWORD /d " + std::to_string(dpi) + " /f >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
};

// Ensure at every scale the windows lie inside the screen and apart, the picture is shown in both
// windows at the screen's own pixels (one to one up to 150 %, each pixel a 2x2 block at 200 %, not
// stretched by a fraction), and the panel shows its five sliders, one of which, keyed, renders
// the exact pass (at 200 % the library's toolbar used to put two sliders in a row, half of them
// past the panel's edge).
TEST_P(WineScale, PicturesAtTheScreensOwnPixelsAndThePanelUsable) {
    const cv::Mat picture = gui::testPicture({300, 200});
    const int factor = GetParam() >= 168 ? 2 : 1;
    ASSERT_TRUE(cv::imwrite(dir_.file("picture.png"), picture));
    std::filesystem::rename(dir_.file("picture.png"), dir_.file("1.jpg"));
    // Under a Chinese locale, where Wine finds a font for the labels (elsewhere it draws boxes).
    const gui::ToolWindows windows = startAndWait("zh_CN.UTF-8");
    ASSERT_TRUE(windows.complete());
    const cv::Rect screen(0, 0, 1920, 1080);
    // Wine hands the program's moves to the X server a little later: the frames seen just after
    // the banner may still be where Windows first put them.
    std::vector<cv::Rect> frames;
    const auto apart = [&] {
        frames.clear();
        for (const Window window : {windows.panel, windows.source, windows.effect})
            frames.push_back(gui::frameRect(display_.connection(), window));
        return (frames[0] & frames[1]).empty() && (frames[0] & frames[2]).empty() && (frames[1] & frames[2]).empty();
    };
    EXPECT_TRUE(gui::waitUntil(10.0, apart)) << frames[0] << " " << frames[1] << " " << frames[2];
    for (const cv::Rect& frame : frames) EXPECT_EQ(frame & screen, frame) << frame << " is not on the screen";
    // Each picture pixel a factor x factor block somewhere in the window.
    const auto showsMagnified = [&](Window window, const cv::Mat& image) {
        cv::Mat magnified;
        cv::resize(image, magnified, image.size() * factor, 0, 0, cv::INTER_NEAREST);
        return gui::waitUntil(10.0, [&] {
            return gui::locateExactly(gui::screenshot(display_.connection(), window), magnified) != cv::Point(-1, -1);
        });
    };
    for (const Window window : {windows.source, windows.effect}) {
        EXPECT_TRUE(showsMagnified(window, picture))
            << "not at " << factor << ": window " << gui::windowSize(display_.connection(), window);
    }
    const std::vector<cv::Point> grooves = sliderGrooves(windows.panel);
    ASSERT_EQ(grooves.size(), 5u) << "the panel does not show five slider grooves";
    std::printf("LogPixels %d: panel %dx%d, source %dx%d\n", GetParam(), frames[0].width, frames[0].height,
                frames[1].width, frames[1].height);
    // The labels grown with the scale both ways, and whole: the library's font grew only in height
    // under Wine (its labels as wide at 200 % as at 100 %), and a label that outgrows its place is
    // cut at the panel's left edge.
    int widest = 0;
    for (const cv::Rect& ink : labelInk(windows.panel, grooves)) {
        std::printf("  label ink %dx%d at (%d, %d)\n", ink.width, ink.height, ink.x, ink.y);
        EXPECT_GE(ink.height, 8 * GetParam() / 96) << "label text too small";
        EXPECT_GT(ink.x, 2) << "label cut at the panel's edge";
        widest = std::max(widest, ink.width);
    }
    EXPECT_GE(widest, 55 * GetParam() / 96) << "labels not widened with the scale";
    keySlider(windows.panel, grooves[gui::kSize], "key Home key Right key Right");
    cv::Mat expected;
    reference::libraryMorphology(picture, expected, 0, 2, 0);
    EXPECT_TRUE(showsMagnified(windows.effect, expected)) << "kernel size 2";
    EXPECT_EQ(quitWithQ(windows.effect), 0) << run_->err();
}
INSTANTIATE_TEST_SUITE_P(Scales, WineScale, ::testing::Values(96, 120, 144, 192),
                         [](const ::testing::TestParamInfo<int>& dpi) {
                             return "at_" + std::to_string(dpi.param * 100 / 96) + "_percent";
                         });

// Ensure a 1.jpg that holds no picture is refused as on Linux: the message, status 1, no window.
TEST_F(WineRun, FileWithoutAPictureIsRefused) {
    std::ofstream(dir_.file("1.jpg")) << "not a picture\n";
    start();
    EXPECT_EQ(run_->waitExit(60.0), 1) << run_->err();
    EXPECT_EQ(out(), gui::kLoadFailed);
    EXPECT_FALSE(gui::waitForToolWindows(display_.connection(), 0.0).complete());
}

}  // namespace
