// Picture files mutated from crafted and encoders' ones, given to the judge and, where it lets them
// through, to the decoder. A file the judge passes whose decoding takes far longer than a plain
// picture of its size in its format takes is a failure; one that takes more memory than the
// budget ends the run through libFuzzer's memory limit (`make fuzz` sets it). Pictures are kept
// to a megapixel so that each decode takes milliseconds.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>

#include "core/decode_work.h"
#include "core/memory_budget.h"
#include "core/picture_header.h"

namespace {

constexpr int64_t kMostPixels = int64_t{1} << 20;
// The memory this run stands for (`make fuzz` gives libFuzzer twice this as its limit): a file
// the program's memory check would refuse with this much available is not decoded.
constexpr int64_t kBudget = int64_t{1} << 30;
// A decode may take this many times the plain picture's, and a second more: the judge lets
// through some fixed extra work whatever the picture (16 million pixels of TIFF pieces, two
// million of JPEG 2000 tiles), which dwarfs a small picture's decode, and the sanitizers make it
// and large allocations slow (a corpus TIFF of JPEG strips with tall rows takes 0.34 s here on
// one machine, under 0.25 on another); the slow files the judge is there for take many seconds.
constexpr double kMostSlowdown = 8.0;
constexpr double kSlack = 1.0;

// The encoder's extension for what data's first bytes say it is; empty where there is no encoder
// to make a plain picture of the same kind with.
std::string extensionOf(const uint8_t* data, size_t size) {
    const auto starts = [&](const char* magic, size_t n) { return size >= n && std::memcmp(data, magic, n) == 0; };
    if (starts("\xFF\xD8", 2)) return ".jpg";
    if (starts("\x89PNG", 4)) return ".png";
    if (starts("II*\0", 4) || starts("MM\0*", 4)) return ".tif";
    if (starts("\0\0\0\x0CjP  ", 8) || starts("\xFF\x4F\xFF\x51", 4)) return ".jp2";
    return {};
}

double seconds(const std::vector<uint8_t>& bytes) {
    const auto start = std::chrono::steady_clock::now();
    try {
        const cv::Mat picture = cv::imdecode(bytes, cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        // A decoder that refuses the file by throwing: its time until then is what counts.
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// How long the decoder takes over a picture of noise of this size in this format, once measured.
double plainSeconds(const std::string& extension, cv::Size size) {
    static std::map<std::pair<std::string, std::pair<int, int>>, double> measured;
    const auto key = std::make_pair(extension, std::make_pair(size.width, size.height));
    const auto found = measured.find(key);
    if (found != measured.end()) return found->second;
    cv::Mat noise(size, CV_8UC3);
    cv::randu(noise, 0, 256);
    std::vector<uint8_t> bytes;
    double best = -1;  // no plain picture to be had of this size (the encoder refuses it)
    try {
        if (cv::imencode(extension, noise, bytes)) {
            best = seconds(bytes);
            for (int i = 0; i < 2; ++i) best = std::min(best, seconds(bytes));
        }
    } catch (const cv::Exception&) {
    }
    return measured[key] = best;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
        return true;
    }();
    (void)quiet;
    const std::optional<cv::Size> declared = tonemorph::declaredSize(data, size);
    if (!declared || int64_t{declared->width} * declared->height > kMostPixels) return 0;
    if (!tonemorph::excessiveDecodeWork(data, size).empty()) return 0;
    if (tonemorph::memoryNeeded(*declared) + tonemorph::decoderBytesBeyondPicture(data, size) > kBudget) return 0;
    const std::string extension = extensionOf(data, size);
    if (extension.empty()) return 0;
    std::vector<uint8_t> bytes(data, data + size);
    tonemorph::endJpegAsFromAFile(bytes);
    const double plain = plainSeconds(extension, *declared);
    if (plain < 0) return 0;
    const double taken = seconds(bytes);
    // Slow three times over: a first decode may pay for the library's own start.
    const double most = kMostSlowdown * plain + kSlack;
    if (taken > most && seconds(bytes) > most && seconds(bytes) > most) {
        std::fprintf(stderr, "judged fit, but a %dx%d %s took %.3f s to decode where a plain one takes %.3f s\n",
                     declared->width, declared->height, extension.c_str(), taken, plain);
        std::abort();
    }
    return 0;
}
