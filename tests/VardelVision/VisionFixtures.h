#pragma once

#include "Frame.h"

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>

namespace vardel::test {

// Real pictures for the detector tests: files from Debian's opencv-doc examples (decompressed into a
// temporary folder when shipped gzipped) turned into 4:2:0 frames like the camera delivers.

// Full path of an example file, or empty when the package is not installed.
std::filesystem::path exampleFile(const std::string& name);

// The BlazeFace model installed by scripts/install-models (may be missing on a developer machine).
std::filesystem::path installedFaceModel();

// The optional NanoDet person model shared with the tests, or empty when absent.
std::filesystem::path sharedPersonModel();

Frame frameFromBgr(const cv::Mat& bgr, PixelFormat format = PixelFormat::i420);

// Frame `index` of vtest.avi (BGR), empty when unavailable.
cv::Mat vtestFrame(int index);

// Per-pixel median of `count` frames of vtest.avi taken `step` frames apart: the street without walkers.
cv::Mat vtestMedian(int count, int step);

} // namespace vardel::test
