// POSIX: the cap is the process's data limit (what Linux counts as private writable memory,
// every heap allocation included); standard error goes to an unnamed temporary file meanwhile.
#include "platform/decode_guard.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "core/decode_work.h"
#include "core/memory_budget.h"

namespace {

std::FILE* held = nullptr;  // where standard error goes while the guard is on
int savedStderr = -1;
bool capped = false;
rlimit previousLimit{};

int64_t dataInUse() {
    std::ifstream in("/proc/self/status");
    std::stringstream text;
    text << in.rdbuf();
    return tonemorph::statusFieldOf(text.str(), "VmData").value_or(0);
}

}  // namespace

void beginGuardedDecode(std::optional<int64_t> allowedBytes) {
    // The JPEG reader inside TIFF decoding has its own limit on scans, looser than ours for a JPEG
    // file; the user's own setting stands.
    ::setenv(kTiffJpegScanLimit, std::to_string(tonemorph::kTiffJpegScanSetting).c_str(), 0);
    std::cerr.flush();
    std::fflush(stderr);
    held = std::tmpfile();
    if (held != nullptr) {
        savedStderr = ::dup(STDERR_FILENO);
        if (savedStderr < 0 || ::dup2(::fileno(held), STDERR_FILENO) < 0) {
            if (savedStderr >= 0) ::close(savedStderr);
            savedStderr = -1;
            std::fclose(held);
            held = nullptr;
        }
    }
    if (allowedBytes && ::getrlimit(RLIMIT_DATA, &previousLimit) == 0) {
        const int64_t cap = dataInUse() + *allowedBytes;
        if (previousLimit.rlim_cur == RLIM_INFINITY || static_cast<rlim_t>(cap) < previousLimit.rlim_cur) {
            const rlimit limit{static_cast<rlim_t>(cap), previousLimit.rlim_max};
            capped = ::setrlimit(RLIMIT_DATA, &limit) == 0;
        }
    }
}

std::string endGuardedDecode() {
    if (capped) ::setrlimit(RLIMIT_DATA, &previousLimit);
    capped = false;
    std::string printed;
    if (held == nullptr) return printed;
    std::cerr.flush();
    std::fflush(stderr);
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    savedStderr = -1;
    std::rewind(held);
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, held)) > 0;) printed.append(buffer, got);
    std::fclose(held);
    held = nullptr;
    return printed;
}

void writeBesideGuard(const char* text) {
    const int terminal = savedStderr >= 0 ? savedStderr : STDERR_FILENO;
    for (size_t left = std::strlen(text); left > 0;) {
        const ssize_t written = ::write(terminal, text, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text += written;
        left -= static_cast<size_t>(written);
    }
}
