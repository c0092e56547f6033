// Whatever file sits in the folder as 1.jpg, the real program either starts normally (windows,
// banner, the right effect) or prints the load-failure message and exits with 1 without a window;
// it never crashes, hangs or changes the file.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <zlib.h>

#include <algorithm>
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
        EXPECT_TRUE(gui::waitUntil(30.0, [&] { return effectGiven(decoded); }))
            << "the first effect is not a copy of the source";

        ASSERT_TRUE(findSliders());
        setSlider(gui::kSize, 21);
        setSlider(gui::kShape, 2);
        cv::Mat expected;
        reference::libraryMorphology(decoded, expected, 0, 21, 2);
        EXPECT_TRUE(gui::waitUntil(60.0, [&] { return effectGiven(expected); }))
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

// For the duration of a scope, this process and the programs it starts may hold at most this
// much data (ulimit -d): what counts as too large then does not depend on the machine's memory.
class DataLimit {
public:
    explicit DataLimit(rlim_t bytes) {
        getrlimit(RLIMIT_DATA, &before_);
        const rlimit limit{bytes, before_.rlim_max};
        setrlimit(RLIMIT_DATA, &limit);
    }
    ~DataLimit() { setrlimit(RLIMIT_DATA, &before_); }
    DataLimit(const DataLimit&) = delete;
    DataLimit& operator=(const DataLimit&) = delete;

private:
    rlimit before_{};
};

constexpr rlim_t kDataLimit = rlim_t{2} << 30;

// A valid grey PNG of the given size, every pixel black: a few hundred kilobytes that decode to
// width x height bytes (times three as colour).
std::string blackGreyPng(uint32_t width, uint32_t height) {
    const auto bigEndian = [](uint32_t value) {
        return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    };
    const auto chunk = [&](const std::string& type, const std::string& data) {
        const std::string body = type + data;
        return bigEndian(static_cast<uint32_t>(data.size())) + body +
               bigEndian(static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                                      static_cast<uInt>(body.size()))));
    };
    // Bit depth 8, colour type 0 (grey), no interlacing.
    const std::string header = bigEndian(width) + bigEndian(height) + std::string("\x08\0\0\0\0", 5);
    z_stream z{};
    deflateInit(&z, Z_BEST_COMPRESSION);
    std::vector<Bytef> row(width + 1, 0);  // filter type 0, then the pixels
    std::string compressed;
    std::vector<Bytef> out(1 << 16);
    for (uint32_t y = 0; y <= height; ++y) {
        z.next_in = row.data();
        z.avail_in = y < height ? static_cast<uInt>(row.size()) : 0;
        const int flush = y < height ? Z_NO_FLUSH : Z_FINISH;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, flush);
            compressed.append(reinterpret_cast<char*>(out.data()), out.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return std::string("\x89PNG\r\n\x1A\n", 8) + chunk("IHDR", header) + chunk("IDAT", compressed) +
           chunk("IEND", "");
}

// Ensure pictures declaring more pixels than the machine can hold are refused before anything is
// decoded: a JPEG (the sample, its frame header patched to claim 30000x30000) and a real
// 20000x20000 grey PNG of a few hundred kilobytes, under a 2 GiB data limit. Each gives the
// load-failure message, one line on stderr with what is needed and what is available, status 1,
// no window, and a peak far below the 1.2 GB its decoded picture alone would take.
TEST_F(BadInput, PictureLargerThanMemoryIsRefusedBeforeDecoding) {
    std::string jpeg = gui::readFile(gui::repoFile("sample/1.jpg"));
    const size_t sof = jpeg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    // Start-of-frame: marker, length (2), precision (1), height (2), width (2).
    for (size_t at : {sof + 5, sof + 7}) {
        jpeg[at] = static_cast<char>(30000 >> 8);
        jpeg[at + 1] = static_cast<char>(30000 & 0xFF);
    }
    const std::pair<const char*, std::string> bombs[] = {{"JPEG 30000x30000", jpeg},
                                                         {"PNG 20000x20000", blackGreyPng(20000, 20000)}};
    for (const auto& [what, bytes] : bombs) {
        SCOPED_TRACE(what);
        EXPECT_LT(bytes.size(), 600u * 1024);
        writeBytes(bytes);
        const DataLimit limit(kDataLimit);
        gui::ProgramRun run(dir_.path(), display_.name());
        EXPECT_EQ(run.waitExit(20.0), 1);
        EXPECT_EQ(run.out(), gui::kLoadFailed);
        const std::string err = run.err();
        EXPECT_NE(err.find("pixels and needs about"), std::string::npos) << err;
        EXPECT_NE(err.find("GiB of memory, but only"), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_LT(run.peakKiB(), 300 * 1024) << "peak " << run.peakKiB() << " KiB";
        EXPECT_TRUE(gui::windowsTitled(x(), gui::kSourceTitle).empty());
    }
}

// Ensure a 48-megapixel photo still starts and quits normally under the same limit.
TEST_F(BadInput, LargePhotoStartsWithinTheSameLimit) {
    cv::Mat photo(6000, 8000, CV_8UC3);
    cv::randu(photo, 0, 256);
    cv::GaussianBlur(photo, photo, cv::Size(0, 0), 3);
    writePicture(photo, ".jpg");
    const DataLimit limit(kDataLimit);
    start();
    ASSERT_TRUE(windows_.complete());
    pressKey(windows_.effect, "q");
    EXPECT_EQ(run_->waitExit(30.0), 0);
    EXPECT_EQ(run_->err(), "");
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
