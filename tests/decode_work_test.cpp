// What a picture file costs to decode beyond its size: a JPEG's scans.
#include "core/decode_work.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "support/crafted_files.h"

namespace {

tonemorph::DecodeWork workOf(const std::string& bytes) {
    return tonemorph::jpegDecodeWork(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string judged(const std::string& bytes) {
    return tonemorph::excessiveDecodeWork(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// Ensure what encoders write counts its scans exactly and passes: baseline (one interleaved scan),
// progressive (libjpeg's script: 10 scans in colour, 6 in grey), at a size that
// is no whole number of blocks, on a picture of noise (whose scans are full of 0xFF bytes the
// encoder stuffs) and with restart markers.
TEST(DecodeWork, EncodersJpegsCountedExactlyAndAccepted) {
    struct Case {
        const char* what;
        int type;
        std::vector<int> params;
        int64_t scans;
        int64_t mostPasses;
    };
    const Case cases[] = {
        {"baseline colour", CV_8UC3, {}, 1, 1},
        {"baseline grey", CV_8UC1, {}, 1, 1},
        {"progressive colour 4:2:0", CV_8UC3, {cv::IMWRITE_JPEG_PROGRESSIVE, 1}, 10, 6},
        {"progressive grey", CV_8UC1, {cv::IMWRITE_JPEG_PROGRESSIVE, 1}, 6, 6},
        {"baseline with restarts", CV_8UC3, {cv::IMWRITE_JPEG_RST_INTERVAL, 1}, 1, 1},
        {"progressive with restarts", CV_8UC3, {cv::IMWRITE_JPEG_PROGRESSIVE, 1, cv::IMWRITE_JPEG_RST_INTERVAL, 1}, 10, 6},
    };
    cv::Mat noise(301, 403, CV_8UC3);
    cv::randu(noise, 0, 256);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cv::Mat picture;
        if (c.type == CV_8UC1) {
            cv::extractChannel(noise, picture, 1);
        } else {
            picture = noise;
        }
        const std::string jpeg = crafted::encoded(picture, ".jpg", c.params);
        const tonemorph::DecodeWork work = workOf(jpeg);
        EXPECT_EQ(work.scans, c.scans);
        EXPECT_GE(work.passes, 1);
        EXPECT_LE(work.passes, c.mostPasses);
        EXPECT_EQ(judged(jpeg), "");
    }
}

// Ensure a progressive JPEG whose last scan is repeated counts every repeat, and is refused once
// the repeats make more passes than any encoder's file, saying how many scans it has.
TEST(DecodeWork, RepeatedScansCountedAndRefusedPastTheLimit) {
    const std::string plain = crafted::progressiveJpeg({403, 301}, 0);
    const int64_t plainScans = workOf(plain).scans;
    for (const int repeats : {1, 10, 30, 2000}) {
        SCOPED_TRACE(repeats);
        const std::string jpeg = crafted::progressiveJpeg({403, 301}, repeats);
        const tonemorph::DecodeWork work = workOf(jpeg);
        EXPECT_EQ(work.scans, plainScans + repeats);
        const std::string verdict = judged(jpeg);
        if (work.passes <= tonemorph::kMostJpegPasses) {
            EXPECT_EQ(verdict, "");
        } else {
            EXPECT_EQ(verdict.rfind("is a JPEG of " + std::to_string(plainScans + repeats) + " scans", 0), 0u) << verdict;
        }
    }
    EXPECT_NE(judged(crafted::progressiveJpeg({403, 301}, 30)), "") << "30 more passes over the luma accepted";
}

// Ensure what is no JPEG, or a JPEG cut short or without a frame, counts nothing and passes: the
// decoder then refuses it itself.
TEST(DecodeWork, NoFrameOrNoJpegCountsNothing) {
    const std::string jpeg = crafted::progressiveJpeg({64, 64}, 0);
    const size_t frame = jpeg.find("\xFF\xC2");
    const std::string cases[] = {"", "\xFF\xD8", "not a picture", jpeg.substr(0, frame),
                                 jpeg.substr(0, frame) + jpeg.substr(jpeg.find("\xFF\xDA"))};
    for (const std::string& bytes : cases) {
        EXPECT_EQ(workOf(bytes).passes, 0);
        EXPECT_EQ(judged(bytes), "");
    }
}

// Ensure a JPEG cut short, once ended as from a file, decodes from memory to exactly what the
// library's file reader makes of the same bytes (the rest of the picture grey, not unwritten):
// baseline and progressive, cut inside a scan and inside the segments between scans; and that a
// complete file decodes as before.
TEST(DecodeWork, JpegCutShortDecodesFromMemoryAsFromAFile) {
    cv::Mat noise(301, 403, CV_8UC3);
    cv::randu(noise, 0, 256);
    const std::string path = (std::filesystem::temp_directory_path() / "decode_work_cut.jpg").string();
    for (const bool progressive : {false, true}) {
        const std::string jpeg = crafted::encoded(noise, ".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, progressive ? 1 : 0});
        const size_t secondScan = jpeg.find("\xFF\xDA", jpeg.find("\xFF\xDA") + 2);
        std::vector<size_t> cuts = {jpeg.size() / 2, jpeg.size() / 5, jpeg.size()};
        if (secondScan != std::string::npos) cuts.push_back(jpeg.rfind("\xFF\xC4", secondScan) + 5);  // in a table
        for (const size_t cut : cuts) {
            SCOPED_TRACE(::testing::Message() << (progressive ? "progressive" : "baseline") << ", " << cut << " of "
                                              << jpeg.size() << " bytes");
            std::ofstream(path, std::ios::binary) << jpeg.substr(0, cut);
            const cv::Mat fromFile = cv::imread(path, cv::IMREAD_COLOR);
            std::vector<uint8_t> bytes(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(cut));
            tonemorph::endJpegAsFromAFile(bytes);
            const cv::Mat fromMemory = cv::imdecode(bytes, cv::IMREAD_COLOR);
            ASSERT_EQ(fromMemory.size(), fromFile.size());
            if (!fromFile.empty()) {
                EXPECT_EQ(cv::norm(fromMemory, fromFile, cv::NORM_INF), 0);
            }
        }
    }
    std::remove(path.c_str());
}

// A few bytes of Deflate data standing for a piece of a TIFF (its judge does not unpack it).
std::string packedTile(int width, int height) { return crafted::packedZeros(uint64_t(width) * height * 3); }

tonemorph::PngWork pngWorkOf(const std::string& bytes) {
    return tonemorph::pngDecodeWork(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// Ensure a PNG's image data is judged by what it unpacks to where its packed size could hold far
// more than the picture: what encoders write passes (photo-like noise, plain colour, grey,
// interlaced data counted pass by pass), image data going on past the picture is refused once it
// goes well past it; and compressed text chunks are counted, refused past the limit.
TEST(DecodeWork, PngImageDataAndCompressedTextsJudged) {
    cv::Mat noise(301, 403, CV_8UC3);
    cv::randu(noise, 0, 256);
    const std::string plain[] = {crafted::encoded(noise, ".png"), crafted::encoded(cv::Mat(3000, 4000, CV_8UC3, cv::Scalar(9, 99, 199)), ".png"),
                                 crafted::blackGreyPng(20000, 15000)};
    for (const std::string& png : plain) {
        EXPECT_FALSE(pngWorkOf(png).beyondCap);
        EXPECT_EQ(judged(png), "");
    }
    EXPECT_EQ(pngWorkOf(crafted::encoded(noise, ".png")).unpackedBytes, 301 * (1 + 403 * 3)) << "noise is unpacked, and counted whole";
    // 65x33 in Adam7 passes of (9x5), (8x5), (17x4), (16x9), (33x8), (32x17), (65x16) pixels of one byte.
    std::string interlaced = crafted::blackGreyPng(65, 33);
    interlaced[8 + 8 + 12] = 1;
    EXPECT_EQ(pngWorkOf(interlaced).imageBytes, 5 * 10 + 5 * 9 + 4 * 18 + 9 * 17 + 8 * 34 + 17 * 33 + 16 * 66);
    EXPECT_FALSE(pngWorkOf(crafted::blackGreyPng(64, 64, 32 << 20)).beyondCap) << "a little past the picture";
    EXPECT_TRUE(pngWorkOf(crafted::blackGreyPng(64, 64, 100 << 20)).beyondCap);
    EXPECT_EQ(pngWorkOf(crafted::blackGreyPng(64, 64, 0, 3)).compressedTexts, 3);
    EXPECT_EQ(judged(crafted::blackGreyPng(64, 64, 0, static_cast<int>(tonemorph::kMostPngCompressedTexts))), "");
    EXPECT_NE(judged(crafted::blackGreyPng(64, 64, 0, static_cast<int>(tonemorph::kMostPngCompressedTexts) + 1)), "");
}

// Ensure a TIFF is judged by the pixels of its pieces rounded up to whole ones: strips and tiles
// as encoders cut them pass (the library's own, tiles of 256 over a small picture, one strip of
// all rows), and one tile or strip far larger than the picture is refused, naming its size.
TEST(DecodeWork, TiffJudgedByItsPiecesRoundedUp) {
    const std::string tile = packedTile(16, 16);
    struct Case {
        const char* what;
        std::string file;
        bool refused;
    };
    const Case cases[] = {
        {"the library's own", crafted::encoded(cv::Mat(301, 403, CV_8UC3, cv::Scalar(1, 2, 3)), ".tif"), false},
        {"tiles of 256 over 300x200", crafted::tiff(300, 200, {256, 256}, true, std::vector<std::string>(2, tile)), false},
        {"one strip of all rows", crafted::tiff(4000, 3000, {4000, 3000}, false, {tile}), false},
        {"a tile of 4096 over 64x64", crafted::tiff(64, 64, {4096, 4096}, true, {tile}), false},
        {"a tile of 16384 over 64x64", crafted::tiff(64, 64, {16384, 16384}, true, {tile}), true},
        {"a strip of 1000000 rows of 64", crafted::tiff(64, 64, {64, 1000000}, false, {tile}), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string verdict = judged(c.file);
        EXPECT_EQ(!verdict.empty(), c.refused) << verdict;
    }
    EXPECT_EQ(judged(crafted::tiff(64, 64, {16384, 16384}, true, {tile})),
              "is a TIFF cut into pieces of 16384x16384, through which the decoder would work 268435456 pixels for "
              "its 64x64; it is not decoded");
    EXPECT_EQ(tonemorph::piecePixels({300, 200}, {256, 256}), 512 * 256);
    EXPECT_EQ(tonemorph::piecePixels({INT32_MAX, INT32_MAX}, {INT32_MAX - 1, INT32_MAX - 1}), INT64_MAX);
}

// Ensure the JPEG stream inside a DICOM file is joined from its fragments as its decoder joins
// them, and held to the same limit on scans as a JPEG file.
TEST(DecodeWork, JpegInsideDicomJoinedAndJudged) {
    const std::string plain = crafted::progressiveJpeg({400, 304}, 0);
    const std::string busy = crafted::progressiveJpeg({400, 304}, 100);
    for (const int fragments : {1, 7}) {
        SCOPED_TRACE(fragments);
        const std::string dicom = crafted::dicomWithJpeg(plain, 304, 400, fragments);
        const std::vector<uint8_t> frame =
            tonemorph::dicomEncapsulatedFrame(reinterpret_cast<const uint8_t*>(dicom.data()), dicom.size());
        EXPECT_EQ(std::string(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(plain.size())), plain);
        EXPECT_EQ(judged(dicom), "");
        EXPECT_EQ(judged(crafted::dicomWithJpeg(busy, 304, 400, fragments)).rfind("is a DICOM file holding a JPEG of 110 scans", 0), 0u);
    }
    EXPECT_TRUE(tonemorph::dicomEncapsulatedFrame(reinterpret_cast<const uint8_t*>(plain.data()), plain.size()).empty());
}

// A bare JPEG 2000 codestream's start: SOC and SIZ for a picture of the given size in tiles of
// the given size (what the judge reads; the decoder would want more).
std::string codestream(cv::Size picture, cv::Size tile) {
    return std::string("\xFF\x4F\xFF\x51\0\x2F\0\0", 8) + crafted::bigEndian32(picture.width) +
           crafted::bigEndian32(picture.height) + std::string(8, '\0') + crafted::bigEndian32(tile.width) +
           crafted::bigEndian32(tile.height) + std::string(8, '\0') + std::string("\0\x03", 2) + std::string(9, '\x07');
}

// Ensure a JPEG 2000 picture is refused when cut into very many tiny tiles, and accepted in tiles
// as encoders make them (one, or hundreds of 512x512), or as small as 64x64 on a large picture;
// in a JP2 file as in a bare codestream.
TEST(DecodeWork, Jpeg2000OfManyTinyTilesRefused) {
    struct Case {
        cv::Size picture;
        cv::Size tile;
        bool refused;
    };
    const Case cases[] = {{{1200, 1200}, {8, 8}, true},          {{2048, 2048}, {16, 16}, true},
                          {{1200, 1200}, {1200, 1200}, false},   {{8000, 8000}, {512, 512}, false},
                          {{4096, 4096}, {64, 64}, false},       {{256, 256}, {8, 8}, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.picture << " in tiles of " << c.tile);
        const std::string bare = codestream(c.picture, c.tile);
        const std::string jp2 = std::string("\0\0\0\x0CjP  \r\n\x87\n", 12) + crafted::bigEndian32(0) + "jp2c" + bare;
        EXPECT_EQ(!judged(bare).empty(), c.refused) << judged(bare);
        EXPECT_EQ(judged(jp2), judged(bare));
    }
    EXPECT_EQ(judged(codestream({1200, 1200}, {8, 8})),
              "is a JPEG 2000 picture of 1200x1200 cut into 22500 tiles of 8x8, each of which costs the decoder about "
              "as much as a small picture; it is not decoded");
}

}  // namespace
