// libFuzzer target: turns its input into the instruction-set level the pixel loops run at, an
// image size, an optional frame around the image (so the pass reads a view into a larger
// picture), a sequence of slider moves (each moving the tone, the morphology or both) and the
// pixels, then checks every pass of the sequence, which reuses the kept morphology result as the
// program does, against the literal one: element-by-element tone arithmetic and the library's
// erode/dilate. A move may instead compute only the pixels a window shows on a grid of any size
// first, then the full-resolution images in bands of any height: the shown pixels must be those of
// the literal effect, and the completed images the literal ones. Any difference aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <opencv2/core.hpp>

#include "core/effect_pipeline.h"
#include "core/morphology.h"
#include "core/simd_level.h"
#include "reference/literal_pass.h"

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    int next() { return at < size ? data[at++] : 0; }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    cv::setNumThreads(1);  // the pass must be exact whatever the tiling; one thread keeps runs repeatable
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    static const std::vector<tonemorph::SimdLevel> levels = tonemorph::supportedSimdLevels();
    tonemorph::useSimdLevel(levels[static_cast<size_t>(in.next()) % levels.size()]);
    const int rows = 1 + in.next() % 96;
    const int cols = 1 + (in.next() | (in.next() << 8)) % 700;
    const int frame = in.next() % 4;  // 0: a whole image; otherwise a view with this margin
    const int frameValue = in.next();
    // Each move: a byte saying what moves (bit 0 the tone, bit 1 the morphology), then the values.
    const int moveCount = 1 + in.next() % 6;
    std::vector<tonemorph::EffectSettings> moves;
    // Per move: 0 a whole pass, else the shown pixels on a grid of this many columns and rows
    // (each at most the picture's) first, then bands of this many rows.
    struct Shown {
        bool first;
        int cols;
        int rows;
        int band;
    };
    std::vector<Shown> shownFirst;
    tonemorph::EffectSettings settings;
    for (int m = 0; m < moveCount; ++m) {
        const int what = m == 0 ? 3 : 1 + in.next() % 3;
        if (what & 2) {
            settings.morphOperation = in.next() % 2;
            settings.kernelSize = in.next() % 22;
            settings.kernelShape = in.next() % 3;
        }
        if (what & 1) {
            settings.contrastValue = (in.next() | (in.next() << 8)) % 301;
            settings.brightnessValue = in.next() % 201;
        }
        moves.push_back(settings);
        const int how = in.next();
        shownFirst.push_back({(how & 1) != 0, 1 + in.next() % cols, 1 + in.next() % rows, 1 + (how >> 1) % 16});
    }

    cv::Mat whole(rows + 2 * frame, cols + 2 * frame, CV_8UC3, cv::Scalar::all(frameValue));
    cv::Mat src = whole(cv::Rect(frame, frame, cols, rows));
    const size_t pixelBytes = in.size > in.at ? in.size - in.at : 0;
    size_t i = 0;
    for (int y = 0; y < rows; ++y) {
        uchar* row = src.ptr<uchar>(y);
        for (int x = 0; x < cols * 3; ++x, ++i) {
            // Cycle through the remaining input, varied by position so short inputs still make
            // textured pictures.
            row[x] = pixelBytes ? static_cast<uchar>(in.data[in.at + i % pixelBytes] + i / pixelBytes * 37)
                                : static_cast<uchar>(i * 7);
        }
    }

    cv::Mat tone;
    cv::Mat effect;
    tonemorph::KeptMorphology kept;
    for (size_t m = 0; m < moves.size(); ++m) {
        settings = moves[m];
        cv::Mat literalTone;
        cv::Mat literalEffect;
        reference::literalPass(src, literalTone, literalEffect, settings);
        const Shown& way = shownFirst[m];
        if (way.first) {
            const tonemorph::SampleGrid grid = tonemorph::makeSampleGrid(src.size(), {way.cols, way.rows});
            cv::Mat shown;
            cv::Mat literalShown;
            tonemorph::computeShownEffect(src, grid, shown, settings, kept);
            tonemorph::takeSample(literalEffect, grid, literalShown);
            if (cv::norm(shown, literalShown, cv::NORM_INF) != 0) {
                std::fprintf(stderr, "shown pixels mismatch at level %s: %dx%d shown at %dx%d, operation %d, size %d, shape %d, contrast %d, brightness %d\n",
                             tonemorph::simdLevelName(tonemorph::simdLevel()), cols, rows, way.cols, way.rows, settings.morphOperation,
                             settings.kernelSize, settings.kernelShape, settings.contrastValue, settings.brightnessValue);
                std::abort();
            }
            int doneRows = 0;
            while (!tonemorph::completeEffect(src, tone, effect, settings, kept, doneRows, way.band)) {
            }
        } else {
            tonemorph::computeEffect(src, tone, effect, settings, kept);
        }
        if (cv::norm(tone, literalTone, cv::NORM_INF) != 0 ||
            cv::norm(effect, literalEffect, cv::NORM_INF) != 0) {
            std::fprintf(stderr, "mismatch at level %s: %dx%d frame %d, operation %d, size %d, shape %d, contrast %d, brightness %d\n",
                         tonemorph::simdLevelName(tonemorph::simdLevel()), cols, rows, frame, settings.morphOperation, settings.kernelSize,
                         settings.kernelShape, settings.contrastValue, settings.brightnessValue);
            std::abort();
        }
    }
    // The morphology alone on the view itself: its frame must count as outside the image.
    cv::Mat fromView;
    cv::Mat fromCopy;
    tonemorph::applyMorphology(src, fromView, settings.morphOperation, settings.kernelSize,
                               settings.kernelShape);
    reference::libraryMorphology(src.clone(), fromCopy, settings.morphOperation,
                                 settings.kernelSize, settings.kernelShape);
    if (cv::norm(fromView, fromCopy, cv::NORM_INF) != 0) {
        std::fprintf(stderr, "view mismatch at level %s: %dx%d frame %d, operation %d, size %d, shape %d\n",
                     tonemorph::simdLevelName(tonemorph::simdLevel()), cols, rows, frame, settings.morphOperation, settings.kernelSize, settings.kernelShape);
        std::abort();
    }
    return 0;
}
