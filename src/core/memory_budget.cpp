#include "core/memory_budget.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace tonemorph {

namespace {

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

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

// The unified (v2) control group the process belongs to, as a folder under /sys/fs/cgroup.
std::string cgroupFolder() {
    std::istringstream lines(fileText("/proc/self/cgroup"));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("0::", 0) == 0) return "/sys/fs/cgroup" + line.substr(3);
    }
    return {};
}

// What a resource limit leaves beyond what the process already uses.
std::optional<int64_t> limitHeadroom(int resource, const std::string& usageField) {
    rlimit limit{};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    const std::optional<int64_t> used = statusFieldOf(fileText("/proc/self/status"), usageField);
    return static_cast<int64_t>(limit.rlim_cur) - used.value_or(0);
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

std::optional<int64_t> memoryAvailable() {
    std::optional<int64_t> least;
    const auto consider = [&least](std::optional<int64_t> bytes) {
        if (bytes) least = least ? std::min(*least, *bytes) : *bytes;
    };
    consider(memAvailableOf(fileText("/proc/meminfo")));
    const std::string cgroup = cgroupFolder();
    if (!cgroup.empty()) {
        consider(cgroupHeadroomOf(fileText(cgroup + "/memory.max"), fileText(cgroup + "/memory.current")));
    }
    consider(limitHeadroom(RLIMIT_DATA, "VmData"));
    consider(limitHeadroom(RLIMIT_AS, "VmSize"));
    if (least) least = std::max<int64_t>(*least, 0);
    return least;
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
