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
        std::copy_n(std::initializer_list<float> { dx, dy, w, h }.begin(), 4,
            &regressors[i * BlazeFaceDecoder::kValuesPerAnchor]);
    }
};

float sigmoid(float x) { return 1.0f / (1.0f + std::exp(-x)); }

void expectFace(const BlazeFaceDecoder::Face& face, float score, cv::Rect2f box)
{
    EXPECT_NEAR(face.score, score, 1e-6);
    for (auto [got, wanted] : { std::pair(face.box.x, box.x), { face.box.y, box.y },
             { face.box.width, box.width }, { face.box.height, box.height } })
        EXPECT_NEAR(got, wanted, 1e-5);
}

} // namespace

TEST(BlazeFaceDecoder, OffsetsAroundTheAnchorBestFirstFromAScoreOfThreeQuartersBlendingOverlaps)
{
    RawOutputs raw;
    raw.set(2 * (5 * 16 + 7), 12.8f, -25.6f, 51.2f, 64.0f, 3.0f); // row 5, column 7: anchor (7.5/16, 5.5/16)
    raw.set(512 + 6 * (2 * 8 + 6) + 4, 0, 0, 25.6f, 25.6f, 4.0f); // row 2, column 6: anchor (6.5/8, 2.5/8)
    auto faces = BlazeFaceDecoder().decode(raw.scores.data(), raw.regressors.data());
    ASSERT_EQ(faces.size(), 2u);
    expectFace(faces[0], sigmoid(4.0f), { 6.5f / 8 - 0.05f, 2.5f / 8 - 0.05f, 0.1f, 0.1f });
    expectFace(faces[1], sigmoid(3.0f), { 7.5f / 16 + 0.05f - 0.1f, 5.5f / 16 - 0.1f - 0.125f, 0.2f, 0.25f });

    RawOutputs edges;
    edges.set(10, 0, 0, 20, 20, 1.0f); // 0.731: dropped
    edges.set(100, 0, 0, 20, 20, 1.1f); // 0.7503: kept
    edges.set(300, 0, 0, 0, 20, 5.0f); // no width: dropped
    edges.set(400, 0, 0, 20, -3, 5.0f); // negative height: dropped
    const auto kept = BlazeFaceDecoder().decode(edges.scores.data(), edges.regressors.data());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NEAR(kept[0].box.x + kept[0].box.width / 2, BlazeFaceDecoder().anchors()[100].x, 1e-6);

    // Overlapping candidates blend by score: both anchors of one cell see the same face, 8 px apart; a
    // third face elsewhere stays apart.
    raw = RawOutputs();
    const int cell = 2 * (8 * 16 + 8);
    raw.set(cell, 0, 0, 64, 64, 3.0f);
    raw.set(cell + 1, 8, 0, 64, 64, 1.5f);
    raw.set(2 * (2 * 16 + 2), 0, 0, 32, 32, 2.0f);
    faces = BlazeFaceDecoder().decode(raw.scores.data(), raw.regressors.data());
    ASSERT_EQ(faces.size(), 2u);
    const float strong = sigmoid(3.0f), weak = sigmoid(1.5f);
    const float shift = (8.0f / 256) * weak / (strong + weak);
    expectFace(faces[0], strong, { 8.5f / 16 - 0.125f + shift, 8.5f / 16 - 0.125f, 0.25f, 0.25f });
    EXPECT_NEAR(faces[1].score, sigmoid(2.0f), 1e-6);
}

TEST(BlazeFaceDecoder, ReadsTheModelOutputsByShapeInAnyOrder)
{
    RawOutputs raw;
    raw.set(5, 1, 2, 30, 40, 2.5f);
    raw.set(700, -3, 4, 50, 60, 3.5f);
    std::vector<cv::Mat> outputs { cv::Mat({ 1, 384, 16 }, CV_32F, raw.regressors.data() + 512 * 16),
        cv::Mat({ 1, 512, 1 }, CV_32F, raw.scores.data()),
        cv::Mat({ 1, 512, 16 }, CV_32F, raw.regressors.data()),
        cv::Mat({ 1, 384, 1 }, CV_32F, raw.scores.data() + 512) };
    const auto fromOutputs = BlazeFaceDecoder().decode(outputs);
    const auto direct = BlazeFaceDecoder().decode(raw.scores.data(), raw.regressors.data());
    ASSERT_EQ(fromOutputs.size(), 2u);
    for (std::size_t i = 0; i < direct.size(); ++i)
        expectFace(fromOutputs[i], direct[i].score, direct[i].box);

    outputs.pop_back();
    EXPECT_THROW(BlazeFaceDecoder().decode(outputs), cv::Exception);
    outputs.push_back(
        cv::Mat({ 1, 512, 16 }, CV_32F, raw.regressors.data())); // a second regressor, no scores
    EXPECT_THROW(BlazeFaceDecoder().decode(outputs), cv::Exception);
}
