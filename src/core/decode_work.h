// What decoding a picture file costs beyond its size in pixels, judged from its bytes before any
// decoder sees them: a small file can make a decoder go over every pixel thousands of times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace tonemorph {

// More passes over a JPEG's blocks than this are refused: a baseline JPEG takes one, libjpeg's own
// progressive script 5.3 in colour and 6 in grey; no camera or encoder comes near it.
constexpr int64_t kMostJpegPasses = 16;

// libtiff counts the scans of a JPEG inside a TIFF and fails at the one its limit names: the limit
// handed to it is one more than the scans the judge allows in each piece.
constexpr int64_t kTiffJpegScanSetting = kMostJpegPasses + 1;

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
// unpack false: the chunks alone, the image data left packed (unpackedBytes and beyondCap false).
PngWork pngDecodeWork(const uint8_t* data, size_t size, bool unpack = true);

// The fragments of a DICOM file's encapsulated picture (JPEG, JPEG 2000 and the like) joined, as
// its decoder joins them, from the pixel data it finds where its decoder finds it; empty for any
// other file, or pixels stored as they are. itemsReadable, where given, is set false when
// something other than an item or the sequence delimiter stands where the next item should, or an
// item runs past the file's end (the data simply ending is no fault).
std::vector<uint8_t> dicomEncapsulatedFrame(const uint8_t* data, size_t size, bool* itemsReadable = nullptr);

// A TIFF whose tiles or strips, rounded up to whole ones, hold more pixels than twice its picture
// and this many more is refused: the decoder works through whole pieces, and a 64x64 picture in
// one tile of 16384x16384 costs it a gigabyte. Real files use pieces of a few hundred pixels.
constexpr int64_t kMostExtraTiffPiecePixels = int64_t{16} << 20;

// What OpenJPEG spends on a JPEG 2000 picture beyond its pixels, in pixels' worth of decoding
// time (measured on Debian 12's OpenJPEG 2.5): each tile about 500 (its headers and set-up: a
// 2048x2048 picture in 4,096 tiles of 32x32 takes 2.3 times as long as in one), each code-block
// or precinct about 20 (in 4x4 code-blocks, 4.9 times as long as in 64x64 ones).
constexpr int64_t kJpeg2000TileWork = 500;
constexpr int64_t kJpeg2000CodeBlockWork = 20;
// Beyond twice the picture's own work and this much (a twentieth of a second or so) the file is
// refused: tiles of 32x32 or code-blocks of 8x8 on a photo stay well inside it.
constexpr int64_t kMostExtraJpeg2000Work = int64_t{2} << 20;
// Memory OpenJPEG holds beside the picture: for every tile and component its coding parameters
// (4,096 tiles of three components: 46 MB), and for the tile it decodes every code-block's state
// (4x4 code-blocks over 2048x2048 in colour: 300 MB more than 64x64 ones).
constexpr int64_t kJpeg2000TileComponentBytes = 4096;
constexpr int64_t kJpeg2000CodeBlockBytes = 384;

struct Jpeg2000Work {
    int64_t pixels = 0;
    int64_t tiles = 0;       // the partial ones at the edges counted
    int components = 0;
    int64_t codeBlocks = 0;  // code-blocks and precincts over all tiles, resolutions and components
    int64_t codeBlocksInOneTile = 0;  // in the largest tile, all components
};

// What the decoder sets up for the JPEG 2000 codestream in data (bare or in a JP2 file), from
// its size and tile segment and every coding style (COD, COC) in its main and tile-part headers,
// each component counted at its costliest; nothing for other files or a main header the decoder
// would refuse.
std::optional<Jpeg2000Work> jpeg2000Work(const uint8_t* data, size_t size);
int64_t jpeg2000DecoderBytes(const Jpeg2000Work& work);

// The memory the decoder needs beside the picture it makes, for the file in data (a JPEG 2000
// picture, or one inside a DICOM file; a TIFF whose strips or tiles, as the library's reader holds
// them, are larger than the picture): 0 for formats that need no more than the picture.
int64_t decoderBytesBeyondPicture(const uint8_t* data, size_t size);

// The pixels the decoder works through for a picture cut into pieces of the given size.
int64_t piecePixels(cv::Size picture, cv::Size piece);

// Empty when data's decoding costs what a picture of its size costs; otherwise why not, in words
// that follow the file's name. A JPEG, TIFF, JPEG 2000 or DICOM file whose structure cannot be
// read the way its decoder reads it is refused as well, saying so: never passed unjudged. The
// stream inside a DICOM file is judged as a file of its own format.
// unpackPng false: all of that but unpacking a PNG's image data, which costs a photo about as much
// as decoding it; pngDataVerdict gives that part alone, for a caller that runs it beside the decode.
std::string excessiveDecodeWork(const uint8_t* data, size_t size, bool unpackPng = true);
std::string pngDataVerdict(const uint8_t* data, size_t size);

// Makes a JPEG read from memory end as one read from a file does when it is cut short. The
// library's file reader hands the decoder end-of-image markers for as long as it asks past the
// end, so the rest of the picture comes out grey; its memory reader stops the decoder instead,
// which leaves the rest of the picture unwritten. Markers enough to finish the longest segment
// are added after a JPEG's bytes; a complete file ends before the decoder reaches them. Other
// formats are left as they are.
void endJpegAsFromAFile(std::vector<uint8_t>& bytes);

}  // namespace tonemorph
