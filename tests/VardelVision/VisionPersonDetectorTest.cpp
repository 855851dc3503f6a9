#include "VisionPersonDetector.h"

#include "OutboxFolder.h"
#include "PersonGate.h"
#include "VisionFixtures.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

using namespace vardel;

// People found and boxes misplaced over the hand-checked set, with the gate's confidence rule: the body
// network on a focus around each person and on whole frames, and the HOG fallback on the foci.
TEST(VisionPersonDetector, FindsEnoughLabelledPeopleAndNeverBoxesNobody)
{
    const std::tuple<const char*, bool, test::View, double> rows[] = {
        { "networkOnFocusCrops", true, test::View::focusCrops, 0.9 },
        { "networkOnWholeFrames", true, test::View::wholeFrames, 0.85 },
        { "hogOnFocusCrops", false, test::View::focusCrops, 0.8 },
    };
    for (const auto& [name, network, view, minFoundShare] : rows) {
        const auto samples = test::labelledSamples(view);
        if (samples.empty())
            GTEST_SKIP() << "opencv-doc examples not installed";
        auto models = VisionPersonDetector::findModels({});
        if (!network) {
            models.person.clear();
            models.face.clear(); // HOG's own boxes; the face network is checked in the rows above
        }
        VisionPersonDetector detector(models);
        test::Score total;
        for (const auto& sample : samples)
            test::score(
                sample, detector.people(sample.frame, sample.focus), PersonGate::kMinConfidence, total);
        ASSERT_EQ(detector.usesBodyNetwork(), network) << detector.loadError();
        std::cout << name << ": " << total.found << " of " << total.people << " people, " << total.misplaced
                  << " misplaced boxes\n";
        EXPECT_GE(total.found, minFoundShare * total.people) << name << ": " << total.misses;
        EXPECT_EQ(total.misplaced, 0) << name << ": " << total.misses;
    }
}

TEST(VisionPersonDetector, FindsAFaceInBothFrameLayouts)
{
    const auto path = test::exampleFile("messi5.jpg");
    if (path.empty())
        GTEST_SKIP() << "opencv-doc examples not installed";
    const cv::Mat messi = cv::imread(path.string());
    VisionPersonDetector detector(VisionPersonDetector::findModels({}));
    for (PixelFormat format : { PixelFormat::i420, PixelFormat::nv12 }) {
        const auto boxes = detector.people(test::frameFromBgr(messi, format), {});
        // Bodies first, then the face on Messi's head (by hand: 0.38-0.50 across, 0.26-0.43 down).
        ASSERT_TRUE(
            std::is_partitioned(boxes.begin(), boxes.end(), [](const PersonBox& b) { return !b.isFace; }));
        const auto face
            = std::find_if(boxes.begin(), boxes.end(), [](const PersonBox& b) { return b.isFace; });
        ASSERT_NE(face, boxes.end());
        EXPECT_NEAR(face->centerX(), 0.44, 0.06);
        EXPECT_NEAR(face->centerY(), 0.345, 0.085);
        EXPECT_LT(face->w, 0.15);
    }
    EXPECT_EQ(detector.loadError(), "");
}

// The shipped body model is checked by its hash and the user's own wins; a model that does not load
// leaves the others working, and is reported once rather than hidden.
TEST(VisionPersonDetectorModels, TheUsersOwnWinsAndAFailedModelFallsBackAndIsReportedOnce)
{
    test::OutboxFolder data;
    const std::filesystem::path folder = data.root();
    std::filesystem::create_directories(folder / "models");
    std::ofstream(folder / "garbage.onnx") << std::string(4096, 'x');
    std::ofstream(folder / "abc") << "abc";
    EXPECT_EQ(VisionPersonDetector::sha256(folder / "abc"),
        "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(VisionPersonDetector::sha256(folder / "gone"), "");
    const auto shipped = VisionPersonDetector::findModels({});
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

    const auto path = test::exampleFile("vtest.avi");
    cv::VideoCapture video;
    cv::Mat picture;
    if (path.empty() || !video.open(path.string()) || !video.set(cv::CAP_PROP_POS_FRAMES, 260)
        || !video.read(picture))
        GTEST_SKIP() << "opencv-doc examples not installed";
    const Frame frame = test::frameFromBgr(picture);
    const PersonDetecting::Focus walker { 0.66, 0.38, 0.1, 0.24 }; // the walker at (530, 241) of 768 x 576
    const std::tuple<const char*, VisionPersonDetector::Models, bool> cases[] {
        { "garbageBody", { shipped.face, folder / "garbage.onnx", "" }, false },
        { "missingBody", { shipped.face, folder / "gone.onnx", "" }, false },
        { "bodyOfTheWrongHash", { shipped.face, shipped.person, std::string(64, '0') }, false },
        { "garbageFace", { folder / "garbage.onnx", shipped.person, shipped.personSha256 }, true },
    };
    for (const auto& [name, brokenModels, bodyNetwork] : cases) {
        std::vector<std::string> notices;
        VisionPersonDetector detector(
            brokenModels, [&](const std::string& text) { notices.push_back(text); });
        detector.prepare();
        const auto boxes = detector.people(frame, walker);
        detector.people(frame, walker);
        EXPECT_EQ(detector.usesBodyNetwork(), bodyNetwork) << name;
        EXPECT_FALSE(detector.loadError().empty()) << name;
        ASSERT_EQ(notices.size(), 1u) << name;
        EXPECT_EQ(notices[0], detector.loadError());
        EXPECT_TRUE(std::any_of(boxes.begin(), boxes.end(), [](const PersonBox& b) { return !b.isFace; }))
            << name;
    }
}
