#include "core/tone_stage.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

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

ToneProgram toneProgram(const uchar* table, int contrastValue, int brightnessValue) {
    ToneProgram tone;
    tone.table = table;
    // The most fractional bits the gain (contrast / 100) can have as a 16-bit multiplier; the
    // brightness is whole, so its offset needs only the rounding half below the shift.
    int shift = 15;
    while (shift > 7 && ((static_cast<int64_t>(contrastValue) << shift) + 50) / 100 > INT16_MAX) --shift;
    const int64_t gain = ((static_cast<int64_t>(contrastValue) << shift) + 50) / 100;
    const int64_t offset = (static_cast<int64_t>(brightnessValue) - 100) * 128 + 64;
    if (contrastValue < 0 || gain > INT16_MAX || offset < INT16_MIN || offset > INT16_MAX) return tone;
    tone.gain = static_cast<int16_t>(gain);
    tone.unit = static_cast<int16_t>(1 << (shift - 7));
    tone.offset = static_cast<int16_t>(offset);
    tone.shift = shift;
    for (int x = 0; x < 256; ++x) {
        const int64_t value = std::clamp<int64_t>((x * gain + tone.unit * offset) >> shift, 0, 255);
        const int difference = table[x] - static_cast<int>(value);
        if (difference == 0) continue;
        // One correction for all: a second kind of difference keeps the table.
        if (std::abs(difference) != 1 || (tone.correction != 0 && difference != tone.correction)) return tone;
        tone.correction = difference;
        uchar* set = x < 128 ? tone.setLow : tone.setHigh;
        set[x & 15] = static_cast<uchar>(set[x & 15] | (1 << ((x >> 4) & 7)));
    }
    tone.arithmetic = true;
    return tone;
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
        ToneProgram tone;
        size_t rowBytes;
    };
    const Job job{src, dst, toneProgram(table.data(), contrastValue, brightnessValue),
                  static_cast<size_t>(src.cols) * src.elemSize()};
    // One captured reference keeps the body small enough for std::function to hold without
    // allocating on every pass. The lookup runs at the instruction-set level in use.
    cv::parallel_for_(cv::Range(0, src.rows), [&job](const cv::Range& rows) {
        const PixelKernels& kernels = pixelKernels();
        for (int y = rows.start; y < rows.end; ++y) {
            kernels.lookup(job.src.ptr<uchar>(y), job.dst.ptr<uchar>(y), job.rowBytes, job.tone);
        }
    });
}

}  // namespace tonemorph
