// The pixel loops 32 bytes at a time: AVX2, with in-lane byte shuffles for the tone table.
#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "core/pixel_kernels.h"
#include "core/target_region.h"

#if defined(__x86_64__)

TONEMORPH_TARGET_BEGIN("avx2")

namespace tonemorph::avx2 {
namespace {

struct V {
    using Reg = __m256i;
    static constexpr int kBytes = 32;
    static Reg load(const uchar* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(uchar* p, Reg r) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), r); }
    static Reg min(Reg a, Reg b) { return _mm256_min_epu8(a, b); }
    static Reg max(Reg a, Reg b) { return _mm256_max_epu8(a, b); }
};

#include "core/morphology_tiles.inc"

// 32 lookups per step. The table is 16 rows of 16 entries; a byte picks row x >> 4 and entry
// x & 15. For row h, x - 16h is 0..15 exactly for the bytes of that row; a saturating add of 0x70
// keeps those below 0x80 and pushes every other byte to 0x80 or more, which the shuffle turns
// into 0. So each row contributes its entries and nothing else.
void lookup(const uchar* src, uchar* dst, size_t n, const uchar* table) {
    __m256i rows[16];
    for (int h = 0; h < 16; ++h) {
        rows[h] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * h)));
    }
    const __m256i sixteen = _mm256_set1_epi8(16);
    const __m256i bias = _mm256_set1_epi8(0x70);
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        __m256i result = _mm256_setzero_si256();
        for (int h = 0; h < 16; ++h) {
            result = _mm256_or_si256(result, _mm256_shuffle_epi8(rows[h], _mm256_adds_epu8(index, bias)));
            index = _mm256_sub_epi8(index, sixteen);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), result);
    }
    for (; i < n; ++i) dst[i] = table[src[i]];
}

}  // namespace
}  // namespace tonemorph::avx2

TONEMORPH_TARGET_END

namespace tonemorph {
const PixelKernels& avx2Kernels() {
    static const PixelKernels kernels{avx2::lookup, avx2::runStripes};
    return kernels;
}
}  // namespace tonemorph

#endif
