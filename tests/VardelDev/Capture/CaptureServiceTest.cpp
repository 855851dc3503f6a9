#include "CaptureService.h"

#include "Error.h"
#include "FakeClock.h"
#include "ManualMainExecutor.h"
#include "YuvFrame.h"

#include <QImage>
#include <gtest/gtest.h>

#include <atomic>

namespace vardel {
namespace {

    const CameraDevice kExternal { "USB Camera", "/dev/video2", false };
    const CameraDevice kBuiltIn { "Integrated Camera", "/dev/video0", true };

    // A scripted camera source; `push` plays a sample into the running stream on the video queue. The test
    // calls it only while the session queue is idle.
    class FakeCameraSource final : public CameraSource {
    public:
        std::vector<CameraFormat> offered, formatsSet;
        std::optional<std::string> startFailure, formatFailure;
        std::vector<CameraDevice> started;

        std::vector<CameraDevice> devices() override { return { kExternal, kBuiltIn }; }
        void start(const CameraDevice& device, SerialQueue& videoQueue, Sink& sink) override
        {
            if (startFailure)
                throw Error(1, *startFailure);
            started.push_back(device);
            m_queue = &videoQueue;
            m_sink = &sink;
        }
        void stop() override { m_queue = nullptr; }
        std::vector<CameraFormat> formats() override { return offered; }
        void setFormat(const CameraFormat& format) override
        {
            if (formatFailure)
                throw Error(1, *formatFailure);
            formatsSet.push_back(format);
        }

        // Plays one sample at `presentationTime` as a source would; false when no stream is running.
        bool push(double presentationTime, std::uint8_t luma = 100)
        {
            if (!m_queue)
                return false;
            m_queue->sync([&] {
                if (!m_sink->accepts(presentationTime))
                    return;
                auto picture = std::make_shared<FrameBuffer>(64, 36, PixelFormat::i420);
                std::fill_n(picture->data(0), picture->stride(0) * 36, luma);
                m_sink->deliver(std::move(picture));
            });
            return true;
        }
        void fail(const std::string& description) { m_sink->failed(description); }

    private:
        SerialQueue* m_queue = nullptr;
        Sink* m_sink = nullptr;
    };

    class CaptureServiceTest : public ::testing::Test {
    protected:
        CaptureServiceTest()
        {
            auto source = std::make_unique<FakeCameraSource>();
            m_source = source.get();
            m_service = std::make_unique<CaptureService>(std::move(source), m_main, m_clock,
                [this](const std::string& line) { m_log.push_back(line); });
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

        void settle()
        {
            m_service->waitUntilIdle();
            m_main.drain();
        }

        std::vector<std::string> takeLog() { return std::exchange(m_log, {}); }

        test::ManualMainExecutor m_main;
        test::FakeClock m_clock;
        FakeCameraSource* m_source = nullptr;
        std::unique_ptr<CaptureService> m_service;
        int m_starts = 0;
        std::vector<std::string> m_errors;
        std::atomic<int> m_frames { 0 };
        std::atomic<int> m_clipFrames { 0 };
        std::vector<std::string> m_log;
    };

    // Errors reach onError with their texts; the automatic choice is the built-in camera, though listed
    // second; its samples are thinned to ten a second and the latest is kept until it stops.
    TEST_F(CaptureServiceTest, ReportsErrorsOpensTheBuiltInCameraThinsKeepsTheLatestAndReclaimsSizes)
    {
        m_service->setCameraName("Logi 4K");
        m_service->startCamera();
        settle();
        EXPECT_TRUE(m_source->started.empty());

        m_service->setCameraName("");
        m_source->startFailure = "/dev/video0: Device or resource busy";
        m_service->restart();
        settle();
        EXPECT_EQ(m_starts, 0);
        EXPECT_FALSE(m_service->currentDevice());

        m_source->startFailure.reset();
        m_service->restart();
        settle();
        EXPECT_EQ(m_starts, 1);
        EXPECT_EQ(m_source->started, std::vector { kBuiltIn });
        EXPECT_EQ(m_service->currentDevice(), kBuiltIn);
        m_source->fail("No such device");
        m_source->fail("");
        m_main.drain();
        EXPECT_EQ(m_errors,
            (std::vector<std::string> { "Câmera \"Logi 4K\" não encontrada",
                "Não foi possível abrir a câmera: /dev/video0: Device or resource busy", "No such device",
                "erro da câmera" }));

        m_clock.set(1'800'000'000.0);
        for (int i = 0; i < 30; ++i)
            m_source->push(1000 + i / 30.0, std::uint8_t(i));
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
        EXPECT_EQ(m_errors.size(), 4u);

        // Reclaiming the preferred size does nothing without a camera, else logs what came of it.
        m_service->reclaimPreferredFormat();
        settle();
        EXPECT_TRUE(takeLog().empty());
        m_service->startCamera();
        settle();
        const struct {
            std::vector<CameraFormat> offered;
            std::optional<std::string> refusal;
            std::vector<CameraFormat> chosen;
            std::string logLine;
        } rows[] = {
            { { { 3840, 2160 }, { 1920, 1080 } }, {}, { { 1920, 1080 } },
                "Vardel: pedido formato 16:9 1920x1080 sem parar a sessão" },
            { { { 640, 480 }, { 1600, 1200 } }, {}, {}, "Vardel: nenhum formato 16:9 disponível" },
            { { { 1280, 720 } }, "Device or resource busy", {},
                "Vardel: o driver não deixou trocar o formato: Device or resource busy" },
        };
        for (const auto& row : rows) {
            SCOPED_TRACE(row.logLine);
            m_source->offered = row.offered;
            m_source->formatFailure = row.refusal;
            m_source->formatsSet.clear();
            m_service->reclaimPreferredFormat();
            settle();
            EXPECT_EQ(m_source->formatsSet, row.chosen);
            EXPECT_EQ(takeLog(), std::vector<std::string> { row.logLine });
        }

        // Callbacks posted before destruction do nothing after it.
        m_service->startCamera();
        m_service->waitUntilIdle();
        m_service.reset();
        m_main.drain();
        EXPECT_EQ(m_starts, 3);
    }

    TEST(CaptureServiceImages, JpegOfAFrameDecodesAtItsSize)
    {
        const Frame grey = test::yuvFrame(
            160, 90, PixelFormat::i420, [](int, int) { return 200; },
            [](int, int) { return std::pair(128, 128); });
        const auto bytes = CaptureService::jpeg(grey).value();
        QImage image = QImage::fromData(bytes.data(), int(bytes.size()), "JPEG");
        ASSERT_EQ(image.size(), QSize(160, 90));
        // Full-range luma 200 with neutral chroma is a light grey of 200, not a studio-range 214.
        EXPECT_NEAR(qGray(image.pixel(80, 45)), 200, 3);
        EXPECT_FALSE(CaptureService::jpeg(Frame()));
    }

} // namespace
} // namespace vardel
