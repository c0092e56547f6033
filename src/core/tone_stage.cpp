#include "core/tone_stage.h"

#include <opencv2/core.hpp>

#include "core/pixel_kernels.h"

namespace tonemorph {

uchar toneValue(int source, int contrastValue, int brightnessValue) {
    // Separate statements (and -ffp-contract=off) keep every step rounded to double: the
    // result depends on it, e.g. adding brightness and then subtracting 100 differs from
    // adding (brightness - 100) once.
    const double gain = static_cast<double>(contrastValue) * 0.01;
    double v = static_cast<double>(source) * gain;
    v = v + static_cast<double>(brightnessValue);
    v = v - 100.0;
    return cv::saturate_cast<uchar>(v);
}

ToneTable buildToneTable(int contrastValue, int brightnessValue) {
    ToneTable table{};
    for (int source = 0; source < 256; ++source) {
        table[static_cast<size_t>(source)] = toneValue(source, contrastValue, brightnessValue);
    }
    return table;
}

void applyTone(const cv::Mat& src, cv::Mat& dst, int contrastValue, int brightnessValue) {
    CV_Assert(src.depth() == CV_8U);
    // Only 256 inputs exist per setting pair, so a table lookup gives exactly the per-element
    // arithmetic at a fraction of its cost.
    const ToneTable table = buildToneTable(contrastValue, brightnessValue);
    dst.create(src.size(), src.type());
    struct Job {
        const cv::Mat& src;
        cv::Mat& dst;
        const uchar* table;
        size_t rowBytes;
    };
    const Job job{src, dst, table.data(), static_cast<size_t>(src.cols) * src.elemSize()};
    // One captured reference keeps the body small enough for std::function to hold without
    // allocating on every pass. The lookup runs at the instruction-set level in use.
    cv::parallel_for_(cv::Range(0, src.rows), [&job](const cv::Range& rows) {
        const PixelKernels& kernels = pixelKernels();
        for (int y = rows.start; y < rows.end; ++y) {
            kernels.lookup(job.src.ptr<uchar>(y), job.dst.ptr<uchar>(y), job.rowBytes, job.table);
        }
    });
}

}  // namespace tonemorph
