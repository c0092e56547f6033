// What the system says the program may still take.
#include "platform/memory_available.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/memory_budget.h"
#include "platform/posix/control_group.h"

namespace {

// Ensure a limit on the process's data (ulimit -d) bounds what counts as available.
TEST(MemoryBudget, DataLimitBoundsAvailableMemory) {
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_DATA, &before), 0);
    std::ifstream status("/proc/self/status");
    std::stringstream text;
    text << status.rdbuf();
    const int64_t used = tonemorph::statusFieldOf(text.str(), "VmData").value_or(0);
    const rlimit tight{static_cast<rlim_t>(used + (int64_t{300} << 20)), before.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_DATA, &tight), 0);
    const std::optional<int64_t> available = tonemorph::memoryAvailable();
    ASSERT_EQ(setrlimit(RLIMIT_DATA, &before), 0);
    ASSERT_TRUE(available.has_value());
    EXPECT_LE(*available, int64_t{300} << 20);
    EXPECT_GT(*available, int64_t{200} << 20);
}

}  // namespace

namespace {

// A folder of stand-ins for the files the control group code reads, removed afterwards.
class FakeSystem {
public:
    FakeSystem() : root_(std::filesystem::temp_directory_path() / ("cgroup-" + std::to_string(::getpid()))) {}
    ~FakeSystem() { std::filesystem::remove_all(root_); }
    FakeSystem(const FakeSystem&) = delete;
    FakeSystem& operator=(const FakeSystem&) = delete;

    void write(const std::string& path, const std::string& text) const {
        const std::filesystem::path file = root_ / path.substr(1);
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    std::string root() const { return root_.string(); }

private:
    std::filesystem::path root_;
};

constexpr int64_t kMiB = int64_t{1} << 20;

std::string v2Limit(int64_t limitMiB) {
    return limitMiB < 0 ? "max\n" : std::to_string(limitMiB * kMiB) + "\n";
}

// Ensure the least headroom over a process's group and every group above it is found, for v2 (a
// limit on the user's slice while the session scope has none) and v1 (a limit on a parent, as a
// container runtime sets it, with a mount that shows only part of the hierarchy), and that the
// page cache a group holds counts as free.
TEST(ControlGroup, LeastHeadroomOverTheGroupAndItsAncestors) {
    struct Level {
        std::string folder;
        int64_t limitMiB;  // -1: no limit
        int64_t usageMiB;
        int64_t cacheMiB;
    };
    struct Case {
        const char* what;
        bool unified;
        std::string mountRoot;
        std::string groupPath;
        std::vector<Level> levels;  // folders under the mount
        std::optional<int64_t> expectedMiB;
    };
    const Case cases[] = {
        {"v2, limit on the slice", true, "/", "/user.slice/user-1000.slice/session-2.scope",
         {{"/user.slice/user-1000.slice/session-2.scope", -1, 300, 0}, {"/user.slice/user-1000.slice", 2048, 1500, 400},
          {"/user.slice", -1, 1600, 0}},
         2048 - 1100},
        {"v2, the tighter of two limits", true, "/", "/a/b",
         {{"/a/b", 4096, 1000, 0}, {"/a", 3072, 2500, 0}}, 3072 - 2500},
        {"v2, no limit anywhere", true, "/", "/a/b", {{"/a/b", -1, 10, 0}, {"/a", -1, 10, 0}}, std::nullopt},
        {"v1, limit on a parent, mount showing part of the tree", false, "/docker", "/docker/box/inner",
         {{"/box/inner", -1, 100, 0}, {"/box", 1024, 900, 500}}, 1024 - 400},
        {"v1, the mount's own group, its root written with a slash", false, "/docker/abc/", "/docker/abc",
         {{"", 1024, 1000, 0}}, 1024 - 1000},
        // A name that merely begins like the mount's root is another group, which the mount does not show.
        {"v1, a group beside the mount's root", false, "/docker/abc", "/docker/abcdef/x",
         {{"/def/x", 512, 500, 0}, {"", 1024, 100, 0}}, std::nullopt},
        {"v2, the root group", true, "/", "/", {{"", 2048, 1024, 0}}, 2048 - 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const FakeSystem system;
        const std::string point = c.unified ? "/sys/fs/cgroup" : "/sys/fs/cgroup/memory";
        system.write("/proc/self/cgroup", c.unified ? "0::" + c.groupPath + "\n"
                                                    : "5:cpu,cpuacct:/\n4:memory:" + c.groupPath + "\n0::/\n");
        system.write("/proc/self/mountinfo",
                     "22 1 0:20 / /sys rw - sysfs sysfs rw\n"
                     "30 22 0:27 " + c.mountRoot + " " + point + " rw,relatime - " +
                         (c.unified ? "cgroup2 cgroup2 rw" : "cgroup cgroup rw,memory") + "\n"
                     "31 22 0:28 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu,cpuacct\n");
        for (const Level& level : c.levels) {
            const std::string folder = point + level.folder + "/";
            const std::string limit = c.unified ? v2Limit(level.limitMiB)
                                                : std::to_string(level.limitMiB < 0 ? int64_t{9223372036854771712}
                                                                                   : level.limitMiB * kMiB);
            system.write(folder + (c.unified ? "memory.max" : "memory.limit_in_bytes"), limit);
            system.write(folder + (c.unified ? "memory.current" : "memory.usage_in_bytes"),
                         std::to_string(level.usageMiB * kMiB) + "\n");
            const std::string cache = std::to_string(level.cacheMiB * kMiB / 2);
            system.write(folder + "memory.stat", c.unified ? "active_file " + cache + "\ninactive_file " + cache + "\n"
                                                           : "total_active_file " + cache + "\ntotal_inactive_file " + cache + "\n");
        }
        const std::optional<int64_t> headroom = tonemorph::controlGroupHeadroom(system.root());
        if (c.expectedMiB) {
            EXPECT_EQ(headroom, *c.expectedMiB * kMiB);
        } else {
            EXPECT_EQ(headroom, std::nullopt);
        }
    }
}

}  // namespace

namespace {

// Ensure no content of the two files the reader parses makes it throw: lines cut short, fields
// missing, paths that are not absolute or lie outside the mount, numbers out of range.
TEST(ControlGroup, MalformedFilesNeverThrow) {
    const std::string mountinfo = "30 22 0:27 /docker/abc /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n";
    const std::pair<std::string, std::string> cases[] = {
        {"0::/docker/abcdef/x\n", mountinfo},
        {"0::docker\n0::\n0::/\n0:\n::\n:\n\n", mountinfo},
        {"4:memory:/docker/abc/x\n", "30 22 0:27 /docker/abc /sys/fs/cgroup/memory - cgroup cgroup memory\n"},
        {"4:memory:/x\n", "- cgroup\n30 - cgroup cgroup memory\n30 22 0:27 - - -\n"},
        {"0::/docker/abc//\n", "30 22 0:27 /docker/abc// /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n"},
        {"0::/docker/abc\n", "30 22 0:27 / / rw - cgroup2\n"},
    };
    for (const auto& [cgroup, mounts] : cases) {
        SCOPED_TRACE(cgroup + mounts);
        const FakeSystem system;
        system.write("/proc/self/cgroup", cgroup);
        system.write("/proc/self/mountinfo", mounts);
        system.write("/sys/fs/cgroup/memory.max", "99999999999999999999999\n");
        system.write("/sys/fs/cgroup/memory.current", "-5\n");
        system.write("/sys/fs/cgroup/memory.stat", "active_file -9223372036854775807\n");
        EXPECT_NO_THROW(tonemorph::controlGroupHeadroom(system.root()));
    }
}

}  // namespace
