#pragma once

#include "CameraPicture.h"
#include "CameraSource.h"
#include "FramePool.h"
#include "Thumbnail.h"
#include "V4L2Io.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vardel {

// The V4L2 cameras of this computer. `start` opens a node at the 1280x720 preset in the camera's own
// format (MJPEG, else YUYV, NV12 or planar 4:2:0; libv4l2 converts to planar 4:2:0 for a camera with none
// of them) at the slowest rate that still gives ten frames a second, maps its buffers and streams on the
// video queue: each step waits for a few frame periods, dequeues one buffer and gives it back at once
// unless the sink accepts its time stamp, in which case its bytes are copied into a camera picture and
// its thumbnail made first; a damaged picture is dropped and counted. Pixels are decoded only when a
// frame's planes are asked for. A device that vanishes or fails ends the stream through the sink's
// `failed`. Opening reports a refused permission and a camera in use apart (CameraOpenFailure). `setFormat`
// changes the size on the open device (stream off, new size, stream on) and reopens it only when the driver
// refuses that.
class V4L2CameraSource final : public CameraSource {
public:
    explicit V4L2CameraSource(std::unique_ptr<V4L2Io> io, std::filesystem::path devRoot = "/dev",
        std::filesystem::path sysfsRoot = "/sys");
    ~V4L2CameraSource() override;

    std::vector<CameraDevice> devices() override;
    void start(const CameraDevice& device, SerialQueue& videoQueue, Sink& sink) override;
    void stop() override;
    std::vector<CameraFormat> formats() override;
    void setFormat(const CameraFormat& format) override;

    // Damaged pictures dropped and full decodes made so far, over every stream of this source.
    const CaptureCounters& counters() const { return *m_counters; }

private:
    struct Stream;

    void step(std::uint64_t generation);

    std::unique_ptr<V4L2Io> m_io;
    std::filesystem::path m_devRoot;
    std::filesystem::path m_sysfsRoot;
    FramePool m_pool { 4 }; // decoded planes
    std::shared_ptr<CaptureCounters> m_counters = std::make_shared<CaptureCounters>();
    Thumbnail m_thumbnail; // video queue
    SerialQueue* m_queue = nullptr;
    Sink* m_sink = nullptr;
    std::unique_ptr<Stream> m_stream; // video queue once streaming
    std::uint64_t m_generation = 0;
    std::vector<CameraFormat> m_formats;
};

} // namespace vardel
