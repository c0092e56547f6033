// What the command line asks for: the picture to open (1.jpg in the working folder when none is
// named), the help or version text, or a usage mistake. The arguments arrive as UTF-8, whatever
// the system's own encoding of them.
#pragma once

#include <string>
#include <vector>

namespace tonemorph {

struct Invocation {
    enum class Action { kRun, kHelp, kVersion, kMistake } action = Action::kRun;
    std::string picture = "1.jpg";  // kRun: the picture's path as given, UTF-8
    std::string mistake;            // kMistake: what was wrong, for the usage line
};

// arguments: the command line less the program's own name.
Invocation parseCommandLine(const std::vector<std::string>& arguments);

// The line that follows a mistake.
std::string usageLine();

// What --help prints: what the program does, the sliders, the keys and the exit status, in a
// screenful (at most 24 lines of at most 80 columns).
std::string helpText();

}  // namespace tonemorph
