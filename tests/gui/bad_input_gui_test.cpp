// Whatever file sits in the folder as 1.jpg, the real program either starts normally (windows,
// banner, the right effect) or prints the load-failure message and exits with 1 without a window;
// it never crashes, hangs or changes the file.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "core/memory_budget.h"
#include "gui/tool_fixture.h"
#include "reference/literal_pass.h"
#include "support/crafted_files.h"

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
    // Returns what the program said on standard error.
    std::string expectLoadFailure() {
        const std::string before = gui::readFile(picturePath());
        gui::ProgramRun run(dir_.path(), display_.name());
        EXPECT_EQ(run.waitExit(20.0), 1);
        EXPECT_EQ(run.out(), gui::kLoadFailed);
        for (const std::string* title : {&gui::kPanelTitle, &gui::kSourceTitle, &gui::kEffectTitle}) {
            EXPECT_TRUE(gui::windowsTitled(x(), *title).empty()) << *title << " opened";
        }
        EXPECT_EQ(gui::readFile(picturePath()), before) << "the file changed";
        return run.err();
    }

    // A normal start showing exactly the decoded picture, the right effect with the largest
    // ellipse (larger than some of these pictures), q ending with 0, the file as it was.
    void expectNormalStart() {
        const std::string before = gui::readFile(picturePath());
        const cv::Mat decoded = cv::imread(picturePath(), cv::IMREAD_COLOR);
        ASSERT_FALSE(decoded.empty());
        start(spyEnvironment());
        ASSERT_TRUE(windows_.complete());
        EXPECT_TRUE(gui::waitUntil(30.0, [&] { return given("tonemorph-source", decoded); }))
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

};

cv::Mat randomPicture(int rows, int cols) {
    cv::Mat image(rows, cols, CV_8UC3);
    cv::RNG(rows * 1000 + cols).fill(image, cv::RNG::UNIFORM, 0, 256);
    return image;
}

// Ensure files that hold no picture are load failures: none at all, an empty file, a folder of
// that name, text, a JPEG cut off in its header; and a GIF where the library cannot read one
// (before OpenCV 4.11), while from 4.11 on it is a picture like any other.
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
#if CV_VERSION_MAJOR > 4 || (CV_VERSION_MAJOR == 4 && CV_VERSION_MINOR >= 11)
        expectNormalStart();
#else
        expectLoadFailure();
#endif
    }
}

// Ensure whatever stands at 1.jpg that is not a file is refused at once with the message and 1,
// and is never opened: a folder, a named pipe (opening one for reading waits for a writer), a
// link to /dev/zero (which never ends) and a socket.
TEST_F(BadInput, NotAFileIsRefusedUnopened) {
    const auto makeSocket = [](const std::string& path) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
        return fd;
    };
    const std::pair<const char*, std::function<int(const std::string&)>> things[] = {
        {"a folder", [](const std::string& path) { return std::filesystem::create_directory(path) ? -1 : -2; }},
        {"a named pipe", [](const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0 ? -1 : -2; }},
        {"a device", [](const std::string& path) { return ::symlink("/dev/zero", path.c_str()) == 0 ? -1 : -2; }},
        {"a socket", makeSocket},
    };
    for (const auto& [what, make] : things) {
        SCOPED_TRACE(what);
        std::filesystem::remove(picturePath());
        const int socket = make(picturePath());
        ASSERT_NE(socket, -2);
        gui::ProgramRun run(dir_.path(), display_.name());
        EXPECT_EQ(run.waitExit(5.0), 1);
        EXPECT_EQ(run.out(), gui::kLoadFailed);
        EXPECT_EQ(run.err(), std::string("tonemorph: 1.jpg is ") + what + ", not a picture file\n");
        EXPECT_TRUE(gui::windowsTitled(x(), gui::kSourceTitle).empty());
        if (socket >= 0) ::close(socket);
        std::filesystem::remove(picturePath());
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

using crafted::blackGreyPng;

// Small files of every format the library decodes, each declaring a picture far beyond what a
// 2 GiB data limit can hold: a real file of the format, encoded by the library where it can
// write the format, with the size in its header raised. Formats this build of the library lacks
// are left out (a test below skips those it cannot read).
std::vector<std::pair<std::string, std::string>> bombs() {
    const cv::Mat small(64, 64, CV_8UC3, cv::Scalar(40, 90, 160));
    // Nothing for a format this build of the library lacks.
    const auto encode = [](const cv::Mat& picture, const std::string& extension, const std::vector<int>& params = {}) {
        return crafted::encoded(picture, extension, params);
    };
    const auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        if (text.empty()) return text;
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    const auto put = [](std::string& bytes, size_t at, uint32_t value, int n, bool bigEndian) {
        for (int i = 0; i < n; ++i) bytes[at + i] = static_cast<char>(value >> (8 * (bigEndian ? n - 1 - i : i)));
    };
    std::vector<std::pair<std::string, std::string>> files;

    std::string jpeg = gui::readFile(gui::repoFile("sample/1.jpg"));
    const size_t sof = jpeg.find("\xFF\xC0");  // marker, length, precision, height, width
    put(jpeg, sof + 5, 30000, 2, true);
    put(jpeg, sof + 7, 30000, 2, true);
    files.emplace_back("JPEG 30000x30000", jpeg);
    files.emplace_back("PNG 20000x20000 (all of it)", blackGreyPng(20000, 20000));

    // A file the library wrote, with its header patched; a format it cannot write is named on
    // the test's output and left out.
    const auto patched = [&files, &encode, &small](const std::string& what, const std::string& extension,
                                           const std::vector<int>& params, const auto& patch) {
        std::string bytes = encode(small, extension, params);
        if (bytes.empty()) {
            std::cout << "left out, this build of the library cannot write it: " << what << std::endl;
            return;
        }
        patch(bytes);
        files.emplace_back(what, bytes);
    };
    patched("WebP 16384x16384", ".webp", {cv::IMWRITE_WEBP_QUALITY, 101}, [&put](std::string& webp) {  // lossless
        const uint32_t sizeBits = 16383 | (16383u << 14);  // width and height less one, 14 bits each
        put(webp, 21, (static_cast<uint8_t>(webp[24]) & 0xF0u) << 24 | sizeBits, 4, false);
    });
    patched("TIFF 20000x20000", ".tif", {}, [&put](std::string& tiff) {
        const uint32_t directory = static_cast<uint8_t>(tiff[4]) | static_cast<uint8_t>(tiff[5]) << 8;
        const uint32_t entries = static_cast<uint8_t>(tiff[directory]) | static_cast<uint8_t>(tiff[directory + 1]) << 8;
        for (uint32_t i = 0; i < entries; ++i) {
            const size_t entry = directory + 2 + 12 * i;
            const int tag = static_cast<uint8_t>(tiff[entry]) | static_cast<uint8_t>(tiff[entry + 1]) << 8;
            if (tag == 256 || tag == 257) {
                put(tiff, entry + 2, 4, 2, false);  // LONG
                put(tiff, entry + 8, 20000, 4, false);
            }
        }
    });
    patched("BMP 20000x20000", ".bmp", {}, [&put](std::string& bmp) {
        put(bmp, 18, 20000, 4, false);
        put(bmp, 22, 20000, 4, false);
    });
    patched("Sun raster 20000x20000", ".ras", {}, [&put](std::string& raster) {
        put(raster, 4, 20000, 4, true);
        put(raster, 8, 20000, 4, true);
    });

    files.emplace_back("Radiance HDR 20000x20000", replaced(encode(small, ".hdr"), "-Y 64 +X 64", "-Y 20000 +X 20000"));
    files.emplace_back("PPM 20000x20000", replaced(encode(small, ".ppm"), "64 64", "20000 20000"));
    files.emplace_back("PAM 20000x20000",
                       replaced(replaced(encode(small, ".pam"), "WIDTH 64", "WIDTH 20000"), "HEIGHT 64", "HEIGHT 20000"));
    cv::Mat smallFloat;
    small.convertTo(smallFloat, CV_32F, 1.0 / 255);
    files.emplace_back("PFM 20000x20000", replaced(encode(smallFloat, ".pfm"), "64 64", "20000 20000"));

    std::string jp2 = encode(small, ".jp2");
    if (!jp2.empty()) {
        const size_t siz = jp2.find("\xFF\x51", jp2.find("jp2c"));  // marker, length, capabilities, grid
        put(jp2, siz + 6, 20000, 4, true);
        put(jp2, siz + 10, 20000, 4, true);
        const size_t ihdr = jp2.find("ihdr");
        put(jp2, ihdr + 4, 20000, 4, true);
        put(jp2, ihdr + 8, 20000, 4, true);
        files.emplace_back("JPEG 2000 20000x20000", jp2);
    }

    // The library writes and reads OpenEXR only when asked to; the program is asked to below.
    setenv("OPENCV_IO_ENABLE_OPENEXR", "1", 1);
    std::string exr = encode(smallFloat, ".exr");
    if (!exr.empty()) {
        for (const std::string window : {"dataWindow", "displayWindow"}) {
            const size_t box = exr.find(window + std::string("\0box2i\0", 7)) + window.size() + 11;
            put(exr, box + 8, 19999, 4, false);   // xMax
            put(exr, box + 12, 19999, 4, false);  // yMax
        }
        files.emplace_back("OpenEXR 20000x20000", exr);
    }

    // DICOM, which the library reads but cannot write: explicit little-endian elements.
    const auto element = [](uint16_t group, uint16_t number, const std::string& vr, const std::string& value) {
        std::string bytes(8, '\0');
        bytes[0] = static_cast<char>(group);
        bytes[1] = static_cast<char>(group >> 8);
        bytes[2] = static_cast<char>(number);
        bytes[3] = static_cast<char>(number >> 8);
        bytes.replace(4, 2, vr);
        bytes[6] = static_cast<char>(value.size());
        bytes[7] = static_cast<char>(value.size() >> 8);
        return bytes + value;
    };
    const auto us = [](uint16_t value) { return std::string{static_cast<char>(value), static_cast<char>(value >> 8)}; };
    files.emplace_back("DICOM 30000x30000",
                       std::string(128, '\0') + "DICM" + element(2, 0x10, "UI", std::string("1.2.840.10008.1.2.1\0", 20)) +
                           element(0x28, 0x02, "US", us(1)) + element(0x28, 0x04, "CS", "MONOCHROME2 ") +
                           element(0x28, 0x10, "US", us(30000)) + element(0x28, 0x11, "US", us(30000)) +
                           element(0x28, 0x100, "US", us(8)) + element(0x28, 0x101, "US", us(8)) +
                           element(0x28, 0x102, "US", us(7)) + element(0x28, 0x103, "US", us(0)));
    return files;
}

// Ensure a picture declaring more pixels than the machine can hold is refused before anything is
// decoded, in every format the library decodes, under a 2 GiB data limit: the load-failure
// message, one line on stderr with what is needed and what is available (never the library's own
// words), status 1, no window, and a peak far below what the decoded picture alone would take.
TEST_F(BadInput, PictureLargerThanMemoryIsRefusedBeforeDecoding) {
    for (const auto& [what, bytes] : bombs()) {
        SCOPED_TRACE(what);
        EXPECT_LT(bytes.size(), 600u * 1024);
        writeBytes(bytes);
        if (!cv::haveImageReader(picturePath())) continue;  // DICOM without GDCM, say
        const DataLimit limit(kDataLimit);
        gui::ProgramRun run(dir_.path(), display_.name(), {"OPENCV_IO_ENABLE_OPENEXR=1"});
        EXPECT_EQ(run.waitExit(20.0), 1);
        EXPECT_EQ(run.out(), gui::kLoadFailed);
        const std::string err = run.err();
        EXPECT_EQ(err.rfind("tonemorph: 1.jpg is ", 0), 0u) << err;
        EXPECT_NE(err.find("pixels and needs about"), std::string::npos) << err;
        EXPECT_NE(err.find("GiB of memory, but only"), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_LT(run.peakKiB(), 300 * 1024) << "peak " << run.peakKiB() << " KiB";
        EXPECT_TRUE(gui::windowsTitled(x(), gui::kSourceTitle).empty());
    }
}

// What the program says while a decode takes longer than a second.
std::string slowDecodeNotice(const std::string& size, const std::string& file) {
    return "tonemorph: decoding 1.jpg, a picture of " + size + " pixels in a file of " + file + "; this takes a while\n";
}

// Ensure a 48-megapixel photo still starts and quits normally under the same limit, with nothing
// on stderr but, on a slow machine, the notice of a long decode.
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
    const std::string err = run_->err();
    EXPECT_TRUE(err.empty() || err.rfind("tonemorph: decoding 1.jpg, a picture of 8000x6000 pixels", 0) == 0) << err;
}

// Ensure a picture that takes seconds to decode (300 megapixels, 16-bit and interlaced) says so
// while it decodes, naming its size and its file's, once, and nothing else meanwhile.
TEST_F(BadInput, SlowDecodeIsAnnounced) {
    writeBytes(crafted::slowGreyPng(20000, 15000));
    const std::string notice = slowDecodeNotice(
        "20000x15000", tonemorph::describeBytes(static_cast<int64_t>(std::filesystem::file_size(picturePath()))));
    gui::ProgramRun run(dir_.path(), display_.name());
    EXPECT_TRUE(gui::waitUntil(20.0, [&] { return run.err() == notice; })) << run.err();
    run.signal(SIGTERM);  // the rest of a start at this size is not what is tested
    run.waitExit(20.0);
    EXPECT_EQ(run.err(), notice);
}

// Ensure files made to keep a decoder busy far longer than their pictures' size asks (each under a
// megabyte and seconds of decoding) are refused before decoding, saying why, with no decoder
// warning: a JPEG whose scans go over its pixels thousands of times, and a DICOM file holding one,
// a PNG whose image data goes on for a gigabyte past a small picture, and one of a hundred
// compressed comments.
TEST_F(BadInput, FilesMadeToKeepTheDecoderBusyAreRefusedBeforeDecoding) {
    const std::pair<std::string, std::string> cases[] = {
        {crafted::progressiveJpeg({4000, 4000}, 2000),
         "1.jpg is a JPEG of 2010 scans, as much work to decode as 1339 pictures of its size; no camera or encoder "
         "goes past 16, so it is not decoded"},
        {crafted::dicomWithJpeg(crafted::progressiveJpeg({4000, 4000}, 2000), 4000, 4000, 3),
         "1.jpg is a DICOM file holding a JPEG of 2010 scans, as much work to decode as 1339 pictures of its size; no "
         "camera or encoder goes past 16, so it is not decoded"},
        {crafted::blackGreyPng(64, 64, uint64_t{1} << 30),
         "1.jpg is a PNG whose image data unpacks to over 64 MiB where its pixels need 4 KiB; the decoder would "
         "unpack all of it, so it is not decoded"},
        {crafted::blackGreyPng(64, 64, 0, 100),
         "1.jpg is a PNG of 100 compressed text chunks, which the decoder unpacks one by one; no picture carries "
         "more than 16, so it is not decoded"},
    };
    for (const auto& [bytes, reason] : cases) {
        SCOPED_TRACE(reason.substr(0, 30));
        EXPECT_LT(bytes.size(), 1u << 20);
        writeBytes(bytes);
        expectLoadFailure();
        gui::ProgramRun run(dir_.path(), display_.name());
        EXPECT_EQ(run.waitExit(20.0), 1);
        EXPECT_EQ(run.err(), "tonemorph: " + reason + "\n");
    }
}

// Ensure a TIFF holding JPEG data is held to the same limit on scans as a JPEG file (its decoder
// allows 100 of its own), counted as that decoder counts them: with an encoder's 10 scans, and
// with 16, it starts normally; with 17 it is not decoded, and the program says why in its words.
TEST_F(BadInput, JpegInsideTiffHeldToTheScanLimit) {
    const cv::Size size(400, 304);
    for (const int repeats : {0, 6}) {
        writeBytes(crafted::tiff(size.width, size.height, size, false, {crafted::progressiveJpeg(size, repeats)}, 7));
        expectNormalStart();
    }
    writeBytes(crafted::tiff(size.width, size.height, size, false, {crafted::progressiveJpeg(size, 7)}, 7));
    ASSERT_FALSE(cv::imread(picturePath(), cv::IMREAD_COLOR).empty()) << "the library's own limit already refuses it";
    EXPECT_EQ(expectLoadFailure(), "tonemorph: 1.jpg is a TIFF holding a JPEG of 17 scans; no camera or encoder goes past "
                                   "16, so it is not decoded\n");
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
