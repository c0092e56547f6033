// The size a picture file declares, read from its header without decoding anything: a small file
// can declare a picture of billions of pixels, and the memory budget has to judge it first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

// Whether libjpeg reads on past a marker segment whose length field is below 2 (taking it as
// empty): metadata (APPn, COM) and DNL. Any other such segment ends decoding with an error.
bool jpegLengthForgiven(uint8_t marker);

// How a picture is cut into the pieces its decoder works through one by one: a TIFF's tiles, or
// its strips of whole rows (piece: the picture's width by the rows per strip); a JPEG 2000
// codestream's tiles. Pieces far larger than the picture, or very many tiny ones, cost the decoder
// far more than the picture's size.
struct PieceLayout {
    enum class Format { kTiff, kJpeg2000 } format;
    cv::Size picture;
    cv::Size piece;       // a TIFF strip's rows counted only as far as the picture goes
    int64_t pieces = 1;   // how many, the partial ones at the edges included
    size_t codestream = 0;  // where a JPEG 2000 codestream starts in the file
    // A JPEG-compressed TIFF's pieces: where each starts and how many bytes it has.
    std::vector<std::pair<uint64_t, uint64_t>> jpegPieces;
    // The library's TIFF reader holds one piece as given (a strip's rows not cut to the picture)
    // at 4 bytes a pixel: what of that goes beyond the picture's own size.
    int64_t bufferBytesBeyondPicture = 0;
};
// More pieces than this in a JPEG-compressed TIFF are not read one by one: such a file is refused.
constexpr uint64_t kMostTiffJpegPieces = uint64_t{1} << 20;
std::optional<PieceLayout> pieceLayout(const uint8_t* data, size_t size);

// Where a DICOM file's picture lies, found the way its decoder walks the file: element by element
// at the top level, sequences and items of undefined length walked through to their ends, so a
// pixel-data tag inside another element's value is never taken for the picture.
struct DicomPicture {
    std::optional<cv::Size> size;  // Rows and Columns
    size_t pixelData = 0;          // where the pixel data's value starts (0: none found)
    bool encapsulated = false;     // a run of items holding a compressed stream (JPEG, JPEG 2000)
};
std::optional<DicomPicture> dicomPicture(const uint8_t* data, size_t size);

}  // namespace tonemorph
