// The size a picture file declares, read from its header without decoding anything: a small file
// can declare a picture of billions of pixels, and the memory budget has to judge it first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

namespace tonemorph {

// Width and height from the header of a JPEG, PNG, WebP, TIFF or BigTIFF, BMP, GIF, JPEG 2000
// (JP2 or bare codestream), Radiance HDR, OpenEXR, DICOM, PBM/PGM/PPM/PAM, PFM or Sun raster
// file: every format the library decodes on Debian and in the Windows build. Nothing for
// other formats or a header that is cut short or makes no sense. Reads a few kilobytes at most.
std::optional<cv::Size> declaredSize(std::istream& in);
std::optional<cv::Size> declaredSize(const std::string& path);
// The same for a file already read whole.
std::optional<cv::Size> declaredSize(const uint8_t* data, size_t size);

// How a TIFF's first picture is cut for its decoder: into tiles, or into strips of whole rows
// (piece: the picture's width by the rows per strip). The decoder works through whole pieces, so
// pieces far larger than the picture cost far more than it.
struct TiffLayout {
    cv::Size picture;
    cv::Size piece;
};
std::optional<TiffLayout> tiffLayout(const uint8_t* data, size_t size);

}  // namespace tonemorph
