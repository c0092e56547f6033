// A failure inside a handler (memory exhausted, a library error) cannot be thrown through the
// toolkit's event loop, which does not carry exceptions: each handler runs its work through
// runHandler, which keeps the first failure and lets no later handler work, and the key loop then
// ends the program with it. Keeping and printing it allocate nothing, so they work when memory
// has run out.
#pragma once

#include "window/toolkit_failure.h"

// Keeps "what: detail" in a fixed buffer (cut short if long), the first time only.
void recordHandlerFailure(const char* what, const char* detail) noexcept;

// What failed in a handler; empty while nothing has.
const char* handlerFailure() noexcept;

// Writes "tonemorph: text" and a line end to standard error, without trailing white space, by
// the C library's stream alone.
void printFailure(const char* text) noexcept;

template <typename Work>
void runHandler(const char* what, Work&& work) noexcept {
    if (handlerFailure()[0] != '\0') return;
    inCallback(recordHandlerFailure, what, work);
}
