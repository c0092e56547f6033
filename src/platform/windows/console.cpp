// Windows: the console's colours through the console API (blue background, bright white text,
// what "color 1F" gives), UTF-8 output while the tool runs, and both put back on every way out:
// a normal exit, Ctrl+C, Ctrl+Break, the console window closed, logoff or shutdown, and a fault.
#include "platform/console.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace {

constexpr WORD kColours = BACKGROUND_BLUE | FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE |
                          FOREGROUND_INTENSITY;

HANDLE console = INVALID_HANDLE_VALUE;
WORD previousAttributes = 0;
UINT previousOutputCodePage = 0;
volatile LONG consoleColoured = 0;

// Runs once, whoever gets here first (the exit path or a console event on its own thread).
void putBack() {
    if (InterlockedExchange(&consoleColoured, 0) == 0) return;
    SetConsoleTextAttribute(console, previousAttributes);
    if (previousOutputCodePage != 0) SetConsoleOutputCP(previousOutputCodePage);
}

BOOL WINAPI onConsoleEvent(DWORD /*event*/) {
    putBack();
    // Not handled: the system's own action follows (the process ends).
    return FALSE;
}

LONG WINAPI onFault(EXCEPTION_POINTERS* /*fault*/) {
    putBack();
    return EXCEPTION_CONTINUE_SEARCH;
}

void restoreAtExit() { restoreConsole(); }

}  // namespace

void prepareConsole() {
    // A closed or redirected stream needs nothing: writes to it fail quietly in the C runtime.
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (output == nullptr || output == INVALID_HANDLE_VALUE || !GetConsoleMode(output, &mode) ||
        !GetConsoleScreenBufferInfo(output, &info)) {
        return;
    }
    console = output;
    previousAttributes = info.wAttributes;
    // The messages are UTF-8 bytes; the console shows them as such only under code page 65001.
    previousOutputCodePage = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleTextAttribute(console, kColours);
    consoleColoured = 1;
    std::atexit(restoreAtExit);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    SetUnhandledExceptionFilter(onFault);
}

void restoreConsole() {
    if (consoleColoured == 0) return;
    std::cout.flush();
    std::fflush(stdout);
    putBack();
}
