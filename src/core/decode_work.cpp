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
        size_t length = bigEndian16(data + at);
        if (length < 2) {
            if (!jpegLengthForgiven(type)) break;  // the decoder stops with an error here
            length = 2;                            // and reads on right after it here
        }
        if (at + length > size) break;
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
    // Saturates instead of overflowing: a header may declare 2^32 - 1 by 2^32 - 1 at any depth.
    const auto rowsOf = [&](int64_t columns, int64_t rows) -> int64_t {
        if (columns == 0 || rows == 0) return 0;
        const int64_t row = 1 + (columns * channels * bitDepth + 7) / 8;
        return rows > INT64_MAX / 32 / row ? INT64_MAX / 32 : rows * row;
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

PngWork pngDecodeWork(const uint8_t* data, size_t size, bool unpack) {
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
    if (unpack && packed > cap / 1032) {
        const auto [unpacked, beyond] = unpackedSize(data, imageData, cap);
        work.unpackedBytes = unpacked;
        work.beyondCap = beyond;
    }
    return work;
}

std::vector<uint8_t> dicomEncapsulatedFrame(const uint8_t* data, size_t size, bool* itemsReadable) {
    if (itemsReadable != nullptr) *itemsReadable = true;
    std::vector<uint8_t> frame;
    const std::optional<DicomPicture> picture = dicomPicture(data, size);
    if (!picture || !picture->encapsulated) return frame;
    // Items (FFFE,E000): the first holds the table of frame offsets, the others the fragments of
    // the frames' stream, in order, which the decoder joins.
    size_t at = picture->pixelData;
    bool first = true;
    while (size - at >= 8) {
        const uint32_t group = uint32_t{data[at]} | uint32_t{data[at + 1]} << 8;
        const uint32_t element = uint32_t{data[at + 2]} | uint32_t{data[at + 3]} << 8;
        const size_t length = uint32_t{data[at + 4]} | uint32_t{data[at + 5]} << 8 | uint32_t{data[at + 6]} << 16 |
                              uint32_t{data[at + 7]} << 24;
        if (group == 0xFFFE && element == 0xE0DD) break;  // the sequence delimiter
        if (group != 0xFFFE || element != 0xE000 || length > size - at - 8) {
            if (itemsReadable != nullptr) *itemsReadable = false;
            break;
        }
        if (!first) frame.insert(frame.end(), data + at + 8, data + at + 8 + length);
        first = false;
        at += 8 + length;
    }
    return frame;
}

namespace {

int64_t ceilDiv(int64_t value, int64_t by) { return (value + by - 1) / by; }

// How one component is coded (COD, or COC for it): resolution levels, code-block size and
// precinct sizes, as powers of two.
struct CodingStyle {
    int levels = 5;
    int blockWidth = 6;
    int blockHeight = 6;
    bool precincts = false;
    uint8_t precinctSizes[33] = {};  // PPx in the low nibble, PPy in the high one, per resolution
};

// Reads SPcod / SPcoc; false where the decoder refuses it.
bool readCodingStyle(const uint8_t* p, size_t bytes, bool precincts, CodingStyle& style) {
    if (bytes < 5) return false;
    style.levels = p[0];
    style.blockWidth = (p[1] & 15) + 2;
    style.blockHeight = (p[2] & 15) + 2;
    style.precincts = precincts;
    if (style.levels > 32 || style.blockWidth > 10 || style.blockHeight > 10 || style.blockWidth + style.blockHeight > 12) {
        return false;
    }
    if (!precincts) return true;
    if (bytes < 5 + static_cast<size_t>(style.levels) + 1) return false;
    for (int r = 0; r <= style.levels; ++r) {
        style.precinctSizes[r] = p[5 + r];
        if (r > 0 && ((p[5 + r] & 15) == 0 || (p[5 + r] >> 4) == 0)) return false;
    }
    return true;
}

// Code-blocks and precincts the decoder sets up for one component of one tile of w x h samples:
// each resolution's bands cut into code-blocks, which precincts smaller than them make smaller.
int64_t blocksOf(int64_t w, int64_t h, const CodingStyle& style) {
    int64_t blocks = 0;
    for (int r = 0; r <= style.levels; ++r) {
        const int shift = style.levels - r;
        const int64_t rw = ceilDiv(w, int64_t{1} << shift);
        const int64_t rh = ceilDiv(h, int64_t{1} << shift);
        const int precinctWidth = style.precincts ? style.precinctSizes[r] & 15 : 15;
        const int precinctHeight = style.precincts ? style.precinctSizes[r] >> 4 : 15;
        const int64_t blockWidth = int64_t{1} << std::min(style.blockWidth, r == 0 ? precinctWidth : precinctWidth - 1);
        const int64_t blockHeight = int64_t{1} << std::min(style.blockHeight, r == 0 ? precinctHeight : precinctHeight - 1);
        blocks += ceilDiv(rw, int64_t{1} << precinctWidth) * ceilDiv(rh, int64_t{1} << precinctHeight);
        if (r == 0) {
            blocks += ceilDiv(rw, blockWidth) * ceilDiv(rh, blockHeight);
        } else {
            // Low-pass halves round up, high-pass halves down.
            const int64_t low[2] = {(rw + 1) / 2, (rh + 1) / 2};
            const int64_t high[2] = {rw / 2, rh / 2};
            blocks += ceilDiv(high[0], blockWidth) * ceilDiv(low[1], blockHeight) +
                      ceilDiv(low[0], blockWidth) * ceilDiv(high[1], blockHeight) +
                      ceilDiv(high[0], blockWidth) * ceilDiv(high[1], blockHeight);
        }
    }
    return blocks;
}

// The widths of the tiles along one side, with how many there are of each: the first and last
// cut by the picture's edges, the ones between whole.
std::vector<std::pair<int64_t, int64_t>> tileSpans(int64_t origin, int64_t tile, int64_t start, int64_t end) {
    const int64_t count = ceilDiv(end - origin, tile);
    const int64_t first = std::min(origin + tile, end) - std::max(origin, start);
    if (count <= 1) return {{first, 1}};
    return {{first, 1}, {tile, count - 2}, {end - (origin + (count - 1) * tile), 1}};
}

uint32_t bigEndian32At(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

}  // namespace

std::optional<Jpeg2000Work> jpeg2000Work(const uint8_t* data, size_t size) {
    const std::optional<PieceLayout> layout = pieceLayout(data, size);
    if (!layout || layout->format != PieceLayout::Format::kJpeg2000) return std::nullopt;
    const uint8_t* cs = data + layout->codestream;
    const size_t bytes = size - layout->codestream;
    if (bytes < 42) return std::nullopt;
    const size_t sizLength = bigEndian16(cs + 4);
    const int components = static_cast<int>(bigEndian16(cs + 40));
    if (components == 0 || sizLength != 38 + 3 * static_cast<size_t>(components) || bytes < 4 + sizLength) return std::nullopt;
    const int64_t gridWidth = bigEndian32At(cs + 8);
    const int64_t gridHeight = bigEndian32At(cs + 12);
    const int64_t left = bigEndian32At(cs + 16);
    const int64_t top = bigEndian32At(cs + 20);
    const int64_t tileWidth = bigEndian32At(cs + 24);
    const int64_t tileHeight = bigEndian32At(cs + 28);
    const int64_t tileLeft = bigEndian32At(cs + 32);
    const int64_t tileTop = bigEndian32At(cs + 36);

    // Every coding style the file gives, in its main header and in its tiles' headers: each
    // component is counted at the costliest of those that reach it.
    std::vector<CodingStyle> defaults(1);
    std::vector<std::vector<std::pair<int, CodingStyle>>> styles;  // per header: (component or -1, style)
    std::vector<std::pair<int, CodingStyle>> header;
    size_t at = 4 + sizLength;
    bool mainHeader = true;
    while (at + 4 <= bytes) {
        const uint32_t marker = bigEndian16(cs + at);
        if (marker == 0xFFD9) break;  // end of codestream
        const size_t length = bigEndian16(cs + at + 2);
        if (length < 2 || at + 2 + length > bytes) {
            if (mainHeader) return std::nullopt;  // the decoder cannot read its main header either
            break;
        }
        const uint8_t* segment = cs + at + 4;
        const size_t segmentBytes = length - 2;
        if (marker == 0xFF90) {  // a tile-part: its header, then its data, Psot bytes in all
            if (segmentBytes < 8) break;
            if (!header.empty()) styles.push_back(header);  // most tile-parts bring no style of their own
            header.clear();
            mainHeader = false;
            const size_t tilePart = bigEndian32At(segment + 2);
            const size_t headerEnd = at + 2 + length;
            // Its header's markers up to SOD.
            size_t inner = headerEnd;
            while (inner + 4 <= bytes && bigEndian16(cs + inner) != 0xFF93) {
                const size_t innerLength = bigEndian16(cs + inner + 2);
                if (innerLength < 2 || inner + 2 + innerLength > bytes) break;
                const uint32_t innerMarker = bigEndian16(cs + inner);
                const uint8_t* innerSegment = cs + inner + 4;
                const size_t innerBytes = innerLength - 2;
                CodingStyle style;
                if (innerMarker == 0xFF52 && innerBytes >= 5 && readCodingStyle(innerSegment + 5, innerBytes - 5, innerSegment[0] & 1, style)) {
                    header.emplace_back(-1, style);
                } else if (innerMarker == 0xFF53) {
                    const size_t skip = components < 257 ? 1 : 2;
                    if (innerBytes > skip && readCodingStyle(innerSegment + skip + 1, innerBytes - skip - 1, innerSegment[skip] & 1, style)) {
                        header.emplace_back(-1, style);  // which component it is matters not for the worst case
                    }
                }
                inner += 2 + innerLength;
            }
            if (tilePart == 0 || tilePart < 14) break;  // to the end of the codestream
            at += tilePart;
            continue;
        }
        CodingStyle style;
        if (marker == 0xFF52) {
            if (segmentBytes < 5 || !readCodingStyle(segment + 5, segmentBytes - 5, segment[0] & 1, style)) return std::nullopt;
            if (mainHeader) defaults[0] = style;
            header.emplace_back(-1, style);
        } else if (marker == 0xFF53) {
            const size_t skip = components < 257 ? 1 : 2;
            if (segmentBytes <= skip || !readCodingStyle(segment + skip + 1, segmentBytes - skip - 1, segment[skip] & 1, style)) {
                return std::nullopt;
            }
            header.emplace_back(-1, style);
        }
        at += 2 + length;
    }
    if (!header.empty()) styles.push_back(header);

    Jpeg2000Work work;
    work.tiles = layout->pieces;
    work.pixels = int64_t{layout->picture.width} * layout->picture.height;
    work.components = components;
    const auto xs = tileSpans(tileLeft, tileWidth, left, gridWidth);
    const auto ys = tileSpans(tileTop, tileHeight, top, gridHeight);
    for (int c = 0; c < components; ++c) {
        const int64_t xStep = std::max<int64_t>(cs[42 + 3 * c + 1], 1);
        const int64_t yStep = std::max<int64_t>(cs[42 + 3 * c + 2], 1);
        int64_t mostBlocks = 0;
        int64_t mostInOneTile = 0;
        const auto count = [&](const CodingStyle& style) {
            int64_t blocks = 0;
            int64_t inOneTile = 0;
            for (const auto& [w, across] : xs) {
                for (const auto& [h, down] : ys) {
                    const int64_t tile = blocksOf(ceilDiv(w, xStep), ceilDiv(h, yStep), style);
                    blocks += across * down * tile;
                    if (across * down > 0) inOneTile = std::max(inOneTile, tile);
                }
            }
            mostBlocks = std::max(mostBlocks, blocks);
            mostInOneTile = std::max(mostInOneTile, inOneTile);
        };
        count(defaults[0]);
        for (const auto& one : styles) {
            for (const auto& [component, style] : one) count(style);
        }
        work.codeBlocks += mostBlocks;
        work.codeBlocksInOneTile += mostInOneTile;
    }
    return work;
}

int64_t jpeg2000DecoderBytes(const Jpeg2000Work& work) {
    return work.tiles * work.components * kJpeg2000TileComponentBytes + work.codeBlocksInOneTile * kJpeg2000CodeBlockBytes;
}

int64_t decoderBytesBeyondPicture(const uint8_t* data, size_t size) {
    const std::optional<PieceLayout> layout = pieceLayout(data, size);
    if (layout && layout->format == PieceLayout::Format::kTiff) return layout->bufferBytesBeyondPicture;
    std::optional<Jpeg2000Work> work = jpeg2000Work(data, size);
    if (!work) {
        const std::vector<uint8_t> frame = dicomEncapsulatedFrame(data, size);
        work = jpeg2000Work(frame.data(), frame.size());
    }
    return work ? jpeg2000DecoderBytes(*work) : 0;
}

int64_t piecePixels(cv::Size picture, cv::Size piece) {
    if (piece.width <= 0 || piece.height <= 0) return 0;
    const int64_t across = (int64_t{picture.width} + piece.width - 1) / piece.width;
    const int64_t down = (int64_t{picture.height} + piece.height - 1) / piece.height;
    const int64_t wide = across * piece.width;  // each below 2^32
    const int64_t high = down * piece.height;
    return wide > INT64_MAX / high ? INT64_MAX : wide * high;
}

namespace {

bool startsWith(const uint8_t* data, size_t size, std::initializer_list<int> bytes) {
    if (size < bytes.size()) return false;
    size_t i = 0;
    for (const int b : bytes) {
        if (data[i++] != b) return false;
    }
    return true;
}

bool isTiff(const uint8_t* data, size_t size) {
    return startsWith(data, size, {'I', 'I', 42, 0}) || startsWith(data, size, {'M', 'M', 0, 42}) ||
           startsWith(data, size, {'I', 'I', 43, 0}) || startsWith(data, size, {'M', 'M', 0, 43});
}

bool isJpeg2000(const uint8_t* data, size_t size) {
    return startsWith(data, size, {0, 0, 0, 12, 'j', 'P', ' ', ' ', '\r', '\n', 0x87, '\n'}) ||
           startsWith(data, size, {0xFF, 0x4F, 0xFF, 0x51});
}

std::string pngVerdict(const PngWork& png) {
    if (!png.beyondCap) return {};
    return "is a PNG whose image data unpacks to over " + describeBytes(png.unpackedBytes) + " where its pixels need " +
           describeBytes(png.imageBytes) + "; the decoder would unpack all of it, so it is not decoded";
}

const char kUnread[] = " cannot be read before decoding (its decoder would refuse it, or read it otherwise), so it is not decoded";

// The verdict on a picture stream of its own (a file, or the stream inside a DICOM file).
std::string streamVerdict(const uint8_t* data, size_t size, bool unpackPng) {
    if (startsWith(data, size, {0xFF, 0xD8})) {
        const DecodeWork jpeg = jpegDecodeWork(data, size);
        if (jpeg.passes > kMostJpegPasses) {
            return "is a JPEG of " + std::to_string(jpeg.scans) + " scans, as much work to decode as " +
                   std::to_string(jpeg.passes) + " pictures of its size; no camera or encoder goes past " +
                   std::to_string(kMostJpegPasses) + ", so it is not decoded";
        }
        if (!declaredSize(data, size)) return std::string("is a JPEG whose frame header") + kUnread;
        return {};
    }
    if (isTiff(data, size)) {
        const std::optional<PieceLayout> layout = pieceLayout(data, size);
        if (!layout) return std::string("is a TIFF whose first directory") + kUnread;
        const cv::Size picture = layout->picture;
        const int64_t pixels = piecePixels(picture, layout->piece);
        if (pixels - kMostExtraTiffPiecePixels > 2 * int64_t{picture.width} * picture.height) {
            return "is a TIFF cut into pieces of " + std::to_string(layout->piece.width) + "x" +
                   std::to_string(layout->piece.height) + ", through which the decoder would work " + std::to_string(pixels) +
                   " pixels for its " + std::to_string(picture.width) + "x" + std::to_string(picture.height) +
                   "; it is not decoded";
        }
        // libtiff counts the scans of each JPEG piece and gives up past its limit, with words
        // of its own that the library keeps quiet: the pieces are counted here first.
        for (const auto& [start, length] : layout->jpegPieces) {
            if (start >= size) continue;
            const DecodeWork piece = jpegDecodeWork(data + start, static_cast<size_t>(std::min<uint64_t>(length, size - start)));
            if (piece.scans > kMostJpegPasses) {
                return "is a TIFF holding a JPEG of " + std::to_string(piece.scans) + " scans; no camera or encoder goes past " +
                       std::to_string(kMostJpegPasses) + ", so it is not decoded";
            }
        }
        return {};
    }
    if (isJpeg2000(data, size)) {
        const std::optional<Jpeg2000Work> work = jpeg2000Work(data, size);
        if (!work) return std::string("is a JPEG 2000 file whose codestream") + kUnread;
        const int64_t tileWork = work->tiles * kJpeg2000TileWork;
        const int64_t blockWork = work->codeBlocks * kJpeg2000CodeBlockWork;
        if (tileWork + blockWork <= 2 * work->pixels + kMostExtraJpeg2000Work) return {};
        const std::optional<PieceLayout> layout = pieceLayout(data, size);
        const std::string pictureText = std::to_string(layout->picture.width) + "x" + std::to_string(layout->picture.height);
        // Tiles so small that they, not the coding, make the code-blocks this many.
        if (work->tiles * 64 * work->components >= work->codeBlocks) {
            return "is a JPEG 2000 picture of " + pictureText + " cut into " + std::to_string(work->tiles) + " tiles of " +
                   std::to_string(layout->piece.width) + "x" + std::to_string(layout->piece.height) +
                   ", each of which costs the decoder about as much as a small picture; it is not decoded";
        }
        const int64_t pictures = (work->pixels + tileWork + blockWork + work->pixels - 1) / work->pixels;
        return "is a JPEG 2000 picture of " + pictureText + " coded in " + std::to_string(work->codeBlocks) +
               " code-blocks and precincts, as much work to decode as " + std::to_string(pictures) +
               " pictures of its size (encoders make blocks of 32x32 or 64x64 pixels); it is not decoded";
    }
    const PngWork png = pngDecodeWork(data, size, unpackPng);
    if (png.compressedTexts > kMostPngCompressedTexts) {
        return "is a PNG of " + std::to_string(png.compressedTexts) +
               " compressed text chunks, which the decoder unpacks one by one; no picture carries more than " +
               std::to_string(kMostPngCompressedTexts) + ", so it is not decoded";
    }
    return pngVerdict(png);
}

}  // namespace

std::string excessiveDecodeWork(const uint8_t* data, size_t size, bool unpackPng) {
    if (size < 132 || std::memcmp(data + 128, "DICM", 4) != 0) return streamVerdict(data, size, unpackPng);
    // A DICOM file's picture may be a compressed stream inside it, which its decoder takes as a
    // file of that format.
    const std::optional<DicomPicture> picture = dicomPicture(data, size);
    if (!picture || picture->pixelData == 0) return std::string("is a DICOM file whose pixel data") + kUnread;
    if (!picture->encapsulated) return {};
    // Where an item is broken, the decoder reads on with lengths taken from anywhere: an 8 KB file
    // had it set aside and clear 1.2 GB.
    bool itemsReadable = true;
    const std::vector<uint8_t> frame = dicomEncapsulatedFrame(data, size, &itemsReadable);
    if (!itemsReadable) return std::string("is a DICOM file whose pixel data") + kUnread;
    const std::string inner = streamVerdict(frame.data(), frame.size(), unpackPng);
    if (inner.empty()) return {};
    return "is a DICOM file holding a " + inner.substr(std::string("is a ").size());
}

std::string pngDataVerdict(const uint8_t* data, size_t size) { return pngVerdict(pngDecodeWork(data, size)); }

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
