// Drives the real program in a private X server: starts it in a scratch folder, finds its windows
// by title, reads their pixels, and presses keys and clicks as a person would.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

namespace gui {

// What an X server does when its last client leaves.
enum class ServerLife {
    kPersistent,      // keeps going (-noreset)
    kResetsWhenIdle,  // resets itself, as a plain `Xvfb :N` does
    kEndsWhenIdle,    // terminates (-terminate)
};

struct DisplayOptions {
    cv::Size screen{2560, 1600};
    ServerLife life = ServerLife::kPersistent;
    bool windowManager = false;  // run openbox, a real window manager, on it
};

// A private Xvfb on a free display number, for one test. With kPersistent the test holds a
// connection for its whole life; otherwise it holds none, so the server's idle behaviour shows.
class VirtualDisplay {
public:
    explicit VirtualDisplay(const DisplayOptions& options = {});
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    const std::string& name() const { return name_; }
    Display* connection() const { return connection_; }
    bool running();

private:
    pid_t serverPid_ = -1;
    pid_t windowManagerPid_ = -1;
    std::string name_;
    Display* connection_ = nullptr;
};

// Processes the tests start. reap: the exit status (128 + signal), or nothing while it runs.
std::optional<int> reap(pid_t pid, bool block, long* peakKiB = nullptr);
void stopProcess(pid_t pid);
// In a child just forked: it dies with the test process, however that ends.
void endWithParent(pid_t parent);
void silenceStandardStreams();
// Whether something accepts connections on the Unix socket at path.
bool socketAnswers(const std::string& path);

// A scratch folder, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A headless Wayland compositor (weston) of the test's own, its socket in a runtime folder of its
// own; gone with the object. Throws when weston does not come up (is it installed?).
class WaylandCompositor {
public:
    WaylandCompositor();
    ~WaylandCompositor();
    WaylandCompositor(const WaylandCompositor&) = delete;
    WaylandCompositor& operator=(const WaylandCompositor&) = delete;

    // The socket's absolute path, as WAYLAND_DISPLAY takes it.
    const std::string& socket() const { return socket_; }

private:
    ScratchDir runtime_;
    pid_t pid_ = -1;
    std::string socket_;
};

// Where the program's standard output goes.
enum class Output {
    kFiles,       // stdout.txt and stderr.txt in the work folder
    kTerminal,    // a pseudo-terminal (stdout and stderr), the program leading its own session
    kBrokenPipe,  // a pipe whose reader has gone, as after `tonemorph | head -1`
    kClosed,      // no standard output at all
};

// One run of the program in a folder.
class ProgramRun {
public:
    // display: the X display to use, or empty to run with DISPLAY unset. arguments: the program's
    // command line after its name.
    ProgramRun(const std::string& workDir, const std::string& display,
               const std::vector<std::string>& extraEnv = {}, Output output = Output::kFiles,
               const std::vector<std::string>& arguments = {});
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    pid_t pid() const { return pid_; }
    // The exit status, 128 + signal for a signal death, or nothing if still running at the deadline.
    std::optional<int> waitExit(double seconds);
    bool running();
    std::string out() const;
    std::string err() const;
    // Everything written to the terminal so far (Output::kTerminal).
    std::string terminal();
    // Types on the terminal, e.g. "\x03" for Ctrl+C (Output::kTerminal).
    void typeOnTerminal(const std::string& text) const;
    void signal(int signalNumber) const;
    // Resident memory in KiB, from /proc.
    long residentKiB() const;
    // The most memory it ever held, in KiB, once it has ended.
    long peakKiB() const { return peakKiB_; }

private:
    pid_t pid_ = -1;
    int terminalFd_ = -1;
    std::string terminalText_;
    std::optional<int> status_;
    long peakKiB_ = -1;
    std::string workDir_;
};

// Polls until cond() is true or the deadline passes; returns the last cond().
template <typename Cond>
bool waitUntil(double seconds, Cond cond) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (cond()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string repoFile(const std::string& relative);
void copyFile(const std::string& from, const std::string& to);
std::string readFile(const std::string& path);

// The legacy title (WM_NAME) as UTF-8, whatever type it was stored as; needs a UTF-8 LC_CTYPE.
std::string legacyTitle(Display* display, Window window);
// Windows whose UTF-8 title is exactly title, framed by a window manager or not.
std::vector<Window> windowsTitled(Display* display, const std::string& title);
Window waitForWindow(Display* display, const std::string& title, double seconds);
bool isViewable(Display* display, Window window);
// Whether a window manager has announced itself on the display.
bool windowManagerRunning(Display* display);
cv::Size windowSize(Display* display, Window window);
// Where the window sits on the screen with its frame (a window manager's decorations), and
// where its content is, both in screen coordinates.
cv::Rect frameRect(Display* display, Window window);
cv::Rect contentRect(Display* display, Window window);
// The usable screen area: the work area a window manager publishes, else the whole screen.
cv::Rect usableArea(Display* display);
void moveWindow(Display* display, Window window, int x, int y);
// What the user sees of a window (it must not be covered), as 8-bit BGR.
cv::Mat screenshot(Display* display, Window window);
// Asks the window to close, as a window manager does when its close button is pressed.
void requestClose(Display* display, Window window);

// The program's three windows by their titles.
// The window code the program was built with: qt, gtk3, win32 or plain.
inline const std::string kToolkit = TONEMORPH_TOOLKIT_NAME;

// The setting that scales the toolkit's windows, as on a HiDPI laptop, in percent. GTK scales by
// whole factors only.
inline std::string scaleSetting(int percent) {
    if (kToolkit == "gtk3") return "GDK_SCALE=" + std::to_string(percent / 100);
    return "QT_SCALE_FACTOR=" + std::to_string(percent / 100) + (percent % 100 != 0 ? "." + std::to_string(percent % 100) : "");
}

inline const std::string kPanelTitle = "【滑条】";
inline const std::string kSourceTitle = "【原始图】";
inline const std::string kEffectTitle = "【效果图】";

struct ToolWindows {
    Window panel = 0;
    Window source = 0;
    Window effect = 0;
    bool complete() const { return panel != 0 && source != 0 && effect != 0; }
};

// Waits for all three windows to be shown; missing ones stay 0.
ToolWindows waitForToolWindows(Display* display, double seconds);

// A picture for showing scaled: smooth colour ramps (so a screen's nearest-pixel scaling and an
// area average agree closely) and a distinct block of colour in each corner (10% of each side, the
// whole side where it is shorter than 50 pixels), so a cut-off corner shows.
cv::Mat testPicture(cv::Size size);

// How closely a window shows a picture scaled whole to its content: the mean absolute difference
// (all channels) from the picture scaled by area averaging, over the whole view and in its worst
// corner (5% of each side, at least 1 px). The screen samples the nearest pixel instead, which on
// testPicture's smooth ramps differs little; waits out repaints for up to `seconds`.
struct ScaledView {
    cv::Size content;
    double whole = 1e9;
    double worstCorner = 1e9;
    bool close() const { return whole <= 2.0 && worstCorner <= 8.0; }
};
ScaledView compareScaledView(Display* display, Window window, const cv::Mat& picture, double seconds);

// The same for a view already cut out of a screenshot (view.content stays as the caller set it).
void compareScaled(const cv::Mat& shown, const cv::Mat& picture, ScaledView& view);

// Whether shown is picture itself; or, smaller, one pixel of it per shown pixel: the one under the
// shown pixel's centre (what a window showing picture scaled down is handed), filling it or, in a
// window of another shape, with the picture's shape on a background of one colour; or, larger,
// picture at the largest whole factor that fits, each pixel a square block, centred to within a pixel on
// a background of one colour (what a window larger than its picture is handed). factor, if given,
// is set to that factor (1 for a sample).
bool isSampleOf(const cv::Mat& shown, const cv::Mat& picture, int* factor = nullptr);

// Runs xdotool with the given arguments on the display; returns its exit status.
int xdotool(const std::string& display, const std::string& arguments);

// The panel's sliders, top to bottom, their labels and their maxima.
enum Slider { kOperation, kSize, kShape, kContrast, kBrightness };
inline const std::string kSliderLabel[] = {"腐蚀/膨胀", "内核尺寸", "内核形状", "对比度：", "亮   度："};
constexpr int kSliderMaximum[] = {1, 21, 2, 300, 200};

// One slider as the program's toolkit knows it, from the report the preloaded spy writes
// (imshow_spy.cpp): no widget style, theme or font comes into it.
struct SliderState {
    std::string label;
    int minimum = 0;
    int maximum = 0;
    int value = 0;
    bool focused = false;
    cv::Rect groove;  // device pixels within the panel window
    cv::Rect handle;
    cv::Point handleMiddle() const { return (handle.tl() + handle.br()) / 2; }
};

// The sliders in the report file, top to bottom; empty if there is none yet.
std::vector<SliderState> readSliderReport(const std::string& reportPath);
// The panel's five sliders in their order, once the report shows them with their labels; empty
// after the timeout.
std::vector<SliderState> waitForSliders(const std::string& reportPath, double seconds);

// Keys and sliders driven as a person would. The pointer goes to the middle of the window, then
// the key: as for a person hovering there.
void pressKey(const std::string& display, Display* x, Window window, const std::string& key);
// Gives the slider the keyboard by clicking its handle, which leaves its value alone, and waits
// until the toolkit reports it focused; false if it never is.
bool focusSlider(const std::string& display, Window panel, const std::string& reportPath, Slider slider);
// Gives the slider the keyboard, then keys it to the exact value from the nearer end.
void setSlider(const std::string& display, Window panel, const std::string& reportPath, Slider slider,
               int value);

// Where image sits in shot, pixel for pixel, or (-1,-1).
cv::Point locateExactly(const cv::Mat& shot, const cv::Mat& image);

}  // namespace gui
