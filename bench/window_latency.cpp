// End-to-end speed in real windows: the program started on a 4000x3000 photo under Xvfb with a
// window manager, driven through the keyboard. Reports
// - the time per slider notification, from the key press to the effect window's update on the X
//   server (a Damage event), over a kernel-size sweep 0..21..0 with the ellipse, for the start-up
//   layout (scaled windows on a 1920x1080 screen) and for 1:1 windows (on a screen they fit);
// - a held key: 30 key repeats a second for 10 s at the slowest setting, then q, and the time from
//   q to the program's exit (any backlog of notifications shows here).
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
#include <fstream>
#include <string>
#include <thread>
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
    std::vector<cv::Point> sliders;

    Session(cv::Size screen, const cv::Mat& picture)
        : display({screen, gui::ServerLife::kPersistent, true}) {
        cv::imwrite(dir.file("picture.png"), picture);
        std::rename(dir.file("picture.png").c_str(), dir.file("1.jpg").c_str());
        // The spy logs every window update, which counts the render passes.
        run = std::make_unique<gui::ProgramRun>(
            dir.path(), display.name(),
            std::vector<std::string>{"LD_PRELOAD=" IMSHOW_SPY, "TONEMORPH_IMSHOW_LOG=" + dir.file("imshow.log")});
        windows = gui::waitForToolWindows(display.connection(), 30.0);
        gui::waitUntil(30.0, [&] { return run->out().find("q键") != std::string::npos; });
        gui::waitUntil(10.0, [&] {
            sliders = gui::findSliders(gui::screenshot(display.connection(), windows.panel));
            return sliders.size() == 5;
        });
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
        gui::focusByHandle(display.name(), display.connection(), windows.panel, sliders[slider]);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }

    void setSlider(gui::Slider slider, int value) {
        gui::setSlider(display.name(), windows.panel, sliders[slider], value, gui::kSliderMaximum[slider]);
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
};

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
    const auto notifications = [&](int count, const auto& keyOfStep) {
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
    };
    const std::vector<double> sweep = notifications(42, [](int step) { return step < 21 ? XK_Right : XK_Left; });
    // Back at size 0: up to 21 again, then the slowest settings.
    for (int step = 0; step < 21; ++step) tapKey(x, XK_Right);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const std::vector<double> slowest = notifications(20, [](int step) { return step % 2 ? XK_Right : XK_Left; });
    if (sweep.empty() || slowest.empty()) return;
    std::printf("%-32s effect window %dx%d: sweep of %zu notifications, median %.1f ms, 90%% %.1f ms, worst %.1f ms;"
                " sizes 20 and 21, %zu notifications, median %.1f ms, worst %.1f ms\n",
                what, view.width, view.height, sweep.size(), sweep[sweep.size() / 2], sweep[sweep.size() * 9 / 10],
                sweep.back(), slowest.size(), slowest[slowest.size() / 2], slowest.back());
    tapKey(x, XK_q);
    session.run->waitExit(30.0);
}

// 30 key repeats a second for 10 s on the contrast slider at the slowest setting (erosion, 43x43
// ellipse), then q: how long until the program has ended.
void heldKey(cv::Size screen, const cv::Mat& picture) {
    Session session(screen, picture);
    session.setSlider(gui::kShape, 2);
    session.setSlider(gui::kSize, 21);
    session.focus(gui::kContrast);
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
    std::printf("held key, slowest setting, 30 repeats/s for 10 s: %d of the passes done when q was"
                " pressed, %d in all; exit %.2f s after q (status %d)\n",
                rendersBefore - rendersAtStart, session.effectRenders() - rendersAtStart, millisecondsSince(quit) / 1000.0,
                status ? *status : -1);
}

}  // namespace

int main() {
    const cv::Mat photo = photoLike({4000, 3000});
    std::printf("== Real windows, openbox, 4000x3000 photo ==\n");
    sizeSweep("start-up layout, 1920x1080:", {1920, 1080}, photo);
    sizeSweep("1:1 windows, 8200x3300:", {8200, 3300}, photo);
    heldKey({1920, 1080}, photo);
    return 0;
}
