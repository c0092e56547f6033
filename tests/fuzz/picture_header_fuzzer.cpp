// Any bytes at all given to the header reader: it must end, without a sanitizer report, and any
// size it gives must be a picture's (both sides positive).
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "core/picture_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const std::optional<cv::Size> declared = tonemorph::declaredSize(in);
    if (declared && (declared->width <= 0 || declared->height <= 0)) std::abort();
    return 0;
}
