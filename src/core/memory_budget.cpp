#include "core/memory_budget.h"

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
        if (value >> kilobytes) return kilobytes * 1024;
    }
    return std::nullopt;
}

}  // namespace

int64_t memoryNeeded(cv::Size picture) {
    return kBytesPerPixel * static_cast<int64_t>(picture.width) * picture.height + kFixedBytes;
}

std::optional<int64_t> memAvailableOf(const std::string& meminfo) {
    return kilobyteField(meminfo, "MemAvailable");
}

std::optional<int64_t> cgroupHeadroomOf(const std::string& max, const std::string& current) {
    std::istringstream maxText(max);
    std::istringstream currentText(current);
    int64_t limit = 0;
    int64_t used = 0;
    if (!(maxText >> limit) || !(currentText >> used)) return std::nullopt;  // "max": no limit
    return limit - used;
}

std::optional<int64_t> statusFieldOf(const std::string& status, const std::string& field) {
    return kilobyteField(status, field);
}

std::string describeBytes(int64_t bytes) {
    char text[32];
    if (bytes >= (int64_t{1} << 30)) {
        std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / (int64_t{1} << 30));
    } else {
        std::snprintf(text, sizeof text, "%lld MiB", static_cast<long long>(bytes >> 20));
    }
    return text;
}

}  // namespace tonemorph
