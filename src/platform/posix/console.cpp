#include "platform/console.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

namespace {

constexpr char kColourOn[] = "\033[44;97m";  // blue background, bright white text
constexpr char kColourOff[] = "\033[0m";

// Every signal whose default action ends the process, from outside (kill, the terminal, resource
// limits) or from a fault of the process itself. SIGPIPE is ignored instead (see prepareConsole).
constexpr int kFatalSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT,
                                 SIGBUS,  SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2, SIGALRM,
                                 SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF,
                                 SIGIO,   SIGPWR,  SIGSYS};

volatile sig_atomic_t consoleColoured = 0;
struct sigaction previousAction[NSIG];

void writeRaw(const char* text, size_t length) {
    // A failed write leaves nothing to do: there is no other place to report it.
    while (length > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, text, length);
        if (written <= 0) return;
        text += written;
        length -= static_cast<size_t>(written);
    }
}

bool isFault(int signalNumber) {
    return signalNumber == SIGSEGV || signalNumber == SIGBUS || signalNumber == SIGFPE ||
           signalNumber == SIGILL;
}

void restoreOnSignal(int signalNumber, siginfo_t* info, void* /*context*/) {
    // Only async-signal-safe calls here.
    if (consoleColoured) {
        writeRaw(kColourOff, sizeof kColourOff - 1);
        consoleColoured = 0;
    }
    // Whatever handled the signal before us (the default action, or a sanitizer's report) gets it.
    ::sigaction(signalNumber, &previousAction[signalNumber], nullptr);
    // A fault raised by an instruction repeats as soon as the handler returns, now reaching the
    // previous handler with its real address; any other signal is sent again, and arrives once
    // this handler returns and unblocks it.
    if (isFault(signalNumber) && info != nullptr && info->si_code > 0) return;
    ::raise(signalNumber);
}

void restoreAtExit() { restoreConsole(); }

void catchFatalSignals() {
    // A stack overflow is reported as SIGSEGV on an exhausted stack: the handler gets its own.
    static char alternateStack[64 * 1024];
    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    ::sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_sigaction = restoreOnSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : kFatalSignals) {
        ::sigaction(signalNumber, nullptr, &previousAction[signalNumber]);
        // A signal the caller chose to ignore (nohup) stays ignored.
        if (previousAction[signalNumber].sa_handler == SIG_IGN) continue;
        ::sigaction(signalNumber, &action, nullptr);
    }
}

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
    ::signal(SIGPIPE, SIG_IGN);

    if (!::isatty(STDOUT_FILENO)) return;
    writeRaw(kColourOn, sizeof kColourOn - 1);
    consoleColoured = 1;
    std::atexit(restoreAtExit);
    catchFatalSignals();
}

void restoreConsole() {
    if (!consoleColoured) return;
    std::cout.flush();
    writeRaw(kColourOff, sizeof kColourOff - 1);
    consoleColoured = 0;
}
