#include "core/morphology.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "core/morphology_job.h"
#include "core/pixel_kernels.h"

namespace tonemorph {

int morphShapeFor(int kernelShape) {
    switch (kernelShape) {
        case 1: return cv::MORPH_CROSS;
        case 2: return cv::MORPH_ELLIPSE;
        default: return cv::MORPH_RECT;
    }
}

cv::Mat structuringElement(int kernelSize, int kernelShape) {
    const int side = 2 * kernelSize + 1;
    return cv::getStructuringElement(morphShapeFor(kernelShape), cv::Size(side, side),
                                     cv::Point(kernelSize, kernelSize));
}

namespace {

// The element's rows as runs; false if some row is not one contiguous run.
bool elementRuns(const cv::Mat& element, int k, std::vector<RowRun>& runs) {
    runs.clear();
    for (int y = 0; y < element.rows; ++y) {
        const uchar* row = element.ptr<uchar>(y);
        int from = -1;
        int to = -1;
        for (int x = 0; x < element.cols; ++x) {
            if (!row[x]) continue;
            if (from < 0) from = x;
            else if (to != x - 1) return false;
            to = x;
        }
        if (from < 0) return false;
        runs.push_back({from - k, to - from + 1, floorLog2(to - from + 1)});
    }
    return true;
}

// Bytes of each stripe's two scratch buffers.
struct ScratchBytes {
    size_t levels;
    size_t columns;
};

// Lays out job's tiles and stripes for its geometry and shape, and gives the scratch each stripe
// needs.
ScratchBytes planJob(TileJob& job) {
    const int k = job.g.k;
    const int shape = job.shape;
    const int rows = job.g.rows;
    const int cols = job.g.cols;
    const int channels = job.g.channels;
    // The smallest crosses and ellipses are cheapest read pixel by pixel: building levels or
    // column passes for runs of at most five pixels costs more than it saves. So is the 3x3
    // rectangle (two pairs from each of three rows); the 5x5 one already is not.
    job.direct = k <= (shape == cv::MORPH_RECT ? 1 : kDirectMaxSize);
    // Tiles small enough that a tile's scratch stays in the core's own cache. The ellipse keeps
    // only a ring of rows, so its tiles can be tall and wide, which saves remaking the rows and
    // columns neighbouring tiles share: at 1024 columns a pass for a 48-megapixel picture's sample
    // took a quarter less time than at 256, and a whole pass less too.
    const bool ring = shape == cv::MORPH_ELLIPSE && !job.direct;
    job.tileRows = ring ? 256 : 128;
    job.tileCols = ring ? 1024 : 512;
    job.tilesAcross = (cols + job.tileCols - 1) / job.tileCols;
    job.tiles = job.tilesAcross * ((rows + job.tileRows - 1) / job.tileRows);
    // Scratch belongs to stripes of tiles, not to threads: it is all sized here, before the
    // threads start, so once the picture size and settings are set no pass allocates, whichever
    // threads happen to run the stripes.
    job.stripes = std::min(job.tiles, 2 * std::max(1, cv::getNumThreads()));
    const int tileRows = std::min(job.tileRows, rows);
    const int tileBytes = std::min(job.tileCols, cols) * channels;
    const int levelStride = (std::min(job.tileCols, cols) + 2 * k) * channels;
    const int levelCount = job.direct ? 1 : floorLog2(2 * k + 1) + 1;
    // The direct form keeps a padded copy of every row of a tile; the others one row's levels.
    const size_t levelRows = job.direct ? tileRows + 2 * k : 1;
    const size_t levelBytes = levelRows * static_cast<size_t>(levelCount) * static_cast<size_t>(levelStride);
    // The ring: 2k+1 rows of at most k+1 classes (the element is symmetric), each whole vectors.
    const size_t classStride = static_cast<size_t>((tileBytes + 63) / 64 * 64);
    // Or, where few rows are wanted, at most k+1 rows of column extremes, k columns wider each side.
    const size_t keptStride = static_cast<size_t>((levelStride + 63) / 64 * 64);
    const size_t ringBytes = std::max(static_cast<size_t>(2 * k + 1) * static_cast<size_t>(k + 1) * classStride,
                                      static_cast<size_t>(k + 1) * keptStride);
    const size_t columnBytes =
        ring ? ringBytes + 64
        : job.direct ? 1 : 2 * static_cast<size_t>(tileRows + 2 * k) * static_cast<size_t>(levelStride) + kScratchSlack;
    return {levelBytes + kScratchSlack, columnBytes};
}

// The calling thread's scratch, at least bytes for each of stripes stripes; grown, never shrunk.
std::vector<uchar>* scratchFor(int stripes, ScratchBytes bytes) {
    thread_local std::vector<std::vector<uchar>> buffers;
    if (buffers.size() < static_cast<size_t>(2 * stripes)) buffers.resize(static_cast<size_t>(2 * stripes));
    for (int stripe = 0; stripe < stripes; ++stripe) {
        auto& levels = buffers[static_cast<size_t>(2 * stripe)];
        auto& columns = buffers[static_cast<size_t>(2 * stripe + 1)];
        if (levels.size() < bytes.levels) levels.resize(bytes.levels);
        if (columns.size() < bytes.columns) columns.resize(bytes.columns);
    }
    return buffers.data();
}

void fastMorphology(const cv::Mat& src, cv::Mat& dst, int k, int shape, bool dilate,
                    const std::vector<RowRun>& runs, const uchar* wanted) {
    TileJob job{&src, &dst, Geometry{k, src.channels(), src.rows, src.cols}, shape, dilate, &runs,
                false, 0, 0, 0, 0, 0, nullptr, wanted};
    const ScratchBytes bytes = planJob(job);
    job.buffers = scratchFor(job.stripes, bytes);
    // One captured reference keeps the body small enough for std::function to hold without
    // allocating on every pass. The tile loops run at the instruction-set level in use.
    cv::parallel_for_(cv::Range(0, job.stripes), [&job](const cv::Range& range) {
        pixelKernels().runStripes(job, range.start, range.end);
    });
}

void libraryMorphology(const cv::Mat& src, cv::Mat& dst, int morphOperation,
                       const cv::Mat& element) {
    // The default border value (the largest double) keeps outside pixels out of the result;
    // BORDER_ISOLATED makes a view's neighbours in its parent image count as outside too.
    const int border = cv::BORDER_CONSTANT | cv::BORDER_ISOLATED;
    if (morphOperation == 0) {
        cv::erode(src, dst, element, cv::Point(-1, -1), 1, border,
                  cv::morphologyDefaultBorderValue());
    } else {
        cv::dilate(src, dst, element, cv::Point(-1, -1), 1, border,
                   cv::morphologyDefaultBorderValue());
    }
}

}  // namespace

namespace {

void morphology(const cv::Mat& src, cv::Mat& dst, int morphOperation, int kernelSize, int kernelShape,
                const uchar* wanted) {
    CV_Assert(src.depth() == CV_8U && src.dims == 2 && kernelSize >= 0);
    const int shape = morphShapeFor(kernelShape);
    // The element's runs depend only on the settings: rebuilt when they change, not every pass.
    thread_local int cachedSize = -1;
    thread_local int cachedShape = -1;
    thread_local cv::Mat element;
    thread_local std::vector<RowRun> runs;
    thread_local bool runsUsable = false;
    if (cachedSize != kernelSize || cachedShape != shape) {
        element = structuringElement(kernelSize, kernelShape);
        // Sizes past the sliders' range go to the library: the tile loops keep one output row's
        // terms on the stack, at most one pair per element row of the largest element.
        runsUsable = kernelSize <= kMaxKernelSize && elementRuns(element, kernelSize, runs);
        cachedSize = kernelSize;
        cachedShape = shape;
    }
    // Size 0 is a copy, which the library does as fast as anything.
    if (kernelSize == 0 || !runsUsable || src.empty()) {
        libraryMorphology(src, dst, morphOperation, element);
        return;
    }
    // The tiles read neighbouring rows of src while writing dst: they must not share memory.
    const cv::Mat input = (dst.data != nullptr && dst.datastart < src.dataend &&
                           src.datastart < dst.dataend)
                              ? src.clone()
                              : src;
    dst.create(input.size(), input.type());
    fastMorphology(input, dst, kernelSize, shape, morphOperation != 0, runs, wanted);
}

}  // namespace

void applyMorphology(const cv::Mat& src, cv::Mat& dst, int morphOperation, int kernelSize,
                     int kernelShape) {
    morphology(src, dst, morphOperation, kernelSize, kernelShape, nullptr);
}

void applyMorphologyRows(const cv::Mat& src, cv::Mat& dst, int morphOperation, int kernelSize, int kernelShape,
                         const std::vector<uchar>& wanted) {
    CV_Assert(static_cast<int>(wanted.size()) == src.rows);
    morphology(src, dst, morphOperation, kernelSize, kernelShape, wanted.data());
}

void prepareMorphology(cv::Size picture, int channels) {
    if (picture.empty()) return;
    // Most scratch is not always at the largest size: the direct form keeps whole tiles of rows.
    ScratchBytes most{0, 0};
    int stripes = 0;
    for (const int shape : {cv::MORPH_RECT, cv::MORPH_CROSS, cv::MORPH_ELLIPSE}) {
        for (int k = 1; k <= kMaxKernelSize; ++k) {
            TileJob job{nullptr, nullptr, Geometry{k, channels, picture.height, picture.width}, shape, false, nullptr,
                        false, 0, 0, 0, 0, 0, nullptr, nullptr};
            const ScratchBytes bytes = planJob(job);
            most = {std::max(most.levels, bytes.levels), std::max(most.columns, bytes.columns)};
            stripes = std::max(stripes, job.stripes);
        }
    }
    scratchFor(stripes, most);
}

}  // namespace tonemorph
