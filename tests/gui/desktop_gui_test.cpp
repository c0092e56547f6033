// The program on the Wayland desktops people run, each compositor headless: sway (tiling), KWin
// (KDE Plasma) and mutter (GNOME). As a session starts it (XWayland there, no platform chosen),
// with native Wayland windows chosen, and with no X server at all. What the compositor says of
// the windows is the measure: where they lie, what they show, and keys and clicks sent as its
// seat would send them, wherever it offers a client that.
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "gui/desktop_session.h"
#include "gui/gui_harness.h"
#include "reference/literal_pass.h"

namespace {

using gui::Compositor;
using gui::DesktopWindow;

enum class Mode {
    kSession,      // XWayland beside Wayland, as a desktop session starts the program
    kNative,       // the same session, native Wayland windows chosen by the user
    kWaylandOnly,  // no X server at all
};

struct DesktopCase {
    const char* name;
    Compositor compositor;
    Mode mode;
    int scale = 1;  // screen pixels per unit of the desktop
};

const DesktopCase kCases[] = {
    {"sway_session", Compositor::kSway, Mode::kSession},
    {"sway_native", Compositor::kSway, Mode::kNative},
    {"sway_wayland_only", Compositor::kSway, Mode::kWaylandOnly},
    {"sway_native_scaled_by_two", Compositor::kSway, Mode::kNative, 2},
    {"kwin_session", Compositor::kKwin, Mode::kSession},
    {"kwin_native", Compositor::kKwin, Mode::kNative},
    {"kwin_native_scaled_by_two", Compositor::kKwin, Mode::kNative, 2},
    {"mutter_session", Compositor::kMutter, Mode::kSession},
    {"mutter_native", Compositor::kMutter, Mode::kNative},
};

const std::string kBanner = "\n\n\t运行成功，请调整滚动条（·8·）\n\n\tq键，退出程序\n";
const std::vector<std::string> kTitles{gui::kPanelTitle, gui::kSourceTitle, gui::kEffectTitle};

class DesktopTest : public ::testing::TestWithParam<DesktopCase> {
protected:
    void SetUp() override {
        const std::string missing = gui::desktopUnavailable(GetParam().compositor);
        if (!missing.empty()) GTEST_SKIP() << missing;
        desktop_ = std::make_unique<gui::Desktop>(GetParam().compositor, GetParam().mode != Mode::kWaylandOnly,
                                                  cv::Size(1920, 1080), GetParam().scale);
    }

    // Whether the program's windows are native ones: chosen, or with no X server, or GTK's on sway,
    // which does not take X there.
    bool native() const {
        return GetParam().mode != Mode::kSession ||
               (gui::kToolkit == "gtk3" && GetParam().compositor == Compositor::kSway);
    }

    // Starts the program on picture, named on its command line, as the session would.
    void start(const cv::Mat& picture) {
        picture_ = picture;
        ASSERT_TRUE(cv::imwrite(dir_.file("photo.png"), picture));
        std::vector<std::string> env = desktop_->environment();
        for (const std::string& setting : std::vector<std::string>{
                 "LD_PRELOAD=" IMSHOW_SPY, "TONEMORPH_SLIDER_REPORT=" + dir_.file("sliders.txt"),
              "TONEMORPH_IMSHOW_LOG=" + dir_.file("imshow.log"), "TONEMORPH_IMSHOW_DUMP_DIR=" + dir_.path()}) {
            env.push_back(setting);
        }
        if (GetParam().mode == Mode::kNative) {
            env.push_back(gui::kToolkit == "gtk3" ? "GDK_BACKEND=wayland" : "QT_QPA_PLATFORM=wayland");
        }
        const std::string display = GetParam().mode == Mode::kWaylandOnly ? "" : desktop_->xDisplay();
        run_ = std::make_unique<gui::ProgramRun>(dir_.path(), display, env, gui::Output::kFiles,
                                                 std::vector<std::string>{"photo.png"});
        ASSERT_TRUE(gui::waitUntil(30.0, [&] { return run_->out() == kBanner || !run_->running(); }))
            << "stdout: " << run_->out() << "\nstderr: " << run_->err();
        ASSERT_EQ(run_->out(), kBanner) << "stderr: " << run_->err();
    }

    // The three windows once the compositor has them where they stay (two equal looks in a row).
    std::vector<DesktopWindow> settledWindows() {
        std::vector<DesktopWindow> last;
        if (!desktop_->listsNativeWindows() && native()) return last;
        gui::waitUntil(15.0, [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            std::vector<DesktopWindow> now = desktop_->windows(kTitles);
            const bool same = now.size() == 3 && last.size() == 3 &&
                              std::equal(now.begin(), now.end(), last.begin(), [](const DesktopWindow& a, const DesktopWindow& b) {
                                  return a.title == b.title && a.frame == b.frame && a.content == b.content;
                              });
            last = std::move(now);
            return same;
        });
        return last;
    }

    static const DesktopWindow* titled(const std::vector<DesktopWindow>& windows, const std::string& title) {
        for (const DesktopWindow& window : windows) {
            if (window.title == title) return &window;
        }
        return nullptr;
    }

    // What a picture window shows, as the compositor or XWayland gives it; empty where neither does.
    cv::Mat shown(const DesktopWindow& window) {
        if (window.x11 && desktop_->x() != nullptr) {
            for (Window id : gui::windowsTitled(desktop_->x(), window.title)) {
                if (gui::isViewable(desktop_->x(), id)) return gui::screenshot(desktop_->x(), id);
            }
            return {};
        }
        const cv::Mat screen = desktop_->screenshot();
        const int scale = desktop_->scale();
        const cv::Rect content(window.content.tl() * scale, window.content.size() * scale);
        if (screen.empty() || (content & cv::Rect(0, 0, screen.cols, screen.rows)) != content) return {};
        return screen(content).clone();
    }

    cv::Mat lastShown(const std::string& id) const { return cv::imread(dir_.file(id + ".png"), cv::IMREAD_UNCHANGED); }

    // The panel's X window, where it is on XWayland.
    Window panelOnX() const {
        if (desktop_->x() == nullptr) return 0;
        for (Window id : gui::windowsTitled(desktop_->x(), gui::kPanelTitle)) {
            if (gui::isViewable(desktop_->x(), id)) return id;
        }
        return 0;
    }

    // Sets the brightness slider to its top as a person would: on X by its handle and the End key,
    // natively by a click on its handle through the seat's pointer and the End key on its keyboard.
    // False where the compositor takes input from no client.
    bool brightnessToTop(const DesktopWindow& panel) {
        const std::string report = dir_.file("sliders.txt");
        if (gui::waitForSliders(report, 10.0).size() != 5) return false;
        if (panel.x11) {
            gui::setSlider(desktop_->xDisplay(), panelOnX(), report, gui::kBrightness, gui::kSliderMaximum[gui::kBrightness]);
            return true;
        }
        if (!desktop_->sendsInput()) return false;
        const gui::SliderState slider = gui::readSliderReport(report)[gui::kBrightness];
        // A click at the groove's far end (GTK's slider jumps there, Qt's steps towards it), then
        // End where that did not reach the top. The report is in screen pixels, the pointer moves
        // in the desktop's units.
        const int top = gui::kSliderMaximum[gui::kBrightness];
        desktop_->click(panel.content.tl() +
                        cv::Point(slider.groove.br().x - 2, slider.groove.y + slider.groove.height / 2) / desktop_->scale());
        if (gui::waitUntil(2.0, [&] { return gui::readSliderReport(report)[gui::kBrightness].value == top; })) return true;
        gui::waitUntil(5.0, [&] { return gui::readSliderReport(report)[gui::kBrightness].focused; });
        desktop_->type("-k End");
        return true;
    }

    // Types q as a person would into the panel; false where the compositor takes input from no client.
    bool quitByKey() {
        if (Window panel = panelOnX()) {
            gui::pressKey(desktop_->xDisplay(), desktop_->x(), panel, "q");
            return true;
        }
        if (!desktop_->sendsInput()) return false;
        desktop_->focus(gui::kPanelTitle);
        desktop_->type("q");
        return true;
    }

    // The three windows, once settled, each inside the screen, shown the way the mode chose, and
    // apart wherever the program has a say in where they go; the listing goes to the log.
    std::vector<DesktopWindow> checkedPlaces() {
        const std::vector<DesktopWindow> windows = settledWindows();
        if (!desktop_->listsNativeWindows() && native()) {
            std::cout << "[ desktop ] " << GetParam().name << ": the compositor lists native windows to no client\n";
            return windows;
        }
        EXPECT_EQ(windows.size(), 3u) << "stderr: " << run_->err();
        for (const DesktopWindow& window : windows) {
            std::cout << "[ desktop ] " << GetParam().name << " " << picture_.size() << ": " << window.title << " frame "
                      << window.frame << " content " << window.content << (window.x11 ? " XWayland" : " Wayland")
                      << (window.floating ? " floating" : "") << "\n";
            EXPECT_EQ(window.x11, !native()) << window.title;
            EXPECT_EQ(window.frame & desktop_->screen(), window.frame) << window.title << " leaves the screen";
        }
        // A stacking compositor places native windows itself, as it will: only their sizes are ours.
        if (!native() || GetParam().compositor == Compositor::kSway) {
            for (size_t i = 0; i < windows.size(); ++i) {
                for (size_t j = i + 1; j < windows.size(); ++j) {
                    EXPECT_TRUE((windows[i].frame & windows[j].frame).empty())
                        << windows[i].title << " and " << windows[j].title << " overlap";
                }
            }
        }
        return windows;
    }

    // The window shows picture whole, fitted to its size, wherever a client can see its pixels.
    void expectWhole(const DesktopWindow& window, const cv::Mat& picture) {
        gui::ScaledView view;
        const bool seen = gui::waitUntil(10.0, [&] {
            const cv::Mat content = shown(window);
            if (content.empty()) return true;
            view = gui::compareFittedView(content, picture);
            return view.close();
        });
        if (view.content.empty()) {
            std::cout << "[ desktop ] " << GetParam().name << ": no client sees the pixels of " << window.title << "\n";
            return;
        }
        EXPECT_TRUE(seen && view.close()) << window.title << " shows the picture cut or distorted in " << view.content
                                          << ": mean difference " << view.whole << ", worst corner " << view.worstCorner;
    }

    // The window shows exactly what it was handed, at the screen's own pixels (Qt's view keeps the
    // picture's shape in a tile of another, in the tile's middle), wherever a client can see native
    // windows' pixels (sway).
    void expectShownAsHanded(const DesktopWindow& window, const std::string& id) {
        if (window.x11 || desktop_->screenshot().empty()) return;
        cv::Mat content;
        EXPECT_TRUE(gui::waitUntil(10.0, [&] {
            content = shown(window);
            const cv::Mat handed = lastShown(id);
            if (content.empty() || handed.empty()) return false;
            // Handed a canvas of the window's size: its outermost pixels left out, since GTK
            // rounds its window's corners on Wayland by a pixel.
            const bool whole = handed.size() == content.size() && handed.cols > 2 && handed.rows > 2;
            return gui::locateExactly(content, whole ? handed(cv::Rect(1, 1, handed.cols - 2, handed.rows - 2)) : handed) !=
                   cv::Point(-1, -1);
        })) << window.title << " " << content.size() << " does not show the " << lastShown(id).size() << " it was handed";
    }

    // Closes the window as its close button would; false where nothing can.
    bool closeWindow(const DesktopWindow& window) {
        if (window.x11) {
            for (Window id : gui::windowsTitled(desktop_->x(), window.title)) gui::requestClose(desktop_->x(), id);
            return true;
        }
        return desktop_->close(window.title);
    }

    // q typed into the panel ends the program with 0, where keys can be typed.
    void quit() {
        if (quitByKey()) {
            EXPECT_EQ(run_->waitExit(10.0), 0) << "q did not end the program; stderr: " << run_->err();
        }
        EXPECT_EQ(run_->err().find("tonemorph:"), std::string::npos) << run_->err();
    }

    std::unique_ptr<gui::Desktop> desktop_;
    gui::ScratchDir dir_;
    std::unique_ptr<gui::ProgramRun> run_;
    cv::Mat picture_;
};

// Ensure a phone photo's three windows lie inside the screen, apart wherever the compositor lets a
// program have a say (XWayland, or a tiling compositor), each picture shown whole, the two picture
// windows handed the same grid at the size they show; a slider moved, a window closed and q typed
// reach the program.
TEST_P(DesktopTest, PhotoIsShownWholeInWindowsThatFitAndAnswer) {
    start(gui::testPicture({4000, 3000}));
    const std::vector<DesktopWindow> windows = checkedPlaces();
    const DesktopWindow* source = titled(windows, gui::kSourceTitle);
    const DesktopWindow* effect = titled(windows, gui::kEffectTitle);
    const DesktopWindow* panel = titled(windows, gui::kPanelTitle);
    if (source != nullptr && effect != nullptr) {
        for (const DesktopWindow* window : {source, effect}) expectWhole(*window, picture_);
        // Handed a sample as large as the window has room for at the screen's own pixels (filling
        // it one way at least), the same for both.
        const cv::Mat sourceSample = lastShown("tonemorph-source");
        const cv::Mat effectSample = lastShown("tonemorph-effect");
        std::cout << "[ desktop ] " << GetParam().name << ": handed " << sourceSample.size() << "\n";
        EXPECT_TRUE(gui::isSampleOf(sourceSample, picture_));
        EXPECT_EQ(sourceSample.size(), effectSample.size());
        const int scale = desktop_->scale();
        EXPECT_LE(sourceSample.cols, (source->content.width + 1) * scale);
        EXPECT_LE(sourceSample.rows, (source->content.height + 1) * scale);
        EXPECT_TRUE(sourceSample.cols >= (source->content.width - 1) * scale ||
                    sourceSample.rows >= (source->content.height - 1) * scale)
            << "not at the screen's own pixels: handed " << sourceSample.size() << " for " << source->content.size();
        expectShownAsHanded(*source, "tonemorph-source");
    }

    if (panel != nullptr && brightnessToTop(*panel)) {
        tonemorph::EffectSettings settings;
        settings.brightnessValue = gui::kSliderMaximum[gui::kBrightness];
        cv::Mat tone;
        cv::Mat expected;
        reference::literalPass(picture_, tone, expected, settings);
        EXPECT_TRUE(gui::waitUntil(10.0, [&] { return gui::isSampleOf(lastShown("tonemorph-effect"), expected); }))
            << "the effect window was not handed the pass at the slider's new value; brightness "
            << gui::readSliderReport(dir_.file("sliders.txt"))[gui::kBrightness].value << ", handed "
            << lastShown("tonemorph-effect").size();
        if (effect != nullptr) expectWhole(*effect, expected);
    } else {
        std::cout << "[ desktop ] " << GetParam().name << ": the compositor takes no keys or clicks from a client\n";
    }

    // Closed as its close button closes it: gone for good, the program goes on.
    if (effect != nullptr && closeWindow(*effect)) {
        EXPECT_TRUE(gui::waitUntil(10.0, [&] { return titled(desktop_->windows(kTitles), gui::kEffectTitle) == nullptr; }))
            << "the effect window did not close";
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_TRUE(run_->running()) << "closing a window ended the program";
        EXPECT_EQ(titled(desktop_->windows(kTitles), gui::kEffectTitle), nullptr) << "the effect window came back";
    }
    quit();
}

// Ensure a picture smaller than its place is shown whole too, and that no window floats over the
// others for having one fixed size (sway floats such windows).
TEST_P(DesktopTest, SmallPictureIsShownWholeAndNoWindowFloats) {
    start(gui::testPicture({600, 400}));
    const std::vector<DesktopWindow> windows = checkedPlaces();
    for (const DesktopWindow& window : windows) {
        EXPECT_FALSE(window.floating) << window.title << " floats";
        if (window.title != gui::kPanelTitle) expectWhole(window, picture_);
        if (window.title == gui::kSourceTitle) expectShownAsHanded(window, "tonemorph-source");
    }
    quit();
}

INSTANTIATE_TEST_SUITE_P(Compositors, DesktopTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<DesktopCase>& tested) { return std::string(tested.param.name); });

}  // namespace
