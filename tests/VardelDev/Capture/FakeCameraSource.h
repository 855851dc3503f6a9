#pragma once

#include "CameraSource.h"
#include "Error.h"
#include "SerialQueue.h"

#include <mutex>
#include <optional>

namespace vardel::test {

// An in-memory camera source: a scripted camera list and format list, an optional failure for `start`
// and `setFormat`, and `push` to play a sample into the running stream on the video queue.
class FakeCameraSource final : public CameraSource {
public:
    std::vector<CameraDevice> cameras;
    std::vector<CameraFormat> offered;
    std::optional<std::string> startFailure;
    std::optional<std::string> formatFailure;

    // Observed.
    std::vector<CameraDevice> started;
    std::vector<CameraFormat> formatsSet;
    int stops = 0;

    std::vector<CameraDevice> devices() override { return cameras; }

    void start(const CameraDevice& device, SerialQueue& videoQueue, Sink& sink) override
    {
        stop();
        if (startFailure)
            throw Error(1, *startFailure);
        started.push_back(device);
        std::lock_guard lock(m_mutex);
        m_queue = &videoQueue;
        m_sink = &sink;
    }

    void stop() override
    {
        ++stops;
        std::lock_guard lock(m_mutex);
        m_queue = nullptr;
        m_sink = nullptr;
    }

    std::vector<CameraFormat> formats() override
    {
        return started.empty() ? std::vector<CameraFormat> {} : offered;
    }

    void setFormat(const CameraFormat& format) override
    {
        if (formatFailure)
            throw Error(1, *formatFailure);
        formatsSet.push_back(format);
    }

    // Plays one sample at `presentationTime` as a source would; false when no stream is running.
    bool push(double presentationTime, int width = 64, int height = 36, std::uint8_t luma = 100)
    {
        SerialQueue* queue;
        {
            std::lock_guard lock(m_mutex);
            queue = m_queue;
        }
        if (!queue)
            return false;
        queue->sync([&] {
            std::lock_guard lock(m_mutex);
            if (!m_sink || !m_sink->accepts(presentationTime))
                return;
            auto picture = std::make_shared<FrameBuffer>(width, height, PixelFormat::i420);
            for (int row = 0; row < height; ++row)
                std::fill_n(picture->data(0) + row * picture->stride(0), width, luma);
            m_sink->deliver(std::move(picture));
        });
        return true;
    }

    void fail(const std::string& description)
    {
        std::lock_guard lock(m_mutex);
        if (m_sink)
            m_sink->failed(description);
    }

private:
    std::mutex m_mutex;
    SerialQueue* m_queue = nullptr;
    Sink* m_sink = nullptr;
};

} // namespace vardel::test
