#include "handler_failure.h"

namespace {

std::string& failure() {
    static std::string text;
    return text;
}

}  // namespace

void recordHandlerFailure(const std::string& what) noexcept {
    try {
        if (failure().empty()) failure() = what.empty() ? "a handler failed" : what;
    } catch (...) {
        // No memory even for the text: keep a fixed one, which needs none beyond its small buffer.
        failure().assign("a handler failed");
    }
}

const std::string& handlerFailure() { return failure(); }
