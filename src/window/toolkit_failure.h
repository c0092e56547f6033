// How the window code of a toolkit reports a failure inside one of its own callbacks (a resize, a
// zoom, a shortcut): nothing may be thrown through the toolkit's event loop, so the failure is
// handed to a function the program gives, which keeps it for the key loop. Reporting allocates
// nothing: the failure is often that memory ran out.
#pragma once

#include <exception>

// what: the work that failed; detail: why (the exception's own text).
using FailureSink = void (*)(const char* what, const char* detail);

// Runs work from one of our callbacks in the toolkit: a failure goes to failed, never through the
// toolkit's event loop.
template <typename Work>
void inCallback(FailureSink failed, const char* what, Work&& work) noexcept {
    try {
        work();
    } catch (const std::exception& error) {
        if (failed != nullptr) failed(what, error.what());
    } catch (...) {
        if (failed != nullptr) failed(what, "an unknown error");
    }
}
