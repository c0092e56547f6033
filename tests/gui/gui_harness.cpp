#include "gui/gui_harness.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <opencv2/imgproc.hpp>

namespace gui {

std::optional<int> reap(pid_t pid, bool block, long* peakKiB) {
    int status = 0;
    rusage usage{};
    const pid_t done = ::wait4(pid, &status, block ? 0 : WNOHANG, &usage);
    if (done != pid) return std::nullopt;
    if (peakKiB != nullptr) *peakKiB = usage.ru_maxrss;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return std::nullopt;
}

void stopProcess(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    if (!waitUntil(3.0, [&] { return reap(pid, false).has_value(); })) {
        ::kill(pid, SIGKILL);
        reap(pid, true);
    }
}

// In a child just forked: it dies with the test process, however that ends (a crash or a kill
// included), so no server, window manager or program outlives the test that started it.
void endWithParent(pid_t parent) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(125);  // the parent already went before the line above
}

void silenceStandardStreams() {
    const int devNull = ::open("/dev/null", O_RDWR);
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(devNull, STDOUT_FILENO);
    ::dup2(devNull, STDERR_FILENO);
}

namespace {

// Windows come and go under the program's control; a request about one that just vanished is
// an answer ("gone"), not a reason to end the test process.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

}  // namespace

VirtualDisplay::VirtualDisplay(const DisplayOptions& options) {
    XSetErrorHandler(ignoreXError);
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    const pid_t test = ::getpid();
    serverPid_ = ::fork();
    if (serverPid_ == 0) {
        endWithParent(test);
        ::close(fds[0]);
        silenceStandardStreams();
        const std::string fd = std::to_string(fds[1]);
        const std::string screen = std::to_string(options.screen.width) + "x" +
                                   std::to_string(options.screen.height) + "x24";
        std::vector<const char*> arguments{"Xvfb", "-displayfd", fd.c_str(), "-screen", "0",
                                           screen.c_str(), "-nolisten", "tcp"};
        if (options.life == ServerLife::kPersistent) arguments.push_back("-noreset");
        if (options.life == ServerLife::kEndsWhenIdle) arguments.push_back("-terminate");
        arguments.push_back(nullptr);
        ::execvp("Xvfb", const_cast<char* const*>(arguments.data()));
        ::_exit(127);
    }
    ::close(fds[1]);
    // Xvfb writes the display number it chose once it accepts connections.
    std::string number;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (number.empty()) {
        stopProcess(serverPid_);
        throw std::runtime_error("Xvfb did not start (is it installed?)");
    }
    name_ = ":" + number;
    if (options.windowManager) {
        windowManagerPid_ = ::fork();
        if (windowManagerPid_ == 0) {
            endWithParent(test);
            silenceStandardStreams();
            ::setenv("DISPLAY", name_.c_str(), 1);
            ::execlp("openbox", "openbox", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    if (options.life != ServerLife::kPersistent) return;
    connection_ = XOpenDisplay(name_.c_str());
    if (connection_ == nullptr) throw std::runtime_error("cannot connect to " + name_);
    if (options.windowManager && !waitUntil(10.0, [&] { return windowManagerRunning(connection_); })) {
        throw std::runtime_error("openbox did not start (is it installed?)");
    }
}

VirtualDisplay::~VirtualDisplay() {
    if (connection_ != nullptr) XCloseDisplay(connection_);
    stopProcess(windowManagerPid_);
    stopProcess(serverPid_);
}

bool VirtualDisplay::running() {
    if (serverPid_ > 0 && reap(serverPid_, false).has_value()) serverPid_ = -1;
    return serverPid_ > 0;
}

namespace {

// The 32-bit values of a property of the root window (up to count of them).
std::vector<long> rootProperty(Display* display, const char* name, Atom type, long count) {
    Atom actualType = 0;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<long> values;
    if (XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, name, False), 0,
                           count, False, type, &actualType, &format, &items, &after, &data) == Success &&
        data != nullptr && format == 32) {
        const auto* value = reinterpret_cast<const long*>(data);
        values.assign(value, value + items);
    }
    if (data != nullptr) XFree(data);
    return values;
}

}  // namespace

bool windowManagerRunning(Display* display) {
    return rootProperty(display, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 1).size() == 1;
}

// Whether something accepts connections on the Unix socket at path.
bool socketAnswers(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return answers;
}

WaylandCompositor::WaylandCompositor() {
    ::chmod(runtime_.path().c_str(), 0700);  // as a session's runtime folder is
    socket_ = runtime_.file("wayland-tm");
    const pid_t test = ::getpid();
    // Older weston names its backends by module file, newer by name.
    for (const char* backend : {"--backend=headless-backend.so", "--backend=headless"}) {
        pid_ = ::fork();
        if (pid_ == 0) {
            endWithParent(test);
            silenceStandardStreams();
            ::setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
            ::execlp("weston", "weston", backend, "--socket=wayland-tm", "--width=1280", "--height=1024",
                     "--idle-time=0", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (waitUntil(10.0, [&] { return socketAnswers(socket_) || reap(pid_, false).has_value(); }) &&
            socketAnswers(socket_)) {
            return;
        }
        stopProcess(pid_);
        pid_ = -1;
    }
    throw std::runtime_error("weston did not start (is it installed?)");
}

WaylandCompositor::~WaylandCompositor() { stopProcess(pid_); }

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tonemorph-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ProgramRun::ProgramRun(const std::string& workDir, const std::string& display,
                       const std::vector<std::string>& extraEnv, Output output,
                       const std::vector<std::string>& arguments)
    : workDir_(workDir) {
    int pipeFds[2] = {-1, -1};
    if (output == Output::kBrokenPipe && ::pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
    // A previous run in the same folder must not be read as this one's output before the child
    // has opened its own files.
    for (const char* name : {"/stdout.txt", "/stderr.txt"}) std::remove((workDir + name).c_str());
    const pid_t test = ::getpid();
    pid_ = output == Output::kTerminal ? ::forkpty(&terminalFd_, nullptr, nullptr, nullptr) : ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        endWithParent(test);
        if (::chdir(workDir.c_str()) != 0) ::_exit(126);
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, STDIN_FILENO);
        if (output == Output::kFiles) {
            const int out = ::open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
        } else if (output == Output::kBrokenPipe || output == Output::kClosed) {
            const int err = ::open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(err, STDERR_FILENO);
            if (output == Output::kBrokenPipe) {
                ::close(pipeFds[0]);
                ::dup2(pipeFds[1], STDOUT_FILENO);
            } else {
                ::close(STDOUT_FILENO);
            }
        }
        // Signal deaths are part of some tests: no core files.
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        // A test's own SIGPIPE setting must not leak into the program.
        ::signal(SIGPIPE, SIG_DFL);
        if (display.empty()) {
            ::unsetenv("DISPLAY");
        } else {
            ::setenv("DISPLAY", display.c_str(), 1);
        }
        // Keeps the toolkit from warning about a missing runtime folder on our stderr.
        ::setenv("XDG_RUNTIME_DIR", workDir.c_str(), 1);
        ::unsetenv("QT_QPA_PLATFORM");
        ::unsetenv("WAYLAND_DISPLAY");  // a test that wants one gives it
        // A session bus that is not there: without any, the toolkit's D-Bus would start one bound
        // to the test's X display (dbus-launch --autolaunch, where dbus-x11 is installed), which
        // outlives the program and keeps the display in use.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + workDir + "/no-session-bus").c_str(), 1);
        for (const std::string& assignment : extraEnv) ::putenv(const_cast<char*>(assignment.c_str()));
        // An installed copy may stand in for the one just built (the package test).
        const char* executable = std::getenv("TONEMORPH_EXECUTABLE");
        if (executable == nullptr || *executable == '\0') executable = TONEMORPH_EXE;
        std::vector<char*> argv{const_cast<char*>(executable)};
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(executable, argv.data());
        ::_exit(127);
    }
    if (output == Output::kBrokenPipe) {
        // The reader goes away at once: every write the program makes hits a broken pipe.
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
    }
    if (terminalFd_ >= 0) ::fcntl(terminalFd_, F_SETFL, O_NONBLOCK);
}

ProgramRun::~ProgramRun() {
    if (!status_) stopProcess(pid_);
    if (terminalFd_ >= 0) ::close(terminalFd_);
}

std::string ProgramRun::terminal() {
    char buffer[4096];
    ssize_t got = 0;
    while (terminalFd_ >= 0 && (got = ::read(terminalFd_, buffer, sizeof buffer)) > 0) {
        terminalText_.append(buffer, static_cast<size_t>(got));
    }
    return terminalText_;
}

void ProgramRun::typeOnTerminal(const std::string& text) const {
    if (terminalFd_ >= 0 && ::write(terminalFd_, text.data(), text.size()) < 0) {
        throw std::runtime_error("cannot type on the terminal");
    }
}

long ProgramRun::residentKiB() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

std::optional<int> ProgramRun::waitExit(double seconds) {
    waitUntil(seconds, [&] {
        terminal();  // keep the terminal drained so the program never blocks writing to it
        return !running();
    });
    return status_;
}

bool ProgramRun::running() {
    if (!status_) status_ = reap(pid_, false, &peakKiB_);
    return !status_.has_value();
}

std::string ProgramRun::out() const { return readFile(workDir_ + "/stdout.txt"); }
std::string ProgramRun::err() const { return readFile(workDir_ + "/stderr.txt"); }
void ProgramRun::signal(int signalNumber) const { ::kill(pid_, signalNumber); }

std::string repoFile(const std::string& relative) {
    return std::string(TONEMORPH_SOURCE_DIR) + "/" + relative;
}

void copyFile(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

namespace {

// Depth first through the window tree: with a window manager, client windows sit inside frames.
void collectTitled(Display* display, Window window, Atom netName, Atom utf8, const std::string& title,
                   std::vector<Window>& found) {
    Atom type = 0;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &items,
                           &after, &data) == Success &&
        data != nullptr) {
        if (std::string(reinterpret_cast<char*>(data), items) == title) found.push_back(window);
        XFree(data);
    }
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return;
    for (unsigned i = 0; i < count; ++i) collectTitled(display, children[i], netName, utf8, title, found);
    if (children != nullptr) XFree(children);
}

}  // namespace

std::vector<Window> windowsTitled(Display* display, const std::string& title) {
    std::vector<Window> found;
    collectTitled(display, DefaultRootWindow(display), XInternAtom(display, "_NET_WM_NAME", False),
                  XInternAtom(display, "UTF8_STRING", False), title, found);
    return found;
}

cv::Rect frameRect(Display* display, Window window) {
    // Up to the root's child: the window itself, or the frame a window manager put it in.
    Window top = window;
    for (;;) {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, top, &root, &parent, &children, &count)) break;
        if (children != nullptr) XFree(children);
        if (parent == root || parent == 0) break;
        top = parent;
    }
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, top, &attributes);
    const int border = attributes.border_width;
    return {attributes.x, attributes.y, attributes.width + 2 * border, attributes.height + 2 * border};
}

cv::Rect contentRect(Display* display, Window window) {
    Window child = 0;
    int x = 0;
    int y = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    return {cv::Point(x, y), windowSize(display, window)};
}

cv::Rect usableArea(Display* display) {
    const std::vector<long> workArea = rootProperty(display, "_NET_WORKAREA", XA_CARDINAL, 4);
    if (workArea.size() == 4) {
        return {static_cast<int>(workArea[0]), static_cast<int>(workArea[1]),
                static_cast<int>(workArea[2]), static_cast<int>(workArea[3])};
    }
    return {0, 0, DisplayWidth(display, DefaultScreen(display)), DisplayHeight(display, DefaultScreen(display))};
}

std::string legacyTitle(Display* display, Window window) {
    XTextProperty property{};
    if (!XGetWMName(display, window, &property)) return {};
    char** list = nullptr;
    int count = 0;
    std::string title;
    if (Xutf8TextPropertyToTextList(display, &property, &list, &count) == Success && count > 0) {
        title = list[0];
    }
    if (list != nullptr) XFreeStringList(list);
    XFree(property.value);
    return title;
}

bool isViewable(Display* display, Window window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display, window, &attributes) &&
           attributes.map_state == IsViewable;
}

Window waitForWindow(Display* display, const std::string& title, double seconds) {
    Window window = 0;
    waitUntil(seconds, [&] {
        for (Window candidate : windowsTitled(display, title)) {
            if (isViewable(display, candidate)) {
                window = candidate;
                return true;
            }
        }
        return false;
    });
    return window;
}

cv::Size windowSize(Display* display, Window window) {
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, window, &attributes);
    return {attributes.width, attributes.height};
}

void moveWindow(Display* display, Window window, int x, int y) {
    XMoveWindow(display, window, x, y);
    XSync(display, False);
}

cv::Mat screenshot(Display* display, Window window) {
    const cv::Size size = windowSize(display, window);
    XImage* image =
        XGetImage(display, window, 0, 0, static_cast<unsigned>(size.width),
                  static_cast<unsigned>(size.height), AllPlanes, ZPixmap);
    if (image == nullptr) return {};
    cv::Mat bgr(size, CV_8UC3);
    for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            bgr.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(pixel & 0xFF),
                                                static_cast<uchar>((pixel >> 8) & 0xFF),
                                                static_cast<uchar>((pixel >> 16) & 0xFF));
        }
    }
    XDestroyImage(image);
    return bgr;
}

namespace {

double meanDifference(const cv::Mat& a, const cv::Mat& b) {
    cv::Mat difference;
    cv::absdiff(a, b, difference);
    const cv::Scalar mean = cv::mean(difference);
    return (mean[0] + mean[1] + mean[2]) / 3;
}

}  // namespace

void compareScaled(const cv::Mat& shown, const cv::Mat& picture, ScaledView& view) {
    cv::Mat expected;
    cv::resize(picture, expected, shown.size(), 0, 0, cv::INTER_AREA);
    view.whole = meanDifference(shown, expected);
    const cv::Size corner(std::max(1, shown.cols / 20), std::max(1, shown.rows / 20));
    view.worstCorner = 0;
    for (const cv::Point at : {cv::Point(0, 0), cv::Point(shown.cols - corner.width, 0),
                               cv::Point(0, shown.rows - corner.height),
                               cv::Point(shown.cols - corner.width, shown.rows - corner.height)}) {
        const cv::Rect r(at, corner);
        view.worstCorner = std::max(view.worstCorner, meanDifference(shown(r), expected(r)));
    }
}

ScaledView compareScaledView(Display* display, Window window, const cv::Mat& picture, double seconds) {
    ScaledView view;
    view.content = windowSize(display, window);
    waitUntil(seconds, [&] {
        const cv::Mat shot = screenshot(display, window);
        if (shot.size() != view.content) return false;
        compareScaled(shot, picture, view);
        return view.close();
    });
    return view;
}

void requestClose(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
}

ToolWindows waitForToolWindows(Display* display, double seconds) {
    ToolWindows windows;
    waitUntil(seconds, [&] {
        windows.panel = waitForWindow(display, kPanelTitle, 0);
        windows.source = waitForWindow(display, kSourceTitle, 0);
        windows.effect = waitForWindow(display, kEffectTitle, 0);
        return windows.complete();
    });
    return windows;
}

std::vector<SliderState> readSliderReport(const std::string& reportPath) {
    std::vector<SliderState> sliders;
    std::istringstream report(readFile(reportPath));
    for (std::string line; std::getline(report, line);) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        SliderState slider;
        slider.label = line.substr(0, tab);
        std::istringstream fields(line.substr(tab + 1));
        int focused = 0;
        fields >> slider.minimum >> slider.maximum >> slider.value >> focused >> slider.groove.x >>
            slider.groove.y >> slider.groove.width >> slider.groove.height >> slider.handle.x >>
            slider.handle.y >> slider.handle.width >> slider.handle.height;
        if (!fields) continue;
        slider.focused = focused != 0;
        sliders.push_back(slider);
    }
    return sliders;
}

std::vector<SliderState> waitForSliders(const std::string& reportPath, double seconds) {
    std::vector<SliderState> sliders;
    const bool found = waitUntil(seconds, [&] {
        sliders = readSliderReport(reportPath);
        if (sliders.size() != 5) return false;
        for (int i = 0; i < 5; ++i) {
            if (sliders[static_cast<size_t>(i)].label != kSliderLabel[i]) return false;
        }
        return true;
    });
    if (!found) sliders.clear();
    return sliders;
}

namespace {

// The slider's state once the report has stopped changing for a moment (a move may be under way).
SliderState settledSlider(const std::string& reportPath, Slider slider) {
    std::vector<SliderState> last = readSliderReport(reportPath);
    waitUntil(2.0, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        const std::vector<SliderState> now = readSliderReport(reportPath);
        const bool same = now.size() == last.size() &&
                          std::equal(now.begin(), now.end(), last.begin(), [](const SliderState& a, const SliderState& b) {
                              return a.value == b.value && a.handle == b.handle && a.groove == b.groove;
                          });
        last = now;
        return same;
    });
    return static_cast<size_t>(slider) < last.size() ? last[static_cast<size_t>(slider)] : SliderState{};
}

}  // namespace

cv::Mat testPicture(cv::Size size) {
    cv::Mat picture(size, CV_8UC3);
    // Ramps flatten along a short side, where a scaled view averages everything across.
    const double alongX = std::min(1.0, size.width / 400.0);
    const double alongY = std::min(1.0, size.height / 400.0);
    for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x) {
            const double u = size.width > 1 ? static_cast<double>(x) / (size.width - 1) : 0.0;
            const double v = size.height > 1 ? static_cast<double>(y) / (size.height - 1) : 0.0;
            picture.at<cv::Vec3b>(y, x) = cv::Vec3b(
                cv::saturate_cast<uchar>(60 + 140 * u * alongX),
                cv::saturate_cast<uchar>(60 + 140 * v * alongY),
                cv::saturate_cast<uchar>(128 + 50 * std::sin(6.28 * (u * alongX + v * alongY))));
        }
    }
    const cv::Size block(size.width < 50 ? size.width : size.width / 10,
                         size.height < 50 ? size.height : size.height / 10);
    const cv::Point corners[] = {{0, 0},
                                 {size.width - block.width, 0},
                                 {0, size.height - block.height},
                                 {size.width - block.width, size.height - block.height}};
    const cv::Scalar colours[] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}};
    for (int i = 0; i < 4; ++i) picture(cv::Rect(corners[i], block)).setTo(colours[i]);
    return picture;
}

namespace {

// Picture magnified f times, built one shown pixel at a time.
cv::Mat blocks(const cv::Mat& picture, int f) {
    cv::Mat out(picture.rows * f, picture.cols * f, picture.type());
    for (int r = 0; r < out.rows; ++r) {
        for (int c = 0; c < out.cols; ++c) out.at<cv::Vec3b>(r, c) = picture.at<cv::Vec3b>(r / f, c / f);
    }
    return out;
}

// Picture sampled at size, built one shown pixel at a time: the pixel under each one's centre.
cv::Mat sampled(const cv::Mat& picture, cv::Size size) {
    cv::Mat sample(size, picture.type());
    for (int r = 0; r < size.height; ++r) {
        for (int c = 0; c < size.width; ++c) {
            const double row = (r + 0.5) * picture.rows / size.height;
            const double col = (c + 0.5) * picture.cols / size.width;
            sample.at<cv::Vec3b>(r, c) = picture.at<cv::Vec3b>(static_cast<int>(row), static_cast<int>(col));
        }
    }
    return sample;
}

// Whether shown holds content centred (to within a pixel) on one colour around it.
bool centredOnBackground(const cv::Mat& shown, const cv::Mat& content) {
    const cv::Size left = shown.size() - content.size();
    if (left.width < 0 || left.height < 0) return false;
    const cv::Rect block(cv::Point(left.width / 2, left.height / 2), content.size());
    if (cv::norm(shown(block), content, cv::NORM_INF) != 0) return false;
    cv::Mat around(shown.size(), CV_8U, cv::Scalar(255));
    around(block).setTo(0);
    std::vector<cv::Point> outside;
    cv::findNonZero(around, outside);
    if (outside.empty()) return true;
    const cv::Vec3b background = shown.at<cv::Vec3b>(outside.front());
    cv::Mat differs;
    cv::inRange(shown, cv::Scalar(background), cv::Scalar(background), differs);
    return cv::countNonZero(around & ~differs) == 0;
}

}  // namespace

bool isSampleOf(const cv::Mat& shown, const cv::Mat& picture, int* factor) {
    if (factor != nullptr) *factor = 1;
    if (shown.empty() || shown.type() != picture.type()) return false;
    if (shown.size() == picture.size()) return cv::norm(shown, picture, cv::NORM_INF) == 0;
    if (shown.cols >= picture.cols && shown.rows >= picture.rows) {
        const int f = std::min(shown.cols / picture.cols, shown.rows / picture.rows);
        if (factor != nullptr) *factor = f;
        return centredOnBackground(shown, blocks(picture, f));
    }
    // Sampled at the window's own size, or, in a window of another shape, with the picture's
    // shape, as large as fits.
    if (shown.cols <= picture.cols && shown.rows <= picture.rows &&
        cv::norm(shown, sampled(picture, shown.size()), cv::NORM_INF) == 0) {
        return true;
    }
    const double scale = std::min(static_cast<double>(shown.cols) / picture.cols,
                                  static_cast<double>(shown.rows) / picture.rows);
    const cv::Size fitted(std::max(1, static_cast<int>(picture.cols * scale)),
                          std::max(1, static_cast<int>(picture.rows * scale)));
    return centredOnBackground(shown, sampled(picture, fitted));
}

int xdotool(const std::string& display, const std::string& arguments) {
    const std::string command = "DISPLAY=" + display + " xdotool " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str());
}

void pressKey(const std::string& display, Display* x, Window window, const std::string& key) {
    const cv::Size size = windowSize(x, window);
    xdotool(display, "mousemove --window " + std::to_string(window) + " " + std::to_string(size.width / 2) +
                         " " + std::to_string(size.height / 2) + " key " + key);
}

bool focusSlider(const std::string& display, Window panel, const std::string& reportPath, Slider slider) {
    const cv::Point p = settledSlider(reportPath, slider).handleMiddle();
    // Under XWayland the compositor never sees XTest's click, so the window does not get the
    // keyboard from it as on a real desktop: given it first.
    xdotool(display, "windowfocus " + std::to_string(panel));
    xdotool(display, "mousemove --window " + std::to_string(panel) + " " + std::to_string(p.x) + " " +
                         std::to_string(p.y) + " click 1");
    return waitUntil(5.0, [&] {
        const std::vector<SliderState> sliders = readSliderReport(reportPath);
        return static_cast<size_t>(slider) < sliders.size() && sliders[static_cast<size_t>(slider)].focused;
    });
}

void setSlider(const std::string& display, Window panel, const std::string& reportPath, Slider slider,
               int value) {
    focusSlider(display, panel, reportPath, slider);
    const int fromTop = kSliderMaximum[slider] - value;
    std::string keys;
    if (value <= fromTop) {
        keys = "key Home";
        if (value > 0) keys += " key --delay 5 --repeat " + std::to_string(value) + " Right";
    } else {
        keys = "key End";
        if (fromTop > 0) keys += " key --delay 5 --repeat " + std::to_string(fromTop) + " Left";
    }
    xdotool(display, keys);
}

cv::Point locateExactly(const cv::Mat& shot, const cv::Mat& image) {
    if (shot.empty() || shot.cols < image.cols || shot.rows < image.rows) return {-1, -1};
    cv::Mat score;
    cv::matchTemplate(shot, image, score, cv::TM_SQDIFF);
    double best = 0;
    cv::Point where;
    cv::minMaxLoc(score, &best, nullptr, &where);
    // The float score only nominates a place; the pixels decide.
    const cv::Mat found = shot(cv::Rect(where, image.size()));
    return cv::norm(found, image, cv::NORM_INF) == 0 ? where : cv::Point(-1, -1);
}

}  // namespace gui
