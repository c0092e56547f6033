// Whether a picture of a given size fits in the memory the machine has to give, judged before it
// is decoded and before any window opens: a picture too large for the machine is refused with a
// clear reason instead of pushing the system into swap or the kernel's out-of-memory killer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

namespace tonemorph {

// What the running program holds per pixel of its picture, measured at 12, 48 and 100
// megapixels: the three images of the render pass, the morphology result it keeps for tone moves
// and the copy each picture window keeps for showing, all 3 bytes per pixel.
constexpr int64_t kBytesPerPixel = 18;
// What it holds whatever the picture: libraries, toolkit, fonts, window buffers (up to a 4K screen).
constexpr int64_t kFixedBytes = int64_t{256} << 20;

// What a picture of this size needs in all; saturates at INT64_MAX instead of overflowing.
int64_t memoryNeeded(cv::Size picture);
// What it still needs once its decoded source is held (3 bytes a pixel, already out of what the
// system reports available).
int64_t memoryNeededBesideSource(cv::Size picture);

// The pieces of what Linux has to give (platform/memory_available.h), from the texts of the files
// they come from.
std::optional<int64_t> memAvailableOf(const std::string& meminfo);               // /proc/meminfo
// One control group's headroom: its limit less its usage, with the page cache it could reclaim
// (active and inactive file pages, from memory.stat) counted as free. Nothing without a limit
// ("max" in v2, or v1's page-rounded 2^63). The same texts serve v1 (memory.limit_in_bytes,
// memory.usage_in_bytes) and v2 (memory.max, memory.current).
std::optional<int64_t> cgroupHeadroomOf(const std::string& max, const std::string& current,
                                        const std::string& stat = {});
std::optional<int64_t> statusFieldOf(const std::string& status, const std::string& field);  // /proc/self/status

// "12.6 GiB", "850 MiB", "180 KiB", "38 bytes".
std::string describeBytes(int64_t bytes);

}  // namespace tonemorph
