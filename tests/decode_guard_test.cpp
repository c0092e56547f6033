// The guard around decoding: what the decoders print is held back, and (where the system has a
// data limit) no allocation beyond the allowance succeeds while it is on.
#include "platform/decode_guard.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <new>
#include <vector>

#include <opencv2/core.hpp>

namespace {

// Ensure what is printed on standard error while the guard is on (through the C++ stream and the
// C one alike) comes back to the caller, and what is printed after it goes where it used to.
TEST(DecodeGuard, HoldsBackWhatTheDecoderPrints) {
    testing::internal::CaptureStderr();
    std::cerr << "before\n";
    beginGuardedDecode(std::nullopt);
    std::cerr << "imread_('1.jpg'): can't read data: Insufficient memory\n";
    std::fprintf(stderr, "libjpeg: Premature end of JPEG file\n");
    const std::string held = endGuardedDecode();
    std::cerr << "after\n";
    EXPECT_EQ(held, "imread_('1.jpg'): can't read data: Insufficient memory\nlibjpeg: Premature end of JPEG file\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "before\nafter\n");
}

#ifndef _WIN32
// Ensure that with the guard on, a picture larger than the allowance cannot be allocated (the
// library reports it as out of memory) while one within it can, and that the allowance ends with
// the guard.
TEST(DecodeGuard, NoAllocationBeyondTheAllowance) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizer's allocator ends the process when memory runs out";
#endif
    const int64_t allowance = int64_t{256} << 20;
    beginGuardedDecode(allowance);
    int failedCode = 0;
    try {
        cv::Mat tooLarge(20000, 20000, CV_8UC3);  // 1.2 GB
    } catch (const cv::Exception& error) {
        failedCode = error.code;
    }
    bool smallAllocated = false;
    try {
        cv::Mat fits(4000, 3000, CV_8UC3);  // 36 MB
        smallAllocated = !fits.empty();
    } catch (const cv::Exception&) {
    }
    endGuardedDecode();
    EXPECT_EQ(failedCode, cv::Error::StsNoMem);
    EXPECT_TRUE(smallAllocated);
    cv::Mat afterwards(20000, 20000, CV_8UC3);  // reserved, not touched
    EXPECT_FALSE(afterwards.empty());
}
#endif

}  // namespace
