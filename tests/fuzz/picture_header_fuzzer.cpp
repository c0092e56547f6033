// Any bytes at all given to the header reader and the decode-work count: they must end, without
// a sanitizer report, any size given must be a picture's (both sides positive), and the file read
// whole must declare what the same bytes read as a stream do. Its replay (replay_main.cpp) runs
// the corpus under valgrind, which sees reads of bytes never written.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "core/decode_work.h"
#include "core/picture_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const std::optional<cv::Size> declared = tonemorph::declaredSize(in);
    if (declared && (declared->width <= 0 || declared->height <= 0)) std::abort();
    if (tonemorph::declaredSize(data, size) != declared) std::abort();
    const tonemorph::DecodeWork work = tonemorph::jpegDecodeWork(data, size);
    if (work.scans < 0 || work.passes < 0 || (work.passes > 0 && work.scans == 0)) std::abort();
    return 0;
}
