#include "core/simd_level.h"

#include <atomic>

#include "core/pixel_kernels.h"

namespace tonemorph {

namespace {

bool runs(SimdLevel level) {
#if defined(__x86_64__) || defined(__i386__)
    switch (level) {
        case SimdLevel::kGeneric: return true;
        case SimdLevel::kSse2: return __builtin_cpu_supports("sse2");
        case SimdLevel::kAvx2: return __builtin_cpu_supports("avx2");
        case SimdLevel::kAvx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vbmi");
    }
    return false;
#else
    return level == SimdLevel::kGeneric;
#endif
}

constexpr SimdLevel kAllLevels[] = {SimdLevel::kGeneric, SimdLevel::kSse2, SimdLevel::kAvx2,
                                    SimdLevel::kAvx512};

std::atomic<const PixelKernels*> activeKernels{nullptr};
std::atomic<SimdLevel> activeLevel{SimdLevel::kGeneric};

const PixelKernels& kernelsFor(SimdLevel level) {
    switch (level) {
#if defined(__x86_64__)
        case SimdLevel::kAvx512: return avx512Kernels();
        case SimdLevel::kAvx2: return avx2Kernels();
        case SimdLevel::kSse2: return sse2Kernels();
#endif
        default: return genericKernels();
    }
}

}  // namespace

SimdLevel bestSimdLevel() {
    static const SimdLevel best = [] {
        SimdLevel found = SimdLevel::kGeneric;
        for (SimdLevel level : kAllLevels) {
            if (runs(level)) found = level;
        }
        return found;
    }();
    return best;
}

SimdLevel simdLevel() {
    pixelKernels();  // settles the level on first use
    return activeLevel.load();
}

bool useSimdLevel(SimdLevel level) {
    if (!runs(level)) return false;
    activeLevel.store(level);
    activeKernels.store(&kernelsFor(level));
    return true;
}

std::vector<SimdLevel> supportedSimdLevels() {
    std::vector<SimdLevel> levels;
    for (SimdLevel level : kAllLevels) {
        if (runs(level)) levels.push_back(level);
    }
    return levels;
}

const char* simdLevelName(SimdLevel level) {
    switch (level) {
        case SimdLevel::kGeneric: return "generic";
        case SimdLevel::kSse2: return "sse2";
        case SimdLevel::kAvx2: return "avx2";
        case SimdLevel::kAvx512: return "avx512";
    }
    return "?";
}

std::optional<SimdLevel> simdLevelNamed(const std::string& name) {
    for (SimdLevel level : kAllLevels) {
        if (name == simdLevelName(level)) return level;
    }
    return std::nullopt;
}

const PixelKernels& pixelKernels() {
    const PixelKernels* kernels = activeKernels.load(std::memory_order_acquire);
    if (kernels == nullptr) {
        useSimdLevel(bestSimdLevel());
        kernels = activeKernels.load(std::memory_order_acquire);
    }
    return *kernels;
}

}  // namespace tonemorph
