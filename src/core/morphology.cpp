#include "core/morphology.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <opencv2/imgproc.hpp>

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

// Everything a tile does is inlined into one function compiled for several instruction sets (see
// runTiles), so the plain byte loops below become the widest vector code the processor has.
#define TONEMORPH_INLINE inline __attribute__((always_inline))

// Bytes a 256-bit register holds; as a GCC vector type each function's target decides the
// instructions (one AVX2 op, or two SSE2 ops on the baseline).
typedef uchar Bytes32 __attribute__((vector_size(32), aligned(1), may_alias));

// Erosion is a minimum, dilation a maximum; outside pixels act as the operation's identity (255
// for a minimum, 0 for a maximum), which is the same as leaving them out, since every element
// holds its own centre and so every window holds at least one pixel of the image.
struct MinOp {
    static constexpr uchar identity = 255;
    static uchar apply(uchar a, uchar b) { return a < b ? a : b; }
    TONEMORPH_INLINE static Bytes32 apply(Bytes32 a, Bytes32 b) { return a < b ? a : b; }
};
struct MaxOp {
    static constexpr uchar identity = 0;
    static uchar apply(uchar a, uchar b) { return a > b ? a : b; }
    TONEMORPH_INLINE static Bytes32 apply(Bytes32 a, Bytes32 b) { return a > b ? a : b; }
};

template <class Op>
TONEMORPH_INLINE void combine(uchar* __restrict dst, const uchar* a, const uchar* b, int n) {
    for (int i = 0; i < n; ++i) dst[i] = Op::apply(a[i], b[i]);
}
template <class Op>
TONEMORPH_INLINE void accumulate(uchar* __restrict acc, const uchar* __restrict b, int n) {
    for (int i = 0; i < n; ++i) acc[i] = Op::apply(acc[i], b[i]);
}
template <class Op>
TONEMORPH_INLINE void accumulatePair(uchar* __restrict acc, const uchar* a, const uchar* b, int n) {
    for (int i = 0; i < n; ++i) acc[i] = Op::apply(acc[i], Op::apply(a[i], b[i]));
}

TONEMORPH_INLINE int floorLog2(int n) {
    int log = 0;
    while ((2 << log) <= n) ++log;
    return log;
}

// The element as one run of set cells per row: cells [start, start + length) relative to the
// anchor column. All three shapes have exactly one run per row.
struct RowRun {
    int start;
    int length;
};

// The part of the output one task computes.
struct Tile {
    int r0, r1;  // output rows
    int c0, c1;  // output columns
};

struct Geometry {
    int k;
    int channels;
    int rows;
    int cols;
};

// Fills levels[l] with the running minimum/maximum of 2^l pixels, per channel, for the padded
// stretch of image row y from column c0 - k to c1 + k - 1 (identity outside the image).
// levels[l][q * channels + c] covers pixels q .. q + 2^l - 1 of the stretch.
template <class Op>
TONEMORPH_INLINE void rowLevels(const cv::Mat& src, int y, const Tile& t, const Geometry& g,
                                int levelCount, uchar* levels, int levelStride) {
    const int cn = g.channels;
    const int first = t.c0 - g.k;
    const int width = (t.c1 - t.c0 + 2 * g.k) * cn;
    const int inFrom = std::max(0, first);
    const int inTo = std::min(g.cols, t.c1 + g.k);
    const uchar* row = src.ptr<uchar>(y);
    std::memset(levels, Op::identity, static_cast<size_t>((inFrom - first) * cn));
    std::memcpy(levels + (inFrom - first) * cn, row + inFrom * cn,
                static_cast<size_t>((inTo - inFrom) * cn));
    std::memset(levels + (inTo - first) * cn, Op::identity,
                static_cast<size_t>(width - (inTo - first) * cn));
    for (int l = 1; l < levelCount; ++l) {
        const int half = (1 << (l - 1)) * cn;
        const int valid = width - ((1 << l) - 1) * cn;
        const uchar* previous = levels + (l - 1) * levelStride;
        combine<Op>(levels + l * levelStride, previous, previous + half, valid);
    }
}

// Running minimum/maximum of a run of `length` pixels starting `start` pixels from each output
// pixel, from the levels of one row: two overlapping power-of-two spans cover the run exactly.
template <class Op, bool kAccumulate>
TONEMORPH_INLINE void runFromLevels(uchar* __restrict dst, const uchar* levels, int levelStride,
                                    const RowRun& run, const Geometry& g, int n) {
    const int l = floorLog2(run.length);
    const uchar* level = levels + l * levelStride + (run.start + g.k) * g.channels;
    const uchar* second = level + (run.length - (1 << l)) * g.channels;
    if (kAccumulate) {
        accumulatePair<Op>(dst, level, second, n);
    } else {
        combine<Op>(dst, level, second, n);
    }
}

// In place over rows 0..count-1 of buf: doubles the span while it fits in length and returns it;
// afterwards row j holds the extreme of the original rows j .. j + span - 1, for every j where
// that span lies inside.
template <class Op>
TONEMORPH_INLINE int verticalDoubling(uchar* buf, size_t stride, int count, int length, int n) {
    int span = 1;
    while (2 * span <= length) {
        for (int j = 0; j + 2 * span <= count; ++j) {
            accumulate<Op>(buf + j * stride, buf + (j + span) * stride, n);
        }
        span *= 2;
    }
    return span;
}

// Scratch for one stripe of tiles: row levels, and for rectangle and cross the column buffer.
struct Scratch {
    uchar* levels;
    uchar* columns;
};

// Rectangle and cross both end in a running extreme down each column of the tile: for the
// rectangle, of every row's running extreme along the row (the element is separable); for the
// cross, of the source itself, which then meets a horizontal line of the source.
template <class Op, bool kCross>
TONEMORPH_INLINE void lineTile(const cv::Mat& src, cv::Mat& dst, const Tile& t, const Geometry& g,
                               const Scratch& scratch) {
    const int length = 2 * g.k + 1;
    const RowRun full{-g.k, length};
    const int n = (t.c1 - t.c0) * g.channels;
    const int levelCount = floorLog2(length) + 1;
    const int levelStride = (t.c1 - t.c0 + 2 * g.k) * g.channels;
    const int count = t.r1 - t.r0 + 2 * g.k;
    uchar* levels = scratch.levels;
    uchar* buf = scratch.columns;
    for (int j = 0; j < count; ++j) {
        const int y = t.r0 - g.k + j;
        uchar* row = buf + static_cast<size_t>(j) * static_cast<size_t>(n);
        if (y < 0 || y >= g.rows) {
            // Rows outside the image are the identity here too, not a border value.
            std::memset(row, Op::identity, static_cast<size_t>(n));
        } else if (kCross) {
            std::memcpy(row, src.ptr<uchar>(y) + t.c0 * g.channels, static_cast<size_t>(n));
        } else {
            rowLevels<Op>(src, y, t, g, levelCount, levels, levelStride);
            runFromLevels<Op, false>(row, levels, levelStride, full, g, n);
        }
    }
    const int span = verticalDoubling<Op>(buf, static_cast<size_t>(n), count, length, n);
    for (int y = t.r0; y < t.r1; ++y) {
        uchar* out = dst.ptr<uchar>(y) + t.c0 * g.channels;
        const uchar* top = buf + static_cast<size_t>(y - t.r0) * static_cast<size_t>(n);
        combine<Op>(out, top, top + static_cast<size_t>(length - span) * static_cast<size_t>(n), n);
        if (kCross) {
            rowLevels<Op>(src, y, t, g, levelCount, levels, levelStride);
            runFromLevels<Op, true>(out, levels, levelStride, full, g, n);
        }
    }
}

// Pairs of spans one output row may combine: one per element row, or for the direct form one per
// two cells of an element no larger than kDirectMaxSize.
constexpr int kDirectMaxSize = 2;
constexpr int kMaxSpans = 2 * 21 + 1;

// out = extreme over r of extreme(first[r][i], second[r][i]), a block of bytes at a time so the
// running result stays in registers while all the element's rows stream past.
template <class Op>
TONEMORPH_INLINE void combineSpans(uchar* __restrict out, const uchar* const* first,
                                   const uchar* const* second, int count, int n) {
    // Two registers of running result per step: the element's rows stream past them.
    constexpr int kBlock = 64;
    const auto load = [](const uchar* p) { return *reinterpret_cast<const Bytes32*>(p); };
    int i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        Bytes32 low = Op::apply(load(first[0] + i), load(second[0] + i));
        Bytes32 high = Op::apply(load(first[0] + i + 32), load(second[0] + i + 32));
        for (int r = 1; r < count; ++r) {
            low = Op::apply(low, Op::apply(load(first[r] + i), load(second[r] + i)));
            high = Op::apply(high, Op::apply(load(first[r] + i + 32), load(second[r] + i + 32)));
        }
        *reinterpret_cast<Bytes32*>(out + i) = low;
        *reinterpret_cast<Bytes32*>(out + i + 32) = high;
    }
    for (; i < n; ++i) {
        uchar acc = Op::apply(first[0][i], second[0][i]);
        for (int r = 1; r < count; ++r) acc = Op::apply(acc, Op::apply(first[r][i], second[r][i]));
        out[i] = acc;
    }
}

// Run-based shapes (the ellipse, and the smallest crosses): each element row is one run. The
// padded copy of every input row (and, for long runs, its power-of-two levels) is built once per
// tile; every output row then combines the runs of the 2k+1 rows around it. A long run is two
// overlapping power-of-two spans of a level; a short one (kDirect) is one span per pixel of the
// copy itself, which skips building levels where runs are at most a few pixels long.
template <class Op, bool kDirect>
TONEMORPH_INLINE void runsTile(const cv::Mat& src, cv::Mat& dst, const Tile& t, const Geometry& g,
                               const std::vector<RowRun>& runs, const Scratch& scratch) {
    const int n = (t.c1 - t.c0) * g.channels;
    const int levelCount = kDirect ? 1 : floorLog2(2 * g.k + 1) + 1;
    const int levelStride = (t.c1 - t.c0 + 2 * g.k) * g.channels;
    const int rowBytes = levelCount * levelStride;
    const int first = std::max(0, t.r0 - g.k);
    const int last = std::min(g.rows, t.r1 + g.k);
    uchar* levels = scratch.levels;
    for (int y = first; y < last; ++y) {
        rowLevels<Op>(src, y, t, g, levelCount,
                      levels + static_cast<size_t>(y - first) * static_cast<size_t>(rowBytes),
                      levelStride);
    }
    const uchar* firstSpans[kMaxSpans];
    const uchar* secondSpans[kMaxSpans];
    for (int y = t.r0; y < t.r1; ++y) {
        // Rows outside the image take no part: only element rows that land inside are visited.
        const int dyFrom = std::max(-g.k, -y);
        const int dyTo = std::min(g.k, g.rows - 1 - y);
        int count = 0;
        for (int dy = dyFrom; dy <= dyTo; ++dy) {
            const RowRun& run = runs[static_cast<size_t>(dy + g.k)];
            const uchar* row = levels + static_cast<size_t>(y + dy - first) * static_cast<size_t>(rowBytes);
            if (kDirect) {
                // Pixels of the run paired up; an odd one out pairs with itself.
                for (int dx = 0; dx < run.length; dx += 2, ++count) {
                    firstSpans[count] = row + (run.start + g.k + dx) * g.channels;
                    secondSpans[count] =
                        row + (run.start + g.k + std::min(dx + 1, run.length - 1)) * g.channels;
                }
            } else {
                const int l = floorLog2(run.length);
                firstSpans[count] = row + l * levelStride + (run.start + g.k) * g.channels;
                secondSpans[count] = firstSpans[count] + (run.length - (1 << l)) * g.channels;
                ++count;
            }
        }
        combineSpans<Op>(dst.ptr<uchar>(y) + t.c0 * g.channels, firstSpans, secondSpans, count, n);
    }
}

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
        runs.push_back({from - k, to - from + 1});
    }
    return true;
}

struct TileJob {
    const cv::Mat* src;
    cv::Mat* dst;
    Geometry g;
    int shape;
    bool dilate;
    const std::vector<RowRun>* runs;
    bool direct;  // runs read pixel by pixel
    int tileRows;
    int tileCols;
    int tilesAcross;
    int tiles;
    int stripes;
    std::vector<uchar>* buffers;  // two per stripe: levels, columns
};

template <class Op>
TONEMORPH_INLINE void runStripesFor(const TileJob& job, int from, int to) {
    for (int stripe = from; stripe < to; ++stripe) {
        const Scratch scratch{job.buffers[2 * stripe].data(), job.buffers[2 * stripe + 1].data()};
        const int firstTile = static_cast<int>(static_cast<int64_t>(stripe) * job.tiles / job.stripes);
        const int endTile = static_cast<int>(static_cast<int64_t>(stripe + 1) * job.tiles / job.stripes);
        for (int i = firstTile; i < endTile; ++i) {
            const int r0 = (i / job.tilesAcross) * job.tileRows;
            const int c0 = (i % job.tilesAcross) * job.tileCols;
            const Tile t{r0, std::min(job.g.rows, r0 + job.tileRows), c0,
                         std::min(job.g.cols, c0 + job.tileCols)};
            if (job.direct) {
                runsTile<Op, true>(*job.src, *job.dst, t, job.g, *job.runs, scratch);
            } else if (job.shape == cv::MORPH_RECT) {
                lineTile<Op, false>(*job.src, *job.dst, t, job.g, scratch);
            } else if (job.shape == cv::MORPH_CROSS) {
                lineTile<Op, true>(*job.src, *job.dst, t, job.g, scratch);
            } else {
                runsTile<Op, false>(*job.src, *job.dst, t, job.g, *job.runs, scratch);
            }
        }
    }
}

// One body, compiled for AVX-512, AVX2 and the baseline; the loader picks the best the processor
// runs. Other architectures get their compiler's baseline.
#if defined(__x86_64__)
__attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#endif
void runStripes(const TileJob& job, int from, int to) {
    if (job.dilate) {
        runStripesFor<MaxOp>(job, from, to);
    } else {
        runStripesFor<MinOp>(job, from, to);
    }
}

void fastMorphology(const cv::Mat& src, cv::Mat& dst, int k, int shape, bool dilate,
                    const std::vector<RowRun>& runs) {
    TileJob job{&src, &dst, Geometry{k, src.channels(), src.rows, src.cols}, shape, dilate, &runs,
                false, 0, 0, 0, 0, 0, nullptr};
    // The smallest crosses and ellipses are cheapest read pixel by pixel: building levels or
    // column passes for runs of at most five pixels costs more than it saves.
    job.direct = shape != cv::MORPH_RECT && k <= kDirectMaxSize;
    // Tiles small enough that a tile's scratch stays in the core's own cache.
    const bool runsPerRow = shape == cv::MORPH_ELLIPSE || job.direct;
    const bool levelsPerRow = runsPerRow && !job.direct;
    job.tileRows = levelsPerRow ? 64 : 128;
    job.tileCols = levelsPerRow ? 256 : 512;
    job.tilesAcross = (src.cols + job.tileCols - 1) / job.tileCols;
    job.tiles = job.tilesAcross * ((src.rows + job.tileRows - 1) / job.tileRows);
    // Scratch belongs to stripes of tiles, not to threads: it is all sized here, before the
    // threads start, so once the picture size and settings are set no pass allocates, whichever
    // threads happen to run the stripes.
    job.stripes = std::min(job.tiles, 2 * std::max(1, cv::getNumThreads()));
    const int tileRows = std::min(job.tileRows, src.rows);
    const int tileBytes = std::min(job.tileCols, src.cols) * src.channels();
    const int levelStride = (std::min(job.tileCols, src.cols) + 2 * k) * src.channels();
    const int levelCount = job.direct ? 1 : floorLog2(2 * k + 1) + 1;
    const size_t levelBytes = static_cast<size_t>(runsPerRow ? tileRows + 2 * k : 1) *
                              static_cast<size_t>(levelCount) * static_cast<size_t>(levelStride);
    const size_t columnBytes =
        runsPerRow ? 1 : static_cast<size_t>(tileRows + 2 * k) * static_cast<size_t>(tileBytes);
    thread_local std::vector<std::vector<uchar>> buffers;
    if (buffers.size() < static_cast<size_t>(2 * job.stripes)) buffers.resize(static_cast<size_t>(2 * job.stripes));
    for (int stripe = 0; stripe < job.stripes; ++stripe) {
        auto& levels = buffers[static_cast<size_t>(2 * stripe)];
        auto& columns = buffers[static_cast<size_t>(2 * stripe + 1)];
        if (levels.size() < levelBytes) levels.resize(levelBytes);
        if (columns.size() < columnBytes) columns.resize(columnBytes);
    }
    job.buffers = buffers.data();
    // One captured reference keeps the body small enough for std::function to hold without
    // allocating on every pass.
    cv::parallel_for_(cv::Range(0, job.stripes),
                      [&job](const cv::Range& range) { runStripes(job, range.start, range.end); });
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

void applyMorphology(const cv::Mat& src, cv::Mat& dst, int morphOperation, int kernelSize,
                     int kernelShape) {
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
        runsUsable = elementRuns(element, kernelSize, runs);
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
    fastMorphology(input, dst, kernelSize, shape, morphOperation != 0, runs);
}

}  // namespace tonemorph
