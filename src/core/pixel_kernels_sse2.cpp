// The pixel loops 16 bytes at a time: SSE2, which every x86-64 processor has. It has no byte
// shuffle, so the tone table is looked up one byte at a time.
#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "core/pixel_kernels.h"

#if defined(__x86_64__)

namespace tonemorph::sse2 {
namespace {

struct V {
    using Reg = __m128i;
    static constexpr int kBytes = 16;
    static Reg load(const uchar* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(uchar* p, Reg r) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), r); }
    static Reg min(Reg a, Reg b) { return _mm_min_epu8(a, b); }
    static Reg max(Reg a, Reg b) { return _mm_max_epu8(a, b); }
};

#include "core/morphology_tiles.inc"

void lookup(const uchar* src, uchar* dst, size_t n, const ToneProgram& tone) {
    const uchar* table = tone.table;
    for (size_t i = 0; i < n; ++i) dst[i] = table[src[i]];
}

}  // namespace
}  // namespace tonemorph::sse2

namespace tonemorph {
const PixelKernels& sse2Kernels() {
    static const PixelKernels kernels{sse2::lookup, sse2::runStripes};
    return kernels;
}
}  // namespace tonemorph

#endif
