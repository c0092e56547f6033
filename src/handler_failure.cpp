#include "handler_failure.h"

#include <cstdio>
#include <cstring>

namespace {

char failure[1024];

// Appends text to failure at length used, cut at its end; returns the new length.
size_t append(size_t used, const char* text) {
    while (*text != '\0' && used + 1 < sizeof failure) failure[used++] = *text++;
    failure[used] = '\0';
    return used;
}

}  // namespace

void recordHandlerFailure(const char* what, const char* detail) noexcept {
    if (failure[0] != '\0') return;
    size_t used = append(0, what != nullptr && *what != '\0' ? what : "a handler");
    if (detail != nullptr && *detail != '\0') append(append(used, ": "), detail);
}

const char* handlerFailure() noexcept { return failure; }

void printFailure(const char* text) noexcept {
    size_t length = std::strlen(text);
    while (length > 0 && std::strchr(" \t\r\n\v\f", text[length - 1]) != nullptr) --length;
    std::fflush(stdout);
    std::fputs("tonemorph: ", stderr);
    std::fwrite(text, 1, length, stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}
