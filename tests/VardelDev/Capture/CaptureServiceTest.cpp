#include "CaptureService.h"

#include "Error.h"
#include "FakeClock.h"
#include "FormatChoice.h"
#include "FrameThinner.h"
#include "ManualMainExecutor.h"
#include "Thumbnail.h"
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

    TEST(CaptureServiceTest, ReportsErrorsOpensTheBuiltInCameraThinsKeepsTheLatestAndReclaimsSizes)
    {
        test::ManualMainExecutor executor;
        test::FakeClock fakeClock;
        int starts = 0;
        std::vector<std::string> errors, logLines;
        std::atomic<int> frames = 0, clipFrames = 0;
        auto owned = std::make_unique<FakeCameraSource>();
        FakeCameraSource& source = *owned;
        auto service = std::make_unique<CaptureService>(std::move(owned), executor, fakeClock,
            [&](const std::string& line) { logLines.push_back(line); });
        service->onStarted = [&] { ++starts; };
        service->onError = [&](const std::string& message) { errors.push_back(message); };
        service->onFrame = [&](const std::vector<std::uint8_t>& luma, const Frame& frame, double time) {
            EXPECT_EQ(luma.size(), 5184u);
            EXPECT_EQ(frame.time(), time);
            ++frames;
        };
        service->onClipFrame = [&](const Frame&, double) { ++clipFrames; };
        const auto settle = [&] {
            service->waitUntilIdle();
            executor.drain();
        };

        service->setCameraName("Logi 4K");
        service->startCamera();
        settle();
        EXPECT_TRUE(source.started.empty());

        service->setCameraName("");
        source.startFailure = "/dev/video0: Device or resource busy";
        service->restart();
        settle();
        EXPECT_EQ(starts, 0);
        EXPECT_FALSE(service->currentDevice());

        source.startFailure.reset();
        service->restart();
        settle();
        EXPECT_EQ(starts, 1);
        EXPECT_EQ(source.started, std::vector { kBuiltIn });
        EXPECT_EQ(service->currentDevice(), kBuiltIn);
        source.fail("No such device");
        source.fail("");
        executor.drain();
        EXPECT_EQ(errors,
            (std::vector<std::string> { "Câmera \"Logi 4K\" não encontrada",
                "Não foi possível abrir a câmera: /dev/video0: Device or resource busy", "No such device",
                "erro da câmera" }));

        fakeClock.set(1'800'000'000.0);
        for (int i = 0; i < 30; ++i)
            source.push(1000 + i / 30.0, std::uint8_t(i));
        EXPECT_EQ(frames, 10); // every third of 30 a second
        EXPECT_EQ(clipFrames, 10);
        Frame latest = service->latest();
        EXPECT_EQ(latest.time(), 1'800'000'000.0); // delivery time, not the presentation time
        EXPECT_EQ(latest.luma()[0], 27);
        for (int i = 0; i < 10; ++i)
            source.push(2000 + i / 10.0);
        EXPECT_EQ(frames, 20); // every one of 10 a second
        service->restart(); // e.g. a file played from its start again: earlier stamps are not held back
        settle();
        source.push(0.0);
        source.push(0.1);
        EXPECT_EQ(frames, 22);

        service->stopCamera();
        EXPECT_TRUE(service->latest().empty()); // at once, before the session queue stops the source
        settle();
        EXPECT_FALSE(service->currentDevice());
        EXPECT_FALSE(source.push(10.5));
        EXPECT_EQ(errors.size(), 4u);

        // Reclaiming the preferred size does nothing without a camera, else logs what came of it.
        service->reclaimPreferredFormat();
        settle();
        EXPECT_TRUE(std::exchange(logLines, {}).empty());
        service->startCamera();
        settle();
        const struct {
            std::vector<CameraFormat> offered, chosen;
            std::optional<std::string> refusal;
            std::string logLine;
        } rows[] = {
            { { { 3840, 2160 }, { 1920, 1080 } }, { { 1920, 1080 } }, {},
                "Vardel: pedido formato 16:9 1920x1080 sem parar a sessão" },
            { { { 640, 480 }, { 1600, 1200 } }, {}, {}, "Vardel: nenhum formato 16:9 disponível" },
            { { { 1280, 720 } }, {}, "Device or resource busy",
                "Vardel: o driver não deixou trocar o formato: Device or resource busy" },
        };
        for (const auto& row : rows) {
            SCOPED_TRACE(row.logLine);
            source.offered = row.offered;
            source.formatFailure = row.refusal;
            source.formatsSet.clear();
            service->reclaimPreferredFormat();
            settle();
            EXPECT_EQ(source.formatsSet, row.chosen);
            EXPECT_EQ(std::exchange(logLines, {}), std::vector<std::string> { row.logLine });
        }

        // Callbacks posted before destruction do nothing after it.
        service->startCamera();
        service->waitUntilIdle();
        service.reset();
        executor.drain();
        EXPECT_EQ(starts, 3);
    }

    // A frame of this luma and neutral chroma.
    template <typename Luma>
    Frame makeFrame(int width, int height, Luma luma, PixelFormat format = PixelFormat::nv12)
    {
        return test::yuvFrame(width, height, format, luma, [](int, int) { return std::pair(128, 128); });
    }

    TEST(CaptureServiceImages, JpegOfAFrameDecodesAtItsSize)
    {
        const Frame grey = makeFrame(
            160, 90, [](int, int) { return 200; }, PixelFormat::i420);
        const auto bytes = CaptureService::jpeg(grey).value();
        QImage image = QImage::fromData(bytes.data(), int(bytes.size()), "JPEG");
        ASSERT_EQ(image.size(), QSize(160, 90));
        // Full-range luma 200 with neutral chroma is a light grey of 200, not a studio-range 214.
        EXPECT_NEAR(qGray(image.pixel(80, 45)), 200, 3);
        EXPECT_FALSE(CaptureService::jpeg(Frame()));
    }

    // The preset asks for 1280x720, else the nearest 16:9; the preferred size is the first of the widest
    // 16:9 sizes up to 1920. 854x480 is within 0.01 of 16:9; 1920x1088 (a padded encoder size) is not.
    TEST(FormatChoiceTest, PresetIs1280x720ElseTheNearestAndPreferredTheWidestUpTo1920)
    {
        const CameraFormat hd { 1280, 720 }, fullHd { 1920, 1080 }, uhd { 3840, 2160 };
        const struct {
            std::vector<CameraFormat> offered;
            std::optional<CameraFormat> preset, preferred;
        } rows[] = {
            { { fullHd, hd, { 640, 480 } }, hd, fullHd },
            { { { 640, 480 }, { 640, 360 }, fullHd, { 960, 540 } }, CameraFormat { 960, 540 }, fullHd },
            { { uhd, { 1600, 1200 } }, uhd, std::nullopt },
            { { hd, uhd, fullHd }, hd, fullHd },
            { { { 1920, 1088 }, { 854, 480 } }, CameraFormat { 854, 480 }, CameraFormat { 854, 480 } },
            { { { 640, 480 }, { 1280, 960 }, { 0, 0 } }, std::nullopt, std::nullopt },
            { {}, std::nullopt, std::nullopt },
        };
        for (const auto& row : rows) {
            SCOPED_TRACE(&row - rows);
            EXPECT_EQ(FormatChoice::preset(row.offered), row.preset);
            EXPECT_EQ(FormatChoice::preferred16x9(row.offered), row.preferred);
        }
    }

    TEST(FrameThinnerTest, PassesAtMostOneSamplePerTenthOfASecondAndRestartsWhenTimeGoesBack)
    {
        const struct {
            double start, framesPerSecond;
            int frames, passed;
        } rows[]
            = { { 0.0, 30, 30, 10 }, { 86'400.5, 30, 300, 100 }, { 0.0, 10, 20, 20 }, { 12.0, 60, 60, 10 } };
        for (const auto& [start, framesPerSecond, frames, passed] : rows) {
            FrameThinner thinner;
            int count = 0;
            for (int i = 0; i < frames; ++i)
                count += thinner.accept(start + i / framesPerSecond);
            EXPECT_EQ(count, passed) << start << " at " << framesPerSecond;
        }

        FrameThinner thinner;
        EXPECT_TRUE(thinner.accept(100.0));
        EXPECT_FALSE(thinner.accept(100.05));
        EXPECT_TRUE(thinner.accept(2.0)); // the device's clock was reset
        EXPECT_FALSE(thinner.accept(2.05));
        EXPECT_TRUE(thinner.accept(2.1));
        thinner.reset();
        EXPECT_TRUE(thinner.accept(2.11));
    }

    TEST(ThumbnailTest, EachPixelIsTheMeanOfTheAreaItCoversWhateverTheFrameSize)
    {
        // 1920x1080 -> 96x54: 20x20 blocks. Each block alternates 0/200 by column (mean 100) plus a block
        // level; a point sampler would return 0 or 200+level, never the mean.
        auto level = [](int x, int y) { return (x / 20 + y / 20) % 50; };
        Frame frame = makeFrame(1920, 1080, [&](int x, int y) { return (x % 2 ? 200 : 0) + level(x, y); });
        Thumbnail thumbnail;
        const auto luma = thumbnail.make(frame).value();
        ASSERT_EQ(luma.size(), 5184u);
        for (int y = 0; y < 54; ++y)
            for (int x = 0; x < 96; ++x)
                ASSERT_NEAR(luma[y * 96 + x], 100 + level(x * 20, y * 20), 1) << x << "," << y;

        // It follows the frame size and reads only the picture, not the padding: 1281 wide: the stride is
        // padded to 1312; padding bytes stay 0 while the picture is 90.
        Frame odd = makeFrame(1281, 721, [](int, int) { return 90; });
        Frame small = makeFrame(160, 90, [](int x, int) { return x < 80 ? 10 : 250; });
        for (int round = 0; round < 2; ++round) {
            const auto flat = thumbnail.make(odd).value();
            for (auto value : flat)
                ASSERT_NEAR(value, 90, 1);
            const auto halves = thumbnail.make(small).value();
            EXPECT_NEAR(halves[0], 10, 1);
            EXPECT_NEAR(halves[95], 250, 1);
        }
        EXPECT_FALSE(thumbnail.make(Frame()));
    }

} // namespace
} // namespace vardel
