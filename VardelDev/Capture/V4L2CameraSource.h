#pragma once

#include "CameraSource.h"
#include "FramePool.h"
#include "V4L2Io.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vardel {

// The V4L2 cameras of this computer. `start` opens a node at the 1280x720 preset in planar 4:2:0 (libv4l2
// converts), maps its buffers and streams on the video queue: each step waits in select() for a few frame
// periods, dequeues one buffer and gives it back at once unless the sink accepts its time stamp, in which
// case it is copied into a pooled frame first. A device that vanishes or fails ends the stream through the
// sink's `failed`. `setFormat` changes the size on the open device (stream off, new size, stream on) and
// reopens it only when the driver refuses that.
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

private:
    struct Stream;

    void step(std::uint64_t generation);

    std::unique_ptr<V4L2Io> m_io;
    std::filesystem::path m_devRoot;
    std::filesystem::path m_sysfsRoot;
    FramePool m_pool;
    SerialQueue* m_queue = nullptr;
    Sink* m_sink = nullptr;
    std::unique_ptr<Stream> m_stream; // video queue once streaming
    std::uint64_t m_generation = 0;
    std::vector<CameraFormat> m_formats;
};

} // namespace vardel
