#pragma once

#include <opencv2/core.hpp>

#include <vector>

namespace vardel {

// Turns the raw outputs of the BlazeFace "back" 256 x 256 face model into face boxes: 896 fixed anchors
// (16 x 16 cells with 2 anchors each, then 8 x 8 cells with 6), box = anchor + offset / 256, score =
// sigmoid, candidates below `minScore` dropped, overlapping ones (IoU above `overlap`) blended by score.
// Immutable after construction; used on the detector's thread only.
class BlazeFaceDecoder {
public:
    struct Face {
        cv::Rect2f box; // normalized to the model input, top-left origin
        float score = 0;
    };

    static constexpr int kInputSize = 256;
    static constexpr int kAnchorCount = 896;
    static constexpr int kValuesPerAnchor = 16; // box centre, size, then six key points

    explicit BlazeFaceDecoder(float minScore = 0.75f, float overlap = 0.3f);

    const std::vector<cv::Point2f>& anchors() const { return m_anchors; }

    // `outputs` are the model's four outputs in any order: scores and regressors of the 16 x 16 layer
    // (512 anchors) and of the 8 x 8 layers (384), told apart by their shapes. Faces, best first.
    // Throws cv::Exception when the shapes do not fit.
    std::vector<Face> decode(const std::vector<cv::Mat>& outputs) const;

    // The same on scores (896) and regressors (896 x 16) already in anchor order.
    std::vector<Face> decode(const float* scores, const float* regressors) const;

private:
    float m_minScore;
    float m_overlap;
    std::vector<cv::Point2f> m_anchors;
};

} // namespace vardel
