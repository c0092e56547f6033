// The Windows program under Wine: started in a folder holding the sample picture, it opens its
// three windows under their exact titles, shows the effect equal to the source at the initial
// settings, prints its banner and ends with 0 on q; a file that holds no picture is refused with
// the message and 1. Skipped unless TONEMORPH_WINDOWS_EXE names the cross-built program (make
// test-windows sets it).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "gui/tool_fixture.h"

namespace {

class WineRun : public ::testing::Test {
protected:
    void SetUp() override {
        const char* exe = std::getenv("TONEMORPH_WINDOWS_EXE");
        if (exe == nullptr || !std::filesystem::exists(exe)) GTEST_SKIP() << "no Windows build to run";
        gui::copyFile(exe, dir_.file("tonemorph.exe"));
        // The program under Wine (tools/wine-env stops Wine's server after it).
        std::ofstream(dir_.file("run-under-wine"))
            << "#!/bin/sh\nexec " << gui::repoFile("tools/wine-env") << " /usr/lib/wine/wine64 ./tonemorph.exe\n";
        ::chmod(dir_.file("run-under-wine").c_str(), 0755);
    }

    // locale: the Unix locale Wine derives the Windows ANSI code page from.
    void start(const std::string& locale = "C.UTF-8") {
        run_ = std::make_unique<gui::ProgramRun>(
            dir_.path(), display_.name(),
            std::vector<std::string>{"TONEMORPH_EXECUTABLE=" + dir_.file("run-under-wine"), "LANG=" + locale,
                                     "LC_ALL=" + locale});
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
    start(GetParam());
    const gui::ToolWindows windows = gui::waitForToolWindows(display_.connection(), 90.0);
    ASSERT_TRUE(windows.complete()) << "stdout: " << run_->out() << "\nstderr: " << run_->err();
    EXPECT_TRUE(gui::waitUntil(10.0, [&] { return out() == gui::kBanner; })) << out();
    cv::Mat source;
    cv::Mat effect;
    EXPECT_TRUE(gui::waitUntil(10.0, [&] {
        source = gui::screenshot(display_.connection(), windows.source);
        effect = gui::screenshot(display_.connection(), windows.effect);
        return !source.empty() && source.size() == effect.size() && cv::norm(source, effect, cv::NORM_INF) == 0;
    })) << "source " << source.size() << ", effect " << effect.size();
    gui::pressKey(display_.name(), display_.connection(), windows.effect, "q");
    EXPECT_EQ(run_->waitExit(30.0), 0) << run_->err();
}
INSTANTIATE_TEST_SUITE_P(CodePages, WineStart, ::testing::Values("C.UTF-8", "zh_CN.GB18030"),
                         [](const ::testing::TestParamInfo<std::string>& locale) {
                             return std::string(locale.index == 0 ? "Western" : "Chinese");
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
