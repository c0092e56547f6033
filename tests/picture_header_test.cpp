#include "core/picture_header.h"

#include <gtest/gtest.h>

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
    };
    const Format formats[] = {{".png", {}}, {".jpg", {}}, {".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1}},
                              {".webp", {cv::IMWRITE_WEBP_QUALITY, 80}}, {".webp", {cv::IMWRITE_WEBP_QUALITY, 101}},
                              {".tif", {}}, {".bmp", {}}};
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(640, 480), cv::Size(3001, 7), cv::Size(5, 2000)}) {
        for (const int type : {CV_8UC3, CV_8UC1}) {
            const cv::Mat picture(size, type, cv::Scalar::all(90));
            for (const Format& format : formats) {
                SCOPED_TRACE(::testing::Message() << format.extension << " " << size << " type " << type);
                EXPECT_EQ(sizeOfBytes(encoded(picture, format.extension, format.params)), size);
            }
        }
    }
}

// Ensure a JPEG's size is found past metadata segments (EXIF and the like before the frame), and
// that a frame header patched to claim a huge picture is read as claimed.
TEST(PictureHeader, JpegFrameFoundPastMetadataAndTakenAsDeclared) {
    std::string jpeg = encoded(cv::Mat(30, 40, CV_8UC3, cv::Scalar(1, 2, 3)), ".jpg");
    // An APP1 segment of 0x1002 bytes: its length field, "Exif" and 4092 bytes of data.
    const std::string exif = std::string("\xFF\xE1\x10\x02", 4) + "Exif" + std::string(4092, '\xFF');
    jpeg.insert(2, exif);
    EXPECT_EQ(sizeOfBytes(jpeg), cv::Size(40, 30));
    const size_t frame = jpeg.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    jpeg[frame + 5] = jpeg[frame + 6] = jpeg[frame + 7] = jpeg[frame + 8] = '\xFF';
    EXPECT_EQ(sizeOfBytes(jpeg), cv::Size(65535, 65535));
}

// Ensure files that are no picture of a known format, or whose header is cut short, declare
// nothing rather than a made-up size.
TEST(PictureHeader, UnknownOrCutShortDeclaresNothing) {
    const std::string png = encoded(cv::Mat(10, 10, CV_8UC3), ".png");
    const std::string jpeg = encoded(cv::Mat(10, 10, CV_8UC3), ".jpg");
    const std::string cases[] = {"",
                                 "This is a shopping list, not a picture.\n",
                                 "GIF89a\x01\x00\x01\x00",
                                 png.substr(0, 20),
                                 jpeg.substr(0, 4),
                                 std::string("\xFF\xD8\xFF\xD9", 4),
                                 std::string("II*\0\x08\0\0\0\0\0", 10)};
    for (const std::string& bytes : cases) {
        SCOPED_TRACE(::testing::PrintToString(bytes.substr(0, 12)));
        EXPECT_EQ(sizeOfBytes(bytes), std::nullopt);
    }
    EXPECT_EQ(tonemorph::declaredSize(std::string("/nonexistent/1.jpg")), std::nullopt);
}

}  // namespace
