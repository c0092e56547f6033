#include "core/tone_stage.h"

#include <opencv2/core.hpp>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tonemorph {

namespace {

#if defined(__x86_64__)
// 64 table lookups per step: two 128-entry byte permutes cover the table's halves and the top
// bit of each index picks between them. Processors with AVX-512 VBMI only.
__attribute__((target("avx512f,avx512bw,avx512vbmi")))
void lookupRow(const uchar* src, uchar* dst, int n, const uchar* table) {
    const __m512i t0 = _mm512_loadu_si512(table);
    const __m512i t1 = _mm512_loadu_si512(table + 64);
    const __m512i t2 = _mm512_loadu_si512(table + 128);
    const __m512i t3 = _mm512_loadu_si512(table + 192);
    int i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i index = _mm512_loadu_si512(src + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, index, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, index, t3);
        _mm512_storeu_si512(dst + i, _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high));
    }
    for (; i < n; ++i) dst[i] = table[src[i]];
}

bool hasByteShuffles() {
    static const bool supported = __builtin_cpu_supports("avx512bw") &&
                                  __builtin_cpu_supports("avx512vbmi");
    return supported;
}
#else
void lookupRow(const uchar* src, uchar* dst, int n, const uchar* table) {
    for (int i = 0; i < n; ++i) dst[i] = table[src[i]];
}
bool hasByteShuffles() { return false; }
#endif

}  // namespace

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
    if (!hasByteShuffles()) {
        const cv::Mat lut(1, 256, CV_8U, const_cast<uchar*>(table.data()));
        cv::LUT(src, lut, dst);
        return;
    }
    struct Job {
        const cv::Mat& src;
        cv::Mat& dst;
        const uchar* table;
        int rowBytes;
    };
    const Job job{src, dst, table.data(), src.cols * static_cast<int>(src.elemSize())};
    // One captured reference keeps the body small enough for std::function to hold without
    // allocating on every pass.
    cv::parallel_for_(cv::Range(0, src.rows), [&job](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            lookupRow(job.src.ptr<uchar>(y), job.dst.ptr<uchar>(y), job.rowBytes, job.table);
        }
    });
}

}  // namespace tonemorph
