#pragma once

#include "Frame.h"
#include "PersonDetecting.h"

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace vardel::test {

// Real pictures for the detector's tests and benchmark: files from Debian's opencv-doc examples turned
// into frames like the camera delivers (4:2:0, full range), and the hand-checked people of
// tests/data/people.csv on vtest.avi.

// Full path of an example file (decompressed when shipped gzipped), or empty when not installed.
std::filesystem::path exampleFile(const std::string& name);

Frame frameFromBgr(const cv::Mat& bgr, PixelFormat format = PixelFormat::i420);

// Frames of vtest.avi (BGR) by index, read in one pass; empty when the file is missing.
std::vector<cv::Mat> vtestFrames(const std::vector<int>& indices);

// Per-pixel median of `count` frames of vtest.avi taken `step` frames apart: the street without walkers.
cv::Mat vtestMedian(int count = 41, int step = 20);

// One call of the detector and the people it should find there (normalized whole-frame boxes).
struct Sample {
    std::string name;
    Frame frame;
    PersonDetecting::Focus focus;
    std::vector<PersonDetecting::Focus> people;
};

// How the detector is asked: a focus around each labelled person (grown by a quarter on each side, as
// the analyzer does), or whole 1280 x 720 frames (the middle 16:9 band of the street, scaled up).
enum class View { focusCrops, wholeFrames };

// The labelled pictures seen one way, followed by the same calls on person-free pictures (the street's
// median, and a few example pictures without people, whole or at the same foci).
std::vector<Sample> labelledSamples(View view);

struct Score {
    int people = 0;
    int found = 0;
    int misplaced = 0; // boxes whose centre lies on nobody
    std::string misses; // the samples with a missed person or a misplaced box, for messages
};

// A person is found when some box (at `minConfidence` or more) has its centre inside the person's box
// and is at most twice as wide; every other box whose centre lies in no person's box is misplaced.
void score(const Sample& sample, const std::vector<PersonBox>& boxes, double minConfidence, Score& total);

} // namespace vardel::test
