#include "NanoDetDecoder.h"

#include <gtest/gtest.h>

using namespace vardel;

namespace {

// Made-up outputs of the 320 x 320 network: no class anywhere, flat side distributions.
struct RawOutputs {
    std::vector<cv::Mat> classes, sides;

    RawOutputs()
    {
        for (int cells : { 1600, 400, 100 }) {
            classes.push_back(cv::Mat::zeros(cells, 80, CV_32F));
            sides.push_back(cv::Mat::zeros(cells, 32, CV_32F));
        }
    }

    // A detection at (row, col) of the grid of `level` (0: stride 8, 1: 16, 2: 32) whose four sides lie
    // `bins` strides from the cell centre (left, top, right, bottom).
    void set(int level, int row, int col, int classIndex, float score, std::array<int, 4> bins)
    {
        const int cell = row * (40 >> level) + col;
        classes[level].at<float>(cell, classIndex) = score;
        for (int side = 0; side < 4; ++side)
            sides[level].at<float>(cell, side * 8 + bins[side]) = 40.0f; // softmax: all weight on one bin
    }

    // Out of order on purpose, as the network names them: shapes tell them apart.
    std::vector<NanoDetDecoder::Detection> decode(double minScore = 0.45) const
    {
        return NanoDetDecoder(minScore).decode(
            { sides[1], classes[2], sides[0], classes[0], sides[2], classes[1] });
    }
};

} // namespace

TEST(NanoDetDecoder, SidesFromTheCellCentreAndConfidentPeopleWithoutDuplicates)
{
    RawOutputs raw;
    raw.set(1, 4, 6, 0, 0.9f, { 2, 3, 1, 5 }); // centre (104, 72)
    raw.classes[2].at<float>(0, 0) = 0.6f; // cell (0, 0) of stride 32, sides flat: the middle bin, 3.5
    auto people = raw.decode();
    ASSERT_EQ(people.size(), 2u);
    EXPECT_NEAR(people[0].score, 0.9f, 1e-6);
    EXPECT_EQ(cv::Rect(people[0].box), cv::Rect(104 - 32, 72 - 48, 32 + 16, 48 + 80));
    EXPECT_NEAR(people[1].box.width, 2 * 3.5 * 32, 1e-3);

    // Confident people from the threshold on are kept, duplicates suppressed.
    raw = RawOutputs();
    raw.set(0, 10, 10, 1, 0.99f, { 2, 2, 2, 2 }); // a bicycle, not a person
    raw.set(0, 20, 20, 0, 0.44f, { 2, 2, 2, 2 }); // too unsure
    raw.set(2, 5, 5, 0, 0.7f, { 1, 2, 1, 2 }); // centre (176, 176): 64 x 128
    raw.set(1, 10, 10, 0, 0.8f, { 2, 4, 2, 4 }); // centre (168, 168): 64 x 128, nearly the same box
    raw.set(0, 2, 2, 0, 0.5f, { 1, 1, 1, 1 }); // centre (20, 20), alone, exactly at a 0.5 threshold
    people = raw.decode(0.5);
    ASSERT_EQ(people.size(), 2u);
    EXPECT_NEAR(people[0].score, 0.8f, 1e-6);
    EXPECT_NEAR(people[0].box.x, 136, 1e-3);
    EXPECT_NEAR(people[1].score, 0.5f, 1e-6);
    EXPECT_EQ(raw.decode(0.45).size(), 2u);

    auto outputs = std::vector<cv::Mat> { raw.sides[0], raw.classes[0], raw.sides[1] };
    EXPECT_THROW(NanoDetDecoder(0.5).decode(outputs), cv::Exception);
}
