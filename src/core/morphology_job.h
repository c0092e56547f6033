// What the morphology's tile loops share with the code that sets them up: the element as runs,
// the picture's geometry and one job of tiles with its scratch. Internal to the core.
#pragma once

#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace tonemorph {

inline int floorLog2(int n) {
    int log = 0;
    while ((2 << log) <= n) ++log;
    return log;
}

// The element as one run of set cells per row: cells [start, start + length) relative to the
// anchor column. All three shapes have exactly one run per row. level is floorLog2(length): the
// power-of-two level two spans of which cover the run.
struct RowRun {
    int start;
    int length;
    int level;
};

// Bytes the scratch buffers have beyond what they hold, so that the row loops can run whole
// vectors past the end of a row's valid bytes (the widest vector is 64 bytes).
constexpr int kScratchSlack = 128;

// Where at most one row in this many is wanted, the ellipse is read by its columns from the
// picture's rows rather than from run classes made of each input row's levels, which would each
// serve only one or two wanted rows (measured on a 48-megapixel picture's sample at k = 21: 23.4
// ms instead of 30.5 at every fourth row, 11.3 instead of 13.3 at every other row of a
// 12-megapixel one; with every row wanted, 22.5 against the classes' 20.4).
constexpr int kSparseRows = 2;

struct Geometry {
    int k;
    int channels;
    int rows;
    int cols;
};

// Terms one output row may combine: one per element row (or per run class), or for the direct
// form one per two cells of an element no larger than kDirectMaxSize.
constexpr int kDirectMaxSize = 2;
constexpr int kMaxKernelSize = 21;
constexpr int kMaxSpans = 2 * kMaxKernelSize + 1;

struct TileJob {
    const cv::Mat* src;
    cv::Mat* dst;
    Geometry g;
    int shape;  // cv::MORPH_RECT, MORPH_CROSS or MORPH_ELLIPSE
    bool dilate;
    const std::vector<RowRun>* runs;
    bool direct;  // runs read pixel by pixel
    int tileRows;
    int tileCols;
    int tilesAcross;
    int tiles;
    int stripes;
    std::vector<uchar>* buffers;  // two per stripe: levels, columns
    const uchar* wanted;  // per output row, nonzero where it is to be made; null for every row

    bool wants(int y) const { return wanted == nullptr || wanted[y] != 0; }
    // Whether at most one row in kSparseRows of [r0, r1) is to be made.
    bool sparse(int r0, int r1) const {
        if (wanted == nullptr) return false;
        int count = 0;
        for (int y = r0; y < r1; ++y) count += wanted[y] != 0 ? 1 : 0;
        return count * kSparseRows <= r1 - r0;
    }
    // Whether any output row of [r0, r1) is to be made.
    bool wantsAny(int r0, int r1) const {
        if (wanted == nullptr) return true;
        for (int y = r0; y < r1; ++y) {
            if (wanted[y] != 0) return true;
        }
        return false;
    }
};

}  // namespace tonemorph
