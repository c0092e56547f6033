#include "core/memory_budget.h"

#include <gtest/gtest.h>

namespace {

// Ensure the figures are read from the texts the kernel writes, and a missing or "max" value is
// no figure at all.
TEST(MemoryBudget, ReadsKernelFigures) {
    const std::string meminfo = "MemTotal:       24576000 kB\nMemFree:        1000 kB\nMemAvailable:   20000000 kB\n";
    EXPECT_EQ(tonemorph::memAvailableOf(meminfo), int64_t{20000000} * 1024);
    EXPECT_EQ(tonemorph::memAvailableOf("MemTotal: 5 kB\n"), std::nullopt);
    EXPECT_EQ(tonemorph::cgroupHeadroomOf("2147483648\n", "1073741824\n"), int64_t{1} << 30);
    EXPECT_EQ(tonemorph::cgroupHeadroomOf("max\n", "1073741824\n"), std::nullopt);
    EXPECT_EQ(tonemorph::statusFieldOf("Name:\tx\nVmData:\t  4096 kB\n", "VmData"), 4096 * 1024);
}

// Ensure the picture sizes that matter land where they should: a 48 MP photo needs under 1.25
// GiB, and a 30000x30000 picture over fifteen.
TEST(MemoryBudget, NeedsGrowWithPixels) {
    EXPECT_LT(tonemorph::memoryNeeded({8000, 6000}), int64_t{5} << 28);
    EXPECT_GT(tonemorph::memoryNeeded({30000, 30000}), int64_t{15} << 30);
    EXPECT_EQ(tonemorph::describeBytes(int64_t{12} << 30), "12.0 GiB");
    EXPECT_EQ(tonemorph::describeBytes(int64_t{850} << 20), "850 MiB");
}

}  // namespace
