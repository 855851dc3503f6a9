#pragma once

namespace vardel {

// Starts and stops the camera. Both return at once; the camera starts asynchronously.
class CameraControl {
public:
    virtual ~CameraControl() = default;
    virtual void startCamera() = 0;
    virtual void stopCamera() = 0;
};

} // namespace vardel
