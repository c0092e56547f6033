// The pixel loops 64 bytes at a time: AVX-512 (F, BW) and VBMI's two-table byte permutes.
#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "core/pixel_kernels.h"
#include "core/target_region.h"

#if defined(__x86_64__)

TONEMORPH_TARGET_BEGIN("avx512f,avx512bw,avx512vbmi")

namespace tonemorph::avx512 {
namespace {

struct V {
    using Reg = __m512i;
    static constexpr int kBytes = 64;
    static Reg load(const uchar* p) { return _mm512_loadu_si512(p); }
    static void store(uchar* p, Reg r) { _mm512_storeu_si512(p, r); }
    static Reg min(Reg a, Reg b) { return _mm512_min_epu8(a, b); }
    static Reg max(Reg a, Reg b) { return _mm512_max_epu8(a, b); }
};

#include "core/morphology_tiles.inc"

// 64 lookups per step: two 128-entry byte permutes cover the table's halves, and the top bit of
// each index picks between them.
void lookup(const uchar* src, uchar* dst, size_t n, const ToneProgram& tone) {
    const uchar* table = tone.table;
    const __m512i t0 = _mm512_loadu_si512(table);
    const __m512i t1 = _mm512_loadu_si512(table + 64);
    const __m512i t2 = _mm512_loadu_si512(table + 128);
    const __m512i t3 = _mm512_loadu_si512(table + 192);
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i index = _mm512_loadu_si512(src + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, index, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, index, t3);
        _mm512_storeu_si512(dst + i, _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high));
    }
    for (; i < n; ++i) dst[i] = table[src[i]];
}

}  // namespace
}  // namespace tonemorph::avx512

TONEMORPH_TARGET_END

namespace tonemorph {
const PixelKernels& avx512Kernels() {
    static const PixelKernels kernels{avx512::lookup, avx512::runStripes};
    return kernels;
}
}  // namespace tonemorph

#endif
