#include "VisionPersonDetector.h"

#include "VisionFixtures.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <unistd.h>

using namespace vardel;

namespace {

using Focus = PersonDetecting::Focus;

// Where people stand in vtest.avi frame 100 (two walkers left of the lamp post), by hand.
const Focus kWalkersFocus { 0.40, 0.25, 0.20, 0.30 };
const Focus kWalkers { 0.43, 0.27, 0.13, 0.24 };
// Another part of the street with three walkers in frame 100.
const Focus kRightFocus { 0.60, 0.20, 0.25, 0.25 };
// Messi's face in messi5.jpg, by hand.
const Focus kMessiFace { 0.38, 0.26, 0.12, 0.17 };

bool centreInside(const PersonBox& box, const Focus& area)
{
    return box.centerX() >= area.x && box.centerX() <= area.x + area.w && box.centerY() >= area.y
        && box.centerY() <= area.y + area.h;
}

bool bodiesBeforeFaces(const std::vector<PersonBox>& boxes)
{
    return std::is_partitioned(boxes.begin(), boxes.end(), [](const PersonBox& b) { return !b.isFace; });
}

std::string describe(const std::vector<PersonBox>& boxes)
{
    std::string text;
    for (const PersonBox& b : boxes)
        text += (b.isFace ? "face " : "body ") + std::to_string(b.x) + "," + std::to_string(b.y) + " "
            + std::to_string(b.w) + "x" + std::to_string(b.h) + " " + std::to_string(b.confidence) + "\n";
    return text;
}

} // namespace

// The same real-picture checks for each body detector: HOG always, the NanoDet network when present.
class VisionPersonDetectorOnPictures : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(test::installedFaceModel()))
            GTEST_SKIP() << "face model not installed; run scripts/install-models";
        if (test::exampleFile("messi5.jpg").empty() || test::exampleFile("vtest.avi").empty())
            GTEST_SKIP() << "opencv-doc examples not installed";
        VisionPersonDetector::Models models { test::installedFaceModel(), {} };
        if (std::string(GetParam()) == "nanodet") {
            models.person = test::sharedPersonModel();
            if (models.person.empty())
                GTEST_SKIP() << "no NanoDet model in " << VARDEL_SHARED_MODELS;
        }
        detector = std::make_unique<VisionPersonDetector>(models);
    }

    std::unique_ptr<VisionPersonDetector> detector;
};

TEST_P(VisionPersonDetectorOnPictures, FindsAFaceWhereItIsInBothFrameLayouts)
{
    const cv::Mat messi = cv::imread(test::exampleFile("messi5.jpg").string());
    ASSERT_FALSE(messi.empty());
    for (PixelFormat format : { PixelFormat::i420, PixelFormat::nv12 }) {
        const auto boxes = detector->people(test::frameFromBgr(messi, format), {});
        EXPECT_TRUE(bodiesBeforeFaces(boxes)) << describe(boxes);
        const auto face
            = std::find_if(boxes.begin(), boxes.end(), [](const PersonBox& b) { return b.isFace; });
        ASSERT_NE(face, boxes.end()) << describe(boxes);
        EXPECT_TRUE(centreInside(*face, kMessiFace)) << describe(boxes);
        EXPECT_GE(face->confidence, 0.75);
        EXPECT_LE(face->confidence, 1.0);
        // A face box is face-sized: a few percent of the picture, not the whole of it.
        EXPECT_GT(face->w, 0.03);
        EXPECT_LT(face->w, 0.15);
    }
    EXPECT_TRUE(detector->loadError().empty());
}

TEST_P(VisionPersonDetectorOnPictures, FindsWalkersWhenFocusedOnThem)
{
    const cv::Mat street = test::vtestFrame(100);
    ASSERT_FALSE(street.empty());
    const Frame frame = test::frameFromBgr(street);
    for (const auto& [focus, where] :
        { std::pair { kWalkersFocus, kWalkers }, std::pair { kRightFocus, kRightFocus } }) {
        const auto boxes = detector->people(frame, focus);
        // Boxes come back in whole-frame coordinates, inside the focus, on the walkers.
        const bool found = std::any_of(boxes.begin(), boxes.end(), [&](const PersonBox& b) {
            return !b.isFace && b.confidence >= 0.5 && b.confidence <= 1.0 && centreInside(b, where);
        });
        EXPECT_TRUE(found) << describe(boxes);
        for (const PersonBox& b : boxes)
            EXPECT_TRUE(centreInside(b, focus)) << describe(boxes);
    }
}

TEST_P(VisionPersonDetectorOnPictures, SeesNobodyOnTheEmptyStreet)
{
    // The median of frames far apart keeps the street and drops the people walking through it.
    const cv::Mat empty = test::vtestMedian(41, 20);
    ASSERT_FALSE(empty.empty());
    const Frame frame = test::frameFromBgr(empty);
    for (const Focus& focus : { Focus {}, kWalkersFocus, kRightFocus }) {
        const auto boxes = detector->people(frame, focus);
        EXPECT_TRUE(boxes.empty()) << describe(boxes);
    }
}

TEST_P(VisionPersonDetectorOnPictures, UnusableFocusMeansTheWholeFrame)
{
    const Frame frame = test::frameFromBgr(cv::imread(test::exampleFile("messi5.jpg").string()));
    for (const Focus& focus :
        { Focus { std::nan(""), 0, 1, 1 }, Focus { 0.5, 0.5, 0, 0 }, Focus { 2, 2, 1, 1 } }) {
        const auto boxes = detector->people(frame, focus);
        EXPECT_TRUE(std::any_of(boxes.begin(), boxes.end(), [](const PersonBox& b) { return b.isFace; }))
            << describe(boxes);
    }
}

INSTANTIATE_TEST_SUITE_P(BodyModels, VisionPersonDetectorOnPictures, testing::Values("hog", "nanodet"),
    [](const testing::TestParamInfo<const char*>& param) { return std::string(param.param); });

class VisionPersonDetectorFailures : public testing::Test {
protected:
    void SetUp() override
    {
        folder = std::filesystem::temp_directory_path() / ("vardel-detector-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder / "models");
        garbage = folder / "garbage.onnx";
        std::ofstream out(garbage, std::ios::binary);
        std::mt19937 random(3);
        for (int i = 0; i < 4096; ++i)
            out.put(static_cast<char>(random()));
        // A picture with a face in it, so that an empty answer really means failure.
        const auto messi = test::exampleFile("messi5.jpg");
        if (!messi.empty())
            frame = test::frameFromBgr(cv::imread(messi.string()));
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::filesystem::path folder;
    std::filesystem::path garbage;
    Frame frame;
};

TEST_F(VisionPersonDetectorFailures, UnloadableModelsGiveAnEmptyListAndSayWhy)
{
    if (frame.empty())
        GTEST_SKIP() << "opencv-doc examples not installed";
    const std::vector<VisionPersonDetector::Models> broken {
        { folder / "missing.onnx", {} },
        { garbage, {} },
        { test::installedFaceModel(), garbage },
        { test::installedFaceModel(), folder / "missing-person.onnx" },
        { {}, {} },
    };
    for (const auto& models : broken) {
        VisionPersonDetector detector(models);
        EXPECT_TRUE(detector.people(frame, {}).empty()) << models.face << " " << models.person;
        EXPECT_FALSE(detector.loadError().empty()) << models.face << " " << models.person;
        // Still nothing on a second call: the failure is remembered, not retried per frame.
        EXPECT_TRUE(detector.people(frame, {}).empty());
    }
}

TEST_F(VisionPersonDetectorFailures, EmptyOrTinyFramesGiveAnEmptyList)
{
    VisionPersonDetector detector({ test::installedFaceModel(), {} });
    EXPECT_TRUE(detector.people(Frame(), {}).empty());
    EXPECT_TRUE(
        detector.people(Frame(std::make_shared<FrameBuffer>(1, 1, PixelFormat::i420), 0), {}).empty());
    // A tiny picture is searched without error and holds nobody.
    auto small = std::make_shared<FrameBuffer>(8, 8, PixelFormat::nv12);
    std::fill_n(small->data(0), small->stride(0) * 8, 0);
    std::fill_n(small->data(1), small->stride(1) * 4, 128);
    EXPECT_TRUE(detector.people(Frame(small, 0), {}).empty());
}

TEST_F(VisionPersonDetectorFailures, ModelsAreLookedUpInTheDataFolderFirst)
{
    const std::filesystem::path installed = "/opt/models";
    auto models = VisionPersonDetector::findModels(folder, {}, installed);
    EXPECT_EQ(models.face, installed / VisionPersonDetector::kFaceModelName);
    EXPECT_TRUE(models.person.empty());

    std::ofstream(folder / "models" / VisionPersonDetector::kFaceModelName) << "x";
    std::ofstream(folder / "models" / VisionPersonDetector::kPersonModelName) << "x";
    models = VisionPersonDetector::findModels(folder, {}, installed);
    EXPECT_EQ(models.face, folder / "models" / VisionPersonDetector::kFaceModelName);
    EXPECT_EQ(models.person, folder / "models" / VisionPersonDetector::kPersonModelName);

    // The user's own choice of person model wins when it exists.
    std::ofstream(folder / "mine.onnx") << "x";
    models = VisionPersonDetector::findModels(folder, folder / "mine.onnx", installed);
    EXPECT_EQ(models.person, folder / "mine.onnx");
    models = VisionPersonDetector::findModels(folder, folder / "gone.onnx", installed);
    EXPECT_EQ(models.person, folder / "models" / VisionPersonDetector::kPersonModelName);
}
