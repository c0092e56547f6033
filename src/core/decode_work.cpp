#include "core/decode_work.h"

#include "core/memory_budget.h"
#include "core/picture_header.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <zlib.h>

namespace tonemorph {

namespace {

uint32_t bigEndian16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }

struct Component {
    int id;
    int64_t blocks;  // 8x8 blocks of this component in the whole picture
};

// The position of the next marker (its 0xFF) at or after at in entropy-coded data: stuffed zero
// bytes, restart markers and fill bytes belong to the data.
size_t nextMarker(const uint8_t* data, size_t size, size_t at) {
    while (at + 1 < size) {
        const void* found = std::memchr(data + at, 0xFF, size - at - 1);
        if (found == nullptr) return size;
        at = static_cast<size_t>(static_cast<const uint8_t*>(found) - data);
        const uint8_t next = data[at + 1];
        if (next == 0x00 || next == 0xFF || (next >= 0xD0 && next <= 0xD7)) {
            at += next == 0xFF ? 1 : 2;
            continue;
        }
        return at;
    }
    return size;
}

}  // namespace

DecodeWork jpegDecodeWork(const uint8_t* data, size_t size) {
    DecodeWork work;
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return work;
    Component components[256];
    int componentCount = 0;
    int64_t pictureBlocks = 0;
    int64_t scanBlocks = 0;
    size_t at = 2;
    for (;;) {
        // Fill bytes before a marker are allowed; anything else between segments is skipped, as
        // the decoder does.
        while (at < size && data[at] != 0xFF) ++at;
        while (at + 1 < size && data[at + 1] == 0xFF) ++at;
        if (at + 1 >= size) break;
        const uint8_t type = data[at + 1];
        at += 2;
        if (type == 0xD9) break;                                                         // end of image
        if (type == 0x01 || type == 0xD8 || (type >= 0xD0 && type <= 0xD7)) continue;  // no length
        if (at + 2 > size) break;
        const size_t length = bigEndian16(data + at);
        if (length < 2 || at + length > size) break;
        const uint8_t* segment = data + at + 2;
        const size_t bytes = length - 2;
        const bool frame = type >= 0xC0 && type <= 0xCF && type != 0xC4 && type != 0xC8 && type != 0xCC;
        if (frame && componentCount == 0 && bytes >= 6) {
            const int64_t height = bigEndian16(segment + 1);
            const int64_t width = bigEndian16(segment + 3);
            const int count = segment[5];
            if (count == 0 || bytes < 6 + 3 * static_cast<size_t>(count)) return {};
            int hMax = 1;
            int vMax = 1;
            for (int i = 0; i < count; ++i) {
                hMax = std::max(hMax, segment[7 + 3 * i] >> 4);
                vMax = std::max(vMax, segment[7 + 3 * i] & 15);
            }
            for (int i = 0; i < count; ++i) {
                const int h = std::max(segment[7 + 3 * i] >> 4, 1);
                const int v = std::max(segment[7 + 3 * i] & 15, 1);
                // The component's own size, rounded up to whole blocks.
                const int64_t columns = ((width * h + hMax - 1) / hMax + 7) / 8;
                const int64_t rows = ((height * v + vMax - 1) / vMax + 7) / 8;
                components[componentCount++] = {segment[6 + 3 * i], columns * rows};
                pictureBlocks += columns * rows;
            }
        } else if (type == 0xDA && bytes >= 1) {
            const int count = segment[0];
            for (int i = 0; i < count && 1 + 2 * static_cast<size_t>(i) < bytes; ++i) {
                for (int c = 0; c < componentCount; ++c) {
                    // Saturates long before it could overflow: the verdict is long settled then.
                    if (components[c].id == segment[1 + 2 * i]) {
                        scanBlocks = std::min(scanBlocks + components[c].blocks, INT64_MAX / 4);
                    }
                }
            }
            ++work.scans;
            at = nextMarker(data, size, at + length);
            continue;
        }
        at += length;
    }
    if (pictureBlocks > 0) work.passes = (scanBlocks + pictureBlocks - 1) / pictureBlocks;
    return work;
}

namespace {

uint32_t bigEndian32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

// What a PNG's image data unpacks to: each row's filter byte and its samples, for every pass of
// an interlaced picture.
int64_t pngImageBytes(int64_t width, int64_t height, int bitDepth, int colourType, bool interlaced) {
    const int channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
    const auto rowsOf = [&](int64_t columns, int64_t rows) {
        return columns == 0 || rows == 0 ? 0 : rows * (1 + (columns * channels * bitDepth + 7) / 8);
    };
    if (!interlaced) return rowsOf(width, height);
    // Adam7: each pass's first column and row, and its steps.
    const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    int64_t bytes = 0;
    for (const auto& pass : passes) {
        bytes += rowsOf((width - pass[0] + pass[2] - 1) / pass[2], (height - pass[1] + pass[3] - 1) / pass[3]);
    }
    return bytes;
}

// Unpacks the zlib stream spread over the given parts of data, counting what it gives and
// keeping none of it; stops past cap. The count, and whether it went past cap.
std::pair<int64_t, bool> unpackedSize(const uint8_t* data, const std::vector<std::pair<size_t, size_t>>& parts,
                                      int64_t cap) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return {0, false};
    std::vector<uint8_t> scratch(1 << 16);
    int64_t total = 0;
    bool ended = false;
    for (const auto& [offset, length] : parts) {
        stream.next_in = const_cast<Bytef*>(data + offset);
        stream.avail_in = static_cast<uInt>(length);
        while (stream.avail_in > 0 && !ended && total <= cap) {
            stream.next_out = scratch.data();
            stream.avail_out = static_cast<uInt>(scratch.size());
            const int result = inflate(&stream, Z_NO_FLUSH);
            total += static_cast<int64_t>(scratch.size() - stream.avail_out);
            if (result == Z_STREAM_END) ended = true;
            if (result != Z_OK && result != Z_STREAM_END) break;  // damaged: the decoder says so itself
        }
        if (ended || total > cap) break;
    }
    inflateEnd(&stream);
    return {total, total > cap};
}

}  // namespace

PngWork pngDecodeWork(const uint8_t* data, size_t size) {
    PngWork work;
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 8 || std::memcmp(data, kSignature, 8) != 0) return work;
    std::vector<std::pair<size_t, size_t>> imageData;
    int64_t packed = 0;
    for (size_t at = 8; at + 8 <= size;) {
        const size_t length = bigEndian32(data + at);
        const std::string type(reinterpret_cast<const char*>(data + at + 4), 4);
        const size_t body = at + 8;
        if (length > size - body) break;  // cut short: the decoder stops there too
        if (type == "IHDR" && length >= 13) {
            work.imageBytes = pngImageBytes(bigEndian32(data + body), bigEndian32(data + body + 4), data[body + 8],
                                            data[body + 9], data[body + 12] != 0);
        } else if (type == "IDAT") {
            imageData.emplace_back(body, length);
            packed += static_cast<int64_t>(length);
        } else if (type == "zTXt") {
            ++work.compressedTexts;
        } else if (type == "iTXt") {
            // Keyword, then its compression flag.
            const uint8_t* keywordEnd = static_cast<const uint8_t*>(std::memchr(data + body, 0, length));
            if (keywordEnd != nullptr && keywordEnd + 1 < data + body + length && keywordEnd[1] != 0) ++work.compressedTexts;
        } else if (type == "IEND") {
            break;
        }
        at = body + length + 4;  // past the CRC
    }
    // Deflate packs at most 1032 bytes into one: only a packed size that could hold far more than
    // the picture needs is worth unpacking to see.
    const int64_t cap = 2 * work.imageBytes + (int64_t{64} << 20);
    if (packed > cap / 1032) {
        const auto [unpacked, beyond] = unpackedSize(data, imageData, cap);
        work.unpackedBytes = unpacked;
        work.beyondCap = beyond;
    }
    return work;
}

std::vector<uint8_t> dicomEncapsulatedFrame(const uint8_t* data, size_t size) {
    std::vector<uint8_t> frame;
    if (size < 132 || std::memcmp(data + 128, "DICM", 4) != 0) return frame;
    // Pixel Data (7FE0,0010) of undefined length, with an explicit (OB, two reserved bytes) or an
    // implicit value representation: its value is a run of items ending in a delimiter.
    static const uint8_t kTag[4] = {0xE0, 0x7F, 0x10, 0x00};
    static const uint8_t kUndefined[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    size_t at = 132;
    for (;;) {
        const uint8_t* found = std::search(data + at, data + size, kTag, kTag + 4);
        if (found == data + size) return frame;
        at = static_cast<size_t>(found - data) + 4;
        if (size - at >= 8 && std::memcmp(data + at, "OB\0\0", 4) == 0 && std::memcmp(data + at + 4, kUndefined, 4) == 0) {
            at += 8;
            break;
        }
        if (size - at >= 4 && std::memcmp(data + at, kUndefined, 4) == 0) {
            at += 4;
            break;
        }
    }
    // Items (FFFE,E000): the first holds the table of frame offsets, the others the fragments of
    // the frames' stream, in order, which the decoder joins.
    bool first = true;
    while (size - at >= 8) {
        const uint32_t group = uint32_t{data[at]} | uint32_t{data[at + 1]} << 8;
        const uint32_t element = uint32_t{data[at + 2]} | uint32_t{data[at + 3]} << 8;
        const size_t length = uint32_t{data[at + 4]} | uint32_t{data[at + 5]} << 8 | uint32_t{data[at + 6]} << 16 |
                              uint32_t{data[at + 7]} << 24;
        if (group != 0xFFFE || element != 0xE000 || length > size - at - 8) break;
        if (!first) frame.insert(frame.end(), data + at + 8, data + at + 8 + length);
        first = false;
        at += 8 + length;
    }
    return frame;
}

int64_t piecePixels(cv::Size picture, cv::Size piece) {
    if (piece.width <= 0 || piece.height <= 0) return 0;
    const int64_t across = (int64_t{picture.width} + piece.width - 1) / piece.width;
    const int64_t down = (int64_t{picture.height} + piece.height - 1) / piece.height;
    const int64_t wide = across * piece.width;  // each below 2^32
    const int64_t high = down * piece.height;
    return wide > INT64_MAX / high ? INT64_MAX : wide * high;
}

std::string excessiveDecodeWork(const uint8_t* data, size_t size) {
    const DecodeWork jpeg = jpegDecodeWork(data, size);
    if (jpeg.passes > kMostJpegPasses) {
        return "is a JPEG of " + std::to_string(jpeg.scans) + " scans, as much work to decode as " +
               std::to_string(jpeg.passes) + " pictures of its size; no camera or encoder goes past " +
               std::to_string(kMostJpegPasses) + ", so it is not decoded";
    }
    // A DICOM file's picture may be a JPEG stream inside it, which its decoder takes as a file.
    const std::vector<uint8_t> frame = dicomEncapsulatedFrame(data, size);
    const DecodeWork inner = jpegDecodeWork(frame.data(), frame.size());
    if (inner.passes > kMostJpegPasses) {
        return "is a DICOM file holding a JPEG of " + std::to_string(inner.scans) + " scans, as much work to decode as " +
               std::to_string(inner.passes) + " pictures of its size; no camera or encoder goes past " +
               std::to_string(kMostJpegPasses) + ", so it is not decoded";
    }
    const PngWork png = pngDecodeWork(data, size);
    if (png.compressedTexts > kMostPngCompressedTexts) {
        return "is a PNG of " + std::to_string(png.compressedTexts) +
               " compressed text chunks, which the decoder unpacks one by one; no picture carries more than " +
               std::to_string(kMostPngCompressedTexts) + ", so it is not decoded";
    }
    if (const std::optional<PieceLayout> layout = pieceLayout(data, size)) {
        const cv::Size picture = layout->picture;
        const cv::Size piece = layout->piece;
        const int64_t picturePixels = int64_t{picture.width} * picture.height;
        const std::string pieceText = std::to_string(piece.width) + "x" + std::to_string(piece.height);
        const std::string pictureText = std::to_string(picture.width) + "x" + std::to_string(picture.height);
        const int64_t pixels = piecePixels(picture, piece);
        if (layout->format == PieceLayout::Format::kTiff && pixels - kMostExtraTiffPiecePixels > 2 * picturePixels) {
            return "is a TIFF cut into pieces of " + pieceText + ", through which the decoder would work " +
                   std::to_string(pixels) + " pixels for its " + pictureText + "; it is not decoded";
        }
        const int64_t tiles = pixels / (int64_t{piece.width} * piece.height);
        if (layout->format == PieceLayout::Format::kJpeg2000 && tiles > kMostSmallTiles && tiles > picturePixels / 4096) {
            return "is a JPEG 2000 picture of " + pictureText + " cut into " + std::to_string(tiles) + " tiles of " +
                   pieceText + ", each of which costs the decoder about as much as a small picture; it is not decoded";
        }
    }
    if (png.beyondCap) {
        return "is a PNG whose image data unpacks to over " + describeBytes(png.unpackedBytes) + " where its pixels need " +
               describeBytes(png.imageBytes) + "; the decoder would unpack all of it, so it is not decoded";
    }
    return {};
}

void endJpegAsFromAFile(std::vector<uint8_t>& bytes) {
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8) return;
    // A marker segment is at most 65535 bytes long after its marker.
    constexpr size_t kMarkers = 65536 / 2 + 1;
    bytes.reserve(bytes.size() + 2 * kMarkers);
    for (size_t i = 0; i < kMarkers; ++i) {
        bytes.push_back(0xFF);
        bytes.push_back(0xD9);
    }
}

}  // namespace tonemorph
