// A stand-in for a phone photo, for the benchmarks.
#pragma once

#include <opencv2/core.hpp>

// Smooth lighting gradients and soft blobs (sky, walls, skin), hard-edged shapes (objects), fine
// texture and sensor noise in every channel, so that no channel is flat and no stage meets the
// uniform runs a synthetic pattern would give it.
cv::Mat photoLike(cv::Size size);
