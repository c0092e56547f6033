#include "core/tone_stage.h"

#include <opencv2/core.hpp>

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
    const cv::Mat lut(1, 256, CV_8U, const_cast<uchar*>(table.data()));
    dst.create(src.size(), src.type());
    cv::LUT(src, lut, dst);
}

}  // namespace tonemorph
