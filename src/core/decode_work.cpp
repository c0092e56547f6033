#include "core/decode_work.h"

#include <algorithm>
#include <cstring>

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

std::string excessiveDecodeWork(const uint8_t* data, size_t size) {
    const DecodeWork jpeg = jpegDecodeWork(data, size);
    if (jpeg.passes <= kMostJpegPasses) return {};
    return "is a JPEG of " + std::to_string(jpeg.scans) + " scans, as much work to decode as " +
           std::to_string(jpeg.passes) + " pictures of its size; no camera or encoder goes past " +
           std::to_string(kMostJpegPasses) + ", so it is not decoded";
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
