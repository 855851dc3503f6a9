#include "CaptureService.h"

#include "FakeCameraSource.h"
#include "FakeClock.h"
#include "ManualMainExecutor.h"

#include <QImage>
#include <gtest/gtest.h>

#include <atomic>
#include <numeric>

namespace vardel {
namespace {

    const CameraDevice kExternal { "USB Camera", "/dev/video2", false };
    const CameraDevice kBuiltIn { "Integrated Camera", "/dev/video0", true };

    class CaptureServiceTest : public ::testing::Test {
    protected:
        CaptureServiceTest()
        {
            auto source = std::make_unique<test::FakeCameraSource>();
            m_source = source.get();
            m_source->cameras = { kExternal, kBuiltIn };
            m_service = std::make_unique<CaptureService>(
                std::move(source), m_main, m_clock, [this](const std::string& line) {
                    std::lock_guard lock(m_logMutex);
                    m_log.push_back(line);
                });
            m_service->onStarted = [this] { ++m_starts; };
            m_service->onError = [this](const std::string& message) { m_errors.push_back(message); };
            m_service->onFrame
                = [this](const std::vector<std::uint8_t>& luma, const Frame& frame, double time) {
                      EXPECT_EQ(luma.size(), 5184u);
                      EXPECT_EQ(frame.time(), time);
                      ++m_frames;
                  };
            m_service->onClipFrame = [this](const Frame&, double) { ++m_clipFrames; };
        }

        // Waits for the session queue's work so far, then runs what it posted.
        void settle()
        {
            m_service->waitUntilIdle();
            m_main.drain();
        }

        std::vector<std::string> log()
        {
            std::lock_guard lock(m_logMutex);
            return m_log;
        }

        test::ManualMainExecutor m_main;
        test::FakeClock m_clock;
        test::FakeCameraSource* m_source = nullptr;
        std::unique_ptr<CaptureService> m_service;
        int m_starts = 0;
        std::vector<std::string> m_errors;
        std::atomic<int> m_frames { 0 };
        std::atomic<int> m_clipFrames { 0 };
        std::mutex m_logMutex;
        std::vector<std::string> m_log;
    };

    TEST_F(CaptureServiceTest, ChosenCameraThatIsNotConnectedIsReportedAndNothingOpens)
    {
        m_service->setCameraName("Logi 4K");
        m_service->startCamera();
        settle();

        EXPECT_TRUE(m_source->started.empty());
        EXPECT_FALSE(m_service->currentDevice());
        EXPECT_EQ(m_starts, 0);
        EXPECT_EQ(m_errors, std::vector<std::string> { "Câmera \"Logi 4K\" não encontrada" });
    }

    TEST_F(CaptureServiceTest, OpenFailureAndRuntimeErrorsReachOnErrorWithTheirTexts)
    {
        m_source->startFailure = "/dev/video0: Device or resource busy";
        m_service->startCamera();
        settle();
        EXPECT_EQ(m_starts, 0);
        EXPECT_FALSE(m_service->currentDevice());

        m_source->startFailure.reset();
        m_service->restart();
        settle();
        EXPECT_EQ(m_starts, 1);
        m_source->fail("No such device");
        m_source->fail("");
        m_main.drain();

        EXPECT_EQ(m_errors,
            (std::vector<std::string> {
                "Não foi possível abrir a câmera: /dev/video0: Device or resource busy", "No such device",
                "erro da câmera" }));
    }

    TEST_F(CaptureServiceTest, OpensTheBuiltInCameraThinsToTenASecondAndKeepsTheLatestUntilStop)
    {
        m_service->startCamera();
        settle();
        EXPECT_EQ(m_source->started, std::vector { kBuiltIn }); // automatic choice, though listed second
        EXPECT_EQ(m_service->currentDevice(), kBuiltIn);
        EXPECT_EQ(m_starts, 1);

        m_clock.set(1'800'000'000.0);
        for (int i = 0; i < 30; ++i)
            m_source->push(1000 + i / 30.0, 64, 36, std::uint8_t(i));
        EXPECT_EQ(m_frames, 10); // every third of 30 a second
        EXPECT_EQ(m_clipFrames, 10);
        Frame latest = m_service->latest();
        EXPECT_EQ(latest.time(), 1'800'000'000.0); // delivery time, not the presentation time
        EXPECT_EQ(latest.luma()[0], 27);
        for (int i = 0; i < 10; ++i)
            m_source->push(2000 + i / 10.0);
        EXPECT_EQ(m_frames, 20); // every one of 10 a second
        m_service->restart(); // e.g. a file played from its start again: earlier stamps are not held back
        settle();
        m_source->push(0.0);
        m_source->push(0.1);
        EXPECT_EQ(m_frames, 22);

        m_service->stopCamera();
        EXPECT_TRUE(m_service->latest().empty()); // at once, before the session queue stops the source
        settle();
        EXPECT_FALSE(m_service->currentDevice());
        EXPECT_FALSE(m_source->push(10.5));
        EXPECT_TRUE(m_errors.empty());
    }

    struct ReclaimCase {
        const char* name;
        std::vector<CameraFormat> offered;
        std::optional<CameraFormat> chosen;
        std::string logLine;
        std::optional<std::string> refusal;
    };

    class ReclaimTest : public CaptureServiceTest, public ::testing::WithParamInterface<ReclaimCase> { };

    TEST_P(ReclaimTest, SwitchesToTheWidestSixteenByNineUpTo1920)
    {
        m_source->offered = GetParam().offered;
        m_source->formatFailure = GetParam().refusal;
        m_service->reclaimPreferredFormat(); // nothing without a camera
        settle();
        EXPECT_TRUE(log().empty());
        m_service->startCamera();
        settle();
        m_service->reclaimPreferredFormat();
        settle();

        if (GetParam().chosen)
            EXPECT_EQ(m_source->formatsSet, std::vector<CameraFormat> { *GetParam().chosen });
        else
            EXPECT_TRUE(m_source->formatsSet.empty());
        EXPECT_EQ(log(), std::vector<std::string> { GetParam().logLine });
    }

    INSTANTIATE_TEST_SUITE_P(Formats, ReclaimTest,
        ::testing::Values(
            ReclaimCase { "Above1920", { { 3840, 2160 }, { 1920, 1080 } }, CameraFormat { 1920, 1080 },
                "Vardel: pedido formato 16:9 1920x1080 sem parar a sessão" },
            ReclaimCase { "Widest", { { 1280, 720 }, { 640, 480 }, { 1920, 1080 } },
                CameraFormat { 1920, 1080 }, "Vardel: pedido formato 16:9 1920x1080 sem parar a sessão" },
            ReclaimCase { "OnlyFourByThree", { { 640, 480 }, { 1600, 1200 } }, std::nullopt,
                "Vardel: nenhum formato 16:9 disponível" },
            ReclaimCase { "Refused", { { 1280, 720 } }, std::nullopt,
                "Vardel: o driver não deixou trocar o formato: Device or resource busy",
                "Device or resource busy" }),
        [](const auto& param) { return std::string(param.param.name); });

    TEST_F(CaptureServiceTest, CallbacksPostedAfterDestructionDoNothing)
    {
        m_service->startCamera();
        m_service->waitUntilIdle(); // the start has run and posted onStarted
        m_service.reset();
        m_main.drain();
        EXPECT_EQ(m_starts, 0);
    }

    TEST(CaptureServiceImages, JpegOfAFrameDecodesAtItsSize)
    {
        auto picture = std::make_shared<FrameBuffer>(160, 90, PixelFormat::i420);
        std::fill_n(picture->data(0), picture->stride(0) * 90, 200);
        std::fill_n(picture->data(1), picture->stride(1) * 45, 128);
        std::fill_n(picture->data(2), picture->stride(2) * 45, 128);
        auto bytes = CaptureService::jpeg(Frame(picture, 0));
        ASSERT_TRUE(bytes);
        QImage image = QImage::fromData(bytes->data(), int(bytes->size()), "JPEG");
        ASSERT_EQ(image.size(), QSize(160, 90));
        // Full-range luma 200 with neutral chroma is a light grey of 200, not a studio-range 214.
        EXPECT_NEAR(qGray(image.pixel(80, 45)), 200, 3);
        EXPECT_FALSE(CaptureService::jpeg(Frame()));
    }

} // namespace
} // namespace vardel
