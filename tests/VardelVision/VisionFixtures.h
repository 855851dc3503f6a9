#pragma once

#include "Frame.h"
#include "PersonDetecting.h"

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace vardel::test {

// Real pictures for the detector's tests and benchmark: opencv-doc's examples as camera frames (4:2:0,
// full range), and the hand-checked people of tests/data/people.csv on vtest.avi.

// Empty when not installed.
std::filesystem::path exampleFile(const std::string& name);

Frame frameFromBgr(const cv::Mat& bgr, PixelFormat format = PixelFormat::i420);

// One call of the detector and the people it should find there (normalized whole-frame boxes).
struct Sample {
    std::string name;
    Frame frame;
    PersonDetecting::Focus focus;
    std::vector<PersonDetecting::Focus> people; // everybody in the frame
    std::vector<PersonDetecting::Focus> wanted; // those who must be found
};

// A focus around each labelled person (grown by a quarter on each side, as the analyzer does), whole
// 1280 x 720 frames (the street's middle 16:9 band), or those frames at a watched area on the pavement
// (grown likewise), where only the people whose centre is in the area must be found.
enum class View { focusCrops, wholeFrames, watchedArea };

// The labelled pictures seen one way, followed by the same calls on person-free pictures (the street's
// median, and a few example pictures without people, whole or at the same foci).
std::vector<Sample> labelledSamples(View view);

struct Score {
    int people = 0;
    int found = 0;
    int misplaced = 0; // boxes whose centre lies on nobody
    std::string misses; // the samples with a missed person or a misplaced box, for messages
};

// A wanted person is found when some box (at `minConfidence` or more) has its centre inside the
// person's box and is at most twice as wide; a box whose centre lies in nobody's box is misplaced.
void score(const Sample& sample, const std::vector<PersonBox>& boxes, double minConfidence, Score& total);

} // namespace vardel::test
