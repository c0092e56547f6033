// Whatever file sits in the folder as 1.jpg, the real program either starts normally (windows,
// banner, the right effect) or prints the load-failure message and exits with 1 without a window;
// it never crashes, hangs or changes the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "gui/tool_fixture.h"
#include "reference/literal_pass.h"

namespace {

class BadInput : public gui::ToolTest {
protected:
    std::string picturePath() const { return dir_.file("1.jpg"); }

    void writeBytes(const std::string& bytes) {
        std::ofstream(picturePath(), std::ios::binary) << bytes;
    }

    void writePicture(const cv::Mat& image, const std::string& extension) {
        std::vector<uchar> encoded;
        ASSERT_TRUE(cv::imencode(extension, image, encoded));
        writeBytes(std::string(encoded.begin(), encoded.end()));
    }

    // The load-failure message, status 1, no window, the file as it was.
    void expectLoadFailure() {
        const std::string before = gui::readFile(picturePath());
        gui::ProgramRun run(dir_.path(), display_.name());
        EXPECT_EQ(run.waitExit(20.0), 1);
        EXPECT_EQ(run.out(), gui::kLoadFailed);
        for (const std::string* title : {&gui::kPanelTitle, &gui::kSourceTitle, &gui::kEffectTitle}) {
            EXPECT_TRUE(gui::windowsTitled(x(), *title).empty()) << *title << " opened";
        }
        EXPECT_EQ(gui::readFile(picturePath()), before) << "the file changed";
    }

    // A normal start showing exactly the decoded picture, the right effect with the largest
    // ellipse (larger than some of these pictures), q ending with 0, the file as it was.
    void expectNormalStart() {
        const std::string before = gui::readFile(picturePath());
        const cv::Mat decoded = cv::imread(picturePath(), cv::IMREAD_COLOR);
        ASSERT_FALSE(decoded.empty());
        start(spyEnvironment());
        ASSERT_TRUE(windows_.complete());
        EXPECT_TRUE(gui::waitUntil(30.0, [&] { return sameImage(lastShown("tonemorph-source"), decoded); }))
            << "the source window does not show the decoded picture";
        EXPECT_TRUE(gui::waitUntil(30.0, [&] { return sameImage(lastShown("tonemorph-effect"), decoded); }))
            << "the first effect is not a copy of the source";

        ASSERT_TRUE(findSliders());
        setSlider(gui::kSize, 21);
        setSlider(gui::kShape, 2);
        cv::Mat expected;
        reference::libraryMorphology(decoded, expected, 0, 21, 2);
        EXPECT_TRUE(gui::waitUntil(60.0, [&] { return sameImage(lastShown("tonemorph-effect"), expected); }))
            << "erosion by the 43x43 ellipse is not what the pass defines";

        pressKey(windows_.panel, "q");
        EXPECT_EQ(run_->waitExit(30.0), 0);
        EXPECT_EQ(gui::readFile(picturePath()), before) << "the file changed";
    }

    static bool sameImage(const cv::Mat& a, const cv::Mat& b) {
        return !a.empty() && a.size() == b.size() && a.type() == b.type() &&
               cv::norm(a, b, cv::NORM_INF) == 0;
    }
};

cv::Mat randomPicture(int rows, int cols) {
    cv::Mat image(rows, cols, CV_8UC3);
    cv::RNG(rows * 1000 + cols).fill(image, cv::RNG::UNIFORM, 0, 256);
    return image;
}

// Ensure files that hold no picture are load failures: none at all, an empty file, a folder of
// that name, text, a JPEG cut off in its header, and a GIF (a format this decoder lacks).
TEST_F(BadInput, NoPictureInTheFileIsALoadFailure) {
    {
        SCOPED_TRACE("no file");
        gui::ProgramRun run(dir_.path(), display_.name());
        EXPECT_EQ(run.waitExit(20.0), 1);
        EXPECT_EQ(run.out(), gui::kLoadFailed);
    }
    {
        SCOPED_TRACE("zero bytes");
        writeBytes("");
        expectLoadFailure();
    }
    {
        SCOPED_TRACE("text");
        writeBytes("This is a shopping list, not a picture.\nmilk\neggs\n");
        expectLoadFailure();
    }
    {
        SCOPED_TRACE("JPEG cut off after 400 bytes");
        gui::copyFile(gui::repoFile("tests/data/truncated.jpg"), picturePath());
        expectLoadFailure();
    }
    {
        SCOPED_TRACE("GIF");
        gui::copyFile(gui::repoFile("tests/data/no_time_for_that_tiny.gif"), picturePath());
        expectLoadFailure();
    }
    {
        SCOPED_TRACE("a folder named 1.jpg");
        std::filesystem::remove(picturePath());
        std::filesystem::create_directory(picturePath());
        gui::ProgramRun run(dir_.path(), display_.name());
        EXPECT_EQ(run.waitExit(20.0), 1);
        EXPECT_EQ(run.out(), gui::kLoadFailed);
        EXPECT_TRUE(std::filesystem::is_directory(picturePath()));
    }
}

// Ensure a JPEG whose header declares 40000 x 40000 pixels, past the decoder's safety limit, is
// a load failure with the decoder's reason, not an abort.
TEST_F(BadInput, PixelCountPastTheDecoderLimitIsALoadFailure) {
    std::string jpeg = gui::readFile(gui::repoFile("sample/1.jpg"));
    const size_t sof = jpeg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    // Start-of-frame: marker, length (2), precision (1), height (2), width (2).
    for (size_t at : {sof + 5, sof + 7}) {
        jpeg[at] = static_cast<char>(40000 >> 8);
        jpeg[at + 1] = static_cast<char>(40000 & 0xFF);
    }
    writeBytes(jpeg);
    expectLoadFailure();
    gui::ProgramRun run(dir_.path(), display_.name());
    EXPECT_EQ(run.waitExit(20.0), 1);
    EXPECT_NE(run.err().find("tonemorph: cannot decode 1.jpg"), std::string::npos) << run.err();
}

// Ensure a JPEG cut off in the middle of its image data starts normally with what the decoder
// recovered (the rest grey).
TEST_F(BadInput, JpegCutMidScanShowsWhatWasDecoded) {
    const std::string jpeg = gui::readFile(gui::repoFile("sample/1.jpg"));
    writeBytes(jpeg.substr(0, jpeg.size() / 2));
    expectNormalStart();
}

// Ensure 16-bit grey, palette-with-transparency and 8-bit grey pictures start normally as
// three-channel 8-bit colour.
TEST_F(BadInput, AwkwardFormatsStartNormally) {
    for (const char* file : {"tests/data/chessboard_GRAY_U16.tif", "tests/data/foo3x5x4indexed.png",
                             "tests/data/chessboard_GRAY.png"}) {
        SCOPED_TRACE(file);
        gui::copyFile(gui::repoFile(file), picturePath());
        std::filesystem::permissions(picturePath(), std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::owner_write);
        expectNormalStart();
    }
}

// Ensure pictures of one pixel, one row, one column and smaller than the largest element start
// normally and erode correctly.
TEST_F(BadInput, TinyPicturesStartNormally) {
    const cv::Size sizes[] = {{1, 1}, {300, 1}, {1, 300}, {20, 30}};
    for (const cv::Size size : sizes) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        writePicture(randomPicture(size.height, size.width), ".png");
        expectNormalStart();
    }
}

// Ensure a 6000x4000 photo, far larger than the screen, starts normally and erodes correctly.
TEST_F(BadInput, PictureLargerThanTheScreenStartsNormally) {
    cv::Mat big(4000, 6000, CV_8UC3);
    cv::randu(big, 0, 256);
    cv::GaussianBlur(big, big, cv::Size(0, 0), 4);
    writePicture(big, ".jpg");
    expectNormalStart();
}

}  // namespace
