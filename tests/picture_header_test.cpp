#include "core/picture_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

namespace {

std::optional<cv::Size> sizeOfBytes(const std::string& bytes) {
    std::istringstream in(bytes);
    return tonemorph::declaredSize(in);
}

std::string encoded(const cv::Mat& picture, const std::string& extension, const std::vector<int>& params = {}) {
    std::vector<uchar> bytes;
    EXPECT_TRUE(cv::imencode(extension, picture, bytes, params)) << extension;
    return std::string(bytes.begin(), bytes.end());
}

// Ensure the header gives the size the library's encoder wrote, for every format read and for
// shapes from one pixel to wide strips, colour and grey.
TEST(PictureHeader, SizeMatchesEncodedPictures) {
    struct Format {
        const char* extension;
        std::vector<int> params;
        int onlyType = -1;  // the Netpbm encoders take one kind of picture each
        int minSide = 1;  // the JPEG 2000 encoder wants room for its resolution levels
        int depth = CV_8U;  // OpenEXR holds floating-point pictures only
    };
    const Format formats[] = {{".png", {}}, {".jpg", {}}, {".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1}},
                              {".webp", {cv::IMWRITE_WEBP_QUALITY, 80}}, {".webp", {cv::IMWRITE_WEBP_QUALITY, 101}},
                              {".tif", {}}, {".bmp", {}}, {".hdr", {}}, {".ppm", {}, CV_8UC3}, {".pgm", {}, CV_8UC1},
                              {".pbm", {}, CV_8UC1}, {".pbm", {cv::IMWRITE_PXM_BINARY, 0}, CV_8UC1}, {".pam", {}}, {".pfm", {}},
                              {".ras", {}}, {".jp2", {}, -1, 32}, {".exr", {}, -1, 1, CV_32F}};
    // The library writes (and reads) OpenEXR only when asked to, before its first use.
#ifdef _WIN32
    _putenv_s("OPENCV_IO_ENABLE_OPENEXR", "1");
#else
    setenv("OPENCV_IO_ENABLE_OPENEXR", "1", 1);
#endif
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(640, 480), cv::Size(3001, 7), cv::Size(5, 2000)}) {
        for (const int type : {CV_8UC3, CV_8UC1}) {
            const cv::Mat picture(size, type, cv::Scalar::all(90));
            for (const Format& format : formats) {
                // A build without a format's library (the Windows one has no JPEG 2000 or OpenEXR).
                if (!cv::haveImageWriter(format.extension)) continue;
                if ((format.onlyType >= 0 && type != format.onlyType) || std::min(size.width, size.height) < format.minSide) continue;
                SCOPED_TRACE(::testing::Message() << format.extension << " " << size << " type " << type);
                cv::Mat converted;
                picture.convertTo(converted, format.depth);
                const std::string bytes = encoded(converted, format.extension, format.params);
                EXPECT_EQ(sizeOfBytes(bytes), size);
                if (std::string(format.extension) == ".jp2") {  // the bare codestream inside it too
                    const size_t codestream = bytes.find("jp2c");
                    ASSERT_NE(codestream, std::string::npos);
                    EXPECT_EQ(sizeOfBytes(bytes.substr(codestream + 4)), size);
                }
            }
        }
    }
}

// Ensure a JPEG's size is found past metadata segments (EXIF and the like before the frame, and
// ones too short to hold their own length), and
// that a frame header patched to claim a huge picture is read as claimed.
TEST(PictureHeader, JpegFrameFoundPastMetadataAndTakenAsDeclared) {
    std::string jpeg = encoded(cv::Mat(30, 40, CV_8UC3, cv::Scalar(1, 2, 3)), ".jpg");
    // An APP1 segment of 0x1002 bytes: its length field, "Exif" and 4092 bytes of data.
    const std::string exif = std::string("\xFF\xE1\x10\x02", 4) + "Exif" + std::string(4092, '\xFF');
    jpeg.insert(2, exif);
    EXPECT_EQ(sizeOfBytes(jpeg), cv::Size(40, 30));
    // A comment and an APP segment whose length fields say 0 and 1: libjpeg reads on right after
    // them, and so must the header reader.
    jpeg.insert(2, std::string("\xFF\xFE\0\0\xFF\xE5\0\x01", 8));
    EXPECT_EQ(sizeOfBytes(jpeg), cv::Size(40, 30));
    const size_t frame = jpeg.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    jpeg[frame + 5] = jpeg[frame + 6] = jpeg[frame + 7] = jpeg[frame + 8] = '\xFF';
    EXPECT_EQ(sizeOfBytes(jpeg), cv::Size(65535, 65535));
}

std::string bigEndianBytes(uint64_t value, int n) {
    std::string bytes;
    for (int i = n - 1; i >= 0; --i) bytes += static_cast<char>(value >> (8 * i));
    return bytes;
}

std::string littleEndianBytes(uint64_t value, int n) {
    std::string bytes;
    for (int i = 0; i < n; ++i) bytes += static_cast<char>(value >> (8 * i));
    return bytes;
}

// Ensure headers written by hand, as a small file declaring a huge picture would be, give the size
// they declare in every format the library decodes: the ones its encoder never writes (comments,
// other orientations, BigTIFF, a codestream with an offset grid) included.
TEST(PictureHeader, HandWrittenHeadersTakenAsDeclared) {
    const std::string jp2Signature = std::string("\0\0\0\x0CjP  \r\n\x87\n", 12);
    // SOC, SIZ: length, capabilities, grid 30000x20500 offset by 1000x500, then a tile size.
    const std::string codestream = std::string("\xFF\x4F\xFF\x51", 4) + bigEndianBytes(47, 2) + bigEndianBytes(0, 2) +
                                   bigEndianBytes(30000, 4) + bigEndianBytes(20500, 4) + bigEndianBytes(1000, 4) +
                                   bigEndianBytes(500, 4) + bigEndianBytes(30000, 4) + bigEndianBytes(20500, 4) +
                                   std::string(16, '\0');
    const std::string bigTiff = std::string("II\x2B\0\x08\0\0\0", 8) + littleEndianBytes(16, 8) + littleEndianBytes(2, 8) +
                                littleEndianBytes(256, 2) + littleEndianBytes(16, 2) + littleEndianBytes(1, 8) +
                                littleEndianBytes(29000, 8) + littleEndianBytes(257, 2) + littleEndianBytes(4, 2) +
                                littleEndianBytes(1, 8) + littleEndianBytes(19000, 8);
    const auto dicomElement = [](uint16_t element, const std::string& vr, const std::string& value) {
        return littleEndianBytes(0x0028, 2) + littleEndianBytes(element, 2) +
               (vr.empty() ? littleEndianBytes(value.size(), 4) : vr + littleEndianBytes(value.size(), 2)) + value;
    };
    const std::string dicomStart = std::string(128, '\0') + "DICM" + littleEndianBytes(2, 2) + littleEndianBytes(0x10, 2) +
                                   "UI" + littleEndianBytes(20, 2) + std::string("1.2.840.10008.1.2.1\0", 20);
    const std::pair<std::string, cv::Size> cases[] = {
        {"P6\n# made by hand\n30000 20000\n255\n", {30000, 20000}},
        {"P6 30000# a comment ends a number\n20000 255\n", {30000, 20000}},
        {dicomStart + dicomElement(0x10, "US", littleEndianBytes(20000, 2)) +
             dicomElement(0x11, "US", littleEndianBytes(30000, 2)),
         {30000, 20000}},
        {dicomStart + dicomElement(0x02, "", littleEndianBytes(1, 2)) + dicomElement(0x10, "", littleEndianBytes(20000, 2)) +
             dicomElement(0x11, "", littleEndianBytes(30000, 2)),
         {30000, 20000}},
        {"P4 30000\t20000\n", {30000, 20000}},
        {"P7\nWIDTH 30000\nHEIGHT 20000\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n", {30000, 20000}},
        {"PF\n30000 20000\n-1.0\n", {30000, 20000}},
        {"#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 20000 +X 30000\n", {30000, 20000}},
        {"#?RGBE\r\nEXPOSURE=1.0\r\n\r\n+X 30000 +Y 20000\r\n", {30000, 20000}},
        {std::string("\x59\xA6\x6A\x95", 4) + bigEndianBytes(30000, 4) + bigEndianBytes(20000, 4) + std::string(20, '\0'),
         {30000, 20000}},
        {"GIF89a" + littleEndianBytes(65535, 2) + littleEndianBytes(65000, 2) + std::string(4, '\0'), {65535, 65000}},
        {codestream, {29000, 20000}},
        {jp2Signature + bigEndianBytes(20, 4) + "ftypjp2 " + std::string(8, '\0') + bigEndianBytes(0, 4) + "jp2c" + codestream,
         {29000, 20000}},
        {bigTiff, {29000, 19000}},
    };
    for (const auto& [bytes, size] : cases) {
        SCOPED_TRACE(::testing::PrintToString(bytes.substr(0, 12)));
        EXPECT_EQ(sizeOfBytes(bytes), size);
    }
}

// Ensure files that are no picture of a known format, or whose header is cut short, declare
// nothing rather than a made-up size.
TEST(PictureHeader, UnknownOrCutShortDeclaresNothing) {
    const std::string png = encoded(cv::Mat(10, 10, CV_8UC3), ".png");
    const std::string jpeg = encoded(cv::Mat(10, 10, CV_8UC3), ".jpg");
    const std::string cases[] = {"",
                                 "This is a shopping list, not a picture.\n",
                                 "GIF89a\x01",
                                 png.substr(0, 20),
                                 jpeg.substr(0, 4),
                                 std::string("\xFF\xD8\xFF\xD9", 4),
                                 std::string("II*\0\x08\0\0\0\0\0", 10),
                                 // A classic TIFF whose width is a LONG8, whose value cannot stand
                                 // in a 12-byte entry: nothing may be read past the entry for it.
                                 std::string("II*\0\x08\0\0\0\x02\0", 10) + littleEndianBytes(256, 2) +
                                     littleEndianBytes(16, 2) + littleEndianBytes(1, 4) + littleEndianBytes(100, 4) +
                                     littleEndianBytes(257, 2) + littleEndianBytes(3, 2) + littleEndianBytes(1, 4) +
                                     littleEndianBytes(100, 4),
                                 "P6\n# a header that never ends" + std::string(100000, 'x'),
                                 "P6 -5 7 255\n",
                                 "P6 99999999999999999999 1 255\n",
                                 "#?RADIANCE\n" + std::string(100000, 'y') + "\n\n-Y 10 +X 10\n",
                                 "#?RADIANCE\n\n-Y 10 -Y 10\n",
                                 std::string("\xFF\x4F\xFF\x51\0\x2F\0\0\0\0\0\x10\0\0\0\x10\0\0\0\x20\0\0\0\0", 24),
                                 std::string("\0\0\0\x0CjP  \r\n\x87\n\0\0\0\0ftyp", 20),
                                 std::string(128, '\0') + "DICM" + std::string("\x28\0\x10\0SQ\0\0\xFF\xFF\xFF\xFF", 12),
                                 std::string(128, '\0') + "DICM\x28\0"};
    for (const std::string& bytes : cases) {
        SCOPED_TRACE(::testing::PrintToString(bytes.substr(0, 12)));
        EXPECT_EQ(sizeOfBytes(bytes), std::nullopt);
    }
    EXPECT_EQ(tonemorph::declaredSize(std::string("/nonexistent/1.jpg")), std::nullopt);
}

}  // namespace
