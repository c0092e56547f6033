#include "core/command_line.h"

namespace tonemorph {

Invocation parseCommandLine(const std::vector<std::string>& arguments) {
    Invocation invocation;
    bool named = false;
    bool optionsEnded = false;
    for (const std::string& argument : arguments) {
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && (argument == "--help" || argument == "-h")) return {Invocation::Action::kHelp, {}, {}};
        if (!optionsEnded && argument == "--version") return {Invocation::Action::kVersion, {}, {}};
        if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            return {Invocation::Action::kMistake, {}, "unknown option " + argument};
        }
        if (named) return {Invocation::Action::kMistake, {}, "one picture at a time"};
        if (argument.empty()) return {Invocation::Action::kMistake, {}, "an empty picture name"};
        invocation.picture = argument;
        named = true;
    }
    return invocation;
}

std::string usageLine() { return "usage: tonemorph [PICTURE]   (tonemorph --help tells more)"; }

std::string helpText() {
    return "usage: tonemorph [PICTURE]\n"
           "Shows PICTURE (1.jpg in the current folder if none is named) in one window,\n"
           "its contrast/brightness-adjusted, eroded or dilated version in a second, and\n"
           "five sliders in a third; every slider move recomputes the result at once.\n"
           "\n"
           "Sliders:  腐蚀/膨胀 0..1   0 erosion (minimum), 1 dilation (maximum)\n"
           "          内核尺寸 0..21  element (2k+1)x(2k+1); 0 leaves the picture as it is\n"
           "          内核形状 0..2   0 rectangle, 1 cross, 2 ellipse\n"
           "          对比度   0..300 gain in percent (start 100)\n"
           "          亮度     0..200 offset plus 100 (start 100)\n"
           "Keys:     q in any window quits; closing all three windows too.\n"
           "          In a picture window: wheel, Ctrl+plus and Ctrl+minus zoom, Ctrl+Z\n"
           "          shows the whole picture, Ctrl+S saves it, Ctrl+C copies it.\n"
           "Any format the OpenCV build decodes is read, whatever the file's name says.\n"
           "\n"
           "Options:  -h, --help  this text      --version  the version\n"
           "Exit status: 0 after q or closing the windows; 1 when the picture cannot be\n"
           "shown (missing, not decodable, too large, made to keep the decoder busy) or\n"
           "something fails while running; 2 for a usage mistake.\n"
           "Manual: man tonemorph\n";
}

}  // namespace tonemorph
