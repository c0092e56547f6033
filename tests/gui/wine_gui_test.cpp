// The Windows program under Wine: started in a folder holding the sample picture, it opens its
// three windows under their exact titles, shows the effect equal to the source at the initial
// settings, prints its banner and ends with 0 on q. Skipped unless TONEMORPH_WINDOWS_EXE names the
// cross-built program (make test-windows sets it).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "gui/tool_fixture.h"

namespace {

// Ensure the cross-built program starts, shows the source unchanged as the effect and quits on q.
TEST(WineRun, StartsShowsTheSourceUnchangedAndQuitsOnQ) {
    const char* exe = std::getenv("TONEMORPH_WINDOWS_EXE");
    if (exe == nullptr || !std::filesystem::exists(exe)) GTEST_SKIP() << "no Windows build to run";
    gui::ScratchDir dir;
    gui::copyFile(gui::repoFile("sample/1.jpg"), dir.file("1.jpg"));
    gui::copyFile(exe, dir.file("tonemorph.exe"));
    // The program under Wine (tools/wine-env stops Wine's server after it).
    {
        std::ofstream wrapper(dir.file("run-under-wine"));
        wrapper << "#!/bin/sh\nexec " << gui::repoFile("tools/wine-env") << " /usr/lib/wine/wine64 ./tonemorph.exe\n";
    }
    ::chmod(dir.file("run-under-wine").c_str(), 0755);
    gui::VirtualDisplay display({{1920, 1080}, gui::ServerLife::kPersistent, true});
    gui::ProgramRun run(dir.path(), display.name(), {"TONEMORPH_EXECUTABLE=" + dir.file("run-under-wine")});

    const gui::ToolWindows windows = gui::waitForToolWindows(display.connection(), 90.0);
    ASSERT_TRUE(windows.complete()) << "stdout: " << run.out() << "\nstderr: " << run.err();
    std::string out;
    EXPECT_TRUE(gui::waitUntil(10.0, [&] {
        out = run.out();
        out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());  // the console's line ends
        return out == gui::kBanner;
    })) << out;
    cv::Mat source;
    cv::Mat effect;
    EXPECT_TRUE(gui::waitUntil(10.0, [&] {
        source = gui::screenshot(display.connection(), windows.source);
        effect = gui::screenshot(display.connection(), windows.effect);
        return !source.empty() && source.size() == effect.size() && cv::norm(source, effect, cv::NORM_INF) == 0;
    })) << "source " << source.size() << ", effect " << effect.size();
    gui::pressKey(display.name(), display.connection(), windows.effect, "q");
    EXPECT_EQ(run.waitExit(30.0), 0) << run.err();
}

}  // namespace
