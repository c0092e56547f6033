// What the command line asks for.
#include "core/command_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using Action = tonemorph::Invocation::Action;

// Ensure each way of calling the program is read as meant: no argument opens 1.jpg, one names the
// picture (after "--" even one that starts with a dash), help and version win wherever they
// stand, and two pictures, an unknown option or an empty name are mistakes.
TEST(CommandLine, EachCallReadAsMeant) {
    struct Case {
        std::vector<std::string> arguments;
        Action action;
        std::string picture;
        std::string mistake;
    };
    const Case cases[] = {
        {{}, Action::kRun, "1.jpg", ""},
        {{"cat.png"}, Action::kRun, "cat.png", ""},
        {{"/home/me/我的 图片/猫.jpg"}, Action::kRun, "/home/me/我的 图片/猫.jpg", ""},
        {{"--", "-odd name.png"}, Action::kRun, "-odd name.png", ""},
        {{"-"}, Action::kRun, "-", ""},
        {{"--help"}, Action::kHelp, "", ""},
        {{"cat.png", "-h"}, Action::kHelp, "", ""},
        {{"--version"}, Action::kVersion, "", ""},
        {{"a.png", "b.png"}, Action::kMistake, "", "one picture at a time"},
        {{"--", "a.png", "b.png"}, Action::kMistake, "", "one picture at a time"},
        {{"--frobnicate"}, Action::kMistake, "", "unknown option --frobnicate"},
        {{"-x", "a.png"}, Action::kMistake, "", "unknown option -x"},
        {{""}, Action::kMistake, "", "an empty picture name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        const tonemorph::Invocation invocation = tonemorph::parseCommandLine(c.arguments);
        EXPECT_EQ(invocation.action, c.action);
        if (c.action == Action::kRun) {
            EXPECT_EQ(invocation.picture, c.picture);
        }
        EXPECT_EQ(invocation.mistake, c.mistake);
    }
}

// Columns a line takes on a terminal: the CJK characters of the slider labels take two.
int columns(const std::string& line) {
    int count = 0;
    for (size_t i = 0; i < line.size();) {
        const auto lead = static_cast<unsigned char>(line[i]);
        const size_t bytes = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        count += bytes == 3 ? 2 : 1;
        i += bytes;
    }
    return count;
}

// Ensure the help fits a screenful, 24 lines of 80 columns, and names every slider and key the
// program has.
TEST(CommandLine, HelpFitsAScreenAndNamesSlidersAndKeys) {
    const std::string help = tonemorph::helpText();
    std::istringstream lines(help);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) EXPECT_LE(columns(line), 80) << line;
    EXPECT_LE(count, 24);
    for (const char* word : {"腐蚀/膨胀", "内核尺寸", "内核形状", "对比度", "亮度", "q ", "Ctrl+Z", "Ctrl+S", "--version"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
}

}  // namespace
