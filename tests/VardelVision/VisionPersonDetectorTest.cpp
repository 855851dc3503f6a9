#include "VisionPersonDetector.h"

#include "OutboxFolder.h"
#include "PersonGate.h"
#include "VisionFixtures.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fstream>

using namespace vardel;

namespace {

using Focus = PersonDetecting::Focus;

VisionPersonDetector::Models shippedModels() { return VisionPersonDetector::findModels({}); }

struct LabelledCase {
    const char* name;
    bool network; // false: the HOG fallback
    test::View view;
    double minFoundShare;
};

class LabelledPeople : public testing::TestWithParam<LabelledCase> { };

} // namespace

// People found and boxes misplaced over the hand-checked set, with the gate's confidence rule.
TEST_P(LabelledPeople, FindsEnoughPeopleAndNeverBoxesNobody)
{
    const auto samples = test::labelledSamples(GetParam().view);
    if (samples.empty())
        GTEST_SKIP() << "opencv-doc examples not installed";
    auto models = shippedModels();
    if (!GetParam().network)
        models.person.clear();
    VisionPersonDetector detector(models);
    test::Score total;
    for (const auto& sample : samples)
        test::score(sample, detector.people(sample.frame, sample.focus), PersonGate::kMinConfidence, total);
    ASSERT_EQ(detector.usesBodyNetwork(), GetParam().network) << detector.loadError();
    std::cout << GetParam().name << ": " << total.found << " of " << total.people << " people, "
              << total.misplaced << " misplaced boxes\n";
    EXPECT_GE(total.found, GetParam().minFoundShare * total.people) << total.misses;
    EXPECT_EQ(total.misplaced, 0) << total.misses;
}

INSTANTIATE_TEST_SUITE_P(Detectors, LabelledPeople,
    testing::Values(LabelledCase { "networkOnFocusCrops", true, test::View::focusCrops, 0.9 },
        LabelledCase { "networkOnWholeFrames", true, test::View::wholeFrames, 0.85 },
        LabelledCase { "hogOnFocusCrops", false, test::View::focusCrops, 0.8 }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(VisionPersonDetector, FindsAFaceInBothFrameLayouts)
{
    const auto path = test::exampleFile("messi5.jpg");
    if (path.empty())
        GTEST_SKIP() << "opencv-doc examples not installed";
    const cv::Mat messi = cv::imread(path.string());
    VisionPersonDetector detector(shippedModels());
    for (PixelFormat format : { PixelFormat::i420, PixelFormat::nv12 }) {
        const auto boxes = detector.people(test::frameFromBgr(messi, format), {});
        // Bodies first, then the face on Messi's head (by hand: 0.38-0.50 across, 0.26-0.43 down).
        ASSERT_TRUE(std::is_partitioned(boxes.begin(), boxes.end(), [](const PersonBox& b) { return !b.isFace; }));
        const auto face = std::find_if(boxes.begin(), boxes.end(), [](const PersonBox& b) { return b.isFace; });
        ASSERT_NE(face, boxes.end());
        EXPECT_NEAR(face->centerX(), 0.44, 0.06);
        EXPECT_NEAR(face->centerY(), 0.345, 0.085);
        EXPECT_LT(face->w, 0.15);
    }
    EXPECT_EQ(detector.loadError(), "");
}

class VisionPersonDetectorModels : public testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(folder / "models");
        std::ofstream(folder / "garbage.onnx") << std::string(4096, 'x');
        std::ofstream(folder / "abc") << "abc";
    }
    test::OutboxFolder data;
    std::filesystem::path folder = data.root();
};

// A model that does not load leaves the others working, and is reported once rather than hidden.
TEST_F(VisionPersonDetectorModels, AFailedModelFallsBackAndIsReportedOnce)
{
    const auto& frames = test::vtestFrames();
    if (frames.empty())
        GTEST_SKIP() << "opencv-doc examples not installed";
    const Frame frame = test::frameFromBgr(frames.at(260));
    const Focus walker { 0.66, 0.38, 0.1, 0.24 }; // the walker at (530, 241) of 768 x 576
    const auto shipped = shippedModels();
    struct Case {
        const char* name;
        VisionPersonDetector::Models models;
        bool bodyNetwork;
    };
    const Case cases[] {
        { "garbageBody", { shipped.face, folder / "garbage.onnx", "" }, false },
        { "missingBody", { shipped.face, folder / "gone.onnx", "" }, false },
        { "bodyOfTheWrongHash", { shipped.face, shipped.person, std::string(64, '0') }, false },
        { "garbageFace", { folder / "garbage.onnx", shipped.person, shipped.personSha256 }, true },
    };
    for (const Case& c : cases) {
        std::vector<std::string> notices;
        VisionPersonDetector detector(c.models, [&](const std::string& text) { notices.push_back(text); });
        detector.prepare();
        const auto boxes = detector.people(frame, walker);
        detector.people(frame, walker);
        EXPECT_EQ(detector.usesBodyNetwork(), c.bodyNetwork) << c.name;
        EXPECT_FALSE(detector.loadError().empty()) << c.name;
        ASSERT_EQ(notices.size(), 1u) << c.name;
        EXPECT_EQ(notices[0], detector.loadError());
        EXPECT_TRUE(std::any_of(boxes.begin(), boxes.end(), [](const PersonBox& b) { return !b.isFace; }))
            << c.name;
    }
}

TEST_F(VisionPersonDetectorModels, ShippedBodyModelIsCheckedAndTheUsersOwnWins)
{
    EXPECT_EQ(VisionPersonDetector::sha256(folder / "abc"),
        "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(VisionPersonDetector::sha256(folder / "gone"), "");

    const auto shipped = shippedModels();
    ASSERT_FALSE(shipped.person.empty());
    EXPECT_EQ(VisionPersonDetector::sha256(shipped.person), shipped.personSha256);

    std::ofstream(folder / "mine.onnx") << "x";
    auto models = VisionPersonDetector::findModels(folder, folder / "mine.onnx");
    EXPECT_EQ(models.person, folder / "mine.onnx");
    EXPECT_EQ(models.personSha256, "");
    std::ofstream(folder / "models" / VisionPersonDetector::kPersonModelName) << "x";
    std::ofstream(folder / "models" / VisionPersonDetector::kFaceModelName) << "x";
    models = VisionPersonDetector::findModels(folder, folder / "gone.onnx");
    EXPECT_EQ(models.person, folder / "models" / VisionPersonDetector::kPersonModelName);
    EXPECT_EQ(models.face, folder / "models" / VisionPersonDetector::kFaceModelName);
}
