// How a session ends as seen from the console: the terminal's colours come back on every way
// out, Ctrl+C and SIGTERM end the program promptly, and a closed or broken standard output does
// not bring it down.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "gui/tool_fixture.h"

namespace {

const std::string kColourOn = "\033[44;97m";
const std::string kColourOff = "\033[0m";

class SessionEnd : public gui::ToolTest {
protected:
    // Starts the program with the given standard output and waits for its windows.
    gui::ProgramRun& launch(gui::Output output, const std::vector<std::string>& env = {}) {
        run_ = std::make_unique<gui::ProgramRun>(dir_.path(), display_.name(), env, output);
        windows_ = gui::waitForToolWindows(x(), gui::kStartTimeout);
        EXPECT_TRUE(windows_.complete()) << run_->err();
        return *run_;
    }

    // On a terminal: colours set before anything else is written, the banner shown, and the
    // terminal's own colours back after the last byte.
    void expectColouredThenRestored(gui::ProgramRun& run, const std::string& middle) {
        const std::string text = run.terminal();
        EXPECT_EQ(text.rfind(kColourOn, 0), 0u) << "colours are not set first: " << text;
        EXPECT_NE(text.find(middle), std::string::npos) << text;
        ASSERT_GE(text.size(), kColourOff.size());
        EXPECT_EQ(text.substr(text.size() - kColourOff.size()), kColourOff)
            << "colours not restored at the end: " << text;
    }
};

// Ensure q on a terminal leaves the terminal's colours as they were.
TEST_F(SessionEnd, QuitRestoresTerminalColours) {
    putPicture("sample/1.jpg");
    gui::ProgramRun& run = launch(gui::Output::kTerminal);
    EXPECT_TRUE(gui::waitUntil(10.0, [&] { return run.terminal().find("q键，退出程序") != std::string::npos; }));
    pressKey(windows_.effect, "q");
    EXPECT_EQ(run.waitExit(10.0), 0);
    expectColouredThenRestored(run, "运行成功，请调整滚动条（·8·）");
}

// Ensure a load failure on a terminal restores the colours too.
TEST_F(SessionEnd, LoadFailureRestoresTerminalColours) {
    gui::ProgramRun run(dir_.path(), display_.name(), {}, gui::Output::kTerminal);
    EXPECT_EQ(run.waitExit(10.0), 1);
    expectColouredThenRestored(run, "读取srcImage错误");
}

// Ensure Ctrl+C typed on the terminal while the key loop runs ends the program promptly, as
// interrupted, with the colours restored.
TEST_F(SessionEnd, CtrlCEndsPromptlyAndRestoresColours) {
    putPicture("sample/1.jpg");
    gui::ProgramRun& run = launch(gui::Output::kTerminal);
    EXPECT_TRUE(gui::waitUntil(10.0, [&] { return run.terminal().find("q键") != std::string::npos; }));
    run.typeOnTerminal("\x03");
    EXPECT_EQ(run.waitExit(10.0), 128 + SIGINT);
    expectColouredThenRestored(run, "q键，退出程序");
}

// Ensure every signal that ends the program, whether sent from outside (kill, a resource limit)
// or raised by a fault, restores the colours first and still ends it with that very signal.
TEST_F(SessionEnd, FatalSignalsRestoreColoursAndKeepTheirStatus) {
    putPicture("sample/1.jpg");
    for (const int signalNumber : {SIGTERM, SIGHUP, SIGQUIT, SIGXCPU, SIGXFSZ, SIGABRT, SIGSEGV,
                                   SIGBUS, SIGFPE, SIGILL, SIGALRM, SIGUSR1}) {
        SCOPED_TRACE(strsignal(signalNumber));
        gui::ProgramRun& run = launch(gui::Output::kTerminal);
        EXPECT_TRUE(gui::waitUntil(10.0, [&] { return run.terminal().find("q键") != std::string::npos; }));
        run.signal(signalNumber);
        EXPECT_EQ(run.waitExit(10.0), 128 + signalNumber);
        expectColouredThenRestored(run, "q键，退出程序");
        EXPECT_TRUE(gui::waitUntil(5.0, [&] { return gui::windowsTitled(x(), gui::kSourceTitle).empty(); }));
    }
}

// Ensure a standard output whose reader has gone (tonemorph | head -1) or that is closed
// altogether does not crash the program: it runs and quits on q with status 0.
TEST_F(SessionEnd, BrokenOrClosedOutputDoesNotCrash) {
    putPicture("sample/1.jpg");
    for (const gui::Output output : {gui::Output::kBrokenPipe, gui::Output::kClosed}) {
        SCOPED_TRACE(output == gui::Output::kBrokenPipe ? "broken pipe" : "closed");
        gui::ProgramRun& run = launch(output);
        ASSERT_TRUE(windows_.complete());
        pressKey(windows_.effect, "q");
        EXPECT_EQ(run.waitExit(10.0), 0);
        EXPECT_EQ(run.err(), "");
        EXPECT_TRUE(gui::waitUntil(5.0, [&] { return gui::windowsTitled(x(), gui::kSourceTitle).empty(); }));
    }
}

// Ensure an allocation that fails inside a slider's handler is not thrown through the toolkit's
// event loop (which would abort): the program says what failed, ends with 1 and puts the
// terminal's colours back.
TEST_F(SessionEnd, FailureInsideAHandlerEndsWithItsReason) {
    putPicture("sample/1.jpg");
    gui::ProgramRun& run = launch(gui::Output::kTerminal,
                                  {"LD_PRELOAD=" IMSHOW_SPY, "TONEMORPH_SLIDER_REPORT=" + sliderReport(),
                                   "TONEMORPH_SPY_FAIL_RENDER=1"});
    EXPECT_TRUE(gui::waitUntil(10.0, [&] { return run.terminal().find("q键") != std::string::npos; }));
    ASSERT_TRUE(findSliders());
    setSlider(gui::kSize, 3);
    EXPECT_EQ(run.waitExit(10.0), 1);
    const std::string text = run.terminal();
    EXPECT_NE(text.find("tonemorph: rendering the new kernel size: std::bad_alloc"), std::string::npos) << text;
    EXPECT_EQ(text.find("Qt has caught an exception"), std::string::npos) << text;
    expectColouredThenRestored(run, "q键，退出程序");
}

}  // namespace
