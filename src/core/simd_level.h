// The instruction-set level the pixel loops run at: the widest the processor has, picked once at
// start-up, or a lower one chosen on purpose (tests and benchmarks run every level this way).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tonemorph {

enum class SimdLevel {
    kGeneric,  // plain C++ loops: other processors, and a yardstick
    kSse2,     // 16 bytes at a time: every x86-64 processor
    kAvx2,     // 32 bytes at a time
    kAvx512,   // 64 bytes at a time; with VBMI byte permutes for the tone table
};

// The widest level this processor runs.
SimdLevel bestSimdLevel();
// The level in use: bestSimdLevel() unless useSimdLevel chose another.
SimdLevel simdLevel();
// Runs the pixel loops at level from now on; false, changing nothing, if the processor lacks it.
// Not while a pass is running.
bool useSimdLevel(SimdLevel level);
// Every level this processor runs, lowest first.
std::vector<SimdLevel> supportedSimdLevels();

const char* simdLevelName(SimdLevel level);
std::optional<SimdLevel> simdLevelNamed(const std::string& name);

}  // namespace tonemorph
