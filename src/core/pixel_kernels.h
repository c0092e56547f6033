// The hot loops of the pass, compiled once per instruction-set level with explicit vector code
// (intrinsics), so their speed depends neither on the optimisation level nor on the compiler's
// auto-vectoriser. Internal to the core; simd_level.h chooses the level.
#pragma once

#include <cstddef>

#include <opencv2/core.hpp>

#include "core/morphology_job.h"

namespace tonemorph {

struct PixelKernels {
    // dst[i] = table[src[i]] for i < n; table has 256 entries.
    void (*lookup)(const uchar* src, uchar* dst, size_t n, const uchar* table);
    // Erodes or dilates the tiles of stripes [from, to) of job.
    void (*runStripes)(const TileJob& job, int from, int to);
};

// The kernels of the level in use (see simd_level.h).
const PixelKernels& pixelKernels();

// One table per level, each defined in its own file compiled for that level.
const PixelKernels& genericKernels();
const PixelKernels& sse2Kernels();
const PixelKernels& avx2Kernels();
const PixelKernels& avx512Kernels();

}  // namespace tonemorph
