// The program started for real in a private X server: start-up, first render, banner, key loop,
// closing windows, and the ways start-up can fail.
#include <gtest/gtest.h>

#include <cstdint>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "core/command_line.h"
#include "gui/tool_fixture.h"

namespace {

using gui::kBanner;
using gui::kLoadFailed;
using Startup = gui::ToolTest;

// Ensure start-up opens the three windows with their exact titles, shows the source, shows an
// exact copy of it as the first effect, prints only the banner, and q ends with status 0.
TEST_F(Startup, ShowsSourceAndIdenticalEffectThenQuitsOnQ) {
    putPicture("sample/1.jpg");
    const gui::ToolWindows windows = start();
    ASSERT_TRUE(windows.complete());
    for (const std::string* title : {&gui::kPanelTitle, &gui::kSourceTitle, &gui::kEffectTitle}) {
        EXPECT_EQ(gui::windowsTitled(x(), *title).size(), 1u) << *title;
    }

    const cv::Mat source = cv::imread(gui::repoFile("sample/1.jpg"), cv::IMREAD_COLOR);
    const cv::Point at = locateInSource(source);
    ASSERT_NE(at, cv::Point(-1, -1)) << "the source window does not show the picture 1:1";
    EXPECT_TRUE(showsExactly(windows.effect, at, source))
        << "the effect window does not show an exact copy of the source";

    pressKey(windows.effect, "q");
    EXPECT_EQ(run_->waitExit(10.0), 0);
    EXPECT_EQ(run_->out(), kBanner) << "nothing but the banner on standard output";
    EXPECT_EQ(run_->err(), "") << "no warnings on standard error";
}

// Ensure only q ends the key loop: Escape, arrows and other letters leave the program running, in
// whichever window they are pressed; q in the source or panel window ends it too.
TEST_F(Startup, OnlyQEndsTheKeyLoop) {
    putPicture("sample/1.jpg");
    const gui::ToolWindows windows = start();
    ASSERT_TRUE(windows.complete());
    for (const char* key : {"Escape", "Left", "Up", "a", "w", "Return", "space"}) {
        pressKey(windows.source, key);
    }
    pressKey(windows.effect, "x");
    EXPECT_FALSE(run_->waitExit(1.0).has_value()) << "a key other than q ended the program";
    pressKey(windows.source, "q");
    EXPECT_EQ(run_->waitExit(10.0), 0);
}

// Ensure closing all three windows ends the program with status 0, and closing two does not.
TEST_F(Startup, ClosingAllWindowsEndsTheProgram) {
    putPicture("sample/1.jpg");
    const gui::ToolWindows windows = start();
    ASSERT_TRUE(windows.complete());
    gui::requestClose(x(), windows.source);
    gui::requestClose(x(), windows.effect);
    EXPECT_TRUE(gui::waitUntil(5.0, [&] { return !gui::isViewable(x(), windows.effect); }));
    EXPECT_FALSE(run_->waitExit(1.0).has_value()) << "ended with a window still open";
    gui::requestClose(x(), windows.panel);
    EXPECT_EQ(run_->waitExit(10.0), 0);
}

// Ensure a missing picture prints the load-failure message, opens no window and exits with 1.
TEST_F(Startup, MissingPictureFailsWithoutWindows) {
    run_ = std::make_unique<gui::ProgramRun>(dir_.path(), display_.name());
    EXPECT_EQ(run_->waitExit(10.0), 1);
    EXPECT_EQ(run_->out(), kLoadFailed);
    for (const std::string* title : {&gui::kPanelTitle, &gui::kSourceTitle, &gui::kEffectTitle}) {
        EXPECT_TRUE(gui::windowsTitled(x(), *title).empty()) << *title;
    }
}

// Ensure a picture named on the command line is the one shown, not the 1.jpg beside it: in another
// folder, its path in Chinese with spaces, of another format than its name says; and that q ends it
// as before.
TEST_F(Startup, PictureNamedOnTheCommandLineIsShown) {
    putPicture("sample/1.jpg");
    const cv::Mat picture = gui::testPicture({320, 240});
    std::filesystem::create_directories(dir_.file("我的 图片"));
    ASSERT_TRUE(cv::imwrite(dir_.file("我的 图片/猫 cat.png"), picture));
    std::filesystem::rename(dir_.file("我的 图片/猫 cat.png"), dir_.file("我的 图片/猫 cat.jpg"));
    const gui::ToolWindows windows = start(spyEnvironment(), {"我的 图片/猫 cat.jpg"});
    ASSERT_TRUE(windows.complete());
    EXPECT_TRUE(gui::waitUntil(10.0, [&] { return given("tonemorph-source", picture) && effectGiven(picture); }));
    pressKey(windows.effect, "q");
    EXPECT_EQ(run_->waitExit(10.0), 0);
    EXPECT_EQ(run_->err(), "");
}

// Ensure what the command line can get wrong is answered before any window or display: a missing
// picture named with the folder it was looked for in (status 1, no line of the library's), two
// pictures or an unknown option with the usage line (status 2), --help and --version on standard
// output (status 0), none of them needing a display.
TEST_F(Startup, CommandLineAnsweredWithoutADisplay) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string out;
        std::string err;
    };
    const std::string usage = tonemorph::usageLine() + "\n";
    const Case cases[] = {
        {{"missing.png"}, 1, kLoadFailed, "tonemorph: there is no missing.png in " + dir_.path() + "\n"},
        {{}, 1, kLoadFailed, "tonemorph: there is no 1.jpg in " + dir_.path() + "\n"},
        {{"sub/missing.png"}, 1, kLoadFailed, "tonemorph: there is no missing.png in " + dir_.path() + "/sub\n"},
        {{"a.png", "b.png"}, 2, "", "tonemorph: one picture at a time\n" + usage},
        {{"--frobnicate"}, 2, "", "tonemorph: unknown option --frobnicate\n" + usage},
        {{"--help"}, 0, tonemorph::helpText(), ""},
        {{"-h"}, 0, tonemorph::helpText(), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        gui::ProgramRun run(dir_.path(), "", {}, gui::Output::kFiles, c.arguments);
        EXPECT_EQ(run.waitExit(10.0), c.status);
        EXPECT_EQ(run.out(), c.out);
        EXPECT_EQ(run.err(), c.err);
    }
    gui::ProgramRun version(dir_.path(), "", {}, gui::Output::kFiles, {"--version"});
    EXPECT_EQ(version.waitExit(10.0), 0);
    EXPECT_EQ(version.out().rfind("tonemorph " TONEMORPH_VERSION ", OpenCV ", 0), 0u) << version.out();
}

// Ensure grey-scale and palette pictures load as three-channel colour and the effect window shows
// exactly what the source window shows (the toolkit enlarges a 10x10 picture alike in both).
TEST_F(Startup, GreyAndPalettePicturesLoadAndShow) {
    for (const char* picture : {"tests/data/chessboard_GRAY.png", "tests/data/palette_color.png"}) {
        SCOPED_TRACE(picture);
        putPicture(picture);
        const gui::ToolWindows windows = start();
        ASSERT_TRUE(windows.complete());
        const cv::Mat expected = cv::imread(gui::repoFile(picture), cv::IMREAD_COLOR);
        if (expected.cols >= 100) {
            EXPECT_NE(locateInSource(expected), cv::Point(-1, -1));
        }
        // Both screenshots are taken anew on each try: a window may still be repainting after
        // being moved.
        EXPECT_TRUE(gui::waitUntil(5.0, [&] {
            const cv::Mat sourceShot = gui::screenshot(x(), windows.source);
            const cv::Mat effectShot = gui::screenshot(x(), windows.effect);
            return effectShot.size() == sourceShot.size() &&
                   cv::norm(effectShot, sourceShot, cv::NORM_INF) == 0;
        }));
        pressKey(windows.effect, "q");
        EXPECT_EQ(run_->waitExit(10.0), 0);
        EXPECT_TRUE(gui::waitUntil(5.0, [&] { return gui::windowsTitled(x(), gui::kSourceTitle).empty(); }));
    }
}

// Ensure both the UTF-8 title (_NET_WM_NAME) and the legacy one (WM_NAME) read exactly 【滑条】,
// 【原始图】 and 【效果图】 whatever locale the program runs under (those installed here).
TEST_F(Startup, TitlesAreExactInEveryLocale) {
    putPicture("sample/1.jpg");
    // Decoding a legacy title needs a UTF-8 character type on the test's side.
    ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    for (const std::string locale : {"C", "POSIX", "C.UTF-8", "zh_CN.UTF-8", "zh_CN.GB18030"}) {
        const locale_t probe = newlocale(LC_ALL_MASK, locale.c_str(), static_cast<locale_t>(nullptr));
        if (probe == static_cast<locale_t>(nullptr)) continue;  // not installed here
        freelocale(probe);
        SCOPED_TRACE(locale);
        const gui::ToolWindows windows = start({"LANG=" + locale, "LC_ALL=" + locale});
        ASSERT_TRUE(windows.complete());
        const std::pair<Window, const std::string*> titled[] = {
            {windows.panel, &gui::kPanelTitle}, {windows.source, &gui::kSourceTitle},
            {windows.effect, &gui::kEffectTitle}};
        for (const auto& [window, title] : titled) {
            EXPECT_EQ(gui::legacyTitle(x(), window), *title);
            EXPECT_EQ(gui::windowsTitled(x(), *title).size(), 1u) << *title;
        }
        pressKey(windows.effect, "q");
        EXPECT_EQ(run_->waitExit(10.0), 0);
        EXPECT_EQ(run_->err(), "");
        EXPECT_TRUE(gui::waitUntil(5.0, [&] { return gui::windowsTitled(x(), gui::kSourceTitle).empty(); }));
    }
}

// Ensure a picture the decoder refuses by throwing is a load failure: message, the reason on
// stderr, status 1. A 54-byte BMP header declaring 2,000,000 x 1 pixels is small enough for the
// memory budget but wider than the decoder accepts.
TEST_F(Startup, DecoderThatThrowsIsALoadFailure) {
    std::string bmp(54, '\0');
    const auto put = [&bmp](size_t at, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) bmp[at + i] = static_cast<char>(value >> (8 * i));
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put(2, 54, 4);         // file size, as far as the header goes
    put(10, 54, 4);        // where pixels would start
    put(14, 40, 4);        // the usual info header
    put(18, 2000000, 4);   // width
    put(22, 1, 4);         // height
    put(26, 1, 2);         // planes
    put(28, 24, 2);        // bits per pixel
    std::ofstream(dir_.file("1.jpg"), std::ios::binary) << bmp;

    gui::ProgramRun run(dir_.path(), display_.name());
    EXPECT_EQ(run.waitExit(10.0), 1);
    EXPECT_EQ(run.out(), kLoadFailed);
    EXPECT_NE(run.err().find("tonemorph: cannot decode 1.jpg"), std::string::npos) << run.err();
    EXPECT_TRUE(gui::windowsTitled(x(), gui::kSourceTitle).empty());
}

}  // namespace
