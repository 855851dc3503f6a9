#include "NanoDetDecoder.h"

#include <opencv2/dnn.hpp>

#include <algorithm>
#include <array>
#include <cmath>

namespace vardel {

namespace {

    constexpr std::array<int, 3> kStrides { 8, 16, 32 };
    constexpr int kPerson = 0;

    int rowsOf(const cv::Mat& m)
    {
        return static_cast<int>(m.total() / std::max<std::size_t>(1, m.size[m.dims - 1]));
    }
    int colsOf(const cv::Mat& m) { return m.size[m.dims - 1]; }

    // Expected bin index of one side's distribution (softmax over the bins).
    float expectedBin(const float* logits)
    {
        const float top = *std::max_element(logits, logits + NanoDetDecoder::kBins);
        float sum = 0, weighted = 0;
        for (int b = 0; b < NanoDetDecoder::kBins; ++b) {
            const float e = std::exp(logits[b] - top);
            sum += e;
            weighted += e * static_cast<float>(b);
        }
        return weighted / sum;
    }

} // namespace

NanoDetDecoder::NanoDetDecoder(double minScore, float overlap)
    : m_minScore(minScore)
    , m_overlap(overlap)
{
}

std::vector<NanoDetDecoder::Detection> NanoDetDecoder::decode(const std::vector<cv::Mat>& outputs) const
{
    std::vector<cv::Rect2d> boxes;
    std::vector<float> scores;
    for (int stride : kStrides) {
        const int cols = kInputSize / stride;
        const int cells = cols * cols;
        const cv::Mat* classes = nullptr;
        const cv::Mat* sides = nullptr;
        for (const cv::Mat& out : outputs) {
            CV_Assert(out.type() == CV_32F && out.dims >= 2 && out.isContinuous());
            if (rowsOf(out) != cells)
                continue;
            (colsOf(out) == 4 * kBins ? sides : classes) = &out;
        }
        CV_Assert(classes && sides && colsOf(*classes) > kPerson);
        const int classCount = colsOf(*classes);
        const auto* classData = classes->ptr<float>();
        const auto* sideData = sides->ptr<float>();
        for (int i = 0; i < cells; ++i) {
            const float score = classData[static_cast<std::size_t>(i) * classCount + kPerson];
            if (!(static_cast<double>(score) >= m_minScore))
                continue;
            const auto step = static_cast<float>(stride);
            const int row = i / cols;
            const int col = i % cols;
            const float cx = (static_cast<float>(col) + 0.5f) * step;
            const float cy = (static_cast<float>(row) + 0.5f) * step;
            const float* d = sideData + static_cast<std::ptrdiff_t>(i) * 4 * kBins;
            const float left = cx - expectedBin(d) * step;
            const float top = cy - expectedBin(d + kBins) * step;
            const float right = cx + expectedBin(d + static_cast<std::ptrdiff_t>(2) * kBins) * step;
            const float bottom = cy + expectedBin(d + static_cast<std::ptrdiff_t>(3) * kBins) * step;
            boxes.emplace_back(left, top, right - left, bottom - top);
            scores.push_back(score);
        }
    }
    std::vector<int> kept;
    // Scores were filtered above; NMS's own filter is strict and would drop a score equal to the threshold.
    cv::dnn::NMSBoxes(boxes, scores, 0.0f, m_overlap, kept);
    std::vector<Detection> people;
    people.reserve(kept.size());
    for (int k : kept)
        people.push_back({ cv::Rect2f(boxes[k]), scores[k] });
    std::stable_sort(people.begin(), people.end(),
        [](const Detection& a, const Detection& b) { return a.score > b.score; });
    return people;
}

} // namespace vardel
