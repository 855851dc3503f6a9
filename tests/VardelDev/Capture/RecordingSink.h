#pragma once

#include "CameraSource.h"
#include "Frame.h"
#include "FrameThinner.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace vardel::test {

// A sink thinned by time stamp as the capture service's: keeps each picture as a frame of its presentation
// time and the steady-clock second it arrived. Read the results once the source has stopped.
class RecordingSink final : public CameraSource::Sink {
public:
    std::vector<Frame> frames;
    std::vector<double> arrivals;
    std::vector<std::string> failures;

    bool accepts(double time) override
    {
        m_accepted = time; // the time of the picture delivered next, if any
        return m_thinner.accept(time);
    }
    void deliver(std::shared_ptr<const FrameBuffer> picture) override
    {
        add(Frame(std::move(picture), m_accepted));
    }
    void deliverPicture(std::shared_ptr<const EncodedPicture> picture) override
    {
        add(Frame(std::move(picture), m_accepted));
    }
    void failed(const std::string& description) override
    {
        std::lock_guard lock(m_mutex);
        failures.push_back(description);
        m_changed.notify_all();
    }

    // Waits for `count` frames in all, a failure, or 10 s.
    void waitFor(std::size_t count)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(
            lock, std::chrono::seconds(10), [&] { return frames.size() >= count || !failures.empty(); });
    }

private:
    void add(Frame frame)
    {
        std::lock_guard lock(m_mutex);
        frames.push_back(std::move(frame));
        arrivals.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count());
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    FrameThinner m_thinner;
    double m_accepted = 0;
};

} // namespace vardel::test
