// Whole passes must not touch the heap once the picture size is set: scratch is reused, and
// nothing per pass (a parallel body, an element, a table) may allocate.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include "core/effect_pipeline.h"
#include "support/alloc_counter.h"

namespace {

// Ensure repeated passes at every shape and a range of sizes allocate nothing after the first
// passes at that setting, on a picture large enough to be split across threads, whether a pass
// remakes the kept morphology result (the operation moved) or only the tone (the contrast moved).
// A fault of ours allocates on every pass; a worker thread of the thread pool that first joins in
// late (on a busy machine) sets itself up once. So each setting gets up to three rounds of six
// passes, and one of them must be free of allocations.
TEST(Allocation, PassesAllocateNothingOnceSizesAreSet) {
    cv::Mat src(900, 1200, CV_8UC3);
    cv::randu(src, 0, 256);
    cv::Mat tone;
    cv::Mat effect;
    tonemorph::KeptMorphology kept;
    for (int shape = 0; shape <= 2; ++shape) {
        for (int k : {0, 1, 2, 5, 21}) {
            // Passes alternate: a tone move, then a morphology move, and so on.
            const auto settingsOf = [&](int pass) {
                return tonemorph::EffectSettings{(pass / 2) % 2, k, shape, 130 + pass % 2, 90};
            };
            for (int pass = 0; pass < 4; ++pass) tonemorph::computeEffect(src, tone, effect, settingsOf(pass), kept);
            long allocations = 0;
            for (int round = 0; round < 3; ++round) {
                const long before = allocationCount();
                for (int pass = 0; pass < 6; ++pass) {
                    tonemorph::computeEffect(src, tone, effect, settingsOf(pass), kept);
                }
                allocations = allocationCount() - before;
                if (allocations == 0) break;
            }
            EXPECT_EQ(allocations, 0) << "shape " << shape << ", size " << k;
        }
    }
}

}  // namespace
