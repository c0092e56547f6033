#include "gui/desktop_session.h"

#include <X11/Xatom.h>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace gui {

namespace {

const char* const kCompositorName[] = {"sway", "kwin_wayland", "mutter"};

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Standard output of a shell command run as this process.
std::string capture(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[65536];
        size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
        ::pclose(pipe);
    }
    return out;
}

// Empty if the file cannot be read: a process may end between its /proc entry being listed and
// read, and reading its command line then fails (ESRCH), which the stream's buffer throws past
// the stream.
std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    try {
        return std::string(std::istreambuf_iterator<char>(in), {});
    } catch (const std::exception&) {
        return {};
    }
}

// The processes whose environment holds marker (NAME=VALUE), by their command lines' words.
std::vector<std::pair<pid_t, std::vector<std::string>>> markedProcesses(const std::string& marker) {
    std::vector<std::pair<pid_t, std::vector<std::string>>> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string environ = readText(entry.path().string() + "/environ");
        if (environ.find(marker + '\0') == std::string::npos && environ.size() >= marker.size() &&
            environ.compare(environ.size() - marker.size(), marker.size(), marker) != 0) {
            continue;
        }
        std::vector<std::string> words;
        std::istringstream line(readText(entry.path().string() + "/cmdline"));
        for (std::string word; std::getline(line, word, '\0');) words.push_back(word);
        found.emplace_back(static_cast<pid_t>(std::stol(name)), words);
    }
    return found;
}

// The frame as drawn: mutter's frame window also holds invisible borders to grab for resizing,
// and says what it draws around the window in _NET_FRAME_EXTENTS.
cv::Rect visibleFrame(Display* display, Window window) {
    const Atom extents = XInternAtom(display, "_NET_FRAME_EXTENTS", True);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long left = 0;
    unsigned char* data = nullptr;
    if (extents == None || XGetWindowProperty(display, window, extents, 0, 4, False, XA_CARDINAL, &type, &format, &count,
                                              &left, &data) != Success || data == nullptr || count != 4 || format != 32) {
        if (data != nullptr) XFree(data);
        return frameRect(display, window);
    }
    const long* edge = reinterpret_cast<const long*>(data);
    const cv::Rect content = contentRect(display, window);
    const cv::Rect frame(content.x - static_cast<int>(edge[0]), content.y - static_cast<int>(edge[2]),
                         content.width + static_cast<int>(edge[0] + edge[1]), content.height + static_cast<int>(edge[2] + edge[3]));
    XFree(data);
    return frame;
}

}  // namespace

std::string desktopUnavailable(Compositor compositor) {
    const std::string program = kCompositorName[static_cast<int>(compositor)];
    if (std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) != 0) return program + " is not installed";
    for (const char* tool : {"runuser", "jq", "xhost", "dbus-run-session"}) {
        if (std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) != 0) {
            return std::string(tool) + " is not installed";
        }
    }
    if (::geteuid() != 0) return "the compositors are started as another user, which needs root";
    if (::getpwnam(kDesktopUser.c_str()) == nullptr) return "there is no user " + kDesktopUser + " (tools/install-deps desktops makes it)";
    return {};
}

Desktop::Desktop(Compositor compositor, bool xwayland, cv::Size screen, int scale)
    : compositor_(compositor), screen_(screen), scale_(compositor == Compositor::kMutter ? 1 : scale) {
    const passwd* user = ::getpwnam(kDesktopUser.c_str());
    if (user == nullptr) throw std::runtime_error("no user " + kDesktopUser);
    // A session's runtime folder: the user's own, closed to others.
    if (::chown(runtime_.path().c_str(), user->pw_uid, user->pw_gid) != 0 || ::chmod(runtime_.path().c_str(), 0700) != 0) {
        throw std::runtime_error("cannot hand the runtime folder over");
    }
    const std::string size = std::to_string(screen.width) + "x" + std::to_string(screen.height);
    std::string command;
    switch (compositor) {
    case Compositor::kSway: {
        std::ofstream(runtime_.file("sway.conf"))
            << "output HEADLESS-1 resolution " << screen.width * scale_ << "x" << screen.height * scale_
            << " scale " << scale_ << "\n"
            << (xwayland ? "xwayland force\n" : "xwayland disable\n");
        command = "WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman exec sway -c " +
                  shellQuoted(runtime_.file("sway.conf"));
        break;
    }
    case Compositor::kKwin: {
        // A copy without the installed one's file capability, under the name KWin's own Qt
        // plugin looks for.
        std::filesystem::create_directories(runtime_.file("bin"));
        std::filesystem::copy_file(capture("command -v kwin_wayland | tr -d '\\n'"), runtime_.file("bin/kwin_wayland"));
        command = "KWIN_COMPOSE=Q dbus-run-session -- sh -c 'echo \"$DBUS_SESSION_BUS_ADDRESS\" > " +
                  runtime_.file("bus") + "; exec " + runtime_.file("bin/kwin_wayland") + " --virtual --width " +
                  std::to_string(screen.width) + " --height " + std::to_string(screen.height) +
                  " --scale " + std::to_string(scale_) +
                  (xwayland ? " --xwayland" : "") +
                  " --socket wayland-tm --no-lockscreen --no-global-shortcuts --no-kactivities'";
        break;
    }
    case Compositor::kMutter:
        command = "dbus-run-session -- sh -c 'echo \"$DBUS_SESSION_BUS_ADDRESS\" > " + runtime_.file("bus") +
                  "; exec mutter --wayland --headless --virtual-monitor " + size +
                  (xwayland ? "" : " --no-x11") + " --wayland-display wayland-tm'";
        break;
    }
    const std::string marker = "TONEMORPH_DESKTOP=" + runtime_.path();
    const char* guiRun = std::getenv("TONEMORPH_GUI_RUN");
    const std::string log = runtime_.file("compositor.log");
    const pid_t test = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        endWithParent(test);
        ::setpgid(0, 0);
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        const std::string home = std::string("HOME=") + user->pw_dir;
        const std::string runtime = "XDG_RUNTIME_DIR=" + runtime_.path();
        const std::string run = std::string("TONEMORPH_GUI_RUN=") + (guiRun != nullptr ? guiRun : "");
        ::execlp("runuser", "runuser", "-u", kDesktopUser.c_str(), "--", "env", "-i", home.c_str(),
                 "PATH=/usr/local/bin:/usr/bin:/bin", runtime.c_str(), marker.c_str(), run.c_str(), "LANG=C.UTF-8",
                 "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // The compositor's socket: sway names its own.
    const bool up = waitUntil(30.0, [&] {
        for (const auto& entry : std::filesystem::directory_iterator(runtime_.path())) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("wayland-", 0) == 0 && name.find(".lock") == std::string::npos &&
                socketAnswers(entry.path().string())) {
                socketName_ = name;
                return true;
            }
        }
        return reap(pid_, false).has_value();
    });
    if (!up || socketName_.empty()) {
        throw std::runtime_error(std::string(kCompositorName[static_cast<int>(compositor)]) +
                                 " did not start:\n" + readText(log));
    }
    if (compositor == Compositor::kSway) {
        // A seat without a pointer device tells programs it has none, and they listen for one
        // only from then on: the pointer comes before any program.
        pointer_ = ::popen(("XDG_RUNTIME_DIR=" + shellQuoted(runtime_.path()) + " WAYLAND_DISPLAY=" + socketName_ + " " +
                            WAYLAND_POINTER + " " + std::to_string(screen.width) + " " + std::to_string(screen.height) +
                            " >/dev/null")
                               .c_str(),
                           "w");
        if (pointer_ == nullptr) throw std::runtime_error("no virtual pointer");
        std::fprintf(pointer_, "move %d %d\n", screen.width - 1, screen.height - 1);
        std::fflush(pointer_);
    } else {
        waitUntil(10.0, [&] { return !readText(runtime_.file("bus")).empty(); });
        busAddress_ = readText(runtime_.file("bus"));
        while (!busAddress_.empty() && busAddress_.back() == '\n') busAddress_.pop_back();
    }
    if (!xwayland) return;
    // XWayland: its display number (and mutter's authority file) from its command line.
    const bool xUp = waitUntil(30.0, [&] {
        for (const auto& [pid, words] : markedProcesses(marker)) {
            if (words.empty() || words[0].find("Xwayland") == std::string::npos) continue;
            for (size_t i = 1; i < words.size(); ++i) {
                if (words[i].size() > 1 && words[i][0] == ':') xDisplay_ = words[i];
                if (words[i] == "-auth" && i + 1 < words.size()) xAuthority_ = words[i + 1];
            }
        }
        return !xDisplay_.empty() && socketAnswers("/tmp/.X11-unix/X" + xDisplay_.substr(1));
    });
    if (!xUp) throw std::runtime_error("XWayland did not start:\n" + readText(log));
    // The session's programs are the user's; the test's, root's, are let in as well.
    const std::string authority = xAuthority_.empty() ? "" : " XAUTHORITY=" + shellQuoted(xAuthority_);
    waitUntil(10.0, [&] {
        return std::system((asUser("DISPLAY=" + xDisplay_ + authority + " xhost +si:localuser:root") + " >/dev/null 2>&1").c_str()) == 0;
    });
    // Windows come and go under the program's control: a request about one just gone is no failure.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    x_ = XOpenDisplay(xDisplay_.c_str());
    if (x_ == nullptr) throw std::runtime_error("cannot connect to XWayland at " + xDisplay_);
}

Desktop::~Desktop() {
    if (x_ != nullptr) XCloseDisplay(x_);
    // Everything the session started, whatever process group it made for itself.
    const std::string marker = "TONEMORPH_DESKTOP=" + runtime_.path();
    for (int signal : {SIGTERM, SIGKILL}) {
        for (const auto& process : markedProcesses(marker)) ::kill(process.first, signal);
        if (waitUntil(3.0, [&] { return markedProcesses(marker).empty(); })) break;
    }
    if (pid_ > 0) {
        ::kill(-pid_, SIGKILL);
        reap(pid_, true);
    }
    if (pointer_ != nullptr) ::pclose(pointer_);
}

std::vector<std::string> Desktop::environment() const {
    std::vector<std::string> env{"WAYLAND_DISPLAY=" + runtime_.file(socketName_)};
    if (!xAuthority_.empty()) env.push_back("XAUTHORITY=" + xAuthority_);
    static const char* const kDesktopName[] = {"sway", "KDE", "GNOME"};
    env.push_back(std::string("XDG_CURRENT_DESKTOP=") + kDesktopName[static_cast<int>(compositor_)]);
    env.push_back("XDG_SESSION_TYPE=wayland");
    return env;
}

std::string Desktop::asUser(const std::string& command) const {
    std::string environment = "XDG_RUNTIME_DIR=" + shellQuoted(runtime_.path()) + " WAYLAND_DISPLAY=" + socketName_;
    if (!busAddress_.empty()) environment += " DBUS_SESSION_BUS_ADDRESS=" + shellQuoted(busAddress_);
    return "runuser -u " + kDesktopUser + " -- env " + environment + " sh -c " + shellQuoted(command);
}

std::string Desktop::swaySocket() const {
    return capture("ls " + shellQuoted(runtime_.path()) + "/sway-ipc.*.sock 2>/dev/null | head -1 | tr -d '\\n'");
}

std::string Desktop::runAsUser(const std::string& command) const { return capture(asUser(command)); }

std::vector<DesktopWindow> Desktop::windows(const std::vector<std::string>& titles) {
    std::vector<DesktopWindow> found;
    std::string listing;
    if (compositor_ == Compositor::kSway) {
        // Frames: the container and its title bar above it; contents placed within it.
        listing = capture("swaymsg -s " + shellQuoted(swaySocket()) +
                          " -t get_tree | jq -r '.. | objects | select(.type? == \"con\" or .type? == \"floating_con\")"
                          " | select(.name != null and .pid != null) | [.name, .rect.x, .rect.y - .deco_rect.height,"
                          " .rect.width, .rect.height + .deco_rect.height, .rect.x + .window_rect.x,"
                          " .rect.y + .window_rect.y, .window_rect.width, .window_rect.height,"
                          " (if .type == \"floating_con\" then 1 else 0 end)] | @tsv'");
    } else if (compositor_ == Compositor::kKwin) {
        // KWin tells a script of its own; the script prints into KWin's log, marked per call.
        const int call = ++scripts_;
        const std::string script = runtime_.file("windows" + std::to_string(call) + ".js");
        std::ofstream(script)
            << "var list = workspace.clientList();\n"
               "for (var i = 0; i < list.length; i++) {\n"
               "  var c = list[i], f = c.frameGeometry, g = c.bufferGeometry;\n"
               "  print('tonemorph-window-" << call << "\\t' + c.caption + '\\t' + f.x + '\\t' + f.y + '\\t' + f.width +"
               " '\\t' + f.height + '\\t' + g.x + '\\t' + g.y + '\\t' + g.width + '\\t' + g.height);\n"
               "}\n"
               "print('tonemorph-window-" << call << "\\tend');\n";
        runAsUser("dbus-send --session --print-reply --dest=org.kde.KWin /Scripting org.kde.kwin.Scripting.loadScript "
                  "string:" + script + " string:tonemorph" + std::to_string(call) +
                  " >/dev/null && dbus-send --session --print-reply --dest=org.kde.KWin /Scripting "
                  "org.kde.kwin.Scripting.start >/dev/null");
        const std::string mark = "js: tonemorph-window-" + std::to_string(call) + "\t";
        waitUntil(5.0, [&] { return readText(runtime_.file("compositor.log")).find(mark + "end") != std::string::npos; });
        std::istringstream log(readText(runtime_.file("compositor.log")));
        for (std::string line; std::getline(log, line);) {
            if (line.rfind(mark, 0) == 0 && line != mark + "end") listing += line.substr(mark.size()) + "\n";
        }
    }
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        DesktopWindow window;
        std::getline(fields, window.title, '\t');
        double v[8] = {};
        for (double& value : v) fields >> value;
        if (!fields) continue;
        int floating = 0;
        if (fields >> floating) window.floating = floating != 0;
        window.frame = cv::Rect(cvRound(v[0]), cvRound(v[1]), cvRound(v[2]), cvRound(v[3]));
        window.content = cv::Rect(cvRound(v[4]), cvRound(v[5]), cvRound(v[6]), cvRound(v[7]));
        found.push_back(window);
    }
    // mutter lists its windows to no client: those on XWayland are found there.
    if (compositor_ == Compositor::kMutter && x_ != nullptr) {
        for (const std::string& title : titles) {
            for (Window id : windowsTitled(x_, title)) {
                if (isViewable(x_, id)) found.push_back({title, visibleFrame(x_, id), contentRect(x_, id), true});
            }
        }
    }
    std::vector<DesktopWindow> wanted;
    for (DesktopWindow& window : found) {
        if (std::find(titles.begin(), titles.end(), window.title) == titles.end()) continue;
        if (x_ != nullptr && !window.x11) window.x11 = !windowsTitled(x_, window.title).empty();
        wanted.push_back(window);
    }
    return wanted;
}

cv::Mat Desktop::screenshot() {
    if (compositor_ != Compositor::kSway) return {};
    const std::string ppm = capture("XDG_RUNTIME_DIR=" + shellQuoted(runtime_.path()) + " WAYLAND_DISPLAY=" + socketName_ +
                                    " grim -t ppm - 2>/dev/null");
    if (ppm.empty()) return {};
    return cv::imdecode(cv::Mat(1, static_cast<int>(ppm.size()), CV_8UC1, const_cast<char*>(ppm.data())), cv::IMREAD_COLOR);
}

void Desktop::focus(const std::string& title) {
    if (compositor_ != Compositor::kSway) return;
    capture("swaymsg -s " + shellQuoted(swaySocket()) +
            " " + shellQuoted("[title=\"" + title + "\"] focus") + " >/dev/null 2>&1");
}

bool Desktop::close(const std::string& title) {
    if (compositor_ == Compositor::kSway) {
        capture("swaymsg -s " + shellQuoted(swaySocket()) + " " + shellQuoted("[title=\"" + title + "\"] kill") + " >/dev/null 2>&1");
        return true;
    }
    if (compositor_ == Compositor::kKwin) {
        const std::string script = runtime_.file("close" + std::to_string(++scripts_) + ".js");
        std::ofstream(script) << "var list = workspace.clientList();\n"
                                 "for (var i = 0; i < list.length; i++) {\n"
                                 "  if (list[i].caption == " << "'" << title << "') list[i].closeWindow();\n"
                                 "}\n";
        runAsUser("dbus-send --session --print-reply --dest=org.kde.KWin /Scripting org.kde.kwin.Scripting.loadScript "
                  "string:" + script + " string:tonemorph-close" + std::to_string(scripts_) +
                  " >/dev/null && dbus-send --session --print-reply --dest=org.kde.KWin /Scripting "
                  "org.kde.kwin.Scripting.start >/dev/null");
        return true;
    }
    return false;
}

void Desktop::type(const std::string& keys) {
    // wtype's keyboard is new to the compositor each time: a client that has not yet taken its
    // key map loses keys sent at once.
    capture("XDG_RUNTIME_DIR=" + shellQuoted(runtime_.path()) + " WAYLAND_DISPLAY=" + socketName_ + " wtype -s 400 " + keys +
            " 2>&1");
}

void Desktop::click(cv::Point at) {
    if (pointer_ == nullptr) return;
    std::fprintf(pointer_, "click %d %d\n", at.x, at.y);
    std::fflush(pointer_);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

ScaledView compareFittedView(const cv::Mat& content, const cv::Mat& picture) {
    ScaledView view;
    view.content = content.size();
    // Centred: as large as fits with the picture's shape, rounded as the toolkit rounds, or where
    // the picture fits, at the largest whole factor that does.
    double scale = std::min(static_cast<double>(content.cols) / picture.cols,
                            static_cast<double>(content.rows) / picture.rows);
    if (scale >= 1) scale = std::floor(scale);
    const cv::Size fitted(std::min(content.cols, static_cast<int>(picture.cols * scale)),
                          std::min(content.rows, static_cast<int>(picture.rows * scale)));
    if (fitted.empty()) return view;
    const cv::Rect where((content.cols - fitted.width) / 2, (content.rows - fitted.height) / 2, fitted.width, fitted.height);
    compareScaled(content(where), picture, view);
    return view;
}

}  // namespace gui
