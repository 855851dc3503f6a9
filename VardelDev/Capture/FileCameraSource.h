#pragma once

#include "CameraSource.h"
#include "FramePool.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vardel {

// A camera that plays a video file at its own pace, from the start again at its end, so that the whole
// application runs (and is tested) without a camera. It lists one camera, named after the file unless a
// name is given. Decoding runs on the video queue; only samples the sink accepts are converted to 4:2:0
// with full-range luma. A file that cannot be opened fails `start`; one that stops decoding reports
// through the sink's `failed`.
class FileCameraSource final : public CameraSource {
public:
    explicit FileCameraSource(std::string path, std::string name = {});
    ~FileCameraSource() override;

    std::vector<CameraDevice> devices() override;
    void start(const CameraDevice& device, SerialQueue& videoQueue, Sink& sink) override;
    void stop() override;
    std::vector<CameraFormat> formats() override;
    void setFormat(const CameraFormat& format) override;

private:
    struct Playback;

    void step(std::uint64_t generation);

    std::string m_path;
    std::string m_name;
    FramePool m_pool;
    SerialQueue* m_queue = nullptr;
    Sink* m_sink = nullptr;
    // Touched on the video queue once streaming; start and stop hop there to replace them.
    std::unique_ptr<Playback> m_playback;
    std::uint64_t m_generation = 0;
    CameraFormat m_format;
};

} // namespace vardel
