// What a picture file costs to decode beyond its size: a JPEG's scans.
#include "core/decode_work.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "core/picture_header.h"
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
// the repeats make more passes than any encoder's file, saying how many scans it has; also behind
// metadata segments whose length fields say 0 or 1, past which libjpeg reads on.
TEST(DecodeWork, RepeatedScansCountedAndRefusedPastTheLimit) {
    const std::string plain = crafted::progressiveJpeg({403, 301}, 0);
    const int64_t plainScans = workOf(plain).scans;
    for (const int repeats : {1, 10, 30, 2000}) {
      for (const std::string& shortSegments : {std::string(), std::string("\xFF\xFE\0\0\xFF\xE1\0\x01", 8)}) {
        SCOPED_TRACE(::testing::Message() << repeats << " repeats, " << shortSegments.size() / 4 << " short segments");
        const std::string jpeg = crafted::progressiveJpeg({403, 301}, repeats).insert(2, shortSegments);
        const tonemorph::DecodeWork work = workOf(jpeg);
        EXPECT_EQ(work.scans, plainScans + repeats);
        const std::string verdict = judged(jpeg);
        if (work.passes <= tonemorph::kMostJpegPasses) {
            EXPECT_EQ(verdict, "");
        } else {
            EXPECT_EQ(verdict.rfind("is a JPEG of " + std::to_string(plainScans + repeats) + " scans", 0), 0u) << verdict;
        }
      }
    }
    EXPECT_NE(judged(crafted::progressiveJpeg({403, 301}, 30)), "") << "30 more passes over the luma accepted";
}

// Ensure what is no JPEG counts nothing and passes, and that a JPEG cut short or without a frame
// counts nothing and is refused as unreadable, not passed unjudged (its decoder refuses it too).
TEST(DecodeWork, NoFrameOrNoJpegCountsNothing) {
    const std::string jpeg = crafted::progressiveJpeg({64, 64}, 0);
    const size_t frame = jpeg.find("\xFF\xC2");
    const std::string cases[] = {"", "not a picture", "\xFF\xD8", jpeg.substr(0, frame),
                                 jpeg.substr(0, frame) + jpeg.substr(jpeg.find("\xFF\xDA")),
                                 // a table segment with a length of 0, where libjpeg stops with an error
                                 std::string("\xFF\xD8\xFF\xDB\0\0", 6) + jpeg.substr(2)};
    for (const std::string& bytes : cases) {
        SCOPED_TRACE(::testing::PrintToString(bytes.substr(0, 8)));
        EXPECT_EQ(workOf(bytes).passes, 0);
        EXPECT_EQ(judged(bytes).empty(), bytes.size() < 2 || bytes[0] != '\xFF') << judged(bytes);
    }
    EXPECT_EQ(judged(jpeg.substr(0, frame)), "is a JPEG whose frame header cannot be read before decoding (its decoder "
                                             "would refuse it, or read it otherwise), so it is not decoded");
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

// Ensure a TIFF is judged by the pixels of its pieces rounded up to whole ones, its directory read
// as libtiff reads it: strips and tiles as encoders cut them pass (the library's own, tiles of 256
// over a small picture, one strip of all rows, and strips taller than the picture, which the
// decoder cuts off at its last row, as tiffcp and fax tools write them), one tile far larger than
// the picture is refused, naming its size, also with its tags after higher ones or typed LONG8;
// a directory libtiff would refuse is refused as unreadable; and JPEG pieces are held to the limit
// on scans, counted as libtiff counts them.
TEST(DecodeWork, TiffJudgedByItsPiecesRoundedUp) {
    const std::string tile = packedTile(16, 16);
    struct Case {
        const char* what;
        std::string file;
        bool refused;
    };
    std::string unreadable = crafted::tiff(64, 64, {64, 64}, false, {tile});
    unreadable[8] = '\xFF';  // 4,351 entries: past libtiff's limit
    unreadable[9] = '\x10';
    const Case cases[] = {
        {"the library's own", crafted::encoded(cv::Mat(301, 403, CV_8UC3, cv::Scalar(1, 2, 3)), ".tif"), false},
        {"tiles of 256 over 300x200", crafted::tiff(300, 200, {256, 256}, true, std::vector<std::string>(2, tile)), false},
        {"one strip of all rows", crafted::tiff(4000, 3000, {4000, 3000}, false, {tile}), false},
        {"strips of 65535 rows over 3000", crafted::tiff(4000, 3000, {4000, 65535}, false, {tile}), false},
        {"a strip of 1000000 rows over 64", crafted::tiff(64, 64, {64, 1000000}, false, {tile}), false},
        {"strips of 65535 rows, sizes last and LONG8", crafted::tiff(4000, 3000, {4000, 65535}, false, {tile}, 8, {true, true}), false},
        {"a tile of 4096 over 64x64", crafted::tiff(64, 64, {4096, 4096}, true, {tile}), false},
        {"a tile of 16384 over 64x64", crafted::tiff(64, 64, {16384, 16384}, true, {tile}), true},
        {"a tile of 16384, its tags last", crafted::tiff(64, 64, {16384, 16384}, true, {tile}, 8, {true, false}), true},
        {"a tile of 16384, sizes LONG8", crafted::tiff(64, 64, {16384, 16384}, true, {tile}, 8, {false, true}), true},
        {"a directory of 4351 entries", unreadable, true},
        {"a JPEG strip of 16 scans", crafted::tiff(400, 304, {400, 304}, false, {crafted::progressiveJpeg({400, 304}, 6)}, 7), false},
        {"a JPEG strip of 17 scans", crafted::tiff(400, 304, {400, 304}, false, {crafted::progressiveJpeg({400, 304}, 7)}, 7), true},
        {"JPEG tiles, one of 17 scans", crafted::tiff(400, 304, {256, 256}, true, {crafted::progressiveJpeg({256, 256}, 0),
            crafted::progressiveJpeg({256, 256}, 0), crafted::progressiveJpeg({256, 256}, 7), crafted::progressiveJpeg({256, 256}, 0)}, 7), true},
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

// A bare JPEG 2000 codestream's main header, as an encoder writes it: SOC, SIZ for a picture of
// the given size in three components, tiled as given, and COD with the given resolution levels,
// code-block size and precinct size (0: none, the maximum); then the end. What the judge reads;
// the decoder would want tiles too.
std::string codestream(cv::Size picture, cv::Size tile, int block = 64, int precinct = 0, int levels = 5) {
    const auto log2 = [](int value) { return static_cast<char>(std::log2(value)); };
    std::string cod = std::string(1, precinct > 0 ? '\x01' : '\0') + std::string("\0\0\x01\x01", 4) +
                      std::string(1, static_cast<char>(levels)) + std::string(1, log2(block) - 2) +
                      std::string(1, log2(block) - 2) + std::string("\0\x01", 2);
    for (int r = 0; precinct > 0 && r <= levels; ++r) cod += static_cast<char>(log2(precinct) * 17);
    return std::string("\xFF\x4F\xFF\x51\0\x2F\0\0", 8) + crafted::bigEndian32(picture.width) +
           crafted::bigEndian32(picture.height) + std::string(8, '\0') + crafted::bigEndian32(tile.width) +
           crafted::bigEndian32(tile.height) + std::string(8, '\0') + std::string("\0\x03", 2) +
           std::string("\x07\x01\x01\x07\x01\x01\x07\x01\x01", 9) + "\xFF\x52" +
           std::string(1, static_cast<char>((cod.size() + 2) >> 8)) + std::string(1, static_cast<char>(cod.size() + 2)) + cod +
           "\xFF\xD9";
}

// Ensure the stream inside a DICOM file is found where its decoder finds it (the top-level pixel
// data, written OB or OW, explicit or implicit VR, after sequences of undefined length; a decoy in
// a private element ahead of it never taken), joined from its fragments as its decoder joins
// them, and judged as a file of its own format: a JPEG held to the limit on scans, a JPEG 2000
// codestream to the limits on tiles.
TEST(DecodeWork, StreamInsideDicomFoundJoinedAndJudged) {
    const std::string plain = crafted::progressiveJpeg({400, 304}, 0);
    const std::string busy = crafted::progressiveJpeg({400, 304}, 100);
    const std::pair<const char*, crafted::DicomLayout> layouts[] = {
        {"plain", {false, false, false, {}}}, {"OW", {true, false, false, {}}}, {"implicit VR", {false, true, false, {}}},
        {"a sequence first", {false, false, true, {}}}, {"implicit, a sequence first", {false, true, true, {}}},
        {"a decoy first", {false, false, false, plain}},
        {"an implicit decoy first", {true, true, false, plain}}};
    for (const auto& [what, layout] : layouts) {
        for (const int fragments : {1, 7}) {
            SCOPED_TRACE(::testing::Message() << what << ", " << fragments << " fragments");
            const std::string dicom = crafted::dicomWithJpeg(plain, 304, 400, fragments, layout);
            const std::vector<uint8_t> frame =
                tonemorph::dicomEncapsulatedFrame(reinterpret_cast<const uint8_t*>(dicom.data()), dicom.size());
            ASSERT_GE(frame.size(), plain.size());
            EXPECT_EQ(std::string(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(plain.size())), plain);
            EXPECT_EQ(judged(dicom), "");
            EXPECT_EQ(tonemorph::declaredSize(reinterpret_cast<const uint8_t*>(dicom.data()), dicom.size()), cv::Size(400, 304));
            EXPECT_EQ(judged(crafted::dicomWithJpeg(busy, 304, 400, fragments, layout)).rfind("is a DICOM file holding a JPEG of 110 scans", 0), 0u);
        }
    }
    crafted::DicomLayout busyDecoy;
    busyDecoy.decoy = busy;
    EXPECT_EQ(judged(crafted::dicomWithJpeg(plain, 304, 400, 1, busyDecoy)), "") << "the decoy is never decoded";
    EXPECT_EQ(judged(crafted::dicomWithJpeg(codestream({1200, 1200}, {8, 8}), 1200, 1200)).rfind("is a DICOM file holding a JPEG 2000 picture of 1200x1200 cut into 22500 tiles", 0), 0u);
    EXPECT_TRUE(tonemorph::dicomEncapsulatedFrame(reinterpret_cast<const uint8_t*>(plain.data()), plain.size()).empty());
    const std::string noPixels = std::string(128, '\0') + "DICM" + crafted::littleEndian(0x0028, 2) + crafted::littleEndian(0x10, 2) +
                                 "US" + crafted::littleEndian(2, 2) + crafted::littleEndian(30, 2);
    EXPECT_EQ(judged(noPixels).rfind("is a DICOM file whose pixel data cannot be read", 0), 0u);

    // Its fragments' items as the decoder reads them: a broken item header (what the judge
    // fuzzer found: the decoder then cleared 1.2 GB for an 8 KB file) or an item running past the
    // file's end is refused; the data ending without the sequence delimiter is not.
    const std::string good = crafted::dicomWithJpeg(plain, 304, 400, 7);
    const std::string itemTag("\xFE\xFF\x00\xE0", 4);
    const size_t third = good.find(itemTag, good.find(itemTag, good.find(itemTag) + 1) + 1);
    ASSERT_NE(third, std::string::npos);
    std::string brokenTag = good;
    brokenTag[third + 2] = '\x5B';
    std::string pastTheEnd = good;
    pastTheEnd.replace(third + 4, 4, crafted::littleEndian(0x0558E000, 4));
    for (const std::string* broken : {&brokenTag, &pastTheEnd}) {
        EXPECT_EQ(judged(*broken).rfind("is a DICOM file whose pixel data cannot be read", 0), 0u);
    }
    ASSERT_EQ(good.substr(good.size() - 8, 4), std::string("\xFE\xFF\xDD\xE0", 4));
    EXPECT_EQ(judged(good.substr(0, good.size() - 8)), "");
}

// Ensure a JPEG 2000 picture is judged by what its decoder sets up beyond its pixels: refused when
// cut into very many tiny tiles, or coded in code-blocks (or precincts) so small that they
// multiply the decoder's work; accepted as encoders make it (one tile, hundreds of 512x512, tiles
// of 64x64 or 32x32 with partial ones at the edges, code-blocks of 64 down to 8); in a JP2 file as
// in a bare codestream, however many boxes stand before it; and a JP2 file whose codestream cannot
// be found is refused as unreadable.
TEST(DecodeWork, Jpeg2000JudgedByTilesAndCodeBlocks) {
    struct Case {
        cv::Size picture;
        cv::Size tile;
        int block;
        int precinct;
        bool refused;
    };
    const Case cases[] = {{{1200, 1200}, {8, 8}, 64, 0, true},          {{2048, 2048}, {16, 16}, 64, 0, true},
                          {{1200, 1200}, {1200, 1200}, 64, 0, false},   {{8000, 8000}, {512, 512}, 64, 0, false},
                          {{4096, 4096}, {64, 64}, 64, 0, false},       {{256, 256}, {8, 8}, 64, 0, false},
                          {{4000, 3000}, {64, 64}, 64, 0, false},       {{8000, 6000}, {64, 64}, 64, 0, false},
                          {{4000, 3000}, {32, 32}, 64, 0, false},       {{4000, 3000}, {4000, 3000}, 32, 0, false},
                          {{8192, 6144}, {8192, 6144}, 8, 0, false},    {{8192, 6144}, {8192, 6144}, 4, 0, true},
                          {{4000, 3000}, {4000, 3000}, 64, 256, false}, {{8192, 6144}, {8192, 6144}, 64, 2, true},
                          {{8192, 6144}, {8192, 6144}, 64, 8, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.picture << " in tiles of " << c.tile << ", code-blocks of " << c.block
                                          << ", precincts of " << c.precinct);
        const std::string bare = codestream(c.picture, c.tile, c.block, c.precinct);
        std::string boxes;
        for (int i = 0; i < 70; ++i) boxes += crafted::bigEndian32(12) + "free" + std::string(4, '\0');
        for (const std::string& before : {std::string(), boxes}) {
            const std::string jp2 = std::string("\0\0\0\x0CjP  \r\n\x87\n", 12) + before + crafted::bigEndian32(0) + "jp2c" + bare;
            EXPECT_EQ(judged(jp2), judged(bare));
        }
        EXPECT_EQ(!judged(bare).empty(), c.refused) << judged(bare);
    }
    EXPECT_EQ(judged(codestream({1200, 1200}, {8, 8})),
              "is a JPEG 2000 picture of 1200x1200 cut into 22500 tiles of 8x8, each of which costs the decoder about "
              "as much as a small picture; it is not decoded");
    EXPECT_EQ(judged(codestream({8192, 6144}, {8192, 6144}, 4)).rfind("is a JPEG 2000 picture of 8192x6144 coded in ", 0), 0u);
    // A coding style in a tile-part header counts as one in the main header does.
    const std::string plain = codestream({8192, 6144}, {8192, 6144});
    const std::string small = codestream({8192, 6144}, {8192, 6144}, 4);
    const std::string smallCod = small.substr(small.find("\xFF\x52"), small.size() - 2 - small.find("\xFF\x52"));
    const std::string tilePart = std::string("\xFF\x90\0\x0A\0\0", 6) + crafted::bigEndian32(static_cast<uint32_t>(14 + smallCod.size() + 2)) +
                                 std::string("\0\x01", 2) + smallCod + "\xFF\x93";
    EXPECT_NE(judged(plain.substr(0, plain.size() - 2) + tilePart + "\xFF\xD9"), "");
    const std::string noCodestream = std::string("\0\0\0\x0CjP  \r\n\x87\n", 12) + crafted::bigEndian32(20) + "ftypjp2 " + std::string(8, '\0');
    EXPECT_EQ(judged(noCodestream).rfind("is a JPEG 2000 file whose codestream cannot be read", 0), 0u);
}

// Ensure the memory a decoder needs beside the picture is told for the memory check: OpenJPEG's,
// little for what encoders write, gigabytes for 4x4 code-blocks over 8192x6144 (measured: 3.5 GB
// more than 64x64 ones), also inside a DICOM file; the library's TIFF reader's, which holds a
// strip of all its rows per strip (a gigabyte for 65535 rows of 4000) and a whole tile; nothing
// for other formats.
TEST(DecodeWork, DecoderMemoryBeyondThePictureTold) {
    const auto bytesOf = [](const std::string& file) {
        return tonemorph::decoderBytesBeyondPicture(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    };
    EXPECT_LT(bytesOf(codestream({8192, 6144}, {8192, 6144})), int64_t{64} << 20);
    EXPECT_LT(bytesOf(codestream({4000, 3000}, {64, 64})), int64_t{160} << 20);
    EXPECT_GT(bytesOf(codestream({8192, 6144}, {8192, 6144}, 4)), int64_t{3} << 30);
    EXPECT_EQ(bytesOf(crafted::dicomWithJpeg(codestream({8192, 6144}, {8192, 6144}, 4), 6144, 8192)),
              bytesOf(codestream({8192, 6144}, {8192, 6144}, 4)));
    EXPECT_EQ(bytesOf(crafted::progressiveJpeg({64, 64}, 0)), 0);
    const std::string tile = packedTile(16, 16);
    EXPECT_EQ(bytesOf(crafted::tiff(4000, 3000, {4000, 65535}, false, {tile})), int64_t{4} * 4000 * (65535 - 3000));
    EXPECT_EQ(bytesOf(crafted::tiff(4000, 3000, {4000, 16}, false, {tile})), 0);
    EXPECT_EQ(bytesOf(crafted::tiff(64, 64, {4096, 4096}, true, {tile})), int64_t{4} * (4096 * 4096 - 64 * 64));
}

}  // namespace
