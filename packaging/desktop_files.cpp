// Makes what a Linux desktop needs to list tonemorph and offer it for pictures: its desktop entry,
// listing the picture types this build of the library decodes (asked of the library itself), and
// its icon in the sizes of the hicolor theme, drawn here.
//   desktop_files TEMPLATE OUTPUT_FOLDER
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// A picture type and the first bytes of a file of it, by which the library's readers know it.
struct PictureType {
    const char* mime;
    std::string signature;
};

// The types a desktop knows by name (shared-mime-info) that some build of the library reads.
// OpenEXR is left out: the library reads it only where the user has enabled it.
std::vector<PictureType> candidates() {
    // WebP's reader wants a whole valid header: a small picture the library writes, where it can.
    std::vector<uchar> webp;
    if (cv::haveImageWriter(".webp")) cv::imencode(".webp", cv::Mat(2, 2, CV_8UC3, cv::Scalar::all(0)), webp);
    const std::string riff(webp.begin(), webp.end());
    return {
        {"image/jpeg", std::string("\xFF\xD8\xFF\xE0", 4)},
        {"image/png", std::string("\x89PNG\r\n\x1A\n", 8)},
        {"image/tiff", std::string("II*\0", 4)},
        {"image/webp", riff},
        {"image/bmp", "BM" + std::string(52, '\0')},
        {"image/x-portable-bitmap", "P4\n1 1\n"},
        {"image/x-portable-graymap", "P5\n1 1\n255\n"},
        {"image/x-portable-pixmap", "P6\n1 1\n255\n"},
        {"image/x-portable-anymap", "P6\n1 1\n255\n"},
        {"image/x-sun-raster", std::string("\x59\xA6\x6A\x95", 4) + std::string(28, '\0')},
        {"image/jp2", std::string("\0\0\0\x0CjP  \r\n\x87\n", 12)},
        {"image/x-jp2-codestream", std::string("\xFF\x4F\xFF\x51", 4)},
        {"image/gif", "GIF89a"},
        {"application/dicom", std::string(128, '\0') + "DICM"},
    };
}

std::string decodedTypes(const std::filesystem::path& scratch) {
    std::string list;
    for (const PictureType& type : candidates()) {
        std::ofstream(scratch, std::ios::binary) << type.signature << std::string(64, '\0');
        bool readable = false;
        try {
            readable = cv::haveImageReader(scratch.string());
        } catch (const cv::Exception&) {
        }
        if (readable) list += std::string(type.mime) + ";";
    }
    std::filesystem::remove(scratch);
    return list;
}

// The icon at 1024x1024: on the tool's blue, a picture whose left half is as taken and whose right
// half is eroded into blocks, above a slider.
cv::Mat drawIcon() {
    const int size = 1024;
    cv::Mat icon(size, size, CV_8UC4, cv::Scalar(0, 0, 0, 0));
    const cv::Scalar blue(150, 60, 20, 255);  // BGRA
    const int radius = 180;
    const int edge = 40;
    cv::rectangle(icon, {edge + radius, edge}, {size - edge - radius, size - edge}, blue, cv::FILLED, cv::LINE_AA);
    cv::rectangle(icon, {edge, edge + radius}, {size - edge, size - edge - radius}, blue, cv::FILLED, cv::LINE_AA);
    for (const cv::Point corner : {cv::Point(edge + radius, edge + radius), cv::Point(size - edge - radius, edge + radius),
                                   cv::Point(edge + radius, size - edge - radius),
                                   cv::Point(size - edge - radius, size - edge - radius)}) {
        cv::circle(icon, corner, radius, blue, cv::FILLED, cv::LINE_AA);
    }
    // The picture: a warm sky over two dark hills and a sun.
    const cv::Rect frame(150, 150, 724, 520);
    cv::Mat scene(frame.size(), CV_8UC3);
    for (int r = 0; r < scene.rows; ++r) {
        const double t = static_cast<double>(r) / scene.rows;
        scene.row(r).setTo(cv::Scalar(90 + 100 * t, 150 + 60 * t, 250));
    }
    cv::circle(scene, {500, 170}, 85, cv::Scalar(120, 235, 255), cv::FILLED, cv::LINE_AA);
    std::vector<cv::Point> hills;
    for (int x = 0; x <= scene.cols; x += 8) {
        hills.emplace_back(x, static_cast<int>(330 + 70 * std::sin(x / 110.0) + 40 * std::sin(x / 47.0)));
    }
    hills.emplace_back(scene.cols, scene.rows);
    hills.emplace_back(0, scene.rows);
    cv::fillPoly(scene, std::vector<std::vector<cv::Point>>{hills}, cv::Scalar(70, 95, 40), cv::LINE_AA);
    // The right half eroded with a large square: what the tool does, seen at icon size.
    cv::Mat eroded;
    cv::erode(scene, eroded, cv::getStructuringElement(cv::MORPH_RECT, {61, 61}));
    eroded(cv::Rect(scene.cols / 2, 0, scene.cols - scene.cols / 2, scene.rows))
        .copyTo(scene(cv::Rect(scene.cols / 2, 0, scene.cols - scene.cols / 2, scene.rows)));
    cv::line(scene, {scene.cols / 2, 0}, {scene.cols / 2, scene.rows}, cv::Scalar(255, 255, 255), 8);
    cv::Mat sceneAlpha;
    cv::cvtColor(scene, sceneAlpha, cv::COLOR_BGR2BGRA);
    sceneAlpha.copyTo(icon(frame));
    cv::rectangle(icon, frame, cv::Scalar(255, 255, 255, 255), 14, cv::LINE_AA);
    // The slider.
    cv::line(icon, {190, 800}, {834, 800}, cv::Scalar(255, 255, 255, 255), 26, cv::LINE_AA);
    cv::circle(icon, {600, 800}, 58, cv::Scalar(255, 255, 255, 255), cv::FILLED, cv::LINE_AA);
    cv::circle(icon, {600, 800}, 30, blue, cv::FILLED, cv::LINE_AA);
    return icon;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: desktop_files TEMPLATE OUTPUT_FOLDER\n");
        return 2;
    }
    const std::filesystem::path out = argv[2];
    std::ifstream in(argv[1]);
    std::string entry{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string marker = "@MIME_TYPES@";
    const size_t at = entry.find(marker);
    if (!in || at == std::string::npos) {
        std::fprintf(stderr, "desktop_files: no %s in %s\n", marker.c_str(), argv[1]);
        return 1;
    }
    std::filesystem::create_directories(out);
    entry.replace(at, marker.size(), decodedTypes(out / "signature.tmp"));
    std::ofstream(out / "tonemorph.desktop") << entry;
    const cv::Mat icon = drawIcon();
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
        const std::filesystem::path folder = out / "icons" / "hicolor" / (std::to_string(size) + "x" + std::to_string(size)) / "apps";
        std::filesystem::create_directories(folder);
        cv::Mat scaled;
        cv::resize(icon, scaled, {size, size}, 0, 0, cv::INTER_AREA);
        if (!cv::imwrite((folder / "tonemorph.png").string(), scaled)) return 1;
    }
    return 0;
}
