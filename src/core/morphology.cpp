#include "core/morphology.h"

#include <algorithm>
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

// Erosion is a minimum, dilation a maximum; outside pixels act as the operation's identity (255
// for a minimum, 0 for a maximum), which is the same as leaving them out, since every element
// holds its own centre and so every window holds at least one pixel of the image.
struct MinOp {
    static constexpr uchar identity = 255;
    static uchar apply(uchar a, uchar b) { return a < b ? a : b; }
};
struct MaxOp {
    static constexpr uchar identity = 0;
    static uchar apply(uchar a, uchar b) { return a > b ? a : b; }
};

// The loops below are plain byte loops the compiler vectorises.
template <class Op>
inline void combine(uchar* __restrict dst, const uchar* a, const uchar* b, int n) {
    for (int i = 0; i < n; ++i) dst[i] = Op::apply(a[i], b[i]);
}
template <class Op>
inline void accumulate(uchar* __restrict acc, const uchar* __restrict b, int n) {
    for (int i = 0; i < n; ++i) acc[i] = Op::apply(acc[i], b[i]);
}

int floorLog2(int n) {
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

// Where a tile sits and what it needs.
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
void rowLevels(const cv::Mat& src, int y, const Tile& t, const Geometry& g, int levelCount,
               uchar* levels, int levelStride) {
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
template <class Op>
inline void runFromLevels(uchar* __restrict dst, const uchar* levels, int levelStride,
                          const RowRun& run, const Geometry& g, int n) {
    const int l = floorLog2(run.length);
    const uchar* level = levels + l * levelStride + (run.start + g.k) * g.channels;
    combine<Op>(dst, level, level + (run.length - (1 << l)) * g.channels, n);
}

// In place over rows 0..count-1 of buf: afterwards row j holds the minimum/maximum of the
// original rows j .. j + 2^levels - 1, for every j where that span lies inside.
template <class Op>
int verticalDoubling(uchar* buf, size_t stride, int count, int length, int n) {
    int span = 1;
    while (2 * span <= length) {
        for (int j = 0; j + 2 * span <= count; ++j) {
            accumulate<Op>(buf + j * stride, buf + (j + span) * stride, n);
        }
        span *= 2;
    }
    return span;
}

// Per-worker scratch, kept between passes so a pass allocates nothing once sizes settle.
std::vector<uchar>& scratch(int which) {
    thread_local std::vector<uchar> buffers[2];
    return buffers[which];
}
uchar* scratchOf(int which, size_t bytes) {
    std::vector<uchar>& buffer = scratch(which);
    if (buffer.size() < bytes) buffer.resize(bytes);
    return buffer.data();
}

// Rectangle: running extreme along each row, then along each column.
template <class Op>
void rectTile(const cv::Mat& src, cv::Mat& dst, const Tile& t, const Geometry& g) {
    const int length = 2 * g.k + 1;
    const int n = (t.c1 - t.c0) * g.channels;
    const int levelCount = floorLog2(length) + 1;
    const int levelStride = (t.c1 - t.c0 + 2 * g.k) * g.channels;
    const int count = t.r1 - t.r0 + 2 * g.k;
    uchar* levels = scratchOf(0, static_cast<size_t>(levelCount * levelStride));
    uchar* buf = scratchOf(1, static_cast<size_t>(count) * static_cast<size_t>(n));
    const RowRun full{-g.k, length};
    for (int j = 0; j < count; ++j) {
        const int y = t.r0 - g.k + j;
        uchar* row = buf + static_cast<size_t>(j) * static_cast<size_t>(n);
        if (y < 0 || y >= g.rows) {
            std::memset(row, Op::identity, static_cast<size_t>(n));
            continue;
        }
        rowLevels<Op>(src, y, t, g, levelCount, levels, levelStride);
        runFromLevels<Op>(row, levels, levelStride, full, g, n);
    }
    const int span = verticalDoubling<Op>(buf, static_cast<size_t>(n), count, length, n);
    for (int y = t.r0; y < t.r1; ++y) {
        const uchar* top = buf + static_cast<size_t>(y - t.r0) * static_cast<size_t>(n);
        combine<Op>(dst.ptr<uchar>(y) + t.c0 * g.channels, top,
                    top + static_cast<size_t>(length - span) * static_cast<size_t>(n), n);
    }
}

// Cross: the extreme of a vertical line of the source and a horizontal line of the source.
template <class Op>
void crossTile(const cv::Mat& src, cv::Mat& dst, const Tile& t, const Geometry& g) {
    const int length = 2 * g.k + 1;
    const int n = (t.c1 - t.c0) * g.channels;
    const int levelCount = floorLog2(length) + 1;
    const int levelStride = (t.c1 - t.c0 + 2 * g.k) * g.channels;
    const int count = t.r1 - t.r0 + 2 * g.k;
    uchar* levels = scratchOf(0, static_cast<size_t>(levelCount * levelStride));
    uchar* buf = scratchOf(1, static_cast<size_t>(count) * static_cast<size_t>(n));
    for (int j = 0; j < count; ++j) {
        const int y = t.r0 - g.k + j;
        uchar* row = buf + static_cast<size_t>(j) * static_cast<size_t>(n);
        if (y < 0 || y >= g.rows) {
            std::memset(row, Op::identity, static_cast<size_t>(n));
        } else {
            std::memcpy(row, src.ptr<uchar>(y) + t.c0 * g.channels, static_cast<size_t>(n));
        }
    }
    const int span = verticalDoubling<Op>(buf, static_cast<size_t>(n), count, length, n);
    const RowRun full{-g.k, length};
    for (int y = t.r0; y < t.r1; ++y) {
        uchar* out = dst.ptr<uchar>(y) + t.c0 * g.channels;
        const uchar* top = buf + static_cast<size_t>(y - t.r0) * static_cast<size_t>(n);
        combine<Op>(out, top, top + static_cast<size_t>(length - span) * static_cast<size_t>(n), n);
        rowLevels<Op>(src, y, t, g, levelCount, levels, levelStride);
        const int l = floorLog2(length);
        const uchar* level = levels + l * levelStride + (full.start + g.k) * g.channels;
        const uchar* second = level + (length - (1 << l)) * g.channels;
        for (int i = 0; i < n; ++i) out[i] = Op::apply(out[i], Op::apply(level[i], second[i]));
    }
}

// Ellipse: each element row is one run; the levels of every input row are built once per tile
// and every output row combines the runs of the 2k+1 rows around it.
template <class Op>
void ellipseTile(const cv::Mat& src, cv::Mat& dst, const Tile& t, const Geometry& g,
                 const std::vector<RowRun>& runs) {
    const int n = (t.c1 - t.c0) * g.channels;
    const int levelCount = floorLog2(2 * g.k + 1) + 1;
    const int levelStride = (t.c1 - t.c0 + 2 * g.k) * g.channels;
    const int rowBytes = levelCount * levelStride;
    const int first = std::max(0, t.r0 - g.k);
    const int last = std::min(g.rows, t.r1 + g.k);
    uchar* levels = scratchOf(0, static_cast<size_t>(last - first) * static_cast<size_t>(rowBytes));
    for (int y = first; y < last; ++y) {
        rowLevels<Op>(src, y, t, g, levelCount,
                      levels + static_cast<size_t>(y - first) * static_cast<size_t>(rowBytes),
                      levelStride);
    }
    uchar* run = scratchOf(1, static_cast<size_t>(n));
    for (int y = t.r0; y < t.r1; ++y) {
        uchar* out = dst.ptr<uchar>(y) + t.c0 * g.channels;
        // Rows outside the image take no part: only element rows that land inside are visited.
        const int dyFrom = std::max(-g.k, -y);
        const int dyTo = std::min(g.k, g.rows - 1 - y);
        for (int dy = dyFrom; dy <= dyTo; ++dy) {
            const uchar* rowLevelsOf =
                levels + static_cast<size_t>(y + dy - first) * static_cast<size_t>(rowBytes);
            if (dy == dyFrom) {
                runFromLevels<Op>(out, rowLevelsOf, levelStride, runs[dy + g.k], g, n);
            } else {
                runFromLevels<Op>(run, rowLevelsOf, levelStride, runs[dy + g.k], g, n);
                accumulate<Op>(out, run, n);
            }
        }
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

template <class Op>
void fastMorphology(const cv::Mat& src, cv::Mat& dst, int k, int shape,
                    const std::vector<RowRun>& runs) {
    const Geometry g{k, src.channels(), src.rows, src.cols};
    // Tiles small enough that a tile's scratch stays in the core's own cache.
    const int tileRows = shape == cv::MORPH_ELLIPSE ? 64 : 128;
    const int tileCols = shape == cv::MORPH_ELLIPSE ? 256 : 512;
    const int tilesDown = (g.rows + tileRows - 1) / tileRows;
    const int tilesAcross = (g.cols + tileCols - 1) / tileCols;
    cv::parallel_for_(cv::Range(0, tilesDown * tilesAcross), [&](const cv::Range& range) {
        for (int i = range.start; i < range.end; ++i) {
            const int r0 = (i / tilesAcross) * tileRows;
            const int c0 = (i % tilesAcross) * tileCols;
            const Tile t{r0, std::min(g.rows, r0 + tileRows), c0, std::min(g.cols, c0 + tileCols)};
            if (shape == cv::MORPH_RECT) {
                rectTile<Op>(src, dst, t, g);
            } else if (shape == cv::MORPH_CROSS) {
                crossTile<Op>(src, dst, t, g);
            } else {
                ellipseTile<Op>(src, dst, t, g, runs);
            }
        }
    });
}

void libraryMorphology(const cv::Mat& src, cv::Mat& dst, int morphOperation,
                       const cv::Mat& element) {
    // The default border value (the largest double) keeps outside pixels out of the result.
    if (morphOperation == 0) {
        cv::erode(src, dst, element, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                  cv::morphologyDefaultBorderValue());
    } else {
        cv::dilate(src, dst, element, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
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
    if (morphOperation == 0) {
        fastMorphology<MinOp>(input, dst, kernelSize, shape, runs);
    } else {
        fastMorphology<MaxOp>(input, dst, kernelSize, shape, runs);
    }
}

}  // namespace tonemorph
