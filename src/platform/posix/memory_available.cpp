// Linux: MemAvailable, the limits of the control groups the process is in, and the process's own
// data and address space limits.
#include "platform/memory_available.h"

#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/memory_budget.h"
#include "platform/posix/control_group.h"

namespace tonemorph {

namespace {

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

// A control group hierarchy's mount: where it is mounted and which of its groups that shows.
struct Mount {
    std::string root;
    std::string point;
};

// The mount of cgroup2 (wanted: "cgroup2") or of the v1 hierarchy holding the memory controller.
std::optional<Mount> hierarchyMount(const std::string& mountinfo, bool unified) {
    std::istringstream lines(mountinfo);
    for (std::string line; std::getline(lines, line);) {
        const std::vector<std::string> fields = split(line, ' ');
        const auto dash = std::find(fields.begin(), fields.end(), "-");
        if (fields.size() < 5 || fields.end() - dash < 4) continue;
        const std::string& type = dash[1];
        const std::vector<std::string> options = split(dash[3], ',');
        const bool memory = std::find(options.begin(), options.end(), "memory") != options.end();
        if (unified ? type == "cgroup2" : (type == "cgroup" && memory)) return Mount{fields[3], fields[4]};
    }
    return std::nullopt;
}

// What a resource limit leaves beyond what the process already uses.
std::optional<int64_t> limitHeadroom(int resource, const std::string& usageField) {
    rlimit limit{};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    const std::optional<int64_t> used = statusFieldOf(fileText("/proc/self/status"), usageField);
    return static_cast<int64_t>(limit.rlim_cur) - used.value_or(0);
}

// group's path (absolute in its hierarchy) as seen below a mount of the hierarchy's folder root:
// "" for root itself, "/a/b" below it; nothing when the group lies outside it. Matched on whole
// folder names, so a mount of /docker/abc does not show /docker/abcdef.
std::optional<std::string> pathUnderMount(std::string group, const std::string& root) {
    if (group.empty() || group.front() != '/') return std::nullopt;
    while (group.size() > 1 && group.back() == '/') group.pop_back();
    if (group == "/") group.clear();
    std::string base = root;
    while (!base.empty() && base.back() == '/') base.pop_back();
    if (base.empty()) return group;
    if (group.compare(0, base.size(), base) != 0) return std::nullopt;
    if (group.size() > base.size() && group[base.size()] != '/') return std::nullopt;
    return group.substr(base.size());
}

void keepLeast(std::optional<int64_t>& least, std::optional<int64_t> bytes) {
    if (bytes) least = least ? std::min(*least, *bytes) : *bytes;
}

}  // namespace

std::optional<int64_t> controlGroupHeadroom(const std::string& root) {
    const std::string mountinfo = fileText(root + "/proc/self/mountinfo");
    std::optional<int64_t> least;
    std::istringstream lines(fileText(root + "/proc/self/cgroup"));
    for (std::string line; std::getline(lines, line);) {
        // hierarchy-id:controllers:path; v2 is "0::path".
        const size_t first = line.find(':');
        const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::vector<std::string> controllers = split(line.substr(first + 1, second - first - 1), ',');
        const bool unified = line.compare(0, first, "0") == 0 && controllers.empty();
        if (!unified && std::find(controllers.begin(), controllers.end(), "memory") == controllers.end()) continue;
        const std::optional<Mount> mount = hierarchyMount(mountinfo, unified);
        if (!mount) continue;
        // The path is relative to the hierarchy's root; the mount may show only part of it. A
        // group outside what the mount shows (or no absolute path at all) cannot be looked at.
        const std::optional<std::string> shown = pathUnderMount(line.substr(second + 1), mount->root);
        if (!shown) continue;
        std::string path = *shown;
        // This group, then each one above it up to the mount's own.
        for (;;) {
            const std::string folder = root + mount->point + path + "/";
            keepLeast(least, unified ? cgroupHeadroomOf(fileText(folder + "memory.max"),
                                                         fileText(folder + "memory.current"),
                                                         fileText(folder + "memory.stat"))
                                     : cgroupHeadroomOf(fileText(folder + "memory.limit_in_bytes"),
                                                        fileText(folder + "memory.usage_in_bytes"),
                                                        fileText(folder + "memory.stat")));
            const size_t parent = path.rfind('/');
            if (parent == std::string::npos) break;
            path.erase(parent);
        }
    }
    return least;
}

std::optional<int64_t> memoryAvailable() {
    std::optional<int64_t> least;
    keepLeast(least, memAvailableOf(fileText("/proc/meminfo")));
    keepLeast(least, controlGroupHeadroom());
    keepLeast(least, limitHeadroom(RLIMIT_DATA, "VmData"));
    keepLeast(least, limitHeadroom(RLIMIT_AS, "VmSize"));
    if (least) least = std::max<int64_t>(*least, 0);
    return least;
}

}  // namespace tonemorph
