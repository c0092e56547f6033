// Windows: the wide command line, split as the C runtime splits it, each argument in UTF-8.
#include "platform/command_line_args.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {  // no memory even for this: the narrow ones are better than none
        for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
        return arguments;
    }
    for (int i = 1; i < count; ++i) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
        if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &text[0], bytes, nullptr, nullptr);
        text.resize(text.size() - 1);  // the terminating zero
        arguments.push_back(text);
    }
    LocalFree(wide);
    return arguments;
}
