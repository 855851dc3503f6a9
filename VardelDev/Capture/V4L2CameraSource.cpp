#include "V4L2CameraSource.h"

#include "CameraPicture.h"
#include "Error.h"
#include "FormatChoice.h"
#include "SerialQueue.h"
#include "V4L2Discovery.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/mman.h>

namespace vardel {

namespace {
    constexpr std::uint32_t kBufferCount = 4;
    // The slowest frame rate worth asking for: the analysis takes about ten frames a second.
    constexpr double kMinimumRate = 10;

    Error systemError(const std::string& what, int code)
    {
        CameraOpenFailure failure = code == EACCES || code == EPERM ? CameraOpenFailure::permissionDenied
            : code == EBUSY                                         ? CameraOpenFailure::busy
                                                                    : CameraOpenFailure::other;
        return Error(int(failure), what + ": " + std::strerror(code));
    }

    // The formats whose bytes are kept as they come, best first: a compressed picture costs the least to
    // hold, and its thumbnail comes from a reduced decode.
    struct Native {
        std::uint32_t fourcc;
        CameraPixels pixels;
    };
    constexpr Native kNative[] = { { V4L2_PIX_FMT_MJPEG, CameraPixels::mjpeg },
        { V4L2_PIX_FMT_JPEG, CameraPixels::mjpeg }, { V4L2_PIX_FMT_YUYV, CameraPixels::yuyv },
        { V4L2_PIX_FMT_NV12, CameraPixels::nv12 }, { V4L2_PIX_FMT_YUV420, CameraPixels::i420 } };

    // The best native format offering `size`; else planar 4:2:0, which libv4l2 converts to.
    Native chooseFormat(const std::vector<V4L2Discovery::Offer>& offers, CameraFormat size)
    {
        for (const Native& native : kNative)
            for (const auto& offer : offers)
                if (!offer.emulated && offer.pixelFormat == native.fourcc
                    && std::find(offer.sizes.begin(), offer.sizes.end(), size) != offer.sizes.end())
                    return native;
        return kNative[std::size(kNative) - 1];
    }

    double monotonicNow()
    {
        timespec now {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return now.tv_sec + now.tv_nsec / 1e9;
    }
}

// One open device with its mapped buffers.
struct V4L2CameraSource::Stream {
    V4L2Io& io;
    std::string path;
    int fd = -1;
    struct Mapped {
        void* address = MAP_FAILED;
        std::size_t length = 0;
    };
    std::vector<Mapped> buffers;
    CameraPicture::Layout layout;
    int width = 0;
    int height = 0;
    double timeout = 0.2; // a few frame periods
    bool streaming = false;
    bool broken = false;

    Stream(V4L2Io& anIo, std::string aPath)
        : io(anIo)
        , path(std::move(aPath))
    {
    }
    ~Stream() { close(); }

    void open()
    {
        fd = io.open(path, O_RDWR | O_NONBLOCK);
        if (fd < 0)
            throw systemError(path, errno);
        v4l2_capability capability {};
        if (io.ioctl(fd, VIDIOC_QUERYCAP, &capability) != 0)
            throw systemError(path, errno);
        std::uint32_t caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps
                                                                              : capability.capabilities;
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING))
            throw Error(1, path + ": not a streaming video capture device");
    }

    // Asks for `size` (or the current size) in the best format the camera offers at that size; the driver
    // may adjust the size. Then asks for the slowest frame rate that still gives ten frames a second.
    void setSize(std::optional<CameraFormat> size)
    {
        v4l2_format format {};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (io.ioctl(fd, VIDIOC_G_FMT, &format) != 0)
            throw systemError(path, errno);
        if (size) {
            format.fmt.pix.width = size->width;
            format.fmt.pix.height = size->height;
        }
        const Native chosen = chooseFormat(
            V4L2Discovery::offers(io, fd), { int(format.fmt.pix.width), int(format.fmt.pix.height) });
        format.fmt.pix.pixelformat = chosen.fourcc;
        format.fmt.pix.field = V4L2_FIELD_NONE;
        if (io.ioctl(fd, VIDIOC_S_FMT, &format) != 0)
            throw systemError(path, errno);
        if (format.fmt.pix.pixelformat != chosen.fourcc)
            throw Error(1, path + ": no usable picture format");
        width = int(format.fmt.pix.width);
        height = int(format.fmt.pix.height);
        if (width <= 0 || height <= 0)
            throw Error(1, path + ": unusable picture size");
        // V4L2's default quantization is limited range for YUV, full range for JPEG.
        const auto& pix = format.fmt.pix;
        std::uint32_t quantization = pix.priv == V4L2_PIX_FMT_PRIV_MAGIC
            ? pix.quantization
            : std::uint32_t(V4L2_QUANTIZATION_DEFAULT);
        if (quantization == V4L2_QUANTIZATION_DEFAULT)
            quantization = V4L2_MAP_QUANTIZATION_DEFAULT(false, pix.colorspace, pix.ycbcr_enc);
        const int lineBytes = chosen.pixels == CameraPixels::yuyv ? 2 * width : width;
        layout = { chosen.pixels, width, height, std::max(int(pix.bytesperline), lineBytes),
            chosen.pixels != CameraPixels::mjpeg && quantization == V4L2_QUANTIZATION_LIM_RANGE };
        if (pix.sizeimage < CameraPicture::bytesNeeded(layout))
            throw Error(1, path + ": unusable picture size");

        if (auto period = V4L2Discovery::period(io, fd, chosen.fourcc, { width, height }, kMinimumRate)) {
            v4l2_streamparm wanted {};
            wanted.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            wanted.parm.capture.timeperframe = { std::uint32_t(std::lround(*period * 1e6)), 1000000 };
            io.ioctl(fd, VIDIOC_S_PARM, &wanted); // a camera that ignores it is thinned by time stamp
        }

        v4l2_streamparm parameters {};
        parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        double period = 1.0 / 30;
        if (io.ioctl(fd, VIDIOC_G_PARM, &parameters) == 0) {
            const auto& frame = parameters.parm.capture.timeperframe;
            if (frame.numerator > 0 && frame.denominator > 0)
                period = double(frame.numerator) / frame.denominator;
        }
        timeout = std::clamp(4 * period, 0.2, 2.0);
    }

    void startStreaming()
    {
        v4l2_requestbuffers request {};
        request.count = kBufferCount;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        if (io.ioctl(fd, VIDIOC_REQBUFS, &request) != 0)
            throw systemError(path, errno);
        if (request.count == 0)
            throw Error(1, path + ": no capture buffers");
        for (std::uint32_t index = 0; index < request.count; ++index) {
            v4l2_buffer buffer {};
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            buffer.index = index;
            if (io.ioctl(fd, VIDIOC_QUERYBUF, &buffer) != 0)
                throw systemError(path, errno);
            void* address = io.map(fd, buffer.length, buffer.m.offset);
            if (address == MAP_FAILED)
                throw systemError(path, errno);
            buffers.push_back({ address, buffer.length });
            if (io.ioctl(fd, VIDIOC_QBUF, &buffer) != 0)
                throw systemError(path, errno);
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (io.ioctl(fd, VIDIOC_STREAMON, &type) != 0)
            throw systemError(path, errno);
        streaming = true;
    }

    void stopStreaming()
    {
        if (fd < 0)
            return;
        if (streaming) {
            int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            io.ioctl(fd, VIDIOC_STREAMOFF, &type);
            streaming = false;
        }
        for (const auto& mapped : buffers)
            io.unmap(mapped.address, mapped.length);
        if (!buffers.empty()) {
            buffers.clear();
            v4l2_requestbuffers release {};
            release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            release.memory = V4L2_MEMORY_MMAP;
            io.ioctl(fd, VIDIOC_REQBUFS, &release);
        }
    }

    void close()
    {
        stopStreaming();
        if (fd >= 0)
            io.close(fd);
        fd = -1;
    }

    // The bytes of a dequeued buffer as a camera picture; null when damaged.
    std::shared_ptr<const CameraPicture> take(const v4l2_buffer& buffer, Thumbnail& scaler, FramePool& pool,
        const std::shared_ptr<CaptureCounters>& counters) const
    {
        const Mapped& mapped = buffers[buffer.index];
        const std::size_t used
            = buffer.bytesused ? std::min<std::size_t>(buffer.bytesused, mapped.length) : mapped.length;
        return CameraPicture::take(
            layout, static_cast<const std::uint8_t*>(mapped.address), used, scaler, pool, counters);
    }
};

V4L2CameraSource::V4L2CameraSource(
    std::unique_ptr<V4L2Io> io, std::filesystem::path devRoot, std::filesystem::path sysfsRoot)
    : m_io(std::move(io))
    , m_devRoot(std::move(devRoot))
    , m_sysfsRoot(std::move(sysfsRoot))
{
}

V4L2CameraSource::~V4L2CameraSource() { stop(); }

std::vector<CameraDevice> V4L2CameraSource::devices()
{
    return V4L2Discovery::discover(*m_io, m_devRoot, m_sysfsRoot);
}

void V4L2CameraSource::start(const CameraDevice& device, SerialQueue& videoQueue, Sink& sink)
{
    stop();
    auto stream = std::make_unique<Stream>(*m_io, device.id);
    stream->open();
    auto sizes = V4L2Discovery::sizes(*m_io, stream->fd);
    stream->setSize(FormatChoice::preset(sizes));
    stream->startStreaming();

    m_formats = std::move(sizes);
    m_queue = &videoQueue;
    m_sink = &sink;
    m_queue->sync([&] {
        m_stream = std::move(stream);
        std::uint64_t generation = ++m_generation;
        m_queue->async([this, generation] { step(generation); });
    });
}

void V4L2CameraSource::stop()
{
    if (!m_queue)
        return;
    // The step in progress (at most one wait time-out) finishes first; later steps find themselves stale.
    m_queue->sync([this] {
        ++m_generation;
        m_stream.reset();
    });
    m_queue = nullptr;
    m_sink = nullptr;
    m_formats.clear();
}

std::vector<CameraFormat> V4L2CameraSource::formats() { return m_formats; }

void V4L2CameraSource::setFormat(const CameraFormat& format)
{
    if (!m_queue)
        throw Error(1, "no camera is open");
    m_queue->sync([&] {
        if (!m_stream || m_stream->broken)
            throw Error(1, "the camera is not streaming");
        Stream& stream = *m_stream;
        try {
            stream.stopStreaming();
            stream.setSize(format);
            stream.startStreaming();
        } catch (const Error&) {
            // Some drivers refuse a new size on an open handle: reopen the device with it.
            std::string path = stream.path;
            m_stream.reset();
            auto reopened = std::make_unique<Stream>(*m_io, path);
            try {
                reopened->open();
                reopened->setSize(format);
                reopened->startStreaming();
            } catch (const Error& error) {
                m_sink->failed(error.description()); // the camera is closed now: say so
                throw;
            }
            m_stream = std::move(reopened);
            std::uint64_t generation = ++m_generation;
            m_queue->async([this, generation] { step(generation); });
        }
        if (m_stream->width != format.width || m_stream->height != format.height)
            throw Error(1,
                "the driver chose " + std::to_string(m_stream->width) + "x"
                    + std::to_string(m_stream->height));
    });
}

void V4L2CameraSource::step(std::uint64_t generation)
{
    if (generation != m_generation || !m_stream || m_stream->broken)
        return;
    Stream& stream = *m_stream;
    auto fail = [&](int code) {
        stream.broken = true;
        m_sink->failed(std::strerror(code));
    };

    const int ready = stream.io.wait(stream.fd, stream.timeout);
    if (ready < 0)
        return fail(errno);

    if (ready > 0) {
        v4l2_buffer buffer {};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (stream.io.ioctl(stream.fd, VIDIOC_DQBUF, &buffer) != 0) {
            if (errno != EAGAIN)
                return fail(errno); // ENODEV: the camera was unplugged
        } else {
            double time = buffer.timestamp.tv_sec + buffer.timestamp.tv_usec / 1e6;
            if (time <= 0)
                time = monotonicNow();
            std::shared_ptr<const CameraPicture> picture;
            if (buffer.flags & V4L2_BUF_FLAG_ERROR)
                ++m_counters->damaged;
            else if (buffer.index < stream.buffers.size() && m_sink->accepts(time))
                picture = stream.take(buffer, m_thumbnail, m_pool, m_counters);
            if (stream.io.ioctl(stream.fd, VIDIOC_QBUF, &buffer) != 0)
                return fail(errno);
            if (picture)
                m_sink->deliverPicture(std::move(picture));
        }
    }
    m_queue->async([this, generation] { step(generation); });
}

} // namespace vardel
