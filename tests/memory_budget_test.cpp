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
    EXPECT_EQ(tonemorph::cgroupHeadroomOf("9223372036854771712\n", "1073741824\n"), std::nullopt);  // v1, no limit
    EXPECT_EQ(tonemorph::statusFieldOf("Name:\tx\nVmData:\t  4096 kB\n", "VmData"), 4096 * 1024);
}

// Ensure page cache a group could reclaim counts as free (a warm cache must not make a small
// picture look too big), read from v2's fields or v1's hierarchical totals, and never more than
// the group uses.
TEST(MemoryBudget, ReclaimableCacheCountsAsHeadroom) {
    const int64_t gib = int64_t{1} << 30;
    const std::string v2Stat = "anon 104857600\nfile 1073741824\nactive_file 536870912\ninactive_file 268435456\n";
    EXPECT_EQ(tonemorph::cgroupHeadroomOf("2147483648", "1610612736", v2Stat), 2 * gib - (1610612736 - 805306368));
    const std::string v1Stat = "cache 1\ninactive_file 5\nactive_file 5\ntotal_inactive_file 536870912\ntotal_active_file 536870912\n";
    EXPECT_EQ(tonemorph::cgroupHeadroomOf("2147483648\n", "1610612736\n", v1Stat), 2 * gib - (1610612736 - gib));
    EXPECT_EQ(tonemorph::cgroupHeadroomOf("2147483648", "100", v2Stat), 2 * gib);
    EXPECT_EQ(tonemorph::cgroupHeadroomOf("2147483648", "3221225472", ""), -gib);
}

// Ensure the estimate saturates for the largest sides a header can declare instead of wrapping
// round to a size that passes (954437177 x 1073741824 once wrapped to about 2.25 GiB), and that
// the check after decoding leaves out the source already held.
TEST(MemoryBudget, EstimateSaturatesAndCountsTheSourceOnce) {
    for (const cv::Size size : {cv::Size(954437177, 1073741824), cv::Size(INT32_MAX, INT32_MAX),
                                cv::Size(INT32_MAX, 2000000000)}) {
        SCOPED_TRACE(::testing::PrintToString(size));
        EXPECT_EQ(tonemorph::memoryNeeded(size), INT64_MAX);
        EXPECT_EQ(tonemorph::memoryNeededBesideSource(size), INT64_MAX);
    }
    EXPECT_EQ(tonemorph::memoryNeeded({8000, 6000}) - tonemorph::memoryNeededBesideSource({8000, 6000}),
              int64_t{3} * 8000 * 6000);
    EXPECT_EQ(tonemorph::describeBytes(INT64_MAX), "8589934592.0 GiB");
}

// Ensure the picture sizes that matter land where they should: a 48 MP photo needs under 1.25
// GiB, and a 30000x30000 picture over fifteen.
TEST(MemoryBudget, NeedsGrowWithPixels) {
    EXPECT_LT(tonemorph::memoryNeeded({8000, 6000}), int64_t{5} << 28);
    EXPECT_GT(tonemorph::memoryNeeded({30000, 30000}), int64_t{15} << 30);
    EXPECT_EQ(tonemorph::describeBytes(int64_t{12} << 30), "12.0 GiB");
    EXPECT_EQ(tonemorph::describeBytes(int64_t{850} << 20), "850 MiB");
    EXPECT_EQ(tonemorph::describeBytes(582275), "569 KiB");  // a small file holding a large picture
    EXPECT_EQ(tonemorph::describeBytes(184243), "180 KiB");
    EXPECT_EQ(tonemorph::describeBytes(38), "38 bytes");  // a tiny file is not rounded up to a KiB
}

}  // namespace
