// Keeping and printing a failure from a handler, which must work when memory has run out.
#include "handler_failure.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "support/alloc_counter.h"

namespace {

// Ensure that with every allocation failing, a handler whose work runs out of memory, and one
// after it, leave the first failure's text, printed whole: no attempt to allocate is made on the
// way but the exception object itself, which the C++ runtime then takes from its emergency pool
// (another one would throw again in noexcept code and end the process without a word).
TEST(HandlerFailure, KeptAndPrintedWithoutAllocating) {
    testing::internal::CaptureStderr();
    const long before = allocationCount();
    failAllocations(true);
    runHandler("making the effect", [] { throw std::bad_alloc(); });
    runHandler("showing the picture", [] { throw std::runtime_error("later"); });
    printFailure(handlerFailure());
    failAllocations(false);
    const long attempts = allocationCount() - before;
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(std::string(handlerFailure()), "making the effect: std::bad_alloc");
    EXPECT_EQ(printed, "tonemorph: making the effect: std::bad_alloc\n");
}

// Ensure the line ends and spaces a library leaves after its message are not printed.
TEST(HandlerFailure, TrailingSpaceOfAMessageNotPrinted) {
    testing::internal::CaptureStderr();
    printFailure("cannot decode: bad data \n\t");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tonemorph: cannot decode: bad data\n");
}

}  // namespace
