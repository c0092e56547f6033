// The command line's arguments as UTF-8: on Windows taken from the wide command line (the narrow
// argv cannot carry a name outside the ANSI code page, a Chinese one on a Western system say);
// elsewhere as they are. One implementation per system family.
#pragma once

#include <string>
#include <vector>

// Without the program's own name.
std::vector<std::string> utf8Arguments(int argc, char** argv);
