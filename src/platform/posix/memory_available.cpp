// Linux: MemAvailable, the control group's memory limit, and the process's own data and address
// space limits.
#include "platform/memory_available.h"

#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "core/memory_budget.h"

namespace tonemorph {

namespace {

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
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

}  // namespace tonemorph
