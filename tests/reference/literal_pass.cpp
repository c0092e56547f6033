#include "reference/literal_pass.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

namespace reference {

namespace {
int shapeCode(int kernelShape) {
    return kernelShape == 1 ? cv::MORPH_CROSS : kernelShape == 2 ? cv::MORPH_ELLIPSE : cv::MORPH_RECT;
}
cv::Mat element(int kernelSize, int kernelShape) {
    return cv::getStructuringElement(shapeCode(kernelShape),
                                     cv::Size(2 * kernelSize + 1, 2 * kernelSize + 1),
                                     cv::Point(kernelSize, kernelSize));
}
}  // namespace

void literalTone(const cv::Mat& src, cv::Mat& dst, int contrastValue, int brightnessValue) {
    dst.create(src.size(), src.type());
    for (int y = 0; y < src.rows; ++y) {
        for (int x = 0; x < src.cols; ++x) {
            for (int c = 0; c < 3; ++c) {
                const double gain = contrastValue * 0.01;
                double v = src.at<cv::Vec3b>(y, x)[c] * gain;
                v = v + brightnessValue;
                v = v - 100.0;
                dst.at<cv::Vec3b>(y, x)[c] = cv::saturate_cast<uchar>(v);
            }
        }
    }
}

void libraryMorphology(const cv::Mat& src, cv::Mat& dst, int morphOperation, int kernelSize,
                       int kernelShape) {
    const cv::Mat kernel = element(kernelSize, kernelShape);
    if (morphOperation == 0) {
        cv::erode(src, dst, kernel, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                  cv::morphologyDefaultBorderValue());
    } else {
        cv::dilate(src, dst, kernel, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                   cv::morphologyDefaultBorderValue());
    }
}

void bruteForceMorphology(const cv::Mat& src, cv::Mat& dst, int morphOperation, int kernelSize,
                          int kernelShape) {
    const cv::Mat kernel = element(kernelSize, kernelShape);
    const int channels = src.channels();
    cv::Mat out(src.size(), src.type());
    for (int y = 0; y < src.rows; ++y) {
        for (int x = 0; x < src.cols; ++x) {
            for (int c = 0; c < channels; ++c) {
                int best = morphOperation == 0 ? 255 : 0;
                for (int dy = -kernelSize; dy <= kernelSize; ++dy) {
                    for (int dx = -kernelSize; dx <= kernelSize; ++dx) {
                        const int yy = y + dy;
                        const int xx = x + dx;
                        if (!kernel.at<uchar>(dy + kernelSize, dx + kernelSize)) continue;
                        if (yy < 0 || yy >= src.rows || xx < 0 || xx >= src.cols) continue;
                        const int v = src.ptr<uchar>(yy)[xx * channels + c];
                        best = morphOperation == 0 ? std::min(best, v) : std::max(best, v);
                    }
                }
                out.ptr<uchar>(y)[x * channels + c] = static_cast<uchar>(best);
            }
        }
    }
    dst = out;
}

void literalPass(const cv::Mat& src, cv::Mat& tone, cv::Mat& effect,
                 const tonemorph::EffectSettings& settings) {
    literalTone(src, tone, settings.contrastValue, settings.brightnessValue);
    libraryMorphology(tone, effect, settings.morphOperation, settings.kernelSize,
                      settings.kernelShape);
}

}  // namespace reference
