// POSIX: file names are bytes, passed on unchanged (UTF-8 on every desktop this runs on).
#include "platform/command_line_args.h"

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return arguments;
}
