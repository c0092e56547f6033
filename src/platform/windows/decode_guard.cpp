// Windows: standard error goes to a temporary file that the system deletes when it is closed.
// No cap: a process cannot leave a job once in it, so the memory judged before decoding is all
// the guard there is (every format the Windows build decodes has its header read beforehand).
#include "platform/decode_guard.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "core/decode_work.h"

namespace {

int heldFile = -1;
int savedStderr = -1;

}  // namespace

void beginGuardedDecode(std::optional<int64_t> /*allowedBytes*/) {
    // The JPEG reader inside TIFF decoding has its own limit on scans, looser than ours for a JPEG
    // file; the user's own setting stands.
    if (std::getenv(kTiffJpegScanLimit) == nullptr) {
        _putenv_s(kTiffJpegScanLimit, std::to_string(tonemorph::kTiffJpegScanSetting).c_str());
    }
    std::cerr.flush();
    std::fflush(stderr);
    wchar_t folder[MAX_PATH + 1];
    wchar_t path[MAX_PATH + 1];
    if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"tmo", 0, path) == 0) return;
    heldFile = _wopen(path, _O_RDWR | _O_BINARY | _O_TEMPORARY | _O_SHORT_LIVED);
    if (heldFile < 0) {
        DeleteFileW(path);  // made by GetTempFileNameW, and not opened to be deleted on closing
        return;
    }
    savedStderr = _dup(2);
    if (savedStderr < 0 || _dup2(heldFile, 2) < 0) {
        if (savedStderr >= 0) _close(savedStderr);
        savedStderr = -1;
        _close(heldFile);
        heldFile = -1;
    }
}

std::string endGuardedDecode() {
    std::string printed;
    if (heldFile < 0) return printed;
    std::cerr.flush();
    std::fflush(stderr);
    _dup2(savedStderr, 2);
    _close(savedStderr);
    savedStderr = -1;
    _lseek(heldFile, 0, SEEK_SET);
    char buffer[4096];
    for (int got; (got = _read(heldFile, buffer, sizeof buffer)) > 0;) printed.append(buffer, static_cast<size_t>(got));
    _close(heldFile);  // deletes it
    heldFile = -1;
    return printed;
}

void writeBesideGuard(const char* text) {
    const int terminal = savedStderr >= 0 ? savedStderr : 2;
    for (size_t left = std::strlen(text); left > 0;) {
        const int written = _write(terminal, text, static_cast<unsigned>(left));
        if (written <= 0) return;
        text += written;
        left -= static_cast<size_t>(written);
    }
}
