#include "Analyzer.h"

#include "AppLanguage.h"
#include "Captions.h"
#include "CoverCheck.h"
#include "EventPolicy.h"
#include "L.h"
#include "MainExecutor.h"
#include "MotionDetector.h"
#include "PhotoAnnotator.h"
#include "Settings.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <memory>

namespace vardel {

Analyzer::Analyzer(MainExecutor& main, std::unique_ptr<PersonDetecting> vision)
    : m_main(main)
    , m_handlers(std::make_shared<Handlers>())
    , m_vision(std::move(vision))
    , m_pipeline(ROI::full(), EventPolicy(), 25)
{
    // Models load on the queue that uses them, before the first candidate needs them.
    m_queue.async([this] {
        if (m_vision)
            m_vision->prepare();
    });
}

Analyzer::~Analyzer()
{
    // Work still queued is skipped; the frame in work finishes before the queues join.
    m_closing = true;
    m_queue.shutdown();
    m_photoQueue.shutdown();
}

void Analyzer::setOnOutput(OutputHandler handler) { m_handlers->onOutput = std::move(handler); }

void Analyzer::setOnPhoto(PhotoHandler handler) { m_handlers->onPhoto = std::move(handler); }

bool Analyzer::submit(std::span<const std::uint8_t> luma, const Frame& frame, double now)
{
    // A thumbnail of another size would make the pipeline refuse the frame; drop it here, before it
    // could hold the busy flag.
    if (luma.size() != MotionDetector::thumbnailSize || frame.empty())
        return false;
    {
        std::lock_guard lock(m_busyLock);
        if (m_busy)
            return false;
        m_busy = true;
    }
    m_queue.async([this, thumbnail = std::vector<std::uint8_t>(luma.begin(), luma.end()), frame, now] {
        std::optional<Output> output;
        if (!m_closing) {
            try {
                output = process(thumbnail, frame, now);
            } catch (const std::exception&) {
                // A frame the pipeline refuses yields no output; the next one is analysed as usual.
            }
        }
        {
            std::lock_guard lock(m_busyLock);
            m_busy = false;
        }
        if (!output)
            return;
        // Posted once the flag is clear, so that whoever reacts to an output can submit the next frame,
        // and before the photo is scheduled, so that the model knows the event before its photo.
        m_main.post([handlers = std::weak_ptr(m_handlers), output = *output] {
            if (auto alive = handlers.lock(); alive && alive->onOutput)
                alive->onOutput(output);
        });
        if (output->kind) {
            m_photoQueue.async([this, frame, now, drawn = PersonBox::forDrawing(output->people)] {
                if (!m_closing)
                    renderPhoto(frame, now, drawn);
            });
        }
    });
    return true;
}

void Analyzer::apply(const Settings& settings)
{
    m_queue.async([this, roi = settings.roi, threshold = settings.pixelThreshold,
                      mode = settings.detectionMode, sensitivity = settings.sensitivity] {
        m_pipeline.setReferenceROI(roi);
        m_pipeline.setPixelThreshold(threshold);
        m_pixelThreshold = threshold;
        m_pipeline.setMode(mode);
        EventPolicy policy = m_pipeline.policy();
        policy.sensitivity = sensitivity;
        m_pipeline.setPolicy(policy);
    });
}

void Analyzer::resetPolicy(const Settings& settings)
{
    m_queue.async([this, policy = EventPolicy(settings)] { m_pipeline.setPolicy(policy); });
}

void Analyzer::setArmedSince(std::optional<double> armedSince)
{
    m_queue.async([this, armedSince] { m_armedSince = armedSince; });
}

void Analyzer::cameraDidStart()
{
    m_queue.async([this] { m_pipeline.cameraDidStart(); });
}

PersonDetecting::Focus Analyzer::focus(const ROI& currentROI, std::span<const std::uint8_t> luma,
    std::span<const std::uint8_t> previous, int pixelThreshold)
{
    constexpr double kMaxShare = 0.5;
    constexpr double kGrow = 0.25;
    const PersonDetecting::Focus whole;

    // A quarter of the size added on each side, inside the frame: people standing on the edge of what
    // is watched are seen whole.
    const auto grown = [&](double x0, double y0, double x1, double y1) {
        const double growX = (x1 - x0) * kGrow;
        const double growY = (y1 - y0) * kGrow;
        const double left = std::max(0.0, x0 - growX), top = std::max(0.0, y0 - growY);
        const PersonDetecting::Focus area { left, top, std::min(1.0, x1 + growX) - left,
            std::min(1.0, y1 + growY) - top };
        return area.w * area.h > kMaxShare ? whole : area;
    };
    if (!currentROI.isFull())
        return grown(currentROI.x, currentROI.y, currentROI.x + currentROI.w, currentROI.y + currentROI.h);

    const int width = MotionDetector::width;
    const int height = MotionDetector::height;
    if (luma.size() != MotionDetector::thumbnailSize || previous.size() != luma.size())
        return whole;
    int left = width, top = height, right = -1, bottom = -1;
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const std::size_t i = static_cast<std::size_t>(row) * width + column;
            if (std::abs(static_cast<int>(luma[i]) - static_cast<int>(previous[i])) > pixelThreshold) {
                left = std::min(left, column);
                right = std::max(right, column);
                top = std::min(top, row);
                bottom = std::max(bottom, row);
            }
        }
    }
    if (right < 0)
        return whole;

    return grown(static_cast<double>(left) / width, static_cast<double>(top) / height,
        static_cast<double>(right + 1) / width, static_cast<double>(bottom + 1) / height);
}

Analyzer::Output Analyzer::process(const std::vector<std::uint8_t>& luma, const Frame& frame, double now)
{
    const auto people = [&] {
        ++m_visionChecks;
        const auto where = focus(m_pipeline.currentROI(), luma, m_previousLuma, m_pixelThreshold);
        return m_vision ? m_vision->people(frame, where) : std::vector<PersonBox> {};
    };
    const FramePipeline::Result result
        = m_pipeline.process(luma, frame.width(), frame.height(), now, m_armedSince, people);
    m_previousLuma = luma;

    Output output;
    output.now = now;
    output.level = result.level;
    output.kind = result.kind;
    output.formatChanged = result.formatChanged;
    output.width = frame.width();
    output.height = frame.height();
    output.aspect = m_pipeline.format().aspect();
    output.currentROI = m_pipeline.currentROI();
    output.visionChecks = m_visionChecks;
    output.discarded = m_pipeline.discardedCandidates();
    output.people = result.people;
    output.looksCovered = CoverCheck::looksCovered(CoverCheck::stats(luma, MotionDetector::width));
    return output;
}

void Analyzer::renderPhoto(const Frame& frame, double now, const std::vector<PersonBox>& people)
{
    std::optional<QByteArray> jpeg;
    try {
        const std::string stamp = Captions::time(now, L::language());
        const QImage rendered = PhotoAnnotator::image(frame);
        if (!rendered.isNull()) {
            if (auto annotated = PhotoAnnotator::annotate(rendered, people, stamp))
                jpeg = PhotoAnnotator::jpeg(*annotated, kJpegQuality);
        }
    } catch (const std::exception&) {
        // Reported as a photo without bytes: the model still raises the alert as text.
        jpeg.reset();
    }
    m_main.post([handlers = std::weak_ptr(m_handlers), now, jpeg = std::move(jpeg)] {
        if (auto alive = handlers.lock(); alive && alive->onPhoto)
            alive->onPhoto(now, jpeg);
    });
}

} // namespace vardel
