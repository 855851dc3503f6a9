#pragma once

#include "Frame.h"
#include "SerialQueue.h"

#include <QImage>
#include <QObject>
#include <QSize>

#include <memory>

struct SwsContext;

namespace vardel {

// Scales and converts a camera frame (full-range 4:2:0) to an RGB picture of the size it is shown at, in
// one libswscale pass. Keeps its scaler between calls; one thread at a time.
class FrameToImage {
public:
    FrameToImage() = default;
    ~FrameToImage();
    FrameToImage(const FrameToImage&) = delete;
    FrameToImage& operator=(const FrameToImage&) = delete;

    // A null image when the frame is empty, does not decode, or `size` is empty.
    QImage convert(const Frame& frame, QSize size);

private:
    SwsContext* m_context = nullptr;
};

// The live picture of the main window: frames offered on the main thread are converted on
// "vardel.preview"; a frame offered while one is in work is dropped, so the main thread never waits and
// never falls behind the camera. `changed` is emitted on the main thread with each new picture; nothing
// arrives once this object is gone (destruction waits for a conversion in progress).
class LivePicture final : public QObject {
    Q_OBJECT
public:
    explicit LivePicture(QObject* parent = nullptr);
    ~LivePicture() override;

    // Converts `frame` to `size` unless it is the frame shown at that size already or a conversion runs.
    void offer(const Frame& frame, QSize size);
    // Forgets the picture (camera off).
    void clear();
    const QImage& image() const { return m_image; }
    double frameTime() const { return m_time; }

signals:
    void changed();

private:
    struct Shared;

    std::shared_ptr<Shared> m_shared;
    QImage m_image;
    double m_time = -1;
    QSize m_size;
    bool m_busy = false;
    SerialQueue m_queue { "vardel.preview" };
};

} // namespace vardel
