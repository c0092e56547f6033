// Loading the picture: its file read once, judged before decoding (the size it declares against
// the memory available, what it would cost the decoder beyond that), then decoded and judged
// again by what it decoded to. Every refusal is told in one line on standard error, after the
// load-failure message on standard output.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

// A picture file read whole and judged fit to decode.
struct PictureFile {
    std::string name;  // as the user gave it (UTF-8): the name messages use
    std::vector<uchar> bytes;
    std::optional<cv::Size> declared;  // the size its header gives
};

// Reads the picture named (1.jpg unless the command line names another) and judges it; nothing,
// with the reason told, when it is missing, not a file, unreadable, too large for the memory
// available or made to keep the decoder busy.
std::optional<PictureFile> readJudgedPicture(const std::string& name);

// Decodes the file into appState.srcImage, capped at the memory available, and judges what it
// decoded to; false, with the reason told, when it cannot be had. The file's bytes are released.
bool decodeJudgedPicture(PictureFile& file);
