#include "core/effect_pipeline.h"

#include <algorithm>
#include <cstdint>

#include "core/morphology.h"
#include "core/tone_stage.h"

namespace tonemorph {

namespace {

bool samePicture(const cv::Mat& a, const cv::Mat& b) {
    return a.data == b.data && a.size == b.size && a.step == b.step && a.type() == b.type();
}

// Whether kept holds the morphology of src under the settings.
bool keptFor(const cv::Mat& src, const EffectSettings& settings, const KeptMorphology& kept) {
    return samePicture(kept.source, src) && kept.operation == (settings.morphOperation != 0 ? 1 : 0) &&
           kept.kernelSize == settings.kernelSize && kept.shape == morphShapeFor(settings.kernelShape);
}

// Brings kept up to the morphology settings, with at least the rows in [from, to) made, or with
// rows given, those; false for size 0, where the effect is the tone image.
bool keepMorphology(const cv::Mat& src, const EffectSettings& settings, KeptMorphology& kept, int from, int to,
                    const std::vector<int>* rows = nullptr) {
    // A one-pixel element leaves every picture as it is.
    if (settings.kernelSize == 0) return false;
    if (!keptFor(src, settings, kept)) {
        // Forgotten first: should the morphology throw, no half-made result counts as kept.
        kept.operation = -1;
        kept.sampledFrom.release();
        kept.result.create(src.size(), src.type());
        kept.made.assign(static_cast<size_t>(src.rows), 0);
        kept.unmade = src.rows;
        kept.source = src;
        kept.operation = settings.morphOperation != 0 ? 1 : 0;
        kept.kernelSize = settings.kernelSize;
        kept.shape = morphShapeFor(settings.kernelShape);
    }
    if (kept.unmade == 0) return true;
    kept.wanted.assign(static_cast<size_t>(src.rows), 0);
    int wanted = 0;
    const auto want = [&](int y) {
        if (kept.made[static_cast<size_t>(y)] == 0 && kept.wanted[static_cast<size_t>(y)] == 0) {
            kept.wanted[static_cast<size_t>(y)] = 1;
            ++wanted;
        }
    };
    if (rows != nullptr) {
        for (const int y : *rows) want(y);
    } else {
        for (int y = from; y < to; ++y) want(y);
    }
    if (wanted == 0) return true;
    applyMorphologyRows(src, kept.result, kept.operation, settings.kernelSize, settings.kernelShape, kept.wanted);
    for (size_t y = 0; y < kept.wanted.size(); ++y) kept.made[y] = static_cast<uchar>(kept.made[y] | kept.wanted[y]);
    kept.unmade -= wanted;
    return true;
}

}  // namespace

void computeEffect(const cv::Mat& src, cv::Mat& tone, cv::Mat& effect,
                   const EffectSettings& settings, KeptMorphology& kept) {
    applyTone(src, tone, settings.contrastValue, settings.brightnessValue);
    const cv::Mat& morphed = keepMorphology(src, settings, kept, 0, src.rows) ? kept.result : src;
    applyTone(morphed, effect, settings.contrastValue, settings.brightnessValue);
}

void computeShownEffect(const cv::Mat& src, const SampleGrid& grid, cv::Mat& shown,
                        const EffectSettings& settings, KeptMorphology& kept) {
    const cv::Mat& morphed = keepMorphology(src, settings, kept, 0, 0, &grid.rows) ? kept.result : src;
    if (!samePicture(kept.sampledFrom, morphed) || kept.sampleGrid.rows != grid.rows ||
        kept.sampleGrid.cols != grid.cols) {
        kept.sampledFrom.release();  // should the sample throw, it is not taken for whole
        takeSample(morphed, grid, kept.sample);
        kept.sampleGrid = grid;
        kept.sampledFrom = morphed;
    }
    // The tone maps each pixel on its own, so mapping the sample equals sampling the mapped image.
    applyTone(kept.sample, shown, settings.contrastValue, settings.brightnessValue);
}

bool completeEffect(const cv::Mat& src, cv::Mat& tone, cv::Mat& effect, const EffectSettings& settings,
                    KeptMorphology& kept, int& doneRows, int rows) {
    CV_Assert(rows > 0);
    if (doneRows == 0) {
        tone.create(src.size(), src.type());
        effect.create(src.size(), src.type());
    }
    const int end = static_cast<int>(std::min<int64_t>(src.rows, static_cast<int64_t>(doneRows) + rows));
    if (end > doneRows) {
        const bool morphed = keepMorphology(src, settings, kept, doneRows, end);
        const cv::Range band(doneRows, end);
        cv::Mat toneBand = tone.rowRange(band);
        cv::Mat effectBand = effect.rowRange(band);
        applyTone(src.rowRange(band), toneBand, settings.contrastValue, settings.brightnessValue);
        applyTone((morphed ? kept.result : src).rowRange(band), effectBand, settings.contrastValue,
                  settings.brightnessValue);
    }
    doneRows = end;
    return doneRows >= src.rows;
}

bool prepareMorphologyFor(const cv::Mat& src, KeptMorphology& kept, int& doneRows, int rows) {
    CV_Assert(rows > 0);
    // Written only while it holds nothing: a kept morphology's rows are its own.
    if (kept.operation < 0 && doneRows < src.rows) {
        // Begun anew where the result was last made for a picture of another size.
        if (doneRows == 0 || kept.result.size() != src.size() || kept.result.type() != src.type()) {
            kept.result.create(src.size(), src.type());
            doneRows = 0;
        }
        const int end = static_cast<int>(std::min<int64_t>(src.rows, static_cast<int64_t>(doneRows) + rows));
        kept.result.rowRange(doneRows, end).setTo(cv::Scalar::all(0));
        doneRows = end;
        if (doneRows < src.rows) return false;
    }
    prepareMorphology(src.size(), src.channels());
    return true;
}

}  // namespace tonemorph
