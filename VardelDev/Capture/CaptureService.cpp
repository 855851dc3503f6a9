#include "CaptureService.h"

#include "Clock.h"
#include "Error.h"
#include "FormatChoice.h"
#include "FrameThinner.h"
#include "MainExecutor.h"
#include "Thumbnail.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImage>
#include <QImageWriter>

#include <cstdio>
#include <exception>

extern "C" {
#include <libswscale/swscale.h>
}

namespace vardel {

namespace {
    std::vector<CameraChoice::Camera> choices(const std::vector<CameraDevice>& devices)
    {
        std::vector<CameraChoice::Camera> cameras;
        for (const auto& device : devices)
            cameras.push_back({ device.name, device.builtIn });
        return cameras;
    }

    // The device behind the camera CameraChoice picks (names are unique within one listing).
    std::optional<CameraDevice> pickCamera(
        const std::vector<CameraDevice>& devices, const std::string& chosen)
    {
        auto picked = CameraChoice::pick(choices(devices), chosen);
        if (!picked)
            return std::nullopt;
        for (const auto& device : devices)
            if (device.name == picked->name)
                return device;
        return std::nullopt;
    }
}

// The sink of the running stream. Lives on the video queue: the thinner and the scaler are touched there
// only.
class CaptureService::Delivery final : public CameraSource::Sink {
public:
    explicit Delivery(CaptureService& service)
        : m_service(service)
    {
    }

    void reset() { m_thinner.reset(); }

    bool accepts(double presentationTime) override { return m_thinner.accept(presentationTime); }

    void deliver(std::shared_ptr<const FrameBuffer> picture) override
    {
        pass(Frame(std::move(picture), m_service.m_clock.now()));
    }

    void deliverPicture(std::shared_ptr<const EncodedPicture> picture) override
    {
        pass(Frame(std::move(picture), m_service.m_clock.now()));
    }

    void failed(const std::string& description) override
    {
        std::string message = description.empty() ? std::string("erro da câmera") : description;
        m_service.postMain([message](CaptureService& service) {
            if (service.onError)
                service.onError(message);
        });
    }

private:
    void pass(const Frame& frame)
    {
        const double now = frame.time();
        {
            std::lock_guard lock(m_service.m_latestMutex);
            m_service.m_latest = frame;
        }
        if (m_service.onClipFrame)
            m_service.onClipFrame(frame, now);
        // Without a thumbnail the frame reaches only the recorder.
        if (m_thumbnail.make(frame, m_luma) && m_service.onFrame)
            m_service.onFrame(m_luma, frame, now);
    }

    CaptureService& m_service;
    FrameThinner m_thinner;
    Thumbnail m_thumbnail;
    std::vector<std::uint8_t> m_luma;
};

CaptureService::CaptureService(
    std::unique_ptr<CameraSource> source, MainExecutor& main, const Clock& clock, LogLine log)
    : m_source(std::move(source))
    , m_main(main)
    , m_clock(clock)
    , m_log(std::move(log))
    , m_self(std::make_shared<CaptureService*>(this))
    , m_delivery(std::make_unique<Delivery>(*this))
{
}

CaptureService::~CaptureService()
{
    m_self.reset();
    m_sessionQueue.sync([this] { stopSession(); });
    m_sessionQueue.shutdown();
    m_videoQueue.shutdown();
}

void CaptureService::postMain(std::function<void(CaptureService&)> work)
{
    std::weak_ptr<CaptureService*> weak = m_self;
    m_main.post([weak, work = std::move(work)] {
        if (auto self = weak.lock())
            work(**self);
    });
}

void CaptureService::setCameraName(const std::string& name)
{
    std::lock_guard lock(m_stateMutex);
    m_cameraName = name;
}

std::string CaptureService::cameraName() const
{
    std::lock_guard lock(m_stateMutex);
    return m_cameraName;
}

std::optional<CameraDevice> CaptureService::currentDevice() const
{
    std::lock_guard lock(m_stateMutex);
    return m_currentDevice;
}

Frame CaptureService::latest() const
{
    std::lock_guard lock(m_latestMutex);
    return m_latest;
}

void CaptureService::waitUntilIdle()
{
    m_sessionQueue.sync([] {});
}

std::vector<CameraDevice> CaptureService::devices() { return m_source->devices(); }

std::vector<CameraChoice::Camera> CaptureService::available() { return choices(devices()); }

std::optional<CameraDevice> CaptureService::device() { return pickCamera(m_source->devices(), cameraName()); }

std::string CaptureService::cameraNotFoundText(const std::string& name)
{
    return "Câmera \"" + name + "\" não encontrada";
}

std::string CaptureService::openFailedText(const std::string& description)
{
    return "Não foi possível abrir a câmera: " + description;
}

void CaptureService::startCamera()
{
    m_sessionQueue.async([this] {
        if (configure())
            postMain([](CaptureService& service) {
                if (service.onStarted)
                    service.onStarted();
            });
    });
}

void CaptureService::stopCamera()
{
    {
        std::lock_guard lock(m_latestMutex);
        m_latest = Frame();
    }
    m_sessionQueue.async([this] { stopSession(); });
}

void CaptureService::restart()
{
    // configure() stops the running stream first.
    startCamera();
}

void CaptureService::stopSession()
{
    m_source->stop();
    std::lock_guard lock(m_stateMutex);
    m_currentDevice.reset();
}

bool CaptureService::configure()
{
    stopSession();
    std::string name = cameraName();
    auto chosen = pickCamera(m_source->devices(), name);
    if (!chosen) {
        postMain([text = cameraNotFoundText(name)](CaptureService& service) {
            if (service.onError)
                service.onError(text);
        });
        return false;
    }
    // Thinning starts afresh with every stream; the reset runs on the video queue before the first sample.
    m_videoQueue.async([this] { m_delivery->reset(); });
    try {
        m_source->start(*chosen, m_videoQueue, *m_delivery);
    } catch (const std::exception& error) {
        const auto* own = dynamic_cast<const Error*>(&error);
        const int code = own ? own->code() : 0;
        const CameraOpenFailure failure = code == int(CameraOpenFailure::permissionDenied)
            ? CameraOpenFailure::permissionDenied
            : code == int(CameraOpenFailure::busy) ? CameraOpenFailure::busy
                                                   : CameraOpenFailure::other;
        postMain([failure, text = openFailedText(error.what())](CaptureService& service) {
            if (service.onOpenFailure)
                service.onOpenFailure(failure);
            if (service.onError)
                service.onError(text);
        });
        return false;
    }
    std::lock_guard lock(m_stateMutex);
    m_currentDevice = chosen;
    return true;
}

void CaptureService::reclaimPreferredFormat()
{
    m_sessionQueue.async([this] {
        if (!currentDevice())
            return;
        auto best = FormatChoice::preferred16x9(m_source->formats());
        if (!best) {
            m_log("Vardel: nenhum formato 16:9 disponível");
            return;
        }
        try {
            m_source->setFormat(*best);
        } catch (const std::exception& error) {
            m_log(std::string("Vardel: o driver não deixou trocar o formato: ") + error.what());
            return;
        }
        m_log("Vardel: pedido formato 16:9 " + std::to_string(best->width) + "x"
            + std::to_string(best->height) + " sem parar a sessão");
    });
}

std::optional<std::vector<std::uint8_t>> CaptureService::downscaleLuma(const Frame& frame)
{
    Thumbnail thumbnail;
    return thumbnail.make(frame);
}

std::optional<std::vector<std::uint8_t>> CaptureService::jpeg(const Frame& frame)
{
    const FrameBuffer* planes = frame.pixels();
    if (!planes)
        return std::nullopt;
    const FrameBuffer& buffer = *planes;
    AVPixelFormat format = buffer.format() == PixelFormat::nv12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
    SwsContext* converter = sws_getContext(frame.width(), frame.height(), format, frame.width(),
        frame.height(), AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!converter)
        return std::nullopt;
    // The luma is full range; BT.601 matrix as cameras use at these sizes.
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(converter, coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);
    QImage image(frame.width(), frame.height(), QImage::Format_RGB888);
    const std::uint8_t* source[4] = {};
    int sourceStride[4] = {};
    for (int plane = 0; plane < buffer.planeCount(); ++plane) {
        source[plane] = buffer.data(plane);
        sourceStride[plane] = buffer.stride(plane);
    }
    std::uint8_t* target[4] = { image.bits(), nullptr, nullptr, nullptr };
    const int targetStride[4] = { static_cast<int>(image.bytesPerLine()), 0, 0, 0 };
    int rows = sws_scale(converter, source, sourceStride, 0, frame.height(), target, targetStride);
    sws_freeContext(converter);
    if (rows != frame.height())
        return std::nullopt;

    image.setColorSpace(QColorSpace::SRgb);
    QByteArray bytes;
    QBuffer device(&bytes);
    device.open(QIODevice::WriteOnly);
    QImageWriter writer(&device, "jpeg");
    writer.setQuality(80);
    if (!writer.write(image))
        return std::nullopt;
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

} // namespace vardel
