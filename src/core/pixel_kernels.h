// The hot loops of the pass, compiled once per instruction-set level with explicit vector code
// (intrinsics), so their speed depends neither on the optimisation level nor on the compiler's
// auto-vectoriser. Internal to the core; simd_level.h chooses the level.
#pragma once

#include <cstddef>
#include <cstdint>

#include <opencv2/core.hpp>

#include "core/morphology_job.h"

namespace tonemorph {

// The tone of one setting pair: its table, and the same 256 values as fixed-point arithmetic,
// which costs a few instructions per 8 bytes where a processor has no byte shuffle wide enough
// for the whole table. The fixed-point form rounds halves up where the double arithmetic rounds
// them to even, and is one off there; those inputs are kept as a set and corrected.
struct ToneProgram {
    const uchar* table = nullptr;  // 256 entries
    // Whether table[x] is clamp((x * gain + unit * offset) >> shift, 0, 255), plus correction
    // where x is in the set: bit h of setLow[x & 15] for h = x >> 4 below 8, else bit h - 8 of
    // setHigh[x & 15].
    bool arithmetic = false;
    int16_t gain = 0;
    int16_t unit = 0;
    int16_t offset = 0;
    int shift = 0;
    int correction = 0;  // -1, 0 or +1
    uchar setLow[16] = {};
    uchar setHigh[16] = {};
};

// The program for a table built from contrastValue and brightnessValue (buildToneTable); table
// must outlive it.
ToneProgram toneProgram(const uchar* table, int contrastValue, int brightnessValue);

struct PixelKernels {
    // dst[i] = tone.table[src[i]] for i < n.
    void (*lookup)(const uchar* src, uchar* dst, size_t n, const ToneProgram& tone);
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
