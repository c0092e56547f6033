#include "core/picture_header.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace tonemorph {

namespace {

// Reads n bytes at the current position; false when the file ends first.
bool readBytes(std::istream& in, uint8_t* out, size_t n) {
    in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n));
    return static_cast<size_t>(in.gcount()) == n;
}

uint32_t bigEndian(const uint8_t* p, int n) {
    uint32_t value = 0;
    for (int i = 0; i < n; ++i) value = (value << 8) | p[i];
    return value;
}

uint32_t littleEndian(const uint8_t* p, int n) {
    uint32_t value = 0;
    for (int i = n - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

std::optional<cv::Size> sizeOf(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return std::nullopt;
    return cv::Size(static_cast<int>(width), static_cast<int>(height));
}

}  // namespace

bool jpegLengthForgiven(uint8_t marker) { return (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE || marker == 0xDC; }

namespace {

// Markers up to the first start-of-frame (SOF0..SOF15 but DHT, JPG and DAC), which holds the size.
std::optional<cv::Size> jpegSize(std::istream& in) {
    uint8_t marker[2];
    for (;;) {
        if (!readBytes(in, marker, 1)) return std::nullopt;
        if (marker[0] != 0xFF) continue;  // tolerate stray bytes, as decoders do
        do {
            if (!readBytes(in, marker + 1, 1)) return std::nullopt;
        } while (marker[1] == 0xFF);
        const uint8_t type = marker[1];
        if (type == 0xD8 || type == 0x01 || (type >= 0xD0 && type <= 0xD7)) continue;  // no length
        if (type == 0xD9) return std::nullopt;  // end of image before any frame
        uint8_t lengthBytes[2];
        if (!readBytes(in, lengthBytes, 2)) return std::nullopt;
        uint32_t length = bigEndian(lengthBytes, 2);
        const bool frame = type >= 0xC0 && type <= 0xCF && type != 0xC4 && type != 0xC8 && type != 0xCC;
        if (length < 2) {
            // libjpeg takes a too-short length of metadata as no data and reads on; anything else
            // with one it refuses.
            if (!jpegLengthForgiven(type)) return std::nullopt;
            length = 2;
        }
        if (frame) {
            uint8_t header[5];  // precision, height, width
            if (length < 7 || !readBytes(in, header, 5)) return std::nullopt;
            return sizeOf(bigEndian(header + 3, 2), bigEndian(header + 1, 2));
        }
        in.seekg(length - 2, std::ios::cur);
        if (!in) return std::nullopt;
    }
}

std::optional<cv::Size> pngSize(std::istream& in) {
    uint8_t chunk[16];  // IHDR's length and type, then width and height, after the signature
    in.seekg(8);
    if (!readBytes(in, chunk, 16) || std::string(chunk + 4, chunk + 8) != "IHDR") return std::nullopt;
    return sizeOf(bigEndian(chunk + 8, 4), bigEndian(chunk + 12, 4));
}

std::optional<cv::Size> webpSize(std::istream& in) {
    uint8_t header[30];
    in.seekg(0);
    if (!readBytes(in, header, 30)) return std::nullopt;
    const std::string format(header + 12, header + 16);
    if (format == "VP8 ") {  // lossy: 14-bit sizes after the frame tag and start code
        return sizeOf(littleEndian(header + 26, 2) & 0x3FFF, littleEndian(header + 28, 2) & 0x3FFF);
    }
    if (format == "VP8L") {  // lossless: 14-bit sizes minus one, packed after the signature byte
        const uint32_t bits = littleEndian(header + 21, 4);
        return sizeOf((bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1);
    }
    if (format == "VP8X") {  // extended: 24-bit sizes minus one
        return sizeOf(littleEndian(header + 24, 3) + 1, littleEndian(header + 27, 3) + 1);
    }
    return std::nullopt;
}

// 4 bytes a pixel for width x height pixels, each side below 2^32; saturates far below overflow.
int64_t pixelBytes(int64_t width, int64_t height) {
    if (width > 0 && height > (INT64_MAX / 8) / width) return INT64_MAX / 8;
    return 4 * width * height;
}

// The first image file directory's width (tag 256), length (257), rows per strip (278), tile width
// (322) and tile length (323), in classic TIFF (32-bit offsets, 12-byte entries) or BigTIFF (64-bit
// offsets, 20-byte entries), read as libtiff reads them: entries in any order, the first of a
// repeated tag standing, a single value of any integer type, one too long for its entry (a LONG8
// in classic TIFF) read where the entry points. Nothing where libtiff would refuse the directory.
std::optional<PieceLayout> tiffLayoutOf(std::istream& in, bool little, bool big) {
    const auto number = [little](const uint8_t* p, int n) -> uint64_t {
        if (n <= 4) return little ? littleEndian(p, n) : bigEndian(p, n);
        const uint64_t high = little ? littleEndian(p + 4, 4) : bigEndian(p, 4);
        const uint64_t low = little ? littleEndian(p, 4) : bigEndian(p + 4, 4);
        return high << 32 | low;
    };
    const int offsetBytes = big ? 8 : 4;
    uint8_t header[16];
    in.seekg(0);
    if (!readBytes(in, header, big ? 16 : 8)) return std::nullopt;
    const uint64_t directory = number(header + (big ? 8 : 4), offsetBytes);
    if (directory > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    in.seekg(static_cast<std::streamoff>(directory));
    uint8_t countBytes[8];
    if (!in || !readBytes(in, countBytes, big ? 8 : 2)) return std::nullopt;
    const uint64_t count = number(countBytes, big ? 8 : 2);
    if (count > 4096) return std::nullopt;  // libtiff's own sanity limit
    const int entryBytes = big ? 20 : 12;
    std::vector<uint8_t> entries(static_cast<size_t>(count) * entryBytes);
    if (!readBytes(in, entries.data(), entries.size())) return std::nullopt;
    // Sizes first; then compression, and where the strips or tiles lie and how long they are.
    constexpr uint32_t kTags[] = {256, 257, 278, 322, 323, 259, 273, 279, 324, 325};
    const uint8_t* wanted[10] = {};
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = entries.data() + i * entryBytes;
        const uint32_t tag = static_cast<uint32_t>(number(entry, 2));
        for (int t = 0; t < 10; ++t) {
            if (tag == kTags[t] && wanted[t] == nullptr) wanted[t] = entry;
        }
    }
    // The value as libtiff's reader of a single 32-bit number takes it; -1 where it refuses it.
    const auto valueOf = [&](const uint8_t* entry) -> int64_t {
        const uint32_t type = static_cast<uint32_t>(number(entry + 2, 2));
        if (number(entry + 4, offsetBytes) != 1) return -1;
        const uint8_t* field = entry + 4 + offsetBytes;
        uint8_t far[8];
        if ((type == 16 || type == 17) && !big) {  // eight bytes where the entry points
            in.clear();
            in.seekg(static_cast<std::streamoff>(number(field, 4)));
            if (!in || !readBytes(in, far, 8)) return -1;
            field = far;
        }
        int64_t value = 0;
        switch (type) {
            case 1: value = field[0]; break;                                                      // BYTE
            case 6: value = static_cast<int8_t>(field[0]); break;                                 // SBYTE
            case 3: value = static_cast<int64_t>(number(field, 2)); break;                        // SHORT
            case 8: value = static_cast<int16_t>(number(field, 2)); break;                        // SSHORT
            case 4: value = static_cast<int64_t>(number(field, 4)); break;                        // LONG
            case 9: value = static_cast<int32_t>(number(field, 4)); break;                        // SLONG
            case 16: value = number(field, 8) > UINT32_MAX ? -1 : static_cast<int64_t>(number(field, 8)); break;  // LONG8
            case 17: value = static_cast<int64_t>(number(field, 8)); break;                       // SLONG8
            default: return -1;
        }
        return value < 0 || value > UINT32_MAX ? -1 : value;
    };
    int64_t values[5] = {-1, -1, -1, -1, -1};
    for (int t = 0; t < 5; ++t) {
        if (wanted[t] == nullptr) continue;
        values[t] = valueOf(wanted[t]);
        if (values[t] < 0) return std::nullopt;  // libtiff gives up on the directory
    }
    const auto [width, height, rowsPerStrip, tileWidth, tileLength] = values;
    const std::optional<cv::Size> picture = sizeOf(width, height);
    if (!picture) return std::nullopt;
    PieceLayout layout{PieceLayout::Format::kTiff, *picture, *picture, 1, 0, {}, 0};
    if (wanted[3] != nullptr || wanted[4] != nullptr) {
        // A tile side not given (or zero) is the picture's, as the library's reader takes it.
        layout.piece = sizeOf(tileWidth > 0 ? tileWidth : width, tileLength > 0 ? tileLength : height).value_or(*picture);
    } else if (rowsPerStrip > 0) {
        // Strips are cut off at the picture's last row, and decoded only that far.
        layout.piece = sizeOf(width, std::min(rowsPerStrip, height)).value_or(*picture);
        // The library's reader takes all rows per strip but the "whole picture" value as given.
        if (rowsPerStrip != UINT32_MAX) {
            layout.bufferBytesBeyondPicture = std::max<int64_t>(0, pixelBytes(width, rowsPerStrip) - pixelBytes(width, height));
        }
    }
    if (wanted[3] != nullptr || wanted[4] != nullptr) {
        layout.bufferBytesBeyondPicture =
            std::max<int64_t>(0, pixelBytes(layout.piece.width, layout.piece.height) - pixelBytes(width, height));
    }
    layout.pieces = ((int64_t{picture->width} + layout.piece.width - 1) / layout.piece.width) *
                    ((int64_t{picture->height} + layout.piece.height - 1) / layout.piece.height);
    if (wanted[5] == nullptr || valueOf(wanted[5]) != 7) return layout;
    // JPEG pieces: each a JPEG stream of its own, whose scans libtiff's JPEG reader counts.
    const bool tiled = wanted[3] != nullptr || wanted[4] != nullptr;
    const uint8_t* offsets = wanted[tiled ? 8 : 6];
    const uint8_t* lengths = wanted[tiled ? 9 : 7];
    if (offsets == nullptr || lengths == nullptr) return layout;  // the decoder finds no data either
    const auto arrayOf = [&](const uint8_t* entry, std::vector<uint64_t>& out) {
        const uint32_t type = static_cast<uint32_t>(number(entry + 2, 2));
        const uint64_t n = number(entry + 4, offsetBytes);
        const int bytes = type == 3 ? 2 : type == 4 ? 4 : type == 16 ? 8 : 0;
        if (bytes == 0 || n > kMostTiffJpegPieces) return false;
        std::vector<uint8_t> raw(static_cast<size_t>(n) * bytes);
        if (raw.size() <= static_cast<size_t>(offsetBytes)) {
            std::copy(entry + 4 + offsetBytes, entry + 4 + offsetBytes + raw.size(), raw.begin());
        } else {
            in.clear();
            in.seekg(static_cast<std::streamoff>(number(entry + 4 + offsetBytes, offsetBytes)));
            if (!in || !readBytes(in, raw.data(), raw.size())) return false;
        }
        out.resize(static_cast<size_t>(n));
        for (size_t i = 0; i < out.size(); ++i) out[i] = number(raw.data() + i * bytes, bytes);
        return true;
    };
    std::vector<uint64_t> starts;
    std::vector<uint64_t> counts;
    if (!arrayOf(offsets, starts) || !arrayOf(lengths, counts)) return std::nullopt;
    for (size_t i = 0; i < std::min(starts.size(), counts.size()); ++i) layout.jpegPieces.emplace_back(starts[i], counts[i]);
    return layout;
}

std::optional<cv::Size> tiffSize(std::istream& in, bool little, bool big) {
    const std::optional<PieceLayout> layout = tiffLayoutOf(in, little, big);
    if (!layout) return std::nullopt;
    return layout->picture;
}

std::optional<cv::Size> bmpSize(std::istream& in) {
    uint8_t header[26];
    in.seekg(0);
    if (!readBytes(in, header, 26)) return std::nullopt;
    const uint32_t infoSize = littleEndian(header + 14, 4);
    if (infoSize == 12) return sizeOf(littleEndian(header + 18, 2), littleEndian(header + 20, 2));
    // Height is negative for top-down pictures.
    const auto height = static_cast<int32_t>(littleEndian(header + 22, 4));
    return sizeOf(static_cast<int32_t>(littleEndian(header + 18, 4)), height < 0 ? -int64_t{height} : height);
}

// GIF's logical screen, which bounds every frame.
std::optional<cv::Size> gifSize(std::istream& in) {
    uint8_t header[10];
    in.seekg(0);
    if (!readBytes(in, header, 10)) return std::nullopt;
    return sizeOf(littleEndian(header + 6, 2), littleEndian(header + 8, 2));
}

std::optional<cv::Size> sunRasterSize(std::istream& in) {
    uint8_t header[12];  // magic, width, height
    in.seekg(0);
    if (!readBytes(in, header, 12)) return std::nullopt;
    return sizeOf(bigEndian(header + 4, 4), bigEndian(header + 8, 4));
}

// Text headers are short: only this much of a file is read for one, whatever follows.
constexpr size_t kTextHeaderLimit = 64 * 1024;

std::string textHeader(std::istream& in) {
    std::string text(kTextHeaderLimit, '\0');
    in.clear();
    in.seekg(0);
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

// The next whitespace-separated word of a PBM/PGM/PPM/PFM header, skipping # comments.
std::string nextWord(std::istream& in) {
    std::string word;
    for (int c = in.get(); c != EOF; c = in.get()) {
        if (c == '#') {  // a comment, which also ends a word
            while (c != EOF && c != '\n' && c != '\r') c = in.get();
            if (!word.empty()) return word;
            continue;
        }
        if (std::isspace(c)) {
            if (!word.empty()) return word;
            continue;
        }
        if (word.size() > 20) return {};
        word += static_cast<char>(c);
    }
    return word;
}

// A decimal count, or -1 for anything else (including values too large for any picture).
int64_t decimal(const std::string& word) {
    if (word.empty() || word.size() > 18) return -1;
    int64_t value = 0;
    for (const char c : word) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// PBM, PGM, PPM (P1..P6) and PFM (PF, Pf): the magic, then width and height.
std::optional<cv::Size> pxmSize(std::istream& file) {
    std::istringstream in(textHeader(file));
    in.seekg(2);
    const int64_t width = decimal(nextWord(in));
    const int64_t height = decimal(nextWord(in));
    return sizeOf(width, height);
}

// PAM (P7): WIDTH and HEIGHT lines before ENDHDR.
std::optional<cv::Size> pamSize(std::istream& file) {
    std::istringstream in(textHeader(file));
    int64_t width = -1;
    int64_t height = -1;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string key;
        std::string value;
        words >> key >> value;
        if (key == "WIDTH") width = decimal(value);
        if (key == "HEIGHT") height = decimal(value);
        if (key == "ENDHDR") break;
    }
    return sizeOf(width, height);
}

// Radiance HDR: header lines up to an empty one, then the resolution line, "-Y 480 +X 640" or one
// of the other orientations.
std::optional<cv::Size> radianceSize(std::istream& file) {
    std::istringstream in(textHeader(file));
    std::string line;
    while (std::getline(in, line) && !line.empty() && line != "\r") {
    }
    if (!std::getline(in, line)) return std::nullopt;
    std::istringstream words(line);
    std::string firstAxis;
    std::string firstCount;
    std::string secondAxis;
    std::string secondCount;
    words >> firstAxis >> firstCount >> secondAxis >> secondCount;
    const auto axis = [](const std::string& word) {
        return word.size() == 2 && (word[0] == '+' || word[0] == '-') ? word[1] : '\0';
    };
    if (axis(firstAxis) == 'Y' && axis(secondAxis) == 'X') return sizeOf(decimal(secondCount), decimal(firstCount));
    if (axis(firstAxis) == 'X' && axis(secondAxis) == 'Y') return sizeOf(decimal(firstCount), decimal(secondCount));
    return std::nullopt;
}

// OpenEXR: attributes (name, type, size, value) up to an empty name; the data window is what is
// decoded.
std::optional<cv::Size> exrSize(std::istream& file) {
    const std::string text = textHeader(file);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    size_t at = 8;  // past the magic number and the version
    while (at < text.size()) {
        const size_t nameEnd = text.find('\0', at);
        if (nameEnd == std::string::npos || nameEnd == at) return std::nullopt;
        const size_t typeEnd = text.find('\0', nameEnd + 1);
        if (typeEnd == std::string::npos || text.size() - typeEnd < 5) return std::nullopt;
        const uint32_t size = littleEndian(bytes + typeEnd + 1, 4);
        const size_t value = typeEnd + 5;
        if (size > text.size() - value) return std::nullopt;
        if (text.compare(at, nameEnd - at, "dataWindow") == 0 && size == 16) {
            const auto corner = [&](int i) { return static_cast<int32_t>(littleEndian(bytes + value + 4 * i, 4)); };
            return sizeOf(int64_t{corner(2)} - corner(0) + 1, int64_t{corner(3)} - corner(1) + 1);
        }
        at = value + size;
    }
    return std::nullopt;
}

// DICOM: a 128-byte preamble and "DICM", then data elements.
std::optional<cv::Size> dicomSize(std::istream& file) {
    // The size may stand after sequences of any length: the file is read whole.
    file.clear();
    file.seekg(0);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::optional<DicomPicture> picture = dicomPicture(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return picture ? picture->size : std::nullopt;
}

// A JPEG 2000 codestream's SIZ segment: the reference grid's extent less its offset, and its
// tiles: their size, and how many the tile grid (with its own offset) lays over the picture.
std::optional<PieceLayout> codestreamLayout(std::istream& in) {
    const std::streamoff start = in.tellg();
    uint8_t siz[40];  // SOC, SIZ marker, length, capabilities, Xsiz, Ysiz, XOsiz, YOsiz, XTsiz, YTsiz, XTOsiz, YTOsiz
    if (start < 0 || !readBytes(in, siz, 24) || bigEndian(siz, 2) != 0xFF4F || bigEndian(siz + 2, 2) != 0xFF51) {
        return std::nullopt;
    }
    const uint32_t gridWidth = bigEndian(siz + 8, 4);
    const uint32_t gridHeight = bigEndian(siz + 12, 4);
    const uint32_t left = bigEndian(siz + 16, 4);
    const uint32_t top = bigEndian(siz + 20, 4);
    if (left >= gridWidth || top >= gridHeight) return std::nullopt;
    const std::optional<cv::Size> picture = sizeOf(int64_t{gridWidth} - left, int64_t{gridHeight} - top);
    if (!picture) return std::nullopt;
    PieceLayout layout{PieceLayout::Format::kJpeg2000, *picture, *picture, 1, 0, {}, 0};
    layout.codestream = static_cast<size_t>(start);
    if (!readBytes(in, siz + 24, 16)) return layout;
    const int64_t tileWidth = bigEndian(siz + 24, 4);
    const int64_t tileHeight = bigEndian(siz + 28, 4);
    const int64_t tileLeft = bigEndian(siz + 32, 4);
    const int64_t tileTop = bigEndian(siz + 36, 4);
    // The decoder refuses a tile grid that starts past the picture or leaves it out.
    if (tileWidth == 0 || tileHeight == 0 || tileLeft > left || tileTop > top || tileLeft + tileWidth <= left ||
        tileTop + tileHeight <= top) {
        return std::nullopt;
    }
    layout.piece = sizeOf(tileWidth, tileHeight).value_or(*picture);
    layout.pieces = ((gridWidth - tileLeft + tileWidth - 1) / tileWidth) * ((gridHeight - tileTop + tileHeight - 1) / tileHeight);
    return layout;
}

std::optional<cv::Size> codestreamSize(std::istream& in) {
    const std::optional<PieceLayout> layout = codestreamLayout(in);
    if (!layout) return std::nullopt;
    return layout->picture;
}

// A JP2 file: boxes, however many, up to the contiguous codestream box, whose SIZ decides what is
// decoded. Each box is at least 8 bytes, so the walk ends with the file.
std::optional<PieceLayout> jp2Layout(std::istream& in) {
    in.seekg(0);
    for (;;) {
        const std::streamoff start = in.tellg();
        uint8_t box[16];
        if (start < 0 || !readBytes(in, box, 8)) return std::nullopt;
        uint64_t length = bigEndian(box, 4);
        const std::string type(box + 4, box + 8);
        std::streamoff headerBytes = 8;
        if (length == 1) {  // a 64-bit length follows
            if (!readBytes(in, box + 8, 8)) return std::nullopt;
            length = uint64_t{bigEndian(box + 8, 4)} << 32 | bigEndian(box + 12, 4);
            headerBytes = 16;
        }
        if (type == "jp2c") return codestreamLayout(in);
        if (length < static_cast<uint64_t>(headerBytes) || length > static_cast<uint64_t>(INT64_MAX / 2)) {
            return std::nullopt;  // a box to the end of the file, or no box at all, before the codestream
        }
        in.seekg(start + static_cast<std::streamoff>(length));
        if (!in) return std::nullopt;
    }
}

std::optional<cv::Size> jp2Size(std::istream& in) {
    const std::optional<PieceLayout> layout = jp2Layout(in);
    if (!layout) return std::nullopt;
    return layout->picture;
}

}  // namespace

std::optional<cv::Size> declaredSize(std::istream& in) {
    std::array<uint8_t, 12> magic{};
    in.read(reinterpret_cast<char*>(magic.data()), magic.size());
    const auto got = static_cast<size_t>(in.gcount());
    const auto startsWith = [&](std::initializer_list<int> bytes) {
        if (bytes.size() > got) return false;
        size_t i = 0;
        for (int b : bytes) {
            if (b >= 0 && magic[i] != b) return false;
            ++i;
        }
        return true;
    };
    in.clear();
    if (startsWith({0xFF, 0xD8})) {
        in.seekg(2);
        return jpegSize(in);
    }
    if (startsWith({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'})) return pngSize(in);
    if (startsWith({'R', 'I', 'F', 'F', -1, -1, -1, -1, 'W', 'E', 'B', 'P'})) return webpSize(in);
    if (startsWith({'I', 'I', 42, 0})) return tiffSize(in, true, false);
    if (startsWith({'M', 'M', 0, 42})) return tiffSize(in, false, false);
    if (startsWith({'I', 'I', 43, 0})) return tiffSize(in, true, true);
    if (startsWith({'M', 'M', 0, 43})) return tiffSize(in, false, true);
    if (startsWith({'B', 'M'})) return bmpSize(in);
    if (startsWith({'G', 'I', 'F', '8'})) return gifSize(in);
    if (startsWith({0x59, 0xA6, 0x6A, 0x95})) return sunRasterSize(in);
    if (startsWith({'#', '?'})) return radianceSize(in);
    if (startsWith({0, 0, 0, 12, 'j', 'P', ' ', ' ', '\r', '\n', 0x87, '\n'})) return jp2Size(in);
    if (startsWith({0x76, 0x2F, 0x31, 0x01})) return exrSize(in);
    if (startsWith({0xFF, 0x4F, 0xFF, 0x51})) {
        in.seekg(0);
        return codestreamSize(in);
    }
    in.clear();
    if (got >= 3 && magic[0] == 'P' && std::isspace(magic[2])) {
        if (magic[1] >= '1' && magic[1] <= '6') return pxmSize(in);
        if (magic[1] == 'F' || magic[1] == 'f') return pxmSize(in);
        if (magic[1] == '7') return pamSize(in);
    }
    in.clear();
    if (in.seekg(128) && readBytes(in, magic.data(), 4) && std::string(magic.begin(), magic.begin() + 4) == "DICM") {
        return dicomSize(in);
    }
    return std::nullopt;
}

namespace {

// Reads bytes held in memory in place, seeking included.
class MemoryBuffer : public std::streambuf {
public:
    MemoryBuffer(const uint8_t* data, size_t size) {
        char* begin = const_cast<char*>(reinterpret_cast<const char*>(data));
        setg(begin, begin, begin + size);
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir way, std::ios_base::openmode /*which*/) override {
        const off_type base = way == std::ios_base::beg ? 0 : way == std::ios_base::cur ? gptr() - eback() : egptr() - eback();
        return seekTo(base, offset);
    }
    pos_type seekpos(pos_type position, std::ios_base::openmode /*which*/) override {
        return seekTo(0, static_cast<off_type>(position));
    }

private:
    pos_type seekTo(off_type base, off_type offset) {
        const off_type size = egptr() - eback();
        if (offset > size - base || offset < -base) return pos_type(off_type(-1));
        setg(eback(), eback() + base + offset, egptr());
        return pos_type(base + offset);
    }
};

}  // namespace

std::optional<cv::Size> declaredSize(const uint8_t* data, size_t size) {
    MemoryBuffer buffer(data, size);
    std::istream in(&buffer);
    return declaredSize(in);
}

std::optional<PieceLayout> pieceLayout(const uint8_t* data, size_t size) {
    if (size < 12) return std::nullopt;
    MemoryBuffer buffer(data, size);
    std::istream in(&buffer);
    const bool little = data[0] == 'I' && data[1] == 'I';
    const bool bigEndianFile = data[0] == 'M' && data[1] == 'M';
    const int version = little ? data[2] : data[3];
    if ((little || bigEndianFile) && (little ? data[3] : data[2]) == 0 && (version == 42 || version == 43)) {
        return tiffLayoutOf(in, little, version == 43);
    }
    static const uint8_t kJp2[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', '\r', '\n', 0x87, '\n'};
    if (std::equal(kJp2, kJp2 + 12, data)) return jp2Layout(in);
    if (data[0] == 0xFF && data[1] == 0x4F && data[2] == 0xFF && data[3] == 0x51) return codestreamLayout(in);
    return std::nullopt;
}

std::optional<cv::Size> declaredSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return declaredSize(in);
}


namespace {

// Walks a DICOM file's data elements as its decoder does. The file meta group is explicit VR
// little endian; the data set after it is as its transfer syntax says: implicit VR for
// 1.2.840.10008.1.2, big endian for 1.2.840.10008.1.2.2, otherwise explicit VR little endian (an
// element whose VR is no pair of capitals taken as implicit, as decoders forgive).
class DicomWalk {
public:
    DicomWalk(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    std::optional<DicomPicture> run() {
        if (size_ < 132 || std::string(data_ + 128, data_ + 132) != "DICM") return std::nullopt;
        size_t at = 132;
        Element element;
        // The meta group, always explicit little endian.
        while (read(at, false, false, element) && element.group == 0x0002) {
            if (element.undefined) return std::nullopt;
            if (element.element == 0x0010) {
                std::string syntax(reinterpret_cast<const char*>(data_ + element.value), element.length);
                while (!syntax.empty() && (syntax.back() == '\0' || syntax.back() == ' ')) syntax.pop_back();
                implicit_ = syntax == "1.2.840.10008.1.2";
                big_ = syntax == "1.2.840.10008.1.2.2";
            }
            at = element.value + element.length;
        }
        DicomPicture picture;
        int64_t rows = -1;
        int64_t columns = -1;
        while (read(at, implicit_, big_, element)) {
            if (element.group == 0x7FE0 && element.element == 0x0010) {
                picture.size = sizeOf(columns, rows);
                picture.pixelData = element.value;
                picture.encapsulated = element.undefined;
                return picture;
            }
            if (element.undefined) {
                at = element.value;
                if (!skipItems(at, implicit_ || element.vr == "UN", 0)) break;
                continue;
            }
            if (element.group == 0x0028 && element.length >= 2 && (element.element == 0x0010 || element.element == 0x0011)) {
                (element.element == 0x0010 ? rows : columns) = number(element.value, 2, big_);
            }
            at = element.value + element.length;
        }
        // No picture in it (or the walk could not go on): the decoder reads none either, but the
        // size is still told.
        picture.size = sizeOf(columns, rows);
        return picture;
    }

private:
    struct Element {
        uint32_t group = 0;
        uint32_t element = 0;
        std::string vr;
        size_t value = 0;
        size_t length = 0;
        bool undefined = false;
    };

    uint32_t number(size_t at, int n, bool big) const { return big ? bigEndian(data_ + at, n) : littleEndian(data_ + at, n); }

    // The element at `at`: false when it runs past the file's end.
    bool read(size_t at, bool implicit, bool big, Element& element) const {
        if (at > size_ || size_ - at < 8) return false;
        element.group = number(at, 2, big);
        element.element = number(at + 2, 2, big);
        const uint8_t* vr = data_ + at + 4;
        const bool item = element.group == 0xFFFE;  // items and delimiters carry no VR
        const bool explicitVr = !implicit && !item && std::isupper(vr[0]) && std::isupper(vr[1]);
        element.vr = explicitVr ? std::string(vr, vr + 2) : std::string();
        uint32_t length = 0;
        if (!explicitVr) {
            length = number(at + 4, 4, big);
            element.value = at + 8;
        } else if (longLength(element.vr)) {
            if (size_ - at < 12) return false;
            length = number(at + 8, 4, big);
            element.value = at + 12;
        } else {
            length = number(at + 6, 2, big);
            element.value = at + 8;
        }
        element.undefined = length == 0xFFFFFFFF;
        element.length = element.undefined ? 0 : length;
        return element.length <= size_ - element.value;
    }

    static bool longLength(const std::string& vr) {
        for (const char* form : {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"}) {
            if (vr == form) return true;
        }
        return false;
    }

    // Past a value of undefined length: items (fragments, or data sets of their own) up to the
    // sequence delimiter. false where it does not end inside the file.
    bool skipItems(size_t& at, bool implicit, int depth) const {
        if (depth > 32) return false;  // nesting no real file needs
        Element item;
        while (read(at, true, big_, item)) {
            if (item.group != 0xFFFE) return false;
            if (item.element == 0xE0DD) {  // sequence delimiter
                at = item.value + item.length;
                return true;
            }
            at = item.value;
            if (!item.undefined) {
                at += item.length;
                continue;
            }
            // An item of undefined length: a data set up to its item delimiter.
            Element element;
            for (;;) {
                if (!read(at, implicit, big_, element)) return false;
                if (element.group == 0xFFFE && element.element == 0xE00D) {
                    at = element.value + element.length;
                    break;
                }
                at = element.value;
                if (element.undefined) {
                    if (!skipItems(at, implicit || element.vr == "UN", depth + 1)) return false;
                } else {
                    at += element.length;
                }
            }
        }
        return false;
    }

    const uint8_t* data_;
    size_t size_;
    bool implicit_ = false;
    bool big_ = false;
};

}  // namespace

std::optional<DicomPicture> dicomPicture(const uint8_t* data, size_t size) { return DicomWalk(data, size).run(); }

}  // namespace tonemorph
