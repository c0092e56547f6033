// The manual page and the README describe the same program: the same sliders with the same ranges
// and start values, and the same keys.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

namespace {

std::string fileText(const std::string& relative) {
    std::ifstream in(std::string(TONEMORPH_SOURCE_DIR) + "/" + relative);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

using SliderRow = std::tuple<std::string, std::string, std::string>;  // label, range, start

std::set<SliderRow> rowsMatching(const std::string& text, const std::regex& row) {
    std::set<SliderRow> rows;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), row); it != std::sregex_iterator(); ++it) {
        rows.emplace((*it)[1].str(), (*it)[2].str(), (*it)[3].str());
    }
    return rows;
}

// Ensure the five sliders, their ranges and start values read the same in both.
TEST(ManualPage, SlidersMatchTheReadme) {
    const std::set<SliderRow> readme =
        rowsMatching(fileText("README.md"), std::regex(R"(\n\| ([^|\n]+?) \| (\d+\.\.\d+) \| (\d+) \|)"));
    const std::set<SliderRow> manual =
        rowsMatching(fileText("packaging/tonemorph.1"), std::regex("\\n([^\\t\\n]+)\\t(\\d+\\.\\.\\d+)\\t(\\d+)\\t"));
    EXPECT_EQ(readme.size(), 5u);
    EXPECT_EQ(manual, readme);
}

// Ensure every key the README's table of picture-window keys names is in the manual page too.
TEST(ManualPage, KeysMatchTheReadme) {
    const std::string manual = fileText("packaging/tonemorph.1");
    const std::string readme = fileText("README.md");
    const std::regex key(R"(Ctrl\+[A-Za-z=]+)");
    int keys = 0;
    for (auto it = std::sregex_iterator(readme.begin(), readme.end(), key); it != std::sregex_iterator(); ++it, ++keys) {
        EXPECT_NE(manual.find(it->str()), std::string::npos) << it->str();
    }
    EXPECT_GE(keys, 8);
}

}  // namespace
