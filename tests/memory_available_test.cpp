// What the system says the program may still take.
#include "platform/memory_available.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <fstream>
#include <sstream>

#include "core/memory_budget.h"

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
