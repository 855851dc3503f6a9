#include "ClipRecorder.h"

#include "Captions.h"
#include "Error.h"
#include "EventFiles.h"
#include "L.h"
#include "Log.h"
#include "Mp4Writer.h"
#include "Paths.h"
#include "PhotoAnnotator.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <QPainter>
#include <QUuid>

#include <algorithm>
#include <cmath>
#include <system_error>

namespace vardel {

namespace fs = std::filesystem;

namespace {

    AVPixelFormat avFormat(PixelFormat format)
    {
        return format == PixelFormat::nv12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
    }

    // The camera's planes as libswscale wants them.
    struct Planes {
        const std::uint8_t* data[4] = {};
        int stride[4] = {};
    };

    Planes planesOf(const FrameBuffer& buffer)
    {
        Planes planes;
        for (int p = 0; p < buffer.planeCount(); ++p) {
            planes.data[p] = buffer.data(p);
            planes.stride[p] = buffer.stride(p);
        }
        return planes;
    }

    // The smallest rectangle holding every pixel of `image` that is not fully transparent.
    QRect opaqueBox(const QImage& image)
    {
        int top = image.height(), bottom = -1, left = image.width(), right = -1;
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                if (qAlpha(row[x]) != 0) {
                    top = std::min(top, y);
                    bottom = y;
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            }
        }
        return bottom < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
    }

} // namespace

ClipRecorder::ClipRecorder(
    const Paths& paths, Log& log, MainExecutor& main, double pre, double post, StampText stampText)
    : m_clipsFolder(paths.clipsTmp())
    , m_eventsFolder(paths.events())
    , m_log(log)
    , m_main(main)
    , m_stampText(
          stampText ? std::move(stampText) : [](double t) { return Captions::full(t, L::language()); })
    , m_window(pre, post)
{
    m_window.grace = kGrace;
    m_window.maxBuffered = kMaxBuffered;
}

ClipRecorder::~ClipRecorder()
{
    {
        std::lock_guard lock(m_armedLock);
        m_armed = false;
    }
    // Close the open clip, then let every clip in progress complete, so no file is left half written
    // in the temporary folder.
    m_queue.async([this] { execute(m_window.stop()); });
    m_queue.shutdown();
    m_finisher.shutdown();
    m_alive.reset();
    sws_freeContext(m_copyScaler);
    sws_freeContext(m_composeScaler);
}

void ClipRecorder::configure(double pre, double post)
{
    m_queue.async([this, pre, post] {
        if (m_window.isRecording())
            return;
        m_window.pre = pre;
        m_window.post = post;
    });
}

void ClipRecorder::push(const Frame& frame, double t)
{
    {
        std::lock_guard lock(m_armedLock);
        if (!m_armed)
            return;
    }
    // The encoder cannot keep up: drop rather than queue frames without bound.
    if (m_queuedFrames.load() >= kMaxQueuedFrames)
        return;
    auto copy = scaledCopy(frame);
    if (!copy)
        return;
    ++m_queuedFrames;
    m_queue.async([this, copy = std::move(*copy), t] {
        --m_queuedFrames;
        execute(m_window.append(copy, t));
    });
}

void ClipRecorder::trigger(double t)
{
    m_queue.async([this, t] { execute(m_window.trigger(t)); });
}

void ClipRecorder::tick(double now)
{
    m_queue.async([this, now] { execute(m_window.tick(now)); });
}

void ClipRecorder::startRecording()
{
    std::lock_guard lock(m_armedLock);
    m_armed = true;
}

void ClipRecorder::stopRecording()
{
    {
        std::lock_guard lock(m_armedLock);
        m_armed = false;
    }
    m_queue.async([this] { execute(m_window.stop()); });
}

void ClipRecorder::whenIdle(double timeout, std::function<void()> done)
{
    auto called = std::make_shared<std::atomic<bool>>(false);
    auto once = [called, done = std::move(done)] {
        if (!called->exchange(true) && done)
            done();
    };
    m_main.postAfter(timeout, once);
    m_queue.async([this, once] {
        m_idleWaiters.push_back(once);
        notifyIfIdle();
    });
}

ClipRecorder::Size ClipRecorder::scaledSize(int width, int height)
{
    if (width <= 0 || height <= 0)
        return { 0, 0 };
    const double scale = std::min({ double(kMaxWidth) / width, double(kMaxHeight) / height, 1.0 });
    // The small tolerance keeps exact ratios (1920 × 2/3) from truncating one pixel short.
    const int outWidth = static_cast<int>(width * scale + 1e-9) & ~1;
    const int outHeight = static_cast<int>(height * scale + 1e-9) & ~1;
    return { outWidth, outHeight };
}

std::optional<Frame> ClipRecorder::scaledCopy(const Frame& frame)
{
    if (frame.empty())
        return std::nullopt;
    const auto [width, height] = scaledSize(frame.width(), frame.height());
    if (width <= 0 || height <= 0)
        return std::nullopt;
    // Frames are immutable and pooled buffers are recycled only when the last reference goes, so a
    // frame that needs no scaling can be held as it is. A camera's encoded frame is held compressed, without
    // planes decoded for others, and is decoded and scaled only when a clip is written.
    if (frame.encoded())
        return frame.compressed();
    if (width == frame.width() && height == frame.height())
        return frame;

    auto buffer = m_pool.acquire(width, height, frame.format());
    const AVPixelFormat format = avFormat(frame.format());
    std::lock_guard lock(m_copyLock);
    m_copyScaler = sws_getCachedContext(m_copyScaler, frame.width(), frame.height(), format, width, height,
        format, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_copyScaler)
        return std::nullopt;
    const Planes in = planesOf(frame.buffer());
    Planes out;
    for (int p = 0; p < buffer->planeCount(); ++p) {
        out.data[p] = buffer->data(p);
        out.stride[p] = buffer->stride(p);
    }
    sws_scale(m_copyScaler, in.data, in.stride, 0, frame.height(), const_cast<std::uint8_t**>(out.data),
        out.stride);
    return Frame(std::move(buffer), frame.time());
}

void ClipRecorder::execute(Window::Actions actions)
{
    for (auto& action : actions) {
        if (const auto* begin = std::get_if<Window::Begin>(&action)) {
            m_eventTime = begin->event;
            m_firstTime.reset();
        } else if (auto* write = std::get_if<Window::Write>(&action)) {
            if (!m_writer)
                openWriter(write->sample);
            appendFrame(write->sample, write->time);
        } else {
            closeWriter();
        }
    }
}

void ClipRecorder::openWriter(const Frame& frame)
{
    m_outSize = scaledSize(frame.width(), frame.height());
    const fs::path tmp
        = m_clipsFolder / (QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString() + ".mp4");
    try {
        m_writer = std::make_shared<Mp4Writer>(tmp, m_outSize.first, m_outSize.second);
        m_tmp = tmp;
    } catch (const Error& error) {
        m_log.info("clipe não abriu: " + error.description());
    } catch (const std::exception& error) {
        m_log.info(std::string("clipe não abriu: ") + error.what());
    }
    if (!m_writer) {
        std::error_code ignored;
        fs::remove(tmp, ignored);
    }
}

void ClipRecorder::appendFrame(const Frame& frame, double t)
{
    // A damaged camera picture is left out like one the encoder cannot take.
    if (!m_writer || !frame.pixels())
        return;
    try {
        compose(frame);
        if (const Stamp* stamp = stampFor(t)) {
            QPainter painter(&m_canvas);
            painter.drawImage(stamp->box.topLeft(), stamp->image, stamp->box);
        }
        if (!m_firstTime)
            m_firstTime = t;
        const auto ticks = std::llround((t - *m_firstTime) * Mp4Writer::kTimeScale);
        m_writer->append(m_canvas.constBits(), static_cast<int>(m_canvas.bytesPerLine()), ticks);
    } catch (const std::exception&) {
        // A frame that cannot be composed is dropped too.
    }
}

// Draws `frame` into the BGRA canvas of the clip's size: as it is when the sizes match, otherwise scaled
// uniformly, centred on black.
void ClipRecorder::compose(const Frame& frame)
{
    const auto [outWidth, outHeight] = m_outSize;
    if (m_canvas.width() != outWidth || m_canvas.height() != outHeight) {
        // ARGB32 is B, G, R, A in memory on little-endian machines: the encoder's BGRA.
        m_canvas = QImage(outWidth, outHeight, QImage::Format_ARGB32_Premultiplied);
        if (m_canvas.isNull())
            throw std::bad_alloc();
    }
    int width = outWidth, height = outHeight, x = 0, y = 0;
    if (frame.width() != outWidth || frame.height() != outHeight) {
        const double scale = std::min(double(outWidth) / frame.width(), double(outHeight) / frame.height());
        width = std::clamp(static_cast<int>(std::lround(frame.width() * scale)), 1, outWidth);
        height = std::clamp(static_cast<int>(std::lround(frame.height() * scale)), 1, outHeight);
        x = (outWidth - width) / 2;
        y = (outHeight - height) / 2;
        m_canvas.fill(Qt::black);
    }
    SwsContext* const previous = m_composeScaler;
    m_composeScaler = sws_getCachedContext(m_composeScaler, frame.width(), frame.height(),
        avFormat(frame.format()), width, height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_composeScaler)
        throw std::runtime_error("no scaler");
    if (m_composeScaler != previous) {
        // Camera luma is full range; the usual webcam matrix is BT.601.
        sws_setColorspaceDetails(m_composeScaler, sws_getCoefficients(SWS_CS_ITU601), 1,
            sws_getCoefficients(SWS_CS_ITU601), 1, 0, 1 << 16, 1 << 16);
    }
    const Planes in = planesOf(*frame.pixels());
    std::uint8_t* out[4] = { m_canvas.bits() + y * m_canvas.bytesPerLine() + x * 4 };
    const int outStride[4] = { static_cast<int>(m_canvas.bytesPerLine()) };
    sws_scale(m_composeScaler, in.data, in.stride, 0, frame.height(), out, outStride);
}

// The stamp overlay is rendered once per distinct text (once a second) and only its capsule is drawn.
const ClipRecorder::Stamp* ClipRecorder::stampFor(double t)
{
    const std::string text = m_stampText(t);
    if (text.empty())
        return nullptr;
    if (m_stampCache && m_stampCache->text == text && m_stampCache->image.size() == m_canvas.size())
        return &*m_stampCache;
    m_stampCache.reset();
    auto image = PhotoAnnotator::stampOverlay(text, m_outSize.first, m_outSize.second);
    if (!image || image->isNull())
        return nullptr;
    if (image->format() != QImage::Format_ARGB32_Premultiplied)
        *image = image->convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QRect box = opaqueBox(*image);
    m_stampCache = Stamp { text, std::move(*image), box };
    return box.isEmpty() ? nullptr : &*m_stampCache;
}

void ClipRecorder::closeWriter()
{
    const double eventTime = m_eventTime;
    m_eventTime = 0;
    auto writer = std::move(m_writer);
    const auto tmp = std::exchange(m_tmp, std::nullopt);
    m_writer.reset();
    m_firstTime.reset();
    m_stampCache.reset();
    if (writer && tmp) {
        // Completing the file (draining the encoder, moving the index to the front) takes a while; it
        // runs on its own queue so that the next clip can open at once.
        ++m_finishing;
        m_finisher.async([this, writer = std::move(writer), tmp = *tmp, eventTime]() mutable {
            completeClip(std::move(writer), tmp, eventTime);
        });
        return;
    }
    if (tmp) {
        std::error_code ignored;
        fs::remove(*tmp, ignored);
    }
    if (eventTime > 0) {
        // Reports keep the order of the clips: behind any clip still being completed, and counted as
        // finishing until posted, so that whenIdle completes after them.
        if (m_finishing > 0) {
            ++m_finishing;
            m_finisher.async([this, eventTime] {
                report(std::nullopt, eventTime);
                m_queue.async([this] {
                    --m_finishing;
                    notifyIfIdle();
                });
            });
        } else
            report(std::nullopt, eventTime);
    }
    notifyIfIdle();
}

// On the finishing queue.
void ClipRecorder::completeClip(std::shared_ptr<Mp4Writer> writer, fs::path tmp, double eventTime)
{
    std::optional<fs::path> url;
    try {
        writer->finish();
        writer.reset();
        try {
            url = EventFiles::moveClip(tmp, m_eventsFolder, eventTime);
        } catch (const std::exception& error) {
            m_log.info(std::string("clipe não foi guardado: ") + error.what());
        }
    } catch (const Error& error) {
        m_log.info("clipe falhou: " + error.description());
    } catch (const std::exception& error) {
        m_log.info(std::string("clipe falhou: ") + error.what());
    }
    writer.reset(); // closes the file if finishing failed half way
    if (!url) {
        std::error_code ignored;
        fs::remove(tmp, ignored);
    }
    report(url, eventTime);
    m_queue.async([this] {
        --m_finishing;
        notifyIfIdle();
    });
}

void ClipRecorder::report(std::optional<fs::path> url, double eventTime)
{
    m_main.post([this, alive = std::weak_ptr<bool>(m_alive), url = std::move(url), eventTime] {
        if (alive.lock() && m_onClip)
            m_onClip(url, eventTime);
    });
}

bool ClipRecorder::isIdle() const { return m_finishing == 0 && !m_writer; }

void ClipRecorder::notifyIfIdle()
{
    if (!isIdle())
        return;
    for (auto& waiter : std::exchange(m_idleWaiters, {}))
        m_main.post(std::move(waiter));
}

} // namespace vardel
