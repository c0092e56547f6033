#include "core/memory_budget.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace tonemorph {

namespace {

// The value of a "Name:   123 kB" line, in bytes.
std::optional<int64_t> kilobyteField(const std::string& text, const std::string& field) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(field + ":", 0) != 0) continue;
        std::istringstream value(line.substr(field.size() + 1));
        int64_t kilobytes = 0;
        if (value >> kilobytes) return std::clamp<int64_t>(kilobytes, 0, INT64_MAX / 1024) * 1024;
    }
    return std::nullopt;
}

}  // namespace

namespace {

int64_t pixelsOf(cv::Size picture) {
    // Both sides fit in 31 bits, so their product fits in 62.
    return std::max<int64_t>(picture.width, 0) * std::max<int64_t>(picture.height, 0);
}

// The value of a "name 123" line of memory.stat.
int64_t statField(const std::string& stat, const std::string& field) {
    std::istringstream lines(stat);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name;
        int64_t value = 0;
        if (words >> name >> value && name == field) return std::max<int64_t>(value, 0);
    }
    return 0;
}

}  // namespace

int64_t memoryNeeded(cv::Size picture) {
    const int64_t pixels = pixelsOf(picture);
    if (pixels > (INT64_MAX - kFixedBytes) / kBytesPerPixel) return INT64_MAX;
    return kBytesPerPixel * pixels + kFixedBytes;
}

int64_t memoryNeededBesideSource(cv::Size picture) {
    const int64_t needed = memoryNeeded(picture);
    return needed == INT64_MAX ? needed : needed - 3 * pixelsOf(picture);
}

std::optional<int64_t> memAvailableOf(const std::string& meminfo) {
    return kilobyteField(meminfo, "MemAvailable");
}

std::optional<int64_t> cgroupHeadroomOf(const std::string& max, const std::string& current,
                                        const std::string& stat) {
    std::istringstream maxText(max);
    std::istringstream currentText(current);
    int64_t limit = 0;
    int64_t used = 0;
    if (!(maxText >> limit) || !(currentText >> used)) return std::nullopt;  // "max": no limit
    if (limit < 0 || limit >= (int64_t{1} << 62)) return std::nullopt;       // v1's "no limit"
    used = std::max<int64_t>(used, 0);
    // v1 sums a group's children in the total_ fields; v2's fields already do.
    const int64_t v1Cache = statField(stat, "total_active_file") + statField(stat, "total_inactive_file");
    const int64_t cache = v1Cache > 0 ? v1Cache : statField(stat, "active_file") + statField(stat, "inactive_file");
    return limit - std::max<int64_t>(used - cache, 0);
}

std::optional<int64_t> statusFieldOf(const std::string& status, const std::string& field) {
    return kilobyteField(status, field);
}

std::string describeBytes(int64_t bytes) {
    char text[32];
    if (bytes >= (int64_t{1} << 30)) {
        std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / (int64_t{1} << 30));
    } else if (bytes >= (int64_t{1} << 20)) {
        std::snprintf(text, sizeof text, "%lld MiB", static_cast<long long>(bytes >> 20));
    } else if (bytes >= 1024) {
        std::snprintf(text, sizeof text, "%lld KiB", static_cast<long long>((bytes + 512) >> 10));
    } else {
        // A small file is told as it is, not rounded up to a unit it does not fill.
        std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(bytes));
    }
    return text;
}

}  // namespace tonemorph
