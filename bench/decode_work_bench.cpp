// What judging a file before decoding costs beside decoding it, on a 12-megapixel photo-like
// picture in the formats the judge reads (a JPEG inside a TIFF or a DICOM file included); and what the worst files the judge lets through cost
// to decode beside a plain file of the same picture (a JPEG at the limit on scans, a TIFF whose
// tiles reach past a small picture as far as allowed).
#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "core/decode_work.h"
#include "photo_like.h"
#include "support/crafted_files.h"

namespace {

const std::string& file(int which) {
    static const std::vector<std::string> files = [] {
        const cv::Mat photo = photoLike(cv::Size(4000, 3000));
        // The last scan repeated as often as the judge lets through.
        std::string atLimit;
        for (int repeats = 0;; ++repeats) {
            std::string next = crafted::progressiveJpeg({4000, 4000}, repeats);
            if (!tonemorph::excessiveDecodeWork(reinterpret_cast<const uint8_t*>(next.data()), next.size()).empty()) break;
            atLimit = std::move(next);
        }
        return std::vector<std::string>{crafted::encoded(photo, ".jpg"),
                                        crafted::encoded(photo, ".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1}),
                                        crafted::encoded(photo, ".png"),
                                        crafted::encoded(photo, ".tif"),
                                        crafted::progressiveJpeg({4000, 4000}, 0),
                                        atLimit,
                                        crafted::blackGreyPng(4000, 3000),
                                        crafted::encoded(photo, ".jp2"),
                                        crafted::tiff(4000, 3000, {4000, 3000}, false,
                                                      {crafted::encoded(photo, ".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1})}, 7),
                                        crafted::dicomWithJpeg(crafted::encoded(photo, ".jpg"), 3000, 4000, 4)};
    }();
    return files[static_cast<size_t>(which)];
}

const char* const kNames[] = {"photo JPEG", "photo progressive JPEG", "photo PNG", "photo TIFF",
                              "plain progressive JPEG 4000x4000", "the same at the limit on scans",
                              "plain grey PNG", "photo JPEG 2000", "photo as a JPEG strip in a TIFF",
                              "photo JPEG in a DICOM file"};

void BM_Judge(benchmark::State& state) {
    const std::string& bytes = file(static_cast<int>(state.range(0)));
    state.SetLabel(kNames[state.range(0)]);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            tonemorph::excessiveDecodeWork(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    }
}
BENCHMARK(BM_Judge)->DenseRange(0, 9)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Decode(benchmark::State& state) {
    const std::string& bytes = file(static_cast<int>(state.range(0)));
    const std::vector<uchar> data(bytes.begin(), bytes.end());
    state.SetLabel(kNames[state.range(0)]);
    for (auto _ : state) benchmark::DoNotOptimize(cv::imdecode(data, cv::IMREAD_COLOR));
}
BENCHMARK(BM_Decode)->DenseRange(0, 9)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
