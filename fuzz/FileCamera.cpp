// A video file given to the file camera: it either fails to start with an error, or plays, and its
// first picture arrives whole (every byte of it readable) or the stream reports a failure.
#include "Error.h"
#include "FileCameraSource.h"
#include "FuzzSupport.h"
#include "SerialQueue.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// Waits for the first picture or the end of the stream.
class FirstPicture final : public vardel::CameraSource::Sink {
public:
    bool accepts(double) override { return true; }

    void deliver(std::shared_ptr<const vardel::FrameBuffer> picture) override
    {
        vardel::fuzz::readWhole(*picture);
        finish();
    }

    void failed(const std::string&) override { finish(); }

    // False when neither came in time.
    bool wait(std::chrono::seconds limit)
    {
        std::unique_lock lock(m_mutex);
        return m_done.wait_for(lock, limit, [this] { return m_finished; });
    }

private:
    void finish()
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
        m_done.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vardel;
    fuzz::prepareFFmpeg();
    const std::filesystem::path video = fuzz::inputFile("video", fuzz::text(data, size));

    FileCameraSource source(video.string());
    SerialQueue videoQueue("fuzz.video");
    FirstPicture sink;
    try {
        source.start({ "fuzz", video.string(), false }, videoQueue, sink);
    } catch (const Error&) {
        return 0;
    }
    fuzz::require(!source.formats().empty(), "a started camera offers no size");
    fuzz::require(sink.wait(std::chrono::seconds(10)), "neither a picture nor a failure after a start");
    source.stop();
    return 0;
}
