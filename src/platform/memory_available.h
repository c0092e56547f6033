// How much memory the program may still take, as the system it runs on tells it: the figure the
// picture's memory budget is checked against before decoding.
#pragma once

#include <cstdint>
#include <optional>

namespace tonemorph {

// The least of what the system says is available and what any limit set on this process (or its
// group of processes) still leaves. Nothing if none of them can be read.
std::optional<int64_t> memoryAvailable();

}  // namespace tonemorph
