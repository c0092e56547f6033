// What decoding a picture file costs beyond its size in pixels, judged from its bytes before any
// decoder sees them: a small file can make a decoder go over every pixel thousands of times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace tonemorph {

// More passes over a JPEG's blocks than this are refused: a baseline JPEG takes one, libjpeg's own
// progressive script 5.3 in colour and 6 in grey; no camera or encoder comes near it.
constexpr int64_t kMostJpegPasses = 16;

struct DecodeWork {
    int64_t scans = 0;   // a JPEG's scans up to its end, each a pass over some of its components
    int64_t passes = 0;  // the scans' blocks counted in whole pictures' worth, rounded up
};

// The scans of the JPEG in data (starting with its SOI marker) and what they add up to; zero
// for anything else, and for a JPEG whose frame header is missing or makes no sense. Reads each
// byte once.
DecodeWork jpegDecodeWork(const uint8_t* data, size_t size);

// Compressed text chunks (zTXt, compressed iTXt) in a PNG beyond this many are refused: the
// decoder unpacks each, up to 8 MB apiece, and no picture carries more than a few.
constexpr int64_t kMostPngCompressedTexts = 16;

struct PngWork {
    int64_t compressedTexts = 0;  // zTXt and compressed iTXt chunks
    int64_t imageBytes = 0;       // what the image data unpacks to for the declared picture
    int64_t unpackedBytes = 0;    // what it unpacks to in fact, counted up to a cap
    bool beyondCap = false;       // the image data unpacks to more than the cap
};

// The chunks of the PNG in data and what its image data unpacks to, counted only where the
// packed size could hold far more than the picture needs (the decoder unpacks all of it, even
// past the picture's end): a file of 1 MB can unpack to 1 GB. Zero for anything else.
PngWork pngDecodeWork(const uint8_t* data, size_t size);

// The fragments of a DICOM file's encapsulated picture (JPEG, JPEG 2000 and the like) joined, as
// its decoder joins them; empty for any other file, or pixels stored as they are.
std::vector<uint8_t> dicomEncapsulatedFrame(const uint8_t* data, size_t size);

// A TIFF whose tiles or strips, rounded up to whole ones, hold more pixels than twice its picture
// and this many more is refused: the decoder works through whole pieces, and a 64x64 picture in
// one tile of 16384x16384 costs it a gigabyte. Real files use pieces of a few hundred pixels.
constexpr int64_t kMostExtraTiffPiecePixels = int64_t{16} << 20;

// A JPEG 2000 picture in more tiles than this, and in more than one per 64x64 pixels, is refused:
// each tile costs OpenJPEG about as much as a small picture, and a 1 MB file of 22,500 tiles of
// 8x8 takes twelve times as long as the same picture in one.
constexpr int64_t kMostSmallTiles = 1024;

// The pixels the decoder works through for a picture cut into pieces of the given size.
int64_t piecePixels(cv::Size picture, cv::Size piece);

// Empty when data's decoding costs what a picture of its size costs; otherwise why not, in words
// that follow the file's name.
std::string excessiveDecodeWork(const uint8_t* data, size_t size);

// Makes a JPEG read from memory end as one read from a file does when it is cut short. The
// library's file reader hands the decoder end-of-image markers for as long as it asks past the
// end, so the rest of the picture comes out grey; its memory reader stops the decoder instead,
// which leaves the rest of the picture unwritten. Markers enough to finish the longest segment
// are added after a JPEG's bytes; a complete file ends before the decoder reaches them. Other
// formats are left as they are.
void endJpegAsFromAFile(std::vector<uint8_t>& bytes);

}  // namespace tonemorph
