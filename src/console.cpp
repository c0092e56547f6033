#include "console.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iostream>

namespace {

constexpr char kColourOn[] = "\033[44;97m";  // blue background, bright white text
constexpr char kColourOff[] = "\033[0m";

volatile std::sig_atomic_t consoleColoured = 0;

void writeRaw(const char* text, size_t length) {
    // A failed write leaves nothing to do: there is no other place to report it.
    while (length > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, text, length);
        if (written <= 0) return;
        text += written;
        length -= static_cast<size_t>(written);
    }
}

void restoreOnSignal(int signalNumber) {
    // Only async-signal-safe calls here; then die of the same signal so the parent sees it.
    if (consoleColoured) {
        writeRaw(kColourOff, sizeof kColourOff - 1);
        consoleColoured = 0;
    }
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

void restoreAtExit() { restoreConsole(); }

}  // namespace

void prepareConsole() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1) {
            const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (opened >= 0 && opened != fd) {
                ::dup2(opened, fd);
                ::close(opened);
            }
        }
    }
    std::signal(SIGPIPE, SIG_IGN);

    if (!::isatty(STDOUT_FILENO)) return;
    writeRaw(kColourOn, sizeof kColourOn - 1);
    consoleColoured = 1;
    std::atexit(restoreAtExit);
    struct sigaction action {};
    action.sa_handler = restoreOnSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        ::sigaction(signalNumber, &action, nullptr);
    }
}

void restoreConsole() {
    if (!consoleColoured) return;
    std::cout.flush();
    writeRaw(kColourOff, sizeof kColourOff - 1);
    consoleColoured = 0;
}
