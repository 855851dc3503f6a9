// People found, boxes misplaced and CPU time per call of the person detector on the hand-checked set
// (tests/data/people.csv on vtest.avi, plus person-free pictures), for the shipped body network and for
// the HOG fallback, each with faces: on a focus around each person, on a watched area over the pavement
// and on whole 1280 x 720 frames. One OpenCV thread, as on the analysis queue.
#include "PersonGate.h"
#include "VisionFixtures.h"
#include "VisionPersonDetector.h"

#include <opencv2/core.hpp>

#include <cstdio>
#include <ctime>

using namespace vardel;

namespace {

double cpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

int main()
{
    cv::setNumThreads(1);
    const std::pair<const char*, test::View> views[] { { "focus crops", test::View::focusCrops },
        { "watched area", test::View::watchedArea }, { "whole 1280x720", test::View::wholeFrames } };
    std::printf("%-16s %-16s %8s %9s %11s %11s\n", "detector", "view", "found", "misplaced", "ms/call",
        "ms/call max");
    for (bool network : { true, false }) {
        auto models = VisionPersonDetector::findModels({});
        if (!network)
            models.person.clear();
        VisionPersonDetector detector(models);
        detector.prepare();
        if (detector.usesBodyNetwork() != network) {
            std::printf("models missing: %s\n", detector.loadError().c_str());
            return 1;
        }
        for (const auto& [viewName, view] : views) {
            const auto samples = test::labelledSamples(view);
            if (samples.empty()) {
                std::printf("vtest.avi missing (opencv-doc)\n");
                return 1;
            }
            test::Score score;
            double total = 0, worst = 0;
            for (const auto& sample : samples) {
                const double before = cpuSeconds();
                const auto boxes = detector.people(sample.frame, sample.focus);
                const double spent = cpuSeconds() - before;
                total += spent;
                worst = std::max(worst, spent);
                test::score(sample, boxes, PersonGate::kMinConfidence, score);
            }
            std::printf("%-16s %-16s %4d/%-3d %9d %11.1f %11.1f\n", network ? "NanoDet+face" : "HOG+face",
                viewName, score.found, score.people, score.misplaced, 1000 * total / samples.size(),
                1000 * worst);
        }
    }
    return 0;
}
