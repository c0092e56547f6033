// End-to-end speed in real windows: the program started on a 4000x3000 and an 8000x6000 photo
// under Xvfb with a window manager, driven through the keyboard. Reports
// - the time per slider notification, from the key press to the effect window's update on the X
//   server (a Damage event), over a kernel-size sweep 0..21..0 with the ellipse, for the start-up
//   layout (scaled windows on a 1920x1080 screen) and for 1:1 windows (on a screen they fit);
// - the same for contrast steps with the 43x43 ellipse set (the kept morphology result reused);
// - a held key: 30 key repeats a second for 10 s on the kernel-size slider between sizes 20 and
//   21, and on the contrast slider, at the slowest setting (the 43x43 ellipse), then q, and the time
//   from q to the program's exit (any backlog of notifications shows here);
// each on a 1920x1080 screen and on a 3840x2160 one.
// With --before PROGRAM every measurement is taken for that program first, then for ours, in one
// run, so a change is judged under the same conditions.
// The library's headers first: the X headers define macros that clash with its names.
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/keysym.h>
#include <sys/select.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gui/gui_harness.h"
#include "photo_like.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Damage reports on one window: whatever the X server receives for it shows up as an event.
class DamageWatch {
public:
    DamageWatch(Display* x, Window window) : x_(x) {
        int errorBase = 0;
        if (!XDamageQueryExtension(x_, &eventBase_, &errorBase)) throw std::runtime_error("no DAMAGE");
        damage_ = XDamageCreate(x_, window, XDamageReportNonEmpty);
        XSync(x_, False);
        drain();
    }
    ~DamageWatch() { XDamageDestroy(x_, damage_); }
    DamageWatch(const DamageWatch&) = delete;
    DamageWatch& operator=(const DamageWatch&) = delete;

    // Forgets every report so far.
    void drain() {
        XSync(x_, False);
        while (XPending(x_) > 0) {
            XEvent event;
            XNextEvent(x_, &event);
        }
        XDamageSubtract(x_, damage_, None, None);
        XSync(x_, False);
    }

    // Waits for the next report; false after the timeout.
    bool wait(double seconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            while (XPending(x_) > 0) {
                XEvent event;
                XNextEvent(x_, &event);
                if (event.type == eventBase_ + XDamageNotify) {
                    XDamageSubtract(x_, damage_, None, None);
                    return true;
                }
            }
            const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            fd_set fds;
            FD_ZERO(&fds);
            FD_SET(ConnectionNumber(x_), &fds);
            timeval timeout{0, static_cast<long>(std::min(left, 0.05) * 1e6)};
            select(ConnectionNumber(x_) + 1, &fds, nullptr, nullptr, &timeout);
        }
    }

private:
    Display* x_;
    int eventBase_ = 0;
    Damage damage_ = 0;
};

void tapKey(Display* x, KeySym key) {
    const KeyCode code = XKeysymToKeycode(x, key);
    XTestFakeKeyEvent(x, code, True, CurrentTime);
    XTestFakeKeyEvent(x, code, False, CurrentTime);
    XFlush(x);
}

struct Session {
    gui::VirtualDisplay display;
    gui::ScratchDir dir;
    std::unique_ptr<gui::ProgramRun> run;
    gui::ToolWindows windows;
    std::vector<gui::SliderState> sliders;

    Session(cv::Size screen, const cv::Mat& picture)
        : display({screen, gui::ServerLife::kPersistent, true}) {
        cv::imwrite(dir.file("picture.png"), picture);
        std::rename(dir.file("picture.png").c_str(), dir.file("1.jpg").c_str());
        // The spy logs every window update, which counts the render passes.
        run = std::make_unique<gui::ProgramRun>(
            dir.path(), display.name(),
            std::vector<std::string>{"LD_PRELOAD=" IMSHOW_SPY, "TONEMORPH_IMSHOW_LOG=" + dir.file("imshow.log"),
                                     "TONEMORPH_SLIDER_REPORT=" + dir.file("sliders.txt")});
        windows = gui::waitForToolWindows(display.connection(), 30.0);
        gui::waitUntil(30.0, [&] { return run->out().find("q键") != std::string::npos; });
        sliders = gui::waitForSliders(dir.file("sliders.txt"), 10.0);
        if (sliders.size() != 5) throw std::runtime_error("no sliders in the panel");
    }

    int effectRenders() const {
        std::ifstream log(dir.file("imshow.log"));
        int count = 0;
        for (std::string line; std::getline(log, line);) count += line == "tonemorph-effect";
        return count;
    }

    // Gives the slider the keyboard (a click on its handle) and lets the program settle.
    void focus(gui::Slider slider) {
        gui::focusSlider(display.name(), windows.panel, dir.file("sliders.txt"), slider);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }

    // The 43x43 ellipse set, and the keyboard on the contrast slider.
    void contrastAtSlowestSetting() {
        setSlider(gui::kShape, 2);
        setSlider(gui::kSize, 21);
        focus(gui::kContrast);
    }

    void setSlider(gui::Slider slider, int value) {
        gui::setSlider(display.name(), windows.panel, dir.file("sliders.txt"), slider, value);
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
};

// Key press to effect window updated for count taps of the focused slider, one every 100 ms.
template <typename KeyOfStep>
std::vector<double> notifications(Display* x, DamageWatch& damage, int count, const KeyOfStep& keyOfStep) {
    std::vector<double> times;
    for (int step = 0; step < count; ++step) {
        damage.drain();
        const auto start = Clock::now();
        tapKey(x, keyOfStep(step));
        if (!damage.wait(5.0)) {
            std::printf("  step %d: no update within 5 s\n", step);
            continue;
        }
        times.push_back(millisecondsSince(start));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::sort(times.begin(), times.end());
    return times;
}

// Key press to effect window updated, for every step of the size sweep 0..21..0 with the ellipse,
// then for 20 steps between sizes 21 and 20 (the slowest settings).
void sizeSweep(const char* what, cv::Size screen, const cv::Mat& picture) {
    Session session(screen, picture);
    const cv::Size view = gui::windowSize(session.display.connection(), session.windows.effect);
    session.setSlider(gui::kShape, 2);
    session.setSlider(gui::kSize, 0);
    session.focus(gui::kSize);
    Display* x = session.display.connection();
    DamageWatch damage(x, session.windows.effect);
    const std::vector<double> sweep = notifications(x, damage, 42, [](int step) { return step < 21 ? XK_Right : XK_Left; });
    // Back at size 0: up to 21 again, then the slowest settings.
    for (int step = 0; step < 21; ++step) tapKey(x, XK_Right);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const std::vector<double> slowest = notifications(x, damage, 20, [](int step) { return step % 2 ? XK_Right : XK_Left; });
    if (sweep.empty() || slowest.empty()) return;
    std::printf("%-32s effect window %dx%d: sweep of %zu notifications, median %.1f ms, 90%% %.1f ms, worst %.1f ms;"
                " sizes 20 and 21, %zu notifications, median %.1f ms, worst %.1f ms\n",
                what, view.width, view.height, sweep.size(), sweep[sweep.size() / 2], sweep[sweep.size() * 9 / 10],
                sweep.back(), slowest.size(), slowest[slowest.size() / 2], slowest.back());
    tapKey(x, XK_q);
    session.run->waitExit(30.0);
}

// Key press to effect window updated for 40 contrast steps, 100..120..100, with the erosion by the
// 43x43 ellipse set: only the tone moves.
void contrastSteps(const char* what, cv::Size screen, const cv::Mat& picture) {
    Session session(screen, picture);
    session.contrastAtSlowestSetting();
    Display* x = session.display.connection();
    DamageWatch damage(x, session.windows.effect);
    const std::vector<double> steps =
        notifications(x, damage, 40, [](int step) { return step < 20 ? XK_Right : XK_Left; });
    if (steps.empty()) return;
    std::printf("%-32s contrast steps at the 43x43 ellipse, %zu notifications: median %.1f ms, 90%% %.1f ms, worst %.1f ms\n",
                what, steps.size(), steps[steps.size() / 2], steps[steps.size() * 9 / 10], steps.back());
    tapKey(x, XK_q);
    session.run->waitExit(30.0);
}

// 30 key repeats a second for 10 s on the contrast slider at the slowest setting (erosion, 43x43
// ellipse), or on the kernel-size slider between sizes 21 and 20, then q: how long until the
// program has ended.
void heldKey(const char* what, cv::Size screen, const cv::Mat& picture, gui::Slider slider) {
    Session session(screen, picture);
    session.contrastAtSlowestSetting();
    if (slider != gui::kContrast) session.focus(slider);
    Display* x = session.display.connection();
    const int rendersAtStart = session.effectRenders();
    const auto start = Clock::now();
    for (int repeat = 0; repeat < 300; ++repeat) {
        tapKey(x, repeat % 2 ? XK_Left : XK_Right);
        std::this_thread::sleep_until(start + std::chrono::microseconds(33333 * (repeat + 1)));
    }
    const auto quit = Clock::now();
    const int rendersBefore = session.effectRenders();
    tapKey(x, XK_q);
    const auto status = session.run->waitExit(120.0);
    std::printf("%-32s held %s key, 43x43 ellipse, 30 repeats/s for 10 s: %d of the passes done when q"
                " was pressed, %d in all; exit %.2f s after q (status %d)\n",
                what, slider == gui::kContrast ? "contrast" : "kernel-size", rendersBefore - rendersAtStart, session.effectRenders() - rendersAtStart, millisecondsSince(quit) / 1000.0,
                status ? *status : -1);
}

}  // namespace

int main(int argc, char** argv) {
    // Which programs to measure: the one given with --before, then ours.
    std::vector<std::pair<std::string, std::string>> programs;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--before") programs.emplace_back("before", argv[++i]);
    }
    programs.emplace_back(programs.empty() ? "" : "now", "");
    for (const cv::Size size : {cv::Size(4000, 3000), cv::Size(8000, 6000)}) {
        const cv::Mat photo = photoLike(size);
        const bool large = size.width > 4000;
        std::printf("== Real windows, openbox, %dx%d photo ==\n", size.width, size.height);
        for (const auto& [name, path] : programs) {
            // The harness starts whatever TONEMORPH_EXECUTABLE names, else the program built with it.
            if (path.empty()) unsetenv("TONEMORPH_EXECUTABLE");
            else setenv("TONEMORPH_EXECUTABLE", path.c_str(), 1);
            if (!name.empty()) std::printf("-- %s%s%s\n", name.c_str(), path.empty() ? "" : ": ", path.c_str());
            // A laptop's screen and a 4K monitor (at 100 %: the picture windows hold four times the pixels).
            for (const auto& [screen, what] : {std::make_pair(cv::Size(1920, 1080), "start-up layout, 1920x1080:"),
                                               std::make_pair(cv::Size(3840, 2160), "start-up layout, 3840x2160:")}) {
                sizeSweep(what, screen, photo);
                contrastSteps(what, screen, photo);
                heldKey(what, screen, photo, gui::kSize);
                heldKey(what, screen, photo, gui::kContrast);
            }
            if (!large) sizeSweep("1:1 windows, 8200x3300:", {8200, 3300}, photo);
        }
    }
    return 0;
}
