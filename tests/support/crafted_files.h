// Picture files made for tests: encoded by the library, then changed the way a file made to
// hurt a decoder would be. Shared by the unit and GUI tests.
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace crafted {

// picture encoded as a file of the given extension; empty where the library cannot write it.
inline std::string encoded(const cv::Mat& picture, const std::string& extension, const std::vector<int>& params = {}) {
    std::vector<uchar> bytes;
    if (!cv::haveImageWriter(extension) || !cv::imencode(extension, picture, bytes, params)) return {};
    return std::string(bytes.begin(), bytes.end());
}

// A progressive JPEG of a plain picture of the given size whose last scan (a refinement of the
// luma) is repeated the given number of times: each repeat costs the decoder another pass over
// the luma while adding a few bytes to the file. The decoder only warns and goes on.
inline std::string progressiveJpeg(cv::Size size, int repeats) {
    const cv::Mat picture(size, CV_8UC3, cv::Scalar(60, 120, 180));
    std::string jpeg = encoded(picture, ".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1});
    const size_t lastScan = jpeg.rfind("\xFF\xDA");
    const size_t end = jpeg.rfind("\xFF\xD9");
    if (lastScan == std::string::npos || end == std::string::npos || end < lastScan) return jpeg;
    const std::string scan = jpeg.substr(lastScan, end - lastScan);
    std::string repeated;
    repeated.reserve(scan.size() * static_cast<size_t>(repeats));
    for (int i = 0; i < repeats; ++i) repeated += scan;
    return jpeg.insert(end, repeated);
}

}  // namespace crafted
