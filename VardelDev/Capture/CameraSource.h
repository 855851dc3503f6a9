#pragma once

#include "EncodedPicture.h"
#include "FrameBuffer.h"

#include <memory>
#include <string>
#include <vector>

namespace vardel {

class SerialQueue;

// One camera a source can open. `name` is what the user sees and chooses (unique within one listing),
// `id` is what the source needs to open it again (a device node, a file path).
struct CameraDevice {
    std::string name;
    std::string id;
    bool builtIn = false;
    bool operator==(const CameraDevice&) const = default;
};

// A picture size a camera offers.
struct CameraFormat {
    int width = 0;
    int height = 0;
    bool operator==(const CameraFormat&) const = default;
};

// Why a camera did not open: the code of the vardel::Error `start` throws. `permissionDenied` when this
// user may not use the device, `busy` when another program holds it (worth retrying later).
enum class CameraOpenFailure { other = 1, permissionDenied = 2, busy = 3 };

// A backend that lists cameras and streams one of them (V4L2 devices, a video file). Calls other than
// `devices` come from the capture service's session queue; frames and stream events go to the Sink on the
// video queue given to `start`. After `stop` returns, the sink is not called again.
class CameraSource {
public:
    // Receives one stream. `accepts` is asked for every sample with its presentation time (seconds) before
    // any conversion: a refused sample goes back to the device untouched. An accepted sample is handed to
    // `deliver` as 4:2:0 planes with full-range luma, or to `deliverPicture` in the camera's own bytes
    // (decoding to the same when asked); a damaged sample is dropped. `failed` reports a runtime error
    // (empty text when the cause is unknown); the stream has ended then.
    class Sink {
    public:
        virtual ~Sink() = default;
        virtual bool accepts(double presentationTime) = 0;
        virtual void deliver(std::shared_ptr<const FrameBuffer> picture) = 0;
        virtual void deliverPicture(std::shared_ptr<const EncodedPicture> picture)
        {
            if (auto planes = picture->decode())
                deliver(std::move(planes));
        }
        virtual void failed(const std::string& description) = 0;
    };

    virtual ~CameraSource() = default;

    // The cameras present now, in the system's order. Any thread: listing touches no stream state.
    virtual std::vector<CameraDevice> devices() = 0;
    // Opens `device` (1280x720 where offered) and starts streaming on `videoQueue`. Throws vardel::Error
    // (a CameraOpenFailure code) with a readable description when the camera cannot be opened. Stops a
    // running stream first.
    virtual void start(const CameraDevice& device, SerialQueue& videoQueue, Sink& sink) = 0;
    // Ends the stream and releases the camera; waits for a frame in delivery. Harmless when stopped.
    virtual void stop() = 0;
    // Sizes the open camera offers, in its own order; empty when none is open.
    virtual std::vector<CameraFormat> formats() = 0;
    // Switches the open camera to `format`, keeping it open. Throws vardel::Error when refused.
    virtual void setFormat(const CameraFormat& format) = 0;
};

} // namespace vardel
