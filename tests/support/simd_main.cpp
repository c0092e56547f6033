// GoogleTest's main for the tests of the pixel loops: first picks the instruction-set level they
// run at, --simd=generic|sse2|avx2|avx512 (default: the widest this processor has), so that CTest
// runs every such test once per level. On a processor without the level every test is skipped.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/simd_level.h"

namespace {

class LevelMissing : public ::testing::Environment {
public:
    explicit LevelMissing(std::string level) : level_(std::move(level)) {}
    void SetUp() override { GTEST_SKIP() << "this processor does not run " << level_; }

private:
    std::string level_;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--simd=", 0) != 0) continue;
        const std::string name = argument.substr(7);
        const std::optional<tonemorph::SimdLevel> level = tonemorph::simdLevelNamed(name);
        if (!level) {
            std::fprintf(stderr, "unknown level %s\n", name.c_str());
            return 2;
        }
        if (!tonemorph::useSimdLevel(*level)) ::testing::AddGlobalTestEnvironment(new LevelMissing(name));
    }
    std::printf("pixel loops at level %s\n", tonemorph::simdLevelName(tonemorph::simdLevel()));
    return RUN_ALL_TESTS();
}
