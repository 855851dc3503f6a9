#include "BlazeFaceDecoder.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vardel;

namespace {

// Made-up model outputs: every anchor far below the threshold unless a test sets it.
struct RawOutputs {
    std::vector<float> scores = std::vector<float>(BlazeFaceDecoder::kAnchorCount, -20.0f);
    std::vector<float> regressors
        = std::vector<float>(BlazeFaceDecoder::kAnchorCount * BlazeFaceDecoder::kValuesPerAnchor, 0.0f);

    // A face at anchor `i`: centre offset and size in input pixels, raw score (a logit).
    void set(int i, float dx, float dy, float w, float h, float logit)
    {
        scores[i] = logit;
        float* r = &regressors[i * BlazeFaceDecoder::kValuesPerAnchor];
        r[0] = dx;
        r[1] = dy;
        r[2] = w;
        r[3] = h;
    }
};

float sigmoid(float x) { return 1.0f / (1.0f + std::exp(-x)); }

void expectRect(const cv::Rect2f& actual, float x, float y, float w, float h)
{
    EXPECT_NEAR(actual.x, x, 1e-5);
    EXPECT_NEAR(actual.y, y, 1e-5);
    EXPECT_NEAR(actual.width, w, 1e-5);
    EXPECT_NEAR(actual.height, h, 1e-5);
}

} // namespace

TEST(BlazeFaceDecoder, OffsetsAreInInputPixelsAroundTheAnchor)
{
    RawOutputs raw;
    const int fine = 2 * (5 * 16 + 7); // row 5, column 7: anchor (7.5/16, 5.5/16)
    raw.set(fine, 12.8f, -25.6f, 51.2f, 64.0f, 3.0f);
    const int coarse = 512 + 6 * (2 * 8 + 6) + 4; // row 2, column 6: anchor (6.5/8, 2.5/8)
    raw.set(coarse, 0, 0, 25.6f, 25.6f, 4.0f);

    const auto faces = BlazeFaceDecoder().decode(raw.scores.data(), raw.regressors.data());
    ASSERT_EQ(faces.size(), 2u);
    // Best first.
    EXPECT_NEAR(faces[0].score, sigmoid(4.0f), 1e-6);
    expectRect(faces[0].box, 6.5f / 8 - 0.05f, 2.5f / 8 - 0.05f, 0.1f, 0.1f);
    EXPECT_NEAR(faces[1].score, sigmoid(3.0f), 1e-6);
    expectRect(faces[1].box, 7.5f / 16 + 0.05f - 0.1f, 5.5f / 16 - 0.1f - 0.125f, 0.2f, 0.25f);
}

TEST(BlazeFaceDecoder, KeepsScoresFromThreeQuartersAndDropsEmptyBoxes)
{
    RawOutputs raw;
    raw.set(10, 0, 0, 20, 20, 1.0f); // 0.731: dropped
    raw.set(100, 0, 0, 20, 20, 1.1f); // 0.7503: kept
    raw.set(300, 0, 0, 0, 20, 5.0f); // no width: dropped
    raw.set(400, 0, 0, 20, -3, 5.0f); // negative height: dropped
    const auto faces = BlazeFaceDecoder().decode(raw.scores.data(), raw.regressors.data());
    ASSERT_EQ(faces.size(), 1u);
    EXPECT_NEAR(faces[0].box.x + faces[0].box.width / 2, BlazeFaceDecoder().anchors()[100].x, 1e-6);
}

TEST(BlazeFaceDecoder, OverlappingCandidatesBlendByScore)
{
    RawOutputs raw;
    // Both anchors of one cell see the same face, 8 px apart; a third face elsewhere stays apart.
    const int cell = 2 * (8 * 16 + 8);
    raw.set(cell, 0, 0, 64, 64, 3.0f);
    raw.set(cell + 1, 8, 0, 64, 64, 1.5f);
    raw.set(2 * (2 * 16 + 2), 0, 0, 32, 32, 2.0f);

    const auto faces = BlazeFaceDecoder().decode(raw.scores.data(), raw.regressors.data());
    ASSERT_EQ(faces.size(), 2u);
    const float strong = sigmoid(3.0f), weak = sigmoid(1.5f);
    EXPECT_NEAR(faces[0].score, strong, 1e-6);
    const float shift = (8.0f / 256) * weak / (strong + weak);
    expectRect(faces[0].box, 8.5f / 16 - 0.125f + shift, 8.5f / 16 - 0.125f, 0.25f, 0.25f);
    EXPECT_NEAR(faces[1].score, sigmoid(2.0f), 1e-6);
}

TEST(BlazeFaceDecoder, ReadsTheModelOutputsByShapeInAnyOrder)
{
    RawOutputs raw;
    raw.set(5, 1, 2, 30, 40, 2.5f);
    raw.set(700, -3, 4, 50, 60, 3.5f);
    const int fineScores[] = { 1, 512, 1 }, coarseScores[] = { 1, 384, 1 };
    const int fineBoxes[] = { 1, 512, 16 }, coarseBoxes[] = { 1, 384, 16 };
    std::vector<cv::Mat> outputs {
        cv::Mat(3, coarseBoxes, CV_32F, raw.regressors.data() + 512 * 16),
        cv::Mat(3, fineScores, CV_32F, raw.scores.data()),
        cv::Mat(3, fineBoxes, CV_32F, raw.regressors.data()),
        cv::Mat(3, coarseScores, CV_32F, raw.scores.data() + 512),
    };
    const BlazeFaceDecoder decoder;
    const auto fromOutputs = decoder.decode(outputs);
    const auto direct = decoder.decode(raw.scores.data(), raw.regressors.data());
    ASSERT_EQ(fromOutputs.size(), 2u);
    for (std::size_t i = 0; i < direct.size(); ++i) {
        EXPECT_EQ(fromOutputs[i].box, direct[i].box);
        EXPECT_EQ(fromOutputs[i].score, direct[i].score);
    }

    outputs.pop_back();
    EXPECT_THROW(decoder.decode(outputs), cv::Exception);
    outputs.push_back(cv::Mat(3, fineBoxes, CV_32F, raw.regressors.data())); // a second regressor, no scores
    EXPECT_THROW(decoder.decode(outputs), cv::Exception);
}
