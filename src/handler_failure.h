// A failure inside a handler (memory exhausted, a library error) cannot be thrown through the
// toolkit's event loop, which does not carry exceptions: each handler runs its work through
// runHandler, which keeps the first failure and lets no later handler work, and the key loop then
// ends the program with it.
#pragma once

#include <exception>
#include <string>

// Keeps what failed, the first time only.
void recordHandlerFailure(const std::string& what) noexcept;

// What failed in a handler; empty while nothing has.
const std::string& handlerFailure();

template <typename Work>
void runHandler(const char* what, Work&& work) noexcept {
    if (!handlerFailure().empty()) return;
    try {
        work();
    } catch (const std::exception& error) {
        recordHandlerFailure(std::string(what) + ": " + error.what());
    } catch (...) {
        recordHandlerFailure(std::string(what) + ": an unknown error");
    }
}
