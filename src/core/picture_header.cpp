#include "core/picture_header.h"

#include <array>
#include <cstdint>
#include <fstream>

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
        const uint32_t length = bigEndian(lengthBytes, 2);
        if (length < 2) return std::nullopt;
        const bool frame = type >= 0xC0 && type <= 0xCF && type != 0xC4 && type != 0xC8 && type != 0xCC;
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

// The first image file directory's width (tag 256) and length (tag 257).
std::optional<cv::Size> tiffSize(std::istream& in, bool little) {
    const auto number = [little](const uint8_t* p, int n) {
        return little ? littleEndian(p, n) : bigEndian(p, n);
    };
    uint8_t header[8];
    in.seekg(0);
    if (!readBytes(in, header, 8)) return std::nullopt;
    in.seekg(number(header + 4, 4));
    uint8_t countBytes[2];
    if (!in || !readBytes(in, countBytes, 2)) return std::nullopt;
    int64_t width = -1;
    int64_t height = -1;
    for (uint32_t i = 0, count = number(countBytes, 2); i < count; ++i) {
        uint8_t entry[12];  // tag, type, count, value
        if (!readBytes(in, entry, 12)) return std::nullopt;
        const uint32_t tag = number(entry, 2);
        const uint32_t type = number(entry + 2, 2);
        const uint32_t value = type == 3 ? number(entry + 8, 2) : number(entry + 8, 4);  // SHORT or LONG
        if (tag == 256) width = value;
        if (tag == 257) height = value;
    }
    return sizeOf(width, height);
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

}  // namespace

std::optional<cv::Size> declaredSize(std::istream& in) {
    std::array<uint8_t, 12> magic{};
    if (!readBytes(in, magic.data(), magic.size())) return std::nullopt;
    const auto startsWith = [&](std::initializer_list<int> bytes) {
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
    if (startsWith({'I', 'I', 42, 0})) return tiffSize(in, true);
    if (startsWith({'M', 'M', 0, 42})) return tiffSize(in, false);
    if (startsWith({'B', 'M'})) return bmpSize(in);
    return std::nullopt;
}

std::optional<cv::Size> declaredSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return declaredSize(in);
}

}  // namespace tonemorph
