#pragma once

#include <opencv2/core.hpp>

#include <vector>

namespace vardel {

// Turns the raw outputs of a NanoDet-format 320 x 320 detector into person boxes: per stride 8, 16 and
// 32 one matrix of class probabilities (cells x classes) and one of side distributions (cells x 4 sides
// x 8 bins); a side's distance is the expected bin (softmax) times the stride, measured from the cell
// centre. People (class 0) at `minScore` or more (compared as doubles, as the person gate does),
// suppressed at IoU `overlap`.
// Immutable after construction; used on the detector's thread only.
class NanoDetDecoder {
public:
    struct Detection {
        cv::Rect2f box; // pixels of the model input, top-left origin
        float score = 0;
    };

    static constexpr int kInputSize = 320;
    static constexpr int kBins = 8;

    explicit NanoDetDecoder(double minScore, float overlap = 0.5f);

    // `outputs` in any order, told apart by their shapes (rows = cells of a stride, columns = 4 x 8 for
    // distributions, the class count otherwise). People, best first. Throws cv::Exception on other shapes.
    std::vector<Detection> decode(const std::vector<cv::Mat>& outputs) const;

private:
    double m_minScore;
    float m_overlap;
};

} // namespace vardel
