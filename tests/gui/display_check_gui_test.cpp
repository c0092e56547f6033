// The display check before any window: a missing display is reported instead of letting the
// toolkit abort, and a live display is never disturbed, even by servers that reset or end when
// their last client leaves (the check's own connection must not be that last client).
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gui/tool_fixture.h"

namespace {

class DisplayCheck : public ::testing::Test {
protected:
    // One start on the display: windows up, banner out, q pressed, status 0, nothing on stderr.
    // The test connects only while it presses q, so between starts the server is left alone.
    void startAndQuit(const std::string& display) {
        gui::ProgramRun run(dir_.path(), display);
        ASSERT_TRUE(gui::waitUntil(gui::kStartTimeout, [&] { return run.out() == gui::kBanner || !run.running(); }))
            << "stdout: " << run.out();
        if (run.out() != gui::kBanner) {
            const std::optional<int> status = run.waitExit(0.0);
            FAIL() << "no banner; stdout: " << run.out() << ", stderr: " << run.err()
                   << ", exit status: " << (status ? std::to_string(*status) : "still running");
        }
        // The test is a client like any other: a server still finishing the reset after the previous
        // start may refuse it for a moment.
        Display* connection = nullptr;
        gui::waitUntil(5.0, [&] { return (connection = XOpenDisplay(display.c_str())) != nullptr; });
        ASSERT_NE(connection, nullptr);
        const Window effect = gui::waitForWindow(connection, gui::kEffectTitle, 10.0);
        const cv::Size size = gui::windowSize(connection, effect);
        gui::xdotool(display, "mousemove --window " + std::to_string(effect) + " " +
                                  std::to_string(size.width / 2) + " " +
                                  std::to_string(size.height / 2) + " key q");
        XCloseDisplay(connection);
        EXPECT_EQ(run.waitExit(10.0), 0);
        EXPECT_EQ(run.err(), "");
    }

    gui::ScratchDir dir_;
};

// Ensure that without a reachable display the program says so on stderr and exits with 1 instead
// of letting the toolkit abort it, and does so before decoding the picture: a 48-megapixel photo
// (150 MB decoded) never raises its peak memory past what starting takes.
TEST_F(DisplayCheck, NoDisplayIsReportedNotAborted) {
    {
        // Gone before the program starts: a started program's peak counts what it shared at fork.
        cv::Mat photo(6000, 8000, CV_8UC3);
        cv::randu(photo, 0, 256);
        ASSERT_TRUE(cv::imwrite(dir_.file("1.jpg"), photo, {cv::IMWRITE_JPEG_QUALITY, 50}));
    }
    {
        gui::ProgramRun run(dir_.path(), "");
        EXPECT_EQ(run.waitExit(10.0), 1);
        EXPECT_NE(run.err().find("DISPLAY"), std::string::npos) << run.err();
        EXPECT_EQ(run.out(), "");
        EXPECT_LT(run.peakKiB(), 120 * 1024) << "peak " << run.peakKiB() << " KiB: the picture was decoded";
    }
    {
        gui::ProgramRun run(dir_.path(), ":4999");
        EXPECT_EQ(run.waitExit(10.0), 1);
        EXPECT_NE(run.err().find(":4999"), std::string::npos) << run.err();
    }
}

// Ensure 20 starts in a row on a server that resets whenever its last client leaves all come up
// and end cleanly.
TEST_F(DisplayCheck, ServerThatResetsWhenIdleStartsEveryTime) {
    gui::copyFile(gui::repoFile("sample/1.jpg"), dir_.file("1.jpg"));
    gui::VirtualDisplay display({{1280, 1024}, gui::ServerLife::kResetsWhenIdle, false});
    for (int start = 0; start < 20; ++start) {
        SCOPED_TRACE("start " + std::to_string(start + 1));
        startAndQuit(display.name());
        if (HasFatalFailure()) return;
    }
}

// Ensure the program starts on a server that terminates when its last client leaves: the check
// must not be that client. Each start needs a server of its own.
TEST_F(DisplayCheck, ServerThatEndsWhenIdleStartsEveryTime) {
    gui::copyFile(gui::repoFile("sample/1.jpg"), dir_.file("1.jpg"));
    for (int start = 0; start < 5; ++start) {
        SCOPED_TRACE("start " + std::to_string(start + 1));
        gui::VirtualDisplay display({{1280, 1024}, gui::ServerLife::kEndsWhenIdle, false});
        startAndQuit(display.name());
        if (HasFatalFailure()) return;
        EXPECT_TRUE(gui::waitUntil(5.0, [&] { return !display.running(); }))
            << "the server did not end with its last client";
    }
}

// Ensure a session with a Wayland compositor and no usable X server (none at all, or a DISPLAY
// left over from another session) starts the program on Wayland, where the toolkit can draw
// there; and that where it cannot (Qt without its Wayland plugin), one line names the package
// that brings it, before the picture is decoded.
TEST_F(DisplayCheck, WaylandWithoutXServerStartsWhereTheToolkitCanDraw) {
    gui::copyFile(gui::repoFile("sample/1.jpg"), dir_.file("1.jpg"));
    const gui::WaylandCompositor compositor;
    const std::vector<std::string> wayland{"WAYLAND_DISPLAY=" + compositor.socket()};
    for (const std::string display : {"", ":4999"}) {
        SCOPED_TRACE("DISPLAY " + (display.empty() ? std::string("unset") : display));
        gui::ProgramRun run(dir_.path(), display, wayland);
        EXPECT_TRUE(gui::waitUntil(gui::kStartTimeout, [&] { return run.out() == gui::kBanner || !run.running(); }))
            << "stdout: " << run.out();
        EXPECT_EQ(run.out(), gui::kBanner) << "stderr: " << run.err();
        run.signal(SIGTERM);  // no key can be typed into this compositor
        EXPECT_EQ(run.waitExit(10.0), 128 + SIGTERM) << run.err();
    }
    if (gui::kToolkit != "qt") return;  // GTK 3 draws on Wayland by itself
    const gui::ScratchDir noPlugins;
    std::vector<std::string> withoutPlugin = wayland;
    withoutPlugin.push_back("QT_QPA_PLATFORM_PLUGIN_PATH=" + noPlugins.path());
    gui::ProgramRun run(dir_.path(), "", withoutPlugin);
    EXPECT_EQ(run.waitExit(10.0), 1);
    EXPECT_EQ(run.out(), "");
    const std::string package = std::string(QT_VERSION_MAJOR_TEXT) == "6" ? "qt6-wayland" : "qtwayland5";
    EXPECT_EQ(run.err(), "tonemorph: no display: no X server can be reached, and Qt " QT_VERSION_MAJOR_TEXT
                         " cannot draw on the Wayland display \"" + compositor.socket() +
                         "\" without its Wayland plugin: install " + package + "\n");
}

// Ensure a Wayland session with XWayland shows the windows through X, where the program places
// them, unless the user chose where the toolkit draws: then they go where the user said. On sway,
// which tiles X windows too, a GTK 3 build takes native windows unless told X.
TEST_F(DisplayCheck, WaylandSessionWithXServerDrawsThroughXUnlessTheUserChose) {
    gui::copyFile(gui::repoFile("sample/1.jpg"), dir_.file("1.jpg"));
    const gui::WaylandCompositor compositor;
    const gui::VirtualDisplay xServer;
    const bool gtk = gui::kToolkit == "gtk3";
    const std::string native = gtk ? "GDK_BACKEND=wayland" : "QT_QPA_PLATFORM=wayland";
    const std::string x11 = gtk ? "GDK_BACKEND=x11" : "QT_QPA_PLATFORM=xcb";
    struct Case {
        std::string desktop;  // as the session says it (KDE Plasma's, which Qt reads as a wish for Wayland)
        std::string choice;
        bool onX;
    };
    const Case cases[] = {
        {"XDG_CURRENT_DESKTOP=KDE", "", true},
        {"XDG_CURRENT_DESKTOP=KDE", native, false},
        {"XDG_CURRENT_DESKTOP=KDE", x11, true},
        {"XDG_CURRENT_DESKTOP=sway", "", !gtk},
        {"SWAYSOCK=" + dir_.file("sway-ipc.sock"), "", !gtk},
        {"XDG_CURRENT_DESKTOP=sway", x11, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.desktop + ", chosen: " + (c.choice.empty() ? std::string("nothing") : c.choice));
        std::vector<std::string> env{"WAYLAND_DISPLAY=" + compositor.socket(), "XDG_SESSION_TYPE=wayland", c.desktop};
        if (!c.choice.empty()) env.push_back(c.choice);
        gui::ProgramRun run(dir_.path(), xServer.name(), env);
        EXPECT_TRUE(gui::waitUntil(gui::kStartTimeout, [&] { return run.out() == gui::kBanner || !run.running(); }))
            << "stdout: " << run.out() << "\nstderr: " << run.err();
        EXPECT_EQ(gui::waitForToolWindows(xServer.connection(), c.onX ? gui::kStartTimeout : 1.0).complete(), c.onX);
        if (c.onX) {
            gui::pressKey(xServer.name(), xServer.connection(), gui::waitForToolWindows(xServer.connection(), 1.0).panel, "q");
            EXPECT_EQ(run.waitExit(10.0), 0) << run.err();
        }
    }
}

}  // namespace
