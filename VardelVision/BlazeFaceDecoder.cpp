#include "BlazeFaceDecoder.h"

#include <algorithm>
#include <cmath>

namespace vardel {

namespace {

    constexpr int kFineCells = 16;
    constexpr int kFineAnchors = 2;
    constexpr int kCoarseCells = 8;
    constexpr int kCoarseAnchors = 6;
    constexpr int kFineCount = kFineCells * kFineCells * kFineAnchors; // 512

    float sigmoid(float raw)
    {
        // Clipped like the reference decoder so that huge logits stay finite.
        return 1.0f / (1.0f + std::exp(-std::clamp(raw, -100.0f, 100.0f)));
    }

    float iou(const cv::Rect2f& a, const cv::Rect2f& b)
    {
        const float intersection = (a & b).area();
        const float unionArea = a.area() + b.area() - intersection;
        return unionArea > 0 ? intersection / unionArea : 0;
    }

    int rowsOf(const cv::Mat& m)
    {
        return static_cast<int>(m.total() / std::max<std::size_t>(1, m.size[m.dims - 1]));
    }

} // namespace

BlazeFaceDecoder::BlazeFaceDecoder(float minScore, float overlap)
    : m_minScore(minScore)
    , m_overlap(overlap)
{
    m_anchors.reserve(kAnchorCount);
    for (int row = 0; row < kFineCells; ++row)
        for (int col = 0; col < kFineCells; ++col)
            for (int a = 0; a < kFineAnchors; ++a)
                m_anchors.emplace_back((static_cast<float>(col) + 0.5f) / kFineCells,
                    (static_cast<float>(row) + 0.5f) / kFineCells);
    for (int row = 0; row < kCoarseCells; ++row)
        for (int col = 0; col < kCoarseCells; ++col)
            for (int a = 0; a < kCoarseAnchors; ++a)
                m_anchors.emplace_back((static_cast<float>(col) + 0.5f) / kCoarseCells,
                    (static_cast<float>(row) + 0.5f) / kCoarseCells);
}

std::vector<BlazeFaceDecoder::Face> BlazeFaceDecoder::decode(const std::vector<cv::Mat>& outputs) const
{
    const cv::Mat* fineScores = nullptr;
    const cv::Mat* fineBoxes = nullptr;
    const cv::Mat* coarseScores = nullptr;
    const cv::Mat* coarseBoxes = nullptr;
    for (const cv::Mat& out : outputs) {
        CV_Assert(out.type() == CV_32F && out.dims >= 2 && out.isContinuous());
        const int last = out.size[out.dims - 1];
        const int rows = rowsOf(out);
        const bool fine = rows == kFineCount;
        CV_Assert(fine || rows == kAnchorCount - kFineCount);
        CV_Assert(last == 1 || last == kValuesPerAnchor);
        (last == 1 ? (fine ? fineScores : coarseScores) : (fine ? fineBoxes : coarseBoxes)) = &out;
    }
    CV_Assert(fineScores && fineBoxes && coarseScores && coarseBoxes);

    std::vector<float> scores(kAnchorCount);
    std::vector<float> regressors(static_cast<std::size_t>(kAnchorCount) * kValuesPerAnchor);
    std::copy_n(fineScores->ptr<float>(), kFineCount, scores.begin());
    std::copy_n(coarseScores->ptr<float>(), kAnchorCount - kFineCount, scores.begin() + kFineCount);
    std::copy_n(fineBoxes->ptr<float>(), kFineCount * kValuesPerAnchor, regressors.begin());
    std::copy_n(coarseBoxes->ptr<float>(), (kAnchorCount - kFineCount) * kValuesPerAnchor,
        regressors.begin() + static_cast<std::ptrdiff_t>(kFineCount) * kValuesPerAnchor);
    return decode(scores.data(), regressors.data());
}

std::vector<BlazeFaceDecoder::Face> BlazeFaceDecoder::decode(
    const float* scores, const float* regressors) const
{
    std::vector<Face> candidates;
    for (int i = 0; i < kAnchorCount; ++i) {
        const float score = sigmoid(scores[i]);
        if (!(score >= m_minScore))
            continue;
        const float* r = regressors + static_cast<std::size_t>(i) * kValuesPerAnchor;
        const float cx = m_anchors[i].x + r[0] / kInputSize;
        const float cy = m_anchors[i].y + r[1] / kInputSize;
        const float w = r[2] / kInputSize;
        const float h = r[3] / kInputSize;
        if (!(w > 0 && h > 0) || !std::isfinite(cx) || !std::isfinite(cy))
            continue;
        candidates.push_back({ cv::Rect2f(cx - w / 2, cy - h / 2, w, h), score });
    }
    std::stable_sort(
        candidates.begin(), candidates.end(), [](const Face& a, const Face& b) { return a.score > b.score; });

    // Blending: each strongest remaining candidate absorbs the ones overlapping it; the box becomes their
    // score-weighted mean, the score stays the strongest one's. Steadier than plain suppression.
    std::vector<Face> faces;
    std::vector<bool> used(candidates.size(), false);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (used[i])
            continue;
        float total = 0;
        float x = 0, y = 0, w = 0, h = 0;
        for (std::size_t j = i; j < candidates.size(); ++j) {
            if (used[j] || (j != i && iou(candidates[i].box, candidates[j].box) <= m_overlap))
                continue;
            used[j] = true;
            const Face& c = candidates[j];
            total += c.score;
            x += c.box.x * c.score;
            y += c.box.y * c.score;
            w += c.box.width * c.score;
            h += c.box.height * c.score;
        }
        faces.push_back({ cv::Rect2f(x / total, y / total, w / total, h / total), candidates[i].score });
    }
    return faces;
}

} // namespace vardel
