// The pixel loops 32 bytes at a time: AVX2, with the tone as fixed-point arithmetic.
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

// 32 values per step by arithmetic, a third of the instructions a 256-entry table needs in 16-entry
// shuffles: each byte widened and paired with the unit, so one multiply-add per 8 values gives
// x * gain + unit * offset; shifted, then packed back with saturation (which is the clamp). Then
// the correction where x is in the set: the low nibble picks a byte of the set and the high
// nibble a bit of it, both by shuffles.
void lookupByArithmetic(const uchar* src, uchar* dst, size_t n, const ToneProgram& tone) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i unit = _mm256_set1_epi16(tone.unit);
    const __m256i factors = _mm256_set1_epi32(static_cast<int>(
        (static_cast<uint32_t>(static_cast<uint16_t>(tone.offset)) << 16) | static_cast<uint16_t>(tone.gain)));
    const __m128i shift = _mm_cvtsi32_si128(tone.shift);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i one = _mm256_set1_epi8(1);
    const __m256i setLow = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(tone.setLow)));
    const __m256i setHigh = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(tone.setHigh)));
    const __m256i bitLow = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0,
                                            1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i bitHigh = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16, 32, 64, -128,
                                             0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16, 32, 64, -128);
    const auto scaled = [&](__m256i words, bool high) {
        const __m256i pairs = high ? _mm256_unpackhi_epi16(words, unit) : _mm256_unpacklo_epi16(words, unit);
        return _mm256_sra_epi32(_mm256_madd_epi16(pairs, factors), shift);
    };
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        const __m256i low = _mm256_unpacklo_epi8(x, zero);
        const __m256i high = _mm256_unpackhi_epi8(x, zero);
        // Unpacking and packing both stay within each 128-bit half, so the order comes back.
        __m256i result = _mm256_packus_epi16(_mm256_packs_epi32(scaled(low, false), scaled(low, true)),
                                             _mm256_packs_epi32(scaled(high, false), scaled(high, true)));
        if (tone.correction != 0) {
            const __m256i column = _mm256_and_si256(x, nibble);
            const __m256i row = _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble);
            const __m256i member = _mm256_or_si256(
                _mm256_and_si256(_mm256_shuffle_epi8(setLow, column), _mm256_shuffle_epi8(bitLow, row)),
                _mm256_and_si256(_mm256_shuffle_epi8(setHigh, column), _mm256_shuffle_epi8(bitHigh, row)));
            const __m256i step = _mm256_min_epu8(member, one);
            result = tone.correction > 0 ? _mm256_add_epi8(result, step) : _mm256_sub_epi8(result, step);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), result);
    }
    for (; i < n; ++i) dst[i] = tone.table[src[i]];
}

void lookup(const uchar* src, uchar* dst, size_t n, const ToneProgram& tone) {
    if (tone.arithmetic) {
        lookupByArithmetic(src, dst, n, tone);
    } else {
        // Every setting pair has the arithmetic form (the tone tests check it); a table that
        // lacked it would still come out right, a byte at a time.
        for (size_t i = 0; i < n; ++i) dst[i] = tone.table[src[i]];
    }
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
