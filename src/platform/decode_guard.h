// Guards the decoding of the picture. While it runs, the process may take no more memory than is
// available, so a format whose header was not judged beforehand still cannot exhaust the machine;
// and what the decoders print on standard error is held back, so the tool can say in its own
// words why a picture was refused. One implementation per system family.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The variable through which libtiff takes its limit on the scans of a JPEG inside a TIFF.
constexpr char kTiffJpegScanLimit[] = "LIBTIFF_JPEG_MAX_ALLOWED_SCAN_NUMBER";

// Starts the guard. allowedBytes: what the decode may take beyond what the process already holds
// (nothing: no cap).
void beginGuardedDecode(std::optional<int64_t> allowedBytes);

// Ends it: the cap lifted, standard error restored. Returns what was printed there meanwhile.
std::string endGuardedDecode();

// Writes text to standard error as it was before the guard began, from any thread, while the
// guard is on (or, off, to standard error itself).
void writeBesideGuard(const char* text);
