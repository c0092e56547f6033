// The pixel loops in plain C++, for processors without a level of their own; on x86 a yardstick
// the tests compare the vector levels' structure against.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/pixel_kernels.h"

namespace tonemorph::generic {
namespace {

// Sixteen bytes handled one by one: the same loop structure as the vector levels.
struct V {
    struct Reg {
        uchar b[16];
    };
    static constexpr int kBytes = 16;
    static Reg load(const uchar* p) {
        Reg r;
        std::memcpy(r.b, p, sizeof r.b);
        return r;
    }
    static void store(uchar* p, const Reg& r) { std::memcpy(p, r.b, sizeof r.b); }
    static Reg min(Reg a, const Reg& b) {
        for (int i = 0; i < kBytes; ++i) a.b[i] = std::min(a.b[i], b.b[i]);
        return a;
    }
    static Reg max(Reg a, const Reg& b) {
        for (int i = 0; i < kBytes; ++i) a.b[i] = std::max(a.b[i], b.b[i]);
        return a;
    }
};

#include "core/morphology_tiles.inc"

void lookup(const uchar* src, uchar* dst, size_t n, const ToneProgram& tone) {
    const uchar* table = tone.table;
    for (size_t i = 0; i < n; ++i) dst[i] = table[src[i]];
}

}  // namespace
}  // namespace tonemorph::generic

namespace tonemorph {
const PixelKernels& genericKernels() {
    static const PixelKernels kernels{generic::lookup, generic::runStripes};
    return kernels;
}
}  // namespace tonemorph
